// Folder copy, move and mirror, the file driver and duplicates, on real trees with the scripted user.
#include "engine/backup_plan.h"
#include "engine/file_copy.h"
#include "engine/file_transfer.h"
#include "engine/folder_transfer.h"
#include "engine/tree.h"
#include "engine/tree_walk.h"
#include "model/state.h"
#include "platform/filesystem.h"
#include "tests/support/fake_ui.h"
#include "tests/support/faulty_fs.h"
#include "tests/support/ordinary_user.h"
#include "tests/support/refused_calls.h"
#include "tests/support/scoped_mount.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace zelo {
namespace {

constexpr int64_t kOld = 1'600'000'000; // a whole second
constexpr int64_t kNew = kOld + 3600;

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override { ResetMainState(); }

    // The standard source: src/a.txt, src/sub/b.txt, src/sub/deep/c.txt, all written at kOld.
    void Source()
    {
        tree.mkdir("src/sub/deep");
        for (const char* f : { "src/a.txt", "src/sub/b.txt", "src/sub/deep/c.txt" }) {
            tree.write(f, std::string("of ") + f);
            tree.setTime(f, kOld);
        }
        tree.mkdir("dst");
    }

    // A request for the folder source (below the tree) into dest.
    FolderTransfer Request(int mode, const std::string& source = "src", const std::string& dest = "dst") const
    {
        FolderTransfer request;
        request.sourceFolder = tree.drive(source) + "\\";
        request.destinationDir = tree.drive(dest);
        request.mode = mode;
        return request;
    }

    int Folder(int mode, int contentsOnly = 0, CommandOptions options = {}, const std::string& dest = "dst")
    {
        FolderTransfer request = Request(mode, "src", dest);
        request.contentsOnly = contentsOnly;
        request.options = options;
        request.maxDelete = maxDelete;
        Main.AbortFlag = 0;
        return TransferFolder(request, counts, Main.AbortFlag);
    }

    int Files(int mode, const std::vector<std::string>& names, const std::string& from, const std::string& to,
        CommandOptions options = {})
    {
        FileTransfer request;
        request.sourceDir = tree.drive(from);
        request.destinationDir = tree.drive(to);
        request.names = names;
        request.mode = mode;
        request.options = options;
        Main.AbortFlag = 0;
        return TransferFiles(request, fileCounts, Main.AbortFlag);
    }

    std::string Texts() const
    {
        std::string all;
        for (const auto& m : fake.messages)
            all += m.text + "\n";
        return all;
    }

    test::TempTree tree;
    test::FakeUi fake;
    TransferCounts counts;
    FileTransferCounts fileCounts;
    int maxDelete = std::numeric_limits<int>::max(); // the mass-delete guard out of the way, but where tested
};

TEST_F(TransferTest, DestinationInsideTheSourceIsRefusedAlsoThroughALink)
{
    Source();
    tree.symlink(tree.linux("src/sub"), "dst/into");
    const struct {
        int mode;
        std::string dest;
        const char* message;
    } cases[] = {
        { kModeFolderCopy, "src/sub", "同じＤＩＲ内には　ＤＩＲのコピ－出来ません　！" },
        { kModeFolderMove, "src/sub/deep", "同じＤＩＲ内には　ＤＩＲの移動は不可能です　！" },
        { kModeFolderBackup, "dst/into/deep", "同じＤＩＲ内には　ＤＩＲの移動は不可能です　！" },
        { kModeFolderCopy, "dst/into", "同じＤＩＲ内には　ＤＩＲのコピ－出来ません　！" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dest);
        fake.messages.clear();
        EXPECT_EQ(Folder(c.mode, 0, {}, c.dest), kTransferRefused);
        ASSERT_EQ(fake.messages.size(), 1u);
        EXPECT_EQ(fake.messages[0].text, c.message);
    }
    EXPECT_FALSE(tree.exists("src/sub/src"));
    // "srcx" beside it is not inside.
    tree.mkdir("srcx");
    EXPECT_EQ(Folder(kModeFolderCopy, 0, {}, "srcx"), kTransferDone);
}

TEST_F(TransferTest, CopyMergesAndKeepsNewerDestinationFiles)
{
    Source();
    tree.mkdir("dst/src/sub");
    tree.write("dst/src/a.txt", "same second");
    tree.setTime("dst/src/a.txt", kOld);
    tree.write("dst/src/sub/b.txt", "newer at the destination");
    tree.setTime("dst/src/sub/b.txt", kNew);
    EXPECT_EQ(Folder(kModeFolderCopy), kTransferDone);
    EXPECT_EQ(tree.read("dst/src/a.txt"), "same second");
    EXPECT_EQ(tree.read("dst/src/sub/b.txt"), "newer at the destination");
    EXPECT_EQ(tree.read("dst/src/sub/deep/c.txt"), "of src/sub/deep/c.txt");
    // The top folder is counted neither as created nor as existing.
    EXPECT_EQ(counts.existingDirs, 1);
    EXPECT_EQ(counts.createdDirs, 1);
    EXPECT_EQ(counts.newFiles, 1);
    EXPECT_EQ(counts.upToDateFiles, 2);
    EXPECT_EQ(counts.newerAtDest, 1);
    ASSERT_EQ(counts.detail.size(), 1u);
    EXPECT_EQ(counts.detail[0].rfind(tree.drive("src/sub/b.txt") + "  ", 0), 0u);

    // "new" off copies everything; a backup forces it on again.
    CommandOptions all;
    all.newerOnly = false;
    EXPECT_EQ(Folder(kModeFolderCopy, 0, all), kTransferDone);
    EXPECT_EQ(tree.read("dst/src/sub/b.txt"), "of src/sub/b.txt");
    EXPECT_EQ(counts.newFiles, 3);
    tree.write("dst/src/a.txt", "newer again");
    tree.setTime("dst/src/a.txt", kNew);
    EXPECT_EQ(Folder(kModeFolderBackup, 0, all), kTransferDone);
    EXPECT_EQ(tree.read("dst/src/a.txt"), "newer again");
}

