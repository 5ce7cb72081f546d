// The file driver: symbolic links among the selected files, a source that fails to read, and names that a
// destination takes for one.
#include "engine/file_transfer.h"
#include "engine/folder_transfer.h"
#include "model/state.h"
#include "platform/filesystem.h"
#include "tests/engine/transfer_fixture.h"
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
        return TransferFiles(request, counts, {});
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

// The file driver's runs over the standard tree.
class FileDriverTest : public test::TransferTest {
protected:
    static constexpr int64_t kOld = test::kOld;
    static constexpr int64_t kNew = test::kNew;
};

TEST_F(FileDriverTest, FilesCopyMoveAndSummaries)
{
    tree.mkdir("from");
    tree.mkdir("to");
    for (const char* f : { "from/a", "from/b", "from/c" }) {
        tree.write(f, f);
        tree.setTime(f, kOld);
    }
    FileTransfer request;
    request.sourceDir = tree.drive("from");
    request.destinationDir = tree.drive("to");
    request.names = { "a", "b" };
    request.mode = kModeFileCopy;
    FileTransferCounts c;
    EXPECT_EQ(TransferFiles(request, c, {}), 1);
    EXPECT_EQ(
        fake.messages.back().text, "更新済みのファイル　0，  コピ－したファイル　2　，　　エラ－はありませんでした");
    // The same again: everything is up to date.
    EXPECT_EQ(TransferFiles(request, c, {}), 1);
    EXPECT_EQ(c.upToDate, 2);
    EXPECT_EQ(c.copied, 0);
    // A move deletes its sources, also those not copied because the destination was up to date.
    request.names = { "a", "c" };
    request.mode = kModeFileMove;
    EXPECT_EQ(TransferFiles(request, c, {}), 1);
    EXPECT_EQ(fake.messages.back().text,
        "更新済みのファイル　1 ， コピ－したファイル　1　，削除は 2　し，　　エラ－はありませんでした");
    EXPECT_FALSE(tree.exists("from/a"));
    EXPECT_EQ(tree.read("to/c"), "from/c");
    // The error texts.
    FileTransferCounts failed;
    failed.errors = 1;
    EXPECT_EQ(FileTransferSummary(kModeFileCopy, failed),
        "更新済みのファイル　0，  コピ－したファイル　0　，　エラ－ 1　ありました");
    EXPECT_EQ(FileTransferSummary(kModeFileMove, failed),
        "更新済みのファイル　0 ， コピ－したファイル　0　，削除は 0　し，エラ－  1　ありました");
}

// A long selection is decided from one listing of the destination: what it holds under a selected name is
// found there as surely as by a lookup of each name.
TEST_F(FileDriverTest, ALongSelectionFindsWhatTheDestinationHolds)
{
    std::vector<std::string> names;
    for (int i = 0; i < 100; ++i) {
        names.push_back("f" + std::to_string(i));
        tree.write("from/" + names.back(), "new " + names.back());
        tree.setTime("from/" + names.back(), kNew);
    }
    tree.write("to/f1", "newer at the destination");
    tree.setTime("to/f1", kNew + 60);
    tree.write("to/f2", "older");
    tree.setTime("to/f2", kOld);
    tree.mkdir("to/f3");
    ASSERT_EQ(::mkfifo(tree.linux("to/f4").c_str(), 0644), 0);
    tree.write("to/other", "not selected");
    EXPECT_EQ(Files(kModeFileCopy, names, "from", "to"), 1);
    EXPECT_EQ(fileCounts.copied, 97);
    EXPECT_EQ(fileCounts.upToDate, 1);
    EXPECT_EQ(fileCounts.errors, 2); // f3 and f4 hold another kind
    EXPECT_EQ(tree.read("to/f1"), "newer at the destination");
    EXPECT_EQ(tree.read("to/f2"), "new f2");
    EXPECT_EQ(tree.read("to/f99"), "new f99");
    struct stat fifo { };
    ASSERT_EQ(::lstat(tree.linux("to/f4").c_str(), &fifo), 0);
    EXPECT_TRUE(S_ISFIFO(fifo.st_mode));
}

