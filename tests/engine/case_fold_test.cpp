// Copies, moves and backups onto file systems that fold case (FAT, exFAT): the entry a destination holds
// under another case is the one weighed and kept, and two source names that land on one never lose a file.
#include "engine/folder_transfer.h"
#include "model/state.h"
#include "tests/support/fake_ui.h"
#include "tests/support/scoped_mount.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>

namespace zelo {
namespace {

constexpr int64_t kOld = 1'600'000'000;
constexpr int64_t kNew = kOld + 2 * 86'400; // clear of FAT's 2-second steps and daylight-saving hour

enum class Medium { Fat, Exfat };

class CaseFoldTest : public ::testing::TestWithParam<Medium> {
protected:
    void SetUp() override
    {
        ResetMainState();
        tree.mkdir("stick");
        if (GetParam() == Medium::Fat)
            mount = std::make_unique<test::ScopedFatMount>(tree.linux("stick"));
        else
            mount = std::make_unique<test::ScopedExfatMount>(tree.linux("stick"));
        tree.mkdir("src");
    }

    int Run(int mode)
    {
        FolderTransfer request;
        request.sourceFolder = tree.drive("src") + "\\";
        request.destinationDir = tree.drive("stick");
        request.mode = mode;
        request.maxDelete = 1000;
        return TransferFolder(request, counts, {});
    }

    void File(const std::string& relative, const std::string& content, int64_t time)
    {
        tree.write(relative, content);
        tree.setTime(relative, time);
    }

    // The names a destination folder lists, as they are spelt there.
    std::set<std::string> Names(const std::string& relative) const
    {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(tree.linux(relative)))
            names.insert(entry.path().filename().string());
        return names;
    }

    test::TempTree tree;
    test::FakeUi fake;
    std::unique_ptr<test::ScopedImageMount> mount;
    TransferCounts counts;
};

TEST_P(CaseFoldTest, EntriesHeldUnderAnotherCaseAreWeighedAndKept)
{
    ZELO_REQUIRE_MOUNTED(*mount, GetParam() == Medium::Fat ? "FAT" : "exFAT");
    for (const int mode : { kModeFolderCopy, kModeFolderMove, kModeFolderBackup }) {
        SCOPED_TRACE(mode);
        std::filesystem::remove_all(tree.linux("stick/src"));
        std::filesystem::remove_all(tree.linux("src"));
        // An older source under another case than a newer destination, an up-to-date file and a folder
        // that differ only in case, and a newer source that mends its name's case as it is copied.
        File("src/a.txt", "older source", kOld);
        File("src/b.txt", "same", kOld);
        File("src/Sub/x.txt", "x", kOld);
        File("src/c.txt", "newer source", kNew);
        File("stick/src/A.TXT", "newer destination", kNew);
        File("stick/src/B.TXT", "same", kOld);
        File("stick/src/SUB/x.txt", "x", kOld);
        File("stick/src/C.TXT", "older destination", kOld);

        EXPECT_EQ(Run(mode), kTransferDone);
        EXPECT_EQ(counts.failures, 0) << (counts.problems.empty() ? "" : counts.problems[0]);
        EXPECT_EQ(counts.deletedFiles + counts.deletedDirs, 0);
        EXPECT_EQ(counts.newFiles, 0);
        EXPECT_EQ(counts.updatedFiles, 1);
        EXPECT_EQ(counts.newerAtDest, 1);
        EXPECT_EQ(counts.existingDirs, 1);
        EXPECT_EQ(tree.read("stick/src/A.TXT"), "newer destination");
        EXPECT_EQ(tree.read("stick/src/c.txt"), "newer source");
        EXPECT_EQ(Names("stick/src"), (std::set<std::string> { "A.TXT", "B.TXT", "SUB", "c.txt" }));
        // A move keeps what it did not copy, as a newer destination may hold other bytes.
        if (mode == kModeFolderMove) {
            EXPECT_EQ(tree.read("src/a.txt"), "older source");
        }
    }
}

TEST_P(CaseFoldTest, TwoSourceNamesThatBecomeOneLoseNothing)
{
    ZELO_REQUIRE_MOUNTED(*mount, GetParam() == Medium::Fat ? "FAT" : "exFAT");
    for (const int mode : { kModeFolderCopy, kModeFolderMove, kModeFolderBackup }) {
        SCOPED_TRACE(mode);
        std::filesystem::remove_all(tree.linux("stick/src"));
        fake.messages.clear();
        File("src/Case.txt", "lower", kOld);
        File("src/CASE.TXT", "upper", kOld);
        File("src/dir/in.txt", "in", kOld);
        File("src/DIR/IN2.TXT", "in2", kOld);

        EXPECT_EQ(Run(mode), kTransferDone);
        // The first in byte order is copied, the other is a failure with its path, and nothing is lost.
        EXPECT_EQ(counts.failures, 2);
        EXPECT_EQ(tree.read("stick/src/CASE.TXT"), "upper");
        EXPECT_EQ(tree.read("stick/src/DIR/IN2.TXT"), "in2");
        EXPECT_FALSE(tree.exists("stick/src/DIR/in.txt"));
        EXPECT_EQ(tree.read("src/Case.txt"), "lower");
        EXPECT_EQ(tree.read("src/CASE.TXT"), "upper");
        EXPECT_EQ(tree.read("src/dir/in.txt"), "in");
        std::string told;
        for (const auto& message : fake.messages)
            told += message.text + "\n";
        EXPECT_NE(told.find(tree.drive("stick/src/Case.txt") + "  :   "), std::string::npos) << told;
    }
}

INSTANTIATE_TEST_SUITE_P(Media, CaseFoldTest, ::testing::Values(Medium::Fat, Medium::Exfat),
    [](const auto& info) { return info.param == Medium::Fat ? std::string("Fat") : std::string("Exfat"); });

} // namespace
} // namespace zelo