TEST_F(TransferTest, MovesDeleteTheirSourceOnlyWhenEverythingWasCopied)
{
    Source();
    tree.mkdir("dst/src");
    tree.write("dst/src/a.txt", "newer");
    tree.setTime("dst/src/a.txt", kNew);
    // With "new" on, a source file older than its destination is not copied and stays, listed with the
    // newer files; the rest of the source goes.
    EXPECT_EQ(Folder(kModeFolderMove), kTransferDone);
    EXPECT_EQ(counts.failures, 0);
    EXPECT_EQ(tree.read("src/a.txt"), "of src/a.txt");
    EXPECT_FALSE(tree.exists("src/sub"));
    EXPECT_EQ(tree.read("dst/src/a.txt"), "newer");
    EXPECT_EQ(tree.read("dst/src/sub/deep/c.txt"), "of src/sub/deep/c.txt");
    ASSERT_EQ(counts.detail.size(), 1u);
    std::filesystem::remove_all(tree.linux("src"));

    // Contents only: the emptied source stays.
    Source();
    EXPECT_EQ(Folder(kModeFolderMove, 255, {}, "dst/src"), kTransferDone);
    EXPECT_TRUE(tree.exists("src"));
    EXPECT_FALSE(tree.exists("src/sub"));

    // A FIFO that cannot be copied keeps the whole source.
    Source();
    tree.fifo("src/sub/pipe");
    EXPECT_EQ(Folder(kModeFolderMove, 0, {}, "dst/src"), kTransferDone);
    EXPECT_EQ(counts.failures, 1);
    EXPECT_TRUE(tree.exists("src/a.txt"));
    EXPECT_TRUE(tree.exists("dst/src/src/sub/deep/c.txt"));
}

TEST_F(TransferTest, StopLeavesWhatWasCopiedAndNoPartialFile)
{
    Source();
    tree.writeSized("src/sub/big.bin", 24 << 20);
    // The stop button, pressed while the big file's bytes are moving: its copy waits until the run has
    // seen the stop.
    test::FaultyFileSystem faulty(linuxFileSystem());
    std::atomic<bool> copying = false;
    std::atomic<bool> stopSeen = false;
    faulty.beforeCopy = [&](File& source) {
        if (source.Size() < (1 << 20)) return true;
        copying = true;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!stopSeen && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        return true;
    };
    fake.onPump = [&](int) {
        if (!copying) return;
        if (Main.AbortFlag == kAbortRequested) stopSeen = true; // the pump after the one that pressed it
        Main.AbortFlag = kAbortRequested;
    };
    FolderTransfer request = Request(kModeFolderMove);
    Main.AbortFlag = 0;
    {
        ScopedFileSystem scoped(faulty);
        EXPECT_EQ(TransferFolder(request, counts, Main.AbortFlag), kTransferCancelled);
    }
    EXPECT_TRUE(stopSeen);
    EXPECT_FALSE(tree.exists("dst/src/sub/big.bin"));
    EXPECT_TRUE(tree.exists("src/sub/big.bin")); // a move deletes nothing
    EXPECT_TRUE(tree.exists("src/a.txt"));
    EXPECT_NE(Texts().find("中断いたします"), std::string::npos);
    for (const auto& e : std::filesystem::directory_iterator(tree.linux("dst/src/sub")))
        EXPECT_NE(e.path().filename().string().rfind(".zelo", 0), 0u) << e.path();
}

// Copies move side by side but take their places in order: when one fails, the destination holds exactly
// the copies before it, the earlier version of the rest (even of copies whose bytes had all moved), the
// failure told once, and the counts of a run that ended at that copy. Folder copy, backup and file copy
// alike.
TEST_F(TransferTest, AFailureEndsTheRunAtThatCopy)
{
    tree.mkdir("src");
    static constexpr int kFiles = 48; // more than are under way at once, so every thread copies
    static constexpr size_t kFailing = 10;
    for (int i = 0; i < kFiles; ++i)
        tree.write("src/f" + std::to_string(i), std::string(1000 + i, 'x'));
    // By the order the walk lists the source: the file at kFailing fails once two later copies are whole.
    std::vector<std::string> order;
    for (const auto& e : std::filesystem::directory_iterator(tree.linux("src")))
        order.push_back(e.path().filename().string());
    std::map<int64_t, size_t> place;
    for (size_t i = 0; i < order.size(); ++i)
        place[1000 + std::stoi(order[i].substr(1))] = i;
    const struct {
        const char* what;
        std::function<int()> run;
        std::function<int()> counted; // what the counts say was copied: exactly the copies in place
        int result;
    } cases[] = {
        { "folder copy", [&] { return Folder(kModeFolderCopy); }, [&] { return counts.updatedFiles; },
            kTransferStoppedByError },
        { "backup", [&] { return Folder(kModeFolderBackup); }, [&] { return counts.updatedFiles; },
            kTransferStoppedByError },
        { "file copy", [&] { return Files(kModeFileCopy, order, "src", "dst/src"); }, [&] { return fileCounts.copied; },
            1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& name : order) {
            tree.write("dst/src/" + name, "earlier");
            tree.setTime("dst/src/" + name, kOld);
        }
        fake.messages.clear();
        test::FaultyFileSystem faulty(linuxFileSystem());
        faulty.readError = 23;
        std::mutex seen;
        std::map<size_t, int> steps; // copy steps per place: a second one finds the file's end
        faulty.beforeCopy = [&](File& source) {
            const size_t at = place[source.Size()];
            int laterWhole = 0;
            {
                std::lock_guard<std::mutex> lock(seen);
                ++steps[at];
            }
            if (at != kFailing) return true;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (laterWhole < 2 && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield();
                std::lock_guard<std::mutex> lock(seen);
                laterWhole = int(std::count_if(
                    steps.begin(), steps.end(), [](const auto& s) { return s.first > kFailing && s.second >= 2; }));
            }
            return false;
        };
        int result = 0;
        {
            ScopedFileSystem scoped(faulty);
            result = c.run();
        }
        EXPECT_EQ(result, c.result);
        const std::string told = tree.drive("dst/src/" + order[kFailing]) + "  :   エラー番号　23";
        EXPECT_NE(Texts().find(told), std::string::npos) << Texts();
        EXPECT_EQ(Texts().find(told), Texts().rfind(told)) << Texts();
        for (size_t i = 0; i < order.size(); ++i)
            EXPECT_EQ(tree.read("dst/src/" + order[i]) == "earlier", i >= kFailing) << order[i];
        EXPECT_EQ(c.counted(), int(kFailing));
        for (const auto& e : std::filesystem::directory_iterator(tree.linux("dst/src")))
            EXPECT_NE(e.path().filename().string().rfind(".zelo", 0), 0u) << e.path();
    }
}