TEST_F(FileDriverTest, DuplicatesAreNumberedAndNeverOverwrite)
{
    tree.mkdir("d");
    for (const char* f : { "d/report.txt", "d/README", "d/a.b.c" })
        tree.write(f, f);
    tree.write("d/report01.txt", "taken");
    EXPECT_EQ(DuplicateFile(tree.drive("d"), tree.drive("d"), "report.txt", 3), 0);
    EXPECT_EQ(DuplicateFile(tree.drive("d"), tree.drive("d"), "README", 2), 0);
    EXPECT_EQ(DuplicateFile(tree.drive("d"), tree.drive("d"), "a.b.c", 1), 0);
    EXPECT_EQ(tree.read("d/report00.txt"), "d/report.txt");
    EXPECT_EQ(tree.read("d/report01.txt"), "taken");
    EXPECT_EQ(tree.read("d/report11.txt"), "d/report.txt"); // the taken number moved on by 10
    EXPECT_EQ(tree.read("d/report12.txt"), "d/report.txt");
    EXPECT_TRUE(tree.exists("d/README00") && tree.exists("d/README01"));
    EXPECT_TRUE(tree.exists("d/a.b00.c"));
    EXPECT_EQ(DuplicateFile(tree.drive("d"), tree.drive("d"), "report.txt", 0), 0);
}

// File moves: a ReadOnly source goes once copied (the copy made it Archive only); a source the destination
// holds in another version stays, listed; every error is counted and named; the room is asked once.
TEST_F(FileDriverTest, FileMovesKeepWhatTheyDidNotCopyAndCountEveryError)
{
    tree.mkdir("from");
    tree.mkdir("to");
    const struct {
        const char* name;
        int64_t sourceTime;
        const char* destination; // null: none
        int64_t destinationTime;
        bool gone;
    } cases[] = {
        { "readonly", kOld, nullptr, 0, true },
        { "same", kOld, "same", kOld, true },
        { "same-second-other-size", kOld, "other bytes", kOld, false },
        { "newer-at-destination", kOld, "newer-at-destination", kNew, false },
    };
    std::vector<std::string> names;
    for (const auto& c : cases) {
        tree.write(std::string("from/") + c.name, c.name);
        tree.setTime(std::string("from/") + c.name, c.sourceTime);
        if (c.destination) {
            tree.write(std::string("to/") + c.name, c.destination);
            tree.setTime(std::string("to/") + c.name, c.destinationTime);
        }
        names.push_back(c.name);
    }
    tree.setReadOnly("from/readonly", true);
    names.push_back("missing");
    names.push_back("missing-too");
    CommandOptions keepReadOnly; // "ReadOnly" unticked
    keepReadOnly.clearReadOnly = false;
    EXPECT_EQ(Files(kModeFileMove, names, "from", "to", keepReadOnly), 1);
    for (const auto& c : cases)
        EXPECT_EQ(tree.exists(std::string("from/") + c.name), !c.gone) << c.name;
    EXPECT_EQ(tree.read("to/readonly"), "readonly");
    EXPECT_EQ(fileCounts.kept.size(), 2u);
    EXPECT_EQ(fileCounts.errors, 2);
    EXPECT_NE(Texts().find(tree.drive("from/missing-too") + "  :   File Not Found"), std::string::npos);

    // Short of room (a replacement larger than the disk, which a ReadOnly destination then refuses): asked
    // once, not before every file.
    std::vector<std::string> many;
    for (int i = 0; i < 5; ++i) {
        tree.write("from/m" + std::to_string(i), "m");
        many.push_back("m" + std::to_string(i));
    }
    for (const char* huge : { "from/huge", "to/huge" }) {
        tree.writeSized(huge, 1);
        ASSERT_EQ(::truncate(tree.linux(huge).c_str(), int64_t(1) << 43), 0);
    }
    tree.setReadOnly("to/huge", true);
    many.push_back("huge");
    fake.messages.clear();
    CommandOptions all;
    all.newerOnly = false;
    all.clearReadOnly = false;
    Files(kModeFileCopy, many, "from", "to", all);
    int asked = 0;
    for (const auto& m : fake.messages)
        asked += m.flags == kMbYesNo;
    EXPECT_EQ(asked, 1);
}

} // namespace
} // namespace zelo
