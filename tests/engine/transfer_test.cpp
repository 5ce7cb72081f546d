// Folder copy, move and mirror, the file driver and duplicates, on real trees with the scripted user.
#include "engine/file_transfer.h"
#include "engine/folder_transfer.h"
#include "engine/tree_walk.h"
#include "model/state.h"
#include "platform/filesystem.h"
#include "tests/support/fake_ui.h"
#include "tests/support/ordinary_user.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

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

    int Folder(int mode, int contentsOnly = 0, CommandOptions options = {}, const std::string& dest = "dst")
    {
        FolderTransfer request;
        request.sourceFolder = tree.drive("src") + "\\";
        request.destinationDir = tree.drive(dest);
        request.contentsOnly = contentsOnly;
        request.mode = mode;
        request.options = options;
        Main.AbortFlag = 0;
        return TransferFolder(request, counts, Main.AbortFlag);
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
    // With "new" on the older source file goes with the rest of the source tree.
    EXPECT_EQ(Folder(kModeFolderMove), kTransferDone);
    EXPECT_FALSE(tree.exists("src"));
    EXPECT_EQ(tree.read("dst/src/a.txt"), "newer");
    EXPECT_EQ(tree.read("dst/src/sub/deep/c.txt"), "of src/sub/deep/c.txt");

    // Contents only: the emptied source stays.
    Source();
    EXPECT_EQ(Folder(kModeFolderMove, 255, {}, "dst/src"), kTransferDone);
    EXPECT_TRUE(tree.exists("src"));
    EXPECT_FALSE(tree.exists("src/a.txt"));

    // A FIFO that cannot be copied keeps the whole source.
    Source();
    tree.fifo("src/sub/pipe");
    EXPECT_EQ(Folder(kModeFolderMove, 0, {}, "dst/src"), kTransferStoppedByError);
    EXPECT_TRUE(tree.exists("src/a.txt"));
    EXPECT_TRUE(tree.exists("dst/src/src/sub/deep/c.txt"));
}

TEST_F(TransferTest, StopLeavesWhatWasCopiedAndNoPartialFile)
{
    Source();
    tree.writeSized("src/sub/big.bin", 24 << 20);
    // The stop button, pressed during the copy of the big file.
    fake.onPump = [&](int) {
        if (fake.progress.Position(ProgressBar::Block) > 0) Main.AbortFlag = kAbortRequested;
    };
    FolderTransfer request;
    request.sourceFolder = tree.drive("src") + "\\";
    request.destinationDir = tree.drive("dst");
    request.mode = kModeFolderMove;
    Main.AbortFlag = 0;
    EXPECT_EQ(TransferFolder(request, counts, Main.AbortFlag), kTransferCancelled);
    EXPECT_FALSE(tree.exists("dst/src/sub/big.bin"));
    EXPECT_TRUE(tree.exists("src/sub/big.bin")); // a move deletes nothing
    EXPECT_TRUE(tree.exists("src/a.txt"));
    EXPECT_NE(Texts().find("中断いたします"), std::string::npos);
    for (const auto& e : std::filesystem::directory_iterator(tree.linux("dst/src/sub")))
        EXPECT_NE(e.path().filename().string().rfind(".zelo", 0), 0u) << e.path();
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
        return result == kTransferStoppedByError && tree.exists("dst/src/sub/only-at-destination")
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
    EXPECT_EQ(TransferFiles(request, c), 1);
    EXPECT_EQ(
        fake.messages.back().text, "更新済みのファイル　0，  コピ－したファイル　2　，　　エラ－はありませんでした");
    // The same again: everything is up to date.
    EXPECT_EQ(TransferFiles(request, c), 1);
    EXPECT_EQ(c.upToDate, 2);
    EXPECT_EQ(c.copied, 0);
    // A move deletes its sources, also those not copied because the destination was up to date.
    request.names = { "a", "c" };
    request.mode = kModeFileMove;
    EXPECT_EQ(TransferFiles(request, c), 1);
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

} // namespace
} // namespace zelo