TEST_F(TransferTest, MirrorMakesTheDestinationIdentical)
{
    Source();
    tree.symlink(tree.linux("outside"), "src/link");
    tree.mkdir("outside");
    tree.write("outside/o", "never copied");
    tree.mkdir("dst/src/extra/deeper");
    tree.write("dst/src/extra/deeper/x", "1");
    tree.write("dst/src/extra.txt", "2");
    tree.mkdir("dst/src/a.txt"); // a directory where the source has a file
    tree.write("dst/src/sub", "3"); // a file where the source has a directory
    tree.write("dst/src/ro.txt", "4");
    tree.setReadOnly("dst/src/ro.txt", true);
    tree.write("src/plain", "5");
    tree.setTime("src/plain", kOld);
    tree.fifo("dst/src/plain"); // a newer FIFO where the source has a file

    // ReadOnly kept: the ReadOnly extra file is reported and the mirror step of that directory ends.
    CommandOptions keep;
    keep.clearReadOnly = false;
    Folder(kModeFolderBackup, 0, keep);
    EXPECT_TRUE(tree.exists("dst/src/ro.txt"));
    EXPECT_GT(counts.failures, 0);

    fake.messages.clear();
    EXPECT_EQ(Folder(kModeFolderBackup), kTransferDone) << Texts();
    EXPECT_FALSE(tree.exists("dst/src/ro.txt"));
    EXPECT_FALSE(tree.exists("dst/src/extra"));
    EXPECT_FALSE(tree.exists("dst/src/extra.txt"));
    EXPECT_EQ(tree.read("dst/src/a.txt"), "of src/a.txt");
    EXPECT_EQ(tree.read("dst/src/sub/b.txt"), "of src/sub/b.txt");
    EXPECT_EQ(tree.read("dst/src/plain"), "5");
    // The link is copied as a link, its target never entered.
    struct stat st { };
    ASSERT_EQ(::lstat(tree.linux("dst/src/link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(std::filesystem::read_symlink(tree.linux("dst/src/link")).string(), tree.linux("outside"));

    // An extra directory is counted in full: itself and what it held.
    tree.mkdir("dst/src/gone/inner");
    tree.write("dst/src/gone/inner/f", "x");
    EXPECT_EQ(Folder(kModeFolderBackup), kTransferDone);
    EXPECT_EQ(counts.deletedDirs, 2);
    EXPECT_EQ(counts.deletedFiles, 1);
    // Nothing changed: nothing copied, nothing deleted.
    EXPECT_EQ(Folder(kModeFolderBackup), kTransferDone);
    EXPECT_EQ(counts.newFiles + counts.updatedFiles + counts.deletedFiles + counts.deletedDirs, 0);
}

TEST_F(TransferTest, EveryKindOfEntryIsCopiedAsItIs)
{
    tree.standard("src");
    tree.mkdir("dst");
    EXPECT_EQ(Folder(kModeFolderCopy), kTransferDone) << Texts();
    for (const char* f : { "file.txt", "sub/inner.txt", ".hidden", "readonly.txt" })
        EXPECT_EQ(tree.read(std::string("dst/src/") + f), tree.read(std::string("src/") + f)) << f;
    EXPECT_EQ(std::filesystem::read_symlink(tree.linux("dst/src/link")).string(), "file.txt");
    // The copy of a ReadOnly file is writable by its owner; the source became Archive only.
    EXPECT_EQ(fs().GetAttributes(tree.drive("dst/src/readonly.txt")) & kAttrReadOnly, 0u);
    EXPECT_EQ(fs().GetAttributes(tree.drive("src/readonly.txt")) & kAttrReadOnly, 0u);
}

TEST_F(TransferTest, MirrorNeverDeletesBecauseTheSourceCouldNotBeRead)
{
    Source();
    EXPECT_EQ(Folder(kModeFolderBackup), kTransferDone);
    tree.write("dst/src/sub/only-at-destination", "keep");
    ::chmod(tree.linux("src/sub").c_str(), 0);
    const auto ran = test::RunAsOrdinaryUser(tree.root(), [&] {
        const int result = Folder(kModeFolderBackup);
        return result == kTransferDone && counts.failures > 0 && tree.exists("dst/src/sub/only-at-destination")
            && tree.exists("dst/src/sub/b.txt");
    });
    ::chmod(tree.linux("src/sub").c_str(), 0755);
    if (!ran) GTEST_SKIP() << "cannot run as an ordinary user here";
    EXPECT_TRUE(*ran);
}

TEST_F(TransferTest, FilesCopyMoveAndSummaries)
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
    EXPECT_EQ(TransferFiles(request, c, Main.AbortFlag), 1);
    EXPECT_EQ(
        fake.messages.back().text, "更新済みのファイル　0，  コピ－したファイル　2　，　　エラ－はありませんでした");
    // The same again: everything is up to date.
    EXPECT_EQ(TransferFiles(request, c, Main.AbortFlag), 1);
    EXPECT_EQ(c.upToDate, 2);
    EXPECT_EQ(c.copied, 0);
    // A move deletes its sources, also those not copied because the destination was up to date.
    request.names = { "a", "c" };
    request.mode = kModeFileMove;
    EXPECT_EQ(TransferFiles(request, c, Main.AbortFlag), 1);
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
TEST_F(TransferTest, ALongSelectionFindsWhatTheDestinationHolds)
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

// Each copy of a tree has its source's permission bits (with the owner's write bit), whatever a new file in
// its directory would get: the umask's, or a default ACL's where one is set.
TEST_F(TransferTest, TreeCopiesHaveTheirSourcesModes)
{
    const mode_t modes[] = { 0644, 0600, 0640, 0666, 0755, 0444, 0400 };
    for (const mode_t mode : modes) {
        const std::string name = "src/m" + std::to_string(mode);
        tree.write(name, "x");
        ASSERT_EQ(::chmod(tree.linux(name).c_str(), mode), 0);
    }
    // A default ACL (user rwx, group and others nothing) keeps new files in acl from the group and others.
    const uint32_t acl[] = { 2, 0x70001, ~0u, 0x00004, ~0u, 0x00020, ~0u };
    tree.mkdir("acl");
    const bool withAcl = ::setxattr(tree.linux("acl").c_str(), "system.posix_acl_default", acl, sizeof acl, 0) == 0;
    for (const std::string dest : { "plain", "acl" }) {
        if (dest == "acl" && !withAcl) continue;
        tree.mkdir(dest);
        ASSERT_EQ(Folder(kModeFolderCopy, 0, {}, dest), kTransferDone) << dest;
        for (const mode_t mode : modes) {
            struct stat st { };
            ASSERT_EQ(::stat(tree.linux(dest + "/src/m" + std::to_string(mode)).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, (mode | S_IWUSR) & 0777) << dest << " " << mode;
        }
    }
}

// What appears under a copy's free name while its bytes move is looked at before the copy takes the name:
// a FIFO is never written (the copy fails), a file is replaced the checked way, and nothing stays under a
// hidden name. So too where the file system makes no unnamed files and keeps no modes (a share through
// FUSE), and each copy is renamed to its free name.
TEST_F(TransferTest, WhatAppearsUnderACopysFreeNameIsLookedAt)
{
    std::vector<long> refused = test::MetadataCalls();
    refused.push_back(test::kUnnamedFileCall);
    for (const bool unnamedFiles : { true, false }) {
        for (const bool fifo : { true, false }) {
            SCOPED_TRACE(testing::Message() << "unnamed files " << unnamedFiles << ", fifo " << fifo);
            std::filesystem::remove_all(tree.linux("dst"));
            Source();
            test::FaultyFileSystem faulty(linuxFileSystem());
            struct stat b { };
            ASSERT_EQ(::stat(tree.linux("src/sub/b.txt").c_str(), &b), 0);
            faulty.beforeCopy = [&](File& source) {
                struct stat st { };
                if (::fstat(source.NativeHandle(), &st) != 0 || st.st_ino != b.st_ino
                    || tree.exists("dst/src/sub/b.txt"))
                    return true;
                if (fifo)
                    tree.fifo("dst/src/sub/b.txt");
                else
                    tree.write("dst/src/sub/b.txt", "appeared");
                return true;
            };
            int result = -1;
            const auto copy = [&] {
                ScopedFileSystem scoped(faulty);
                result = Folder(kModeFolderCopy);
                return true;
            };
            if (unnamedFiles)
                copy();
            else if (!test::RunInThreadWithRefusedCalls(refused, EOPNOTSUPP, copy))
                GTEST_SKIP() << "no seccomp filter";
            EXPECT_EQ(result, fifo ? kTransferStoppedByError : kTransferDone);
            struct stat st { };
            ASSERT_EQ(::lstat(tree.linux("dst/src/sub/b.txt").c_str(), &st), 0);
            EXPECT_EQ(S_ISFIFO(st.st_mode), fifo);
            if (!fifo) {
                EXPECT_EQ(tree.read("dst/src/sub/b.txt"), "of src/sub/b.txt");
            }
            for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.linux("dst")))
                EXPECT_EQ(entry.path().filename().string().rfind(".zelo-", 0), std::string::npos) << entry.path();
        }
    }
}

TEST_F(TransferTest, DuplicatesAreNumberedAndNeverOverwrite)
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

// A destination entry of another kind under a file's name is never up to date: the file is reported as not
// copied, a move keeps it, and what stands at the destination is left as it was.
TEST_F(TransferTest, AnotherKindAtTheDestinationIsNeverUpToDate)
{
    const struct {
        const char* what;
        std::function<void(const std::string&)> make;
    } kinds[] = {
        { "directory", [&](const std::string& at) { tree.mkdir(at); } },
        { "link to a file", [&](const std::string& at) { tree.symlink(tree.linux("elsewhere"), at); } },
        { "dangling link", [&](const std::string& at) { tree.symlink(tree.linux("missing"), at); } },
        { "fifo", [&](const std::string& at) { tree.fifo(at); } },
    };
    tree.write("elsewhere", "elsewhere");
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.what);
        for (const char* dir : { "s", "d", "s2", "d2" })
            std::filesystem::remove_all(tree.linux(dir));
        tree.mkdir("s");
        tree.mkdir("d");
        tree.write("s/report.txt", "x");
        tree.setTime("s/report.txt", kOld);
        kind.make("d/report.txt");
        EXPECT_EQ(Files(kModeFileMove, { "report.txt" }, "s", "d"), 1);
        EXPECT_EQ(fileCounts.errors, 1);
        EXPECT_EQ(fileCounts.upToDate + fileCounts.deleted, 0);
        EXPECT_EQ(tree.read("s/report.txt"), "x");

        tree.mkdir("s2/src");
        tree.write("s2/src/report.txt", "x");
        tree.setTime("s2/src/report.txt", kOld);
        tree.mkdir("d2/src");
        kind.make("d2/src/report.txt");
        FolderTransfer request = Request(kModeFolderMove, "s2/src", "d2");
        EXPECT_EQ(TransferFolder(request, counts, Main.AbortFlag), kTransferDone);
        EXPECT_EQ(counts.failures, 1);
        EXPECT_EQ(counts.upToDateFiles, 0);
        EXPECT_EQ(tree.read("s2/src/report.txt"), "x");
    }
    EXPECT_EQ(tree.read("elsewhere"), "elsewhere");
}

