// Folder copy and move, on real trees with the scripted user.
#include "tests/engine/transfer_fixture.h"

namespace zelo {
namespace {

using test::kNew;
using test::kOld;
using test::TransferTest;

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
    // The stop button, pressed while the big file's bytes are moving: its copy waits until it is pressed.
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
    std::stop_source stop;
    fake.onPump = [&](int) {
        if (!copying) return;
        stop.request_stop();
        stopSeen = true;
    };
    FolderTransfer request = Request(kModeFolderMove);
    {
        ScopedFileSystem scoped(faulty);
        EXPECT_EQ(TransferFolder(request, counts, stop.get_token()), kTransferCancelled);
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
        EXPECT_EQ(TransferFolder(request, counts, {}), kTransferDone);
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
    const int result = TransferFolder(request, counts, {});
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
    EXPECT_EQ(CopyOneFile(tree.drive("src/big"), tree.drive("dst/big"), 1, {}), -1);
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
    EXPECT_EQ(TransferFolder(request, counts, {}), kTransferDone);
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
    EXPECT_EQ(TransferFolder(request, counts, {}), kTransferDone);
    EXPECT_EQ(counts.upToDateFiles, 3);
    EXPECT_EQ(counts.updatedFiles + counts.newFiles, 0);
}

} // namespace
} // namespace zelo
