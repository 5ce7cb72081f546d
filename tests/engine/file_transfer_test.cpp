// The file driver: symbolic links among the selected files, a source that fails to read, and names that a
// destination takes for one.
#include "engine/file_transfer.h"
#include "engine/folder_transfer.h"
#include "model/state.h"
#include "platform/filesystem.h"
#include "tests/support/fake_ui.h"
#include "tests/support/faulty_fs.h"
#include "tests/support/refused_calls.h"
#include "tests/support/scoped_mount.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <sys/syscall.h>
#include <vector>

namespace zelo {
namespace {

class FileTransferTest : public ::testing::Test {
protected:
    void SetUp() override { ResetMainState(); }

    int Files(int mode, const std::vector<std::string>& names, const std::string& to)
    {
        FileTransfer request;
        request.sourceDir = tree.drive("src");
        request.destinationDir = tree.drive(to);
        request.names = names;
        request.mode = mode;
        request.dryRun = dryRun;
        Main.AbortFlag = 0;
        return TransferFiles(request, counts, Main.AbortFlag);
    }

    std::set<std::string> Names(const std::string& relative) const
    {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(tree.linux(relative)))
            names.insert(e.path().filename().string());
        return names;
    }

    std::string LinkTarget(const std::string& relative) const
    {
        return std::filesystem::is_symlink(tree.linux(relative))
            ? std::filesystem::read_symlink(tree.linux(relative)).string()
            : "";
    }

    int Told(const std::string& part) const
    {
        int told = 0;
        for (const auto& m : fake.messages)
            told += m.text.find(part) != std::string::npos;
        return told;
    }