// Source and destination the same place by identity, whatever the names say: refused, nothing deleted.
TEST_F(TransferTest, TheSamePlaceByAnotherNameIsRefused)
{
    Source();
    tree.mkdir("d");
    tree.write("d/f", "only copy");
    tree.symlink(tree.linux("d"), "alias");
    EXPECT_EQ(Files(kModeFileMove, { "f" }, "d", "alias"), -1);
    EXPECT_EQ(tree.read("d/f"), "only copy");
    EXPECT_EQ(fake.messages.back().text, "同じＤＩＲが選択されており，実行出来ません");

    // The source's own parent: the folder of its name there is the source itself.
    EXPECT_EQ(Folder(kModeFolderMove, 0, {}, ""), kTransferRefused);
    // A backup of the source's contents into a folder that holds the source would delete the source.
    EXPECT_EQ(Folder(kModeFolderBackup, 255, {}, ""), kTransferRefused);
    for (const char* f : { "src/a.txt", "src/sub/b.txt", "src/sub/deep/c.txt" })
        EXPECT_EQ(tree.read(f), std::string("of ") + f);
}

// As an ordinary user, a source directory that can be listed but not searched gives names without their
// details: its listing is incomplete, and the mirror deletes nothing there.
TEST_F(TransferTest, AnEntryThatCannotBeLookedUpIsNeverTakenForMissing)
{
    Source();
    EXPECT_EQ(Folder(kModeFolderBackup), kTransferDone);
    ::chmod(tree.linux("src/sub/deep").c_str(), 0444);
    const auto ran = test::RunAsOrdinaryUser(tree.root(), [&] {
        Folder(kModeFolderBackup);
        return counts.failures > 0 && tree.exists("dst/src/sub/deep/c.txt");
    });
    ::chmod(tree.linux("src/sub/deep").c_str(), 0755);
    if (!ran) GTEST_SKIP() << "cannot run as an ordinary user here";
    EXPECT_TRUE(*ran);
}

// A move deletes only what it copied and is still unchanged, through the directories it walked: a file
// written or created meanwhile stays, and so does the source's parent swapped for a link to another tree.
TEST_F(TransferTest, AMoveDeletesOnlyWhatItCopiedThroughItsOwnHandles)
{
    tree.mkdir("p/src/sub/deep");
    tree.write("p/src/a.txt", "a");
    tree.write("p/src/sub/deep/c.txt", "c");
    tree.mkdir("q/src/sub");
    tree.write("q/src/a.txt", "victim");
    tree.write("q/src/sub/keep.txt", "victim");
    tree.mkdir("dst");
    bool swapped = false;
    fake.onPump = [&](int) {
        if (swapped || fake.progress.label != "c.txt") return;
        swapped = true;
        // Once a.txt's copy is in place (it moves beside the walk): a new version is saved, a file appears,
        // the parent becomes a link.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!tree.exists("dst/src/a.txt") && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        tree.write("p/src/a.txt", "saved meanwhile");
        tree.write("p/src/late.txt", "late");
        std::filesystem::rename(tree.linux("p"), tree.linux("p.moved"));
        tree.symlink(tree.linux("q"), "p");
    };
    FolderTransfer request = Request(kModeFolderMove, "p/src");
    const int result = TransferFolder(request, counts, Main.AbortFlag);
    fake.onPump = nullptr;
    ASSERT_TRUE(swapped);
    EXPECT_EQ(result, kTransferDone);
    EXPECT_EQ(counts.failures, 2); // a.txt and late.txt kept
    EXPECT_EQ(tree.read("q/src/a.txt"), "victim");
    EXPECT_EQ(tree.read("q/src/sub/keep.txt"), "victim");
    EXPECT_EQ(tree.read("p.moved/src/a.txt"), "saved meanwhile");
    EXPECT_EQ(tree.read("p.moved/src/late.txt"), "late");
    EXPECT_FALSE(tree.exists("p.moved/src/sub"));
    EXPECT_EQ(tree.read("dst/src/sub/deep/c.txt"), "c");
}

// A source that ends before the size it had when it was opened is no copy: the earlier destination stays.
TEST_F(TransferTest, AShortReadNeverReplacesTheEarlierCopy)
{
    tree.writeSized("src/big", 12u << 20);
    tree.write("dst/big", "earlier good copy");
    fake.onPump = [&](int) { ASSERT_EQ(::truncate(tree.linux("src/big").c_str(), 5 << 20), 0); };
    EXPECT_EQ(CopyOneFile(tree.drive("src/big"), tree.drive("dst/big"), 1, Main.AbortFlag), -1);
    fake.onPump = nullptr;
    EXPECT_EQ(tree.read("dst/big"), "earlier good copy");
    EXPECT_EQ(fake.messages.back().text, tree.drive("src/big") + "  :   ファイルを最後まで読めませんでした");
}