    test::TempTree tree;
    test::FakeUi fake;
    FileTransferCounts counts;
    bool dryRun = false;
};

// A link is copied as the link (a dangling one too), never what it names, and the files after it go on;
// a move deletes the link once its copy is made.
TEST_F(FileTransferTest, LinksAreCopiedAsLinks)
{
    for (const int mode : { kModeFileCopy, kModeFileMove }) {
        SCOPED_TRACE(mode);
        std::filesystem::remove_all(tree.linux("src"));
        std::filesystem::remove_all(tree.linux("dst"));
        tree.write("src/a.txt", "a");
        tree.write("src/z.txt", "z");
        tree.symlink("a.txt", "src/link");
        tree.symlink("nowhere", "src/dangling");
        tree.mkdir("dst");
        fake.messages.clear();
        EXPECT_EQ(Files(mode, { "a.txt", "dangling", "link", "z.txt" }, "dst"), 1);
        EXPECT_EQ(counts.errors, 0) << fake.texts().front();
        EXPECT_EQ(counts.copied, 4);
        EXPECT_EQ(LinkTarget("dst/link"), "a.txt");
        EXPECT_EQ(LinkTarget("dst/dangling"), "nowhere");
        EXPECT_EQ(tree.read("dst/z.txt"), "z");
        const bool moved = mode == kModeFileMove;
        EXPECT_EQ(counts.deleted, moved ? 4 : 0);
        EXPECT_EQ(Names("src").size(), moved ? 0u : 4u);
    }
}

// A destination that holds no links: each link is a failure, told once a run, the files are copied and a
// move keeps the links.
TEST_F(FileTransferTest, LinksRefusedByTheDestinationAreKept)
{
    tree.write("src/a.txt", "a");
    tree.write("src/z.txt", "z");
    tree.symlink("a.txt", "src/link");
    tree.symlink("z.txt", "src/link2");
    tree.mkdir("dst");
    const auto held = test::RunWithRefusedCalls({ SYS_symlinkat }, EPERM, [&] {
        const int result = Files(kModeFileMove, { "a.txt", "link", "link2", "z.txt" }, "dst");
        return result == 1 && counts.errors == 2 && counts.copied == 2 && counts.deleted == 2
            && Told("リンクを作れないドライブです") == 1 && tree.read("dst/z.txt") == "z"
            && Names("src") == std::set<std::string> { "link", "link2" } && !tree.exists("dst/link");
    });
    if (!held) GTEST_SKIP() << "no seccomp filter";
    EXPECT_TRUE(*held);
}

// A source that fails to read half way is named, its copy is left unmade, and a move keeps it.
TEST_F(FileTransferTest, ReadFailureNamesTheSource)
{
    tree.writeSized("src/big", 4u << 20);
    tree.mkdir("dst");
    test::FaultyFileSystem faulty(linuxFileSystem());
    faulty.failReadAfter = 1 << 20;
    faulty.readError = 23;
    {
        ScopedFileSystem scoped(faulty);
        EXPECT_EQ(Files(kModeFileMove, { "big" }, "dst"), 1);
    }
    EXPECT_EQ(counts.errors, 1);
    EXPECT_EQ(Told(tree.drive("src/big") + "  :   エラー番号　23"), 1) << fake.texts().front();
    EXPECT_TRUE(Names("dst").empty());
    EXPECT_TRUE(tree.exists("src/big"));
}

// Two selected names that fold to one: on exFAT the first in byte order is copied and the other is a
// failure with its path, whose source a move keeps, whichever comes first in the list; where case counts
// both are copied.
TEST_F(FileTransferTest, NamesFoldingToOneNeverLandOnOneFile)
{
    tree.mkdir("stick");
    test::ScopedExfatMount stick(tree.linux("stick"));
    ZELO_REQUIRE_MOUNTED(stick, "exFAT");
    tree.mkdir("plain");
    const struct {
        int mode;
        std::vector<std::string> names;
        std::string to;
        bool dryRun = false;
    } cases[] = {
        { kModeFileMove, { "Case.txt", "CASE.TXT", "other.txt" }, "stick" },
        { kModeFileCopy, { "CASE.TXT", "other.txt", "Case.txt" }, "stick" },
        { kModeFileMove, { "Case.txt", "CASE.TXT", "other.txt" }, "plain" },
        { kModeFileMove, { "Case.txt", "CASE.TXT", "other.txt" }, "stick", true }, // says so, writes nothing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to + " " + std::to_string(c.mode));
        std::filesystem::remove_all(tree.linux("src"));
        for (const auto& e : std::filesystem::directory_iterator(tree.linux(c.to)))
            std::filesystem::remove_all(e.path());
        for (const auto& name : c.names)
            tree.write("src/" + name, name);
        fake.messages.clear();
        dryRun = c.dryRun;
        EXPECT_EQ(Files(c.mode, c.names, c.to), 1);
        const bool move = c.mode == kModeFileMove && !c.dryRun;
        if (c.to == "plain") {
            EXPECT_EQ(counts.errors, 0);
            EXPECT_EQ(Names("plain"), (std::set<std::string> { "CASE.TXT", "Case.txt", "other.txt" }));
            continue;
        }
        EXPECT_EQ(counts.errors, 1);
        EXPECT_EQ(counts.copied, 2);
        EXPECT_EQ(Told(tree.drive("stick/Case.txt") + "  :   "), 1) << fake.texts().front();
        EXPECT_EQ(Told("同じ名前が既にあります"), 1);
        EXPECT_EQ(counts.deleted, c.mode == kModeFileMove ? 2 : 0);
        if (c.dryRun) {
            EXPECT_TRUE(Names("stick").empty());
            EXPECT_EQ(counts.deletions.size(), 2u);
        } else {
            EXPECT_EQ(Names("stick"), (std::set<std::string> { "CASE.TXT", "other.txt" }));
            EXPECT_EQ(tree.read("stick/CASE.TXT"), "CASE.TXT");
        }
        EXPECT_EQ(tree.read("src/Case.txt"), "Case.txt");
        EXPECT_EQ(tree.exists("src/CASE.TXT"), !move);
    }
}

} // namespace
} // namespace zelo