// Another drive mounted at the destination is never entered or deleted into, and a destination that is a
// bind mount of a source directory is refused as a destination inside the source.
TEST_F(TransferTest, MountsAtTheDestinationAreNeverEnteredOrDeletedInto)
{
    Source();
    tree.mkdir("dst/src/mnt");
    tree.write("outside/precious", "precious");
    test::ScopedBindMount bound(tree.linux("outside"), tree.linux("dst/src/mnt"));
    if (!bound.mounted()) GTEST_SKIP() << "bind mounts need privileges";
    EXPECT_EQ(Folder(kModeFolderBackup), kTransferDone);
    EXPECT_EQ(counts.failures, 1);
    EXPECT_NE(Texts().find("別のドライブ"), std::string::npos);
    EXPECT_EQ(tree.read("outside/precious"), "precious");
    EXPECT_EQ(tree.read("dst/src/sub/b.txt"), "of src/sub/b.txt");

    tree.mkdir("loop");
    test::ScopedBindMount loop(tree.linux("src/sub"), tree.linux("loop"));
    ASSERT_TRUE(loop.mounted());
    // Refused before anything is made: the top folder would be made inside the source.
    for (const int mode : { kModeFolderCopy, kModeFolderMove, kModeFolderBackup }) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(Folder(mode, 0, {}, "loop"), kTransferRefused);
        EXPECT_FALSE(tree.exists("src/sub/src"));
        EXPECT_EQ(tree.read("src/a.txt"), "of src/a.txt");
    }
}

// Where ReadOnly items may be overwritten, a ReadOnly destination is made writable through the directory
// walked: a destination directory swapped for a link meanwhile changes nothing outside.
TEST_F(TransferTest, AReadOnlyDestinationIsChangedThroughItsDirectoryOnly)
{
    Source();
    tree.setTime("src/sub/b.txt", kNew);
    tree.mkdir("dst/src/sub");
    tree.write("dst/src/sub/b.txt", "old");
    tree.setTime("dst/src/sub/b.txt", kOld);
    tree.setReadOnly("dst/src/sub/b.txt", true);
    tree.write("outside/b.txt", "outside");
    tree.setReadOnly("outside/b.txt", true);
    bool swapped = false;
    fake.onPump = [&](int) {
        if (swapped || fake.progress.label != "b.txt") return;
        swapped = true;
        std::filesystem::rename(tree.linux("dst/src/sub"), tree.linux("dst/src/sub.old"));
        tree.symlink(tree.linux("outside"), "dst/src/sub");
    };
    CommandOptions clear;
    clear.clearReadOnly = true;
    Folder(kModeFolderCopy, 0, clear);
    fake.onPump = nullptr;
    ASSERT_TRUE(swapped);
    EXPECT_EQ(tree.read("outside/b.txt"), "outside");
    EXPECT_EQ(fs().GetAttributes(tree.drive("outside/b.txt")) & kAttrReadOnly, uint32_t(kAttrReadOnly));
    EXPECT_EQ(tree.read("dst/src/sub.old/b.txt"), "of src/sub/b.txt");
}

// File moves: a ReadOnly source goes once copied (the copy made it Archive only); a source the destination
// holds in another version stays, listed; every error is counted and named; the room is asked once.
TEST_F(TransferTest, FileMovesKeepWhatTheyDidNotCopyAndCountEveryError)
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

// A backup that met a problem it could pass over still ends with its counts, the problem listed with them.
TEST_F(TransferTest, ABackupWithAProblemStillGivesItsCounts)
{
    Source();
    tree.mkdir("dst/src");
    tree.write("dst/src/extra", "cannot go");
    tree.setReadOnly("dst/src/extra", true);
    CommandOptions keepReadOnly;
    keepReadOnly.clearReadOnly = false;
    EXPECT_EQ(Folder(kModeFolderBackup, 0, keepReadOnly), kTransferDone);
    EXPECT_EQ(counts.newFiles, 3);
    EXPECT_EQ(counts.failures, 1);
    ASSERT_EQ(counts.problems.size(), 1u);
    EXPECT_EQ(counts.problems[0].rfind(tree.drive("dst/src/extra") + "  :   ", 0), 0u);
}

// The room a folder copy asks for: what the destination folder grows by, and the largest replacement on top
// (written whole beside the file it replaces).
TEST_F(TransferTest, TheRoomAskedForCountsTheReplacements)
{
    tree.writeSized("src/one", 1000);
    tree.writeSized("src/two", 3000);
    tree.writeSized("dst/src/two", 3000);
    EXPECT_EQ(FolderSpaceNeeded(tree.drive("src") + "\\", tree.drive("dst")), 1000 + 3000);
    EXPECT_EQ(FolderSpaceNeeded(tree.drive("src") + "\\", tree.drive("elsewhere")), 4000);
}

// A FUSE exFAT file system gives no inode numbers in its listing and numbers each name it is looked up by:
// trees there are still deleted and moved, and a name's case still changes.
TEST_F(TransferTest, TreesOnAFileSystemWithoutListedInodesAreDeletedAndMoved)
{
    tree.mkdir("stick");
    test::ScopedExfatMount stick(tree.linux("stick"));
    ZELO_REQUIRE_MOUNTED(stick, "exFAT");
    tree.mkdir("stick/gone/x/y");
    tree.write("stick/gone/x/y/f", "f");
    EXPECT_EQ(DeleteTree(tree.drive("stick/gone"), 0, CommandOptions {}).result, 1);
    EXPECT_FALSE(tree.exists("stick/gone"));

    tree.mkdir("stick/src/sub");
    tree.write("stick/src/sub/b.txt", "b");
    tree.mkdir("dst");
    FolderTransfer request = Request(kModeFolderMove, "stick/src");
    EXPECT_EQ(TransferFolder(request, counts, Main.AbortFlag), kTransferDone);
    EXPECT_EQ(counts.failures, 0);
    EXPECT_FALSE(tree.exists("stick/src"));
    EXPECT_EQ(tree.read("dst/src/sub/b.txt"), "b");

    tree.write("stick/Report.TXT", "r");
    EXPECT_TRUE(fs().MoveFile(tree.drive("stick/Report.TXT"), tree.drive("stick/report.txt")));
    tree.write("stick/other", "o");
    EXPECT_FALSE(fs().MoveFile(tree.drive("stick/other"), tree.drive("stick/report.txt")));
    EXPECT_EQ(tree.read("stick/report.txt"), "r");
}

// The newer-only rule as finely as the destination keeps times: FAT keeps even seconds (and may show an
// hour's daylight-saving shift), so a backup to a FAT stick copies nothing the second time.
TEST_F(TransferTest, TimesCompareAsTheDestinationKeepsThem)
{
    const auto at
        = [](int64_t unixSeconds) { return FileTime { uint64_t(unixSeconds + 11'644'473'600) * 10'000'000 }; };
    const struct {
        int64_t source, destination;
        int second, fat;
    } cases[] = {
        { kOld + 1, kOld, 1, 0 }, // an odd second kept as the even one below
        { kOld + 2, kOld, 1, 1 },
        { kOld, kOld + 1, -1, 0 },
        { kOld + 3600, kOld, 1, 0 }, // an hour apart: a daylight-saving shift on FAT
        { kOld, kOld + 3601, -1, 0 },
        { kOld + 3602, kOld, 1, 1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source - c.destination);
        EXPECT_EQ(CompareWriteTimes(at(c.source), at(c.destination), WriteTimeStep::Second), c.second);
        EXPECT_EQ(CompareWriteTimes(at(c.source), at(c.destination), WriteTimeStep::FatTwoSeconds), c.fat);
    }

    Source();
    tree.setTime("src/a.txt", kOld + 1);
    tree.mkdir("dst/src/sub/deep");
    for (const char* f : { "a.txt", "sub/b.txt", "sub/deep/c.txt" }) {
        tree.write(std::string("dst/src/") + f, std::string("of src/") + f);
        tree.setTime(std::string("dst/src/") + f, kOld); // as FAT keeps them
    }
    tree.setTime("dst/src/sub/b.txt", kOld - 3600);
    FolderTransfer request = Request(kModeFolderBackup);
    request.destinationTimes = WriteTimeStep::FatTwoSeconds;
    EXPECT_EQ(TransferFolder(request, counts, Main.AbortFlag), kTransferDone);
    EXPECT_EQ(counts.upToDateFiles, 3);
    EXPECT_EQ(counts.updatedFiles + counts.newFiles, 0);
}

// A backup that keeps versions moves everything it deletes or replaces into one folder a run, at the same
// relative path, so that moving them back gives the earlier destination byte for byte.
TEST_F(TransferTest, ABackupKeepsWhatItDeletesOrReplacesAsVersions)
{
    Source();
    tree.setTime("src/sub/b.txt", kNew);
    tree.symlink("new-target", "src/link");
    tree.mkdir("dst/src/gone/deeper");
    const std::map<std::string, std::string> earlier = {
        { "a.txt", "of src/a.txt" },
        { "sub/b.txt", "earlier b" },
        { "extra.txt", "extra" },
        { "gone/deeper/g.txt", "g" },
        { "sub/deep/c.txt", "of src/sub/deep/c.txt" },
    };
    for (const auto& [name, text] : earlier) {
        tree.write("dst/src/" + name, text);
        tree.setTime("dst/src/" + name, kOld);
    }
    tree.symlink("old-target", "dst/src/link");
    const timespec older[2] = { { kOld, 0 }, { kOld, 0 } };
    ::utimensat(AT_FDCWD, tree.linux("dst/src/link").c_str(), older, AT_SYMLINK_NOFOLLOW);
    const auto run = [&](const std::string& versions) {
        FolderTransfer request = Request(kModeFolderBackup);
        request.versionsDir = tree.drive(versions);
        return TransferFolder(request, counts, Main.AbortFlag);
    };
    // Refused before anything is written: inside the backup, or on another file system.
    EXPECT_EQ(run("dst/src/versions"), kTransferRefused);
    tree.mkdir("tmpfs");
    test::ScopedTmpfsMount other(tree.linux("tmpfs"));
    if (other.mounted()) {
        EXPECT_EQ(run("tmpfs"), kTransferRefused);
    }
    EXPECT_EQ(tree.read("dst/src/extra.txt"), "extra");

    EXPECT_EQ(run("versions"), kTransferDone);
    EXPECT_EQ(counts.failures, 0);
    EXPECT_EQ(counts.versionsKept, 4); // extra.txt, gone, the old b.txt and the old link
    EXPECT_EQ(counts.deletedFiles, 2);
    EXPECT_EQ(counts.deletedDirs, 2);
    EXPECT_FALSE(tree.exists("dst/src/gone"));
    EXPECT_EQ(tree.read("dst/src/sub/b.txt"), "of src/sub/b.txt");
    std::vector<std::string> folders;
    for (const auto& entry : std::filesystem::directory_iterator(tree.linux("versions")))
        folders.push_back(entry.path().filename().string());
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(tree.drive("versions/" + folders[0]) + "\\", counts.versionsFolder);
    const std::string kept = "versions/" + folders[0] + "/";
    EXPECT_EQ(std::filesystem::read_symlink(tree.linux(kept + "link")).string(), "old-target");

    // Moving the versions back gives the earlier destination.
    std::filesystem::remove(tree.linux("dst/src/link"));
    std::filesystem::rename(tree.linux(kept + "link"), tree.linux("dst/src/link"));
    for (const char* name : { "sub/b.txt", "extra.txt" }) {
        std::filesystem::rename(tree.linux(kept + name), tree.linux(std::string("dst/src/") + name));
    }
    std::filesystem::rename(tree.linux(kept + "gone"), tree.linux("dst/src/gone"));
    for (const auto& [name, text] : earlier)
        EXPECT_EQ(tree.read("dst/src/" + name), text) << name;
    EXPECT_EQ(std::filesystem::read_symlink(tree.linux("dst/src/link")).string(), "old-target");
}

// Every entry below a directory: kind, size, write time and contents (links: their target), by relative path.
std::map<std::string, std::string> Listing(const std::string& root)
{
    std::map<std::string, std::string> out;
    if (!std::filesystem::exists(root)) return out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        struct stat st { };
        ::lstat(entry.path().c_str(), &st);
        // A folder's own time is not the backup's business.
        std::string value = std::to_string(st.st_mode & S_IFMT);
        if (!S_ISDIR(st.st_mode)) value += " " + std::to_string(st.st_mtime);
        if (S_ISLNK(st.st_mode)) {
            value += " -> " + std::filesystem::read_symlink(entry.path()).string();
        } else if (S_ISREG(st.st_mode)) {
            std::ifstream in(entry.path(), std::ios::binary);
            value += " " + std::string(std::istreambuf_iterator<char>(in), {});
        }
        out[std::filesystem::relative(entry.path(), root).string()] = value;
    }
    return out;
}

// A backup is planned before anything is written and carried out as planned: on random trees with random
// changes (kind changes included) a dry run writes nothing, the run does what the plan said, and the
// destination ends as the source is.
TEST_F(TransferTest, ABackupDoesWhatItsPlanSaid)
{
    std::srand(7);
    const auto random = [](int n) { return std::rand() % n; };
    // The destination's changes are older than anything of the source's, and each round's source links
    // are a second apart from the last: the newer-only rule then leaves nothing different.
    const auto mutate = [&](const std::string& root, int64_t base, bool links) {
        for (int i = 0; i < 40; ++i) {
            const std::string dir = root + "/d" + std::to_string(random(4)) + "/e" + std::to_string(random(3));
            const std::string name = dir + "/f" + std::to_string(random(6));
            std::filesystem::remove_all(tree.linux(name));
            switch (random(links ? 4 : 3)) {
            case 0:
                break; // gone
            case 1:
                tree.mkdir(name + "/inner");
                tree.write(name + "/inner/x", "x");
                tree.setTime(name + "/inner/x", base);
                break;
            case 3: {
                tree.mkdir(dir);
                tree.symlink("target" + std::to_string(random(3)), name);
                const timespec times[2] = { { base, 0 }, { base, 0 } };
                ::utimensat(AT_FDCWD, tree.linux(name).c_str(), times, AT_SYMLINK_NOFOLLOW);
                break;
            }
            default:
                tree.write(name, std::string(random(50), 'a' + random(26)));
                tree.setTime(name, base + random(3) * 100);
            }
        }
    };
    tree.mkdir("src");
    tree.mkdir("dst");
    mutate("src", kOld, true);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        mutate("src", kOld + 1000 * (round + 1), true);
        if (round > 0) mutate("dst/src", kOld - 1000, false);
        const auto before = Listing(tree.linux("dst"));
        FolderTransfer request = Request(kModeFolderBackup);
        request.dryRun = true;
        BackupPlan plan;
        EXPECT_EQ(TransferFolder(request, counts, Main.AbortFlag, &plan), kTransferDone);
        EXPECT_EQ(Listing(tree.linux("dst")), before);
        const TransferCounts planned = counts;

        request.dryRun = false;
        request.maxDelete = std::numeric_limits<int>::max();
        int shown = -1;
        request.confirmPlan = [&](const BackupPlan& p) {
            shown = p.counts.newFiles + p.counts.updatedFiles + p.counts.deletedFiles;
            return true;
        };
        EXPECT_EQ(TransferFolder(request, counts, Main.AbortFlag), kTransferDone);
        EXPECT_EQ(shown, planned.newFiles + planned.updatedFiles + planned.deletedFiles);
        for (const auto& [what, a, b] : { std::tuple { "created", planned.createdDirs, counts.createdDirs },
                 { "new", planned.newFiles, counts.newFiles }, { "updated", planned.updatedFiles, counts.updatedFiles },
                 { "deleted files", planned.deletedFiles, counts.deletedFiles },
                 { "deleted dirs", planned.deletedDirs, counts.deletedDirs } })
            EXPECT_EQ(a, b) << what;
        EXPECT_EQ(counts.failures, 0) << Texts();
        EXPECT_EQ(Listing(tree.linux("dst/src")), Listing(tree.linux("src")));
    }
}

// A backup that would delete most of the destination asks a second time (a script's is refused unless it
// allowed that many); No leaves everything. What changed after the plan was shown is left as it is.
TEST_F(TransferTest, AMassDeletionIsAskedAgainAndNothingUnshownIsDeleted)
{
    Source();
    EXPECT_EQ(Folder(kModeFolderBackup), kTransferDone);
    std::filesystem::remove(tree.linux("src/a.txt"));
    std::filesystem::remove_all(tree.linux("src/sub"));
    maxDelete = -1; // the source came up empty: all 5 entries would go
    fake.answers = { kIdNo };
    EXPECT_EQ(Folder(kModeFolderBackup), kTransferDeclined);
    EXPECT_TRUE(tree.exists("dst/src/sub/deep/c.txt"));
    ASSERT_FALSE(fake.messages.empty());
    EXPECT_NE(fake.messages.back().text.find("5　のうち　5"), std::string::npos);
    EXPECT_EQ(fake.messages.back().caption, "注意");
    maxDelete = 2;
    EXPECT_EQ(Folder(kModeFolderBackup), kTransferRefused);
    EXPECT_TRUE(tree.exists("dst/src/a.txt"));

    // Replaced after the plan: the new file is not the one shown for deletion and stays.
    FolderTransfer request = Request(kModeFolderBackup);
    request.confirmPlan = [&](const BackupPlan&) {
        std::filesystem::remove(tree.linux("dst/src/a.txt"));
        tree.write("dst/src/a.txt", "saved after the plan was shown");
        return true;
    };
    fake.answers = { kIdYes };
    EXPECT_EQ(TransferFolder(request, counts, Main.AbortFlag), kTransferDone);
    EXPECT_EQ(counts.failures, 1);
    EXPECT_EQ(tree.read("dst/src/a.txt"), "saved after the plan was shown");
    EXPECT_FALSE(tree.exists("dst/src/sub/deep/c.txt"));
}

} // namespace
} // namespace zelo
