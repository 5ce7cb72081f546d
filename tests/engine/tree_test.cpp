// Tree totals and deletion: counts, single-precision totals, links, read-only items, the stack.
#include "engine/delete_commands.h"
#include "engine/tree.h"
#include "engine/tree_walk.h"
#include "model/state.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "tests/support/fake_ui.h"
#include "tests/support/faulty_fs.h"
#include "tests/support/ordinary_user.h"
#include "tests/support/scoped_mount.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace zelo {
namespace {

class TreeTest : public ::testing::Test {
protected:
    void SetUp() override { ResetMainState(); }

    TreeTotals Count(const std::string& relative) const { return CountTree(tree.drive(relative) + "\\"); }
    DeleteResult Delete(const std::string& relative, int keepRoot = 0, const CommandOptions& options = {}) const
    {
        return DeleteTree(tree.drive(relative) + "\\", keepRoot, options);
    }

    test::TempTree tree;
    test::FakeUi fake;
};

// A count beside the walk is given up once its stop is requested: it counts nothing further.
TEST_F(TreeTest, ACountGivenUpByItsStopCountsNoFurther)
{
    tree.mkdir("t/a");
    tree.writeSized("t/a/f", 100);
    std::stop_source stop;
    const TreeTotals whole = CountTree(tree.drive("t") + "\\", ListDetail::KindOnly, stop.get_token());
    EXPECT_EQ(whole.dirs + whole.files, 2);
    stop.request_stop();
    const TreeTotals given = CountTree(tree.drive("t") + "\\", ListDetail::KindOnly, stop.get_token());
    EXPECT_EQ(given.dirs + given.files, 0);
}

TEST(WithOneSeparatorTest, TrailingSeparators)
{
    EXPECT_EQ(WithOneSeparator("C:\\a"), "C:\\a\\");
    EXPECT_EQ(WithOneSeparator("C:\\a\\"), "C:\\a\\");
    EXPECT_EQ(WithOneSeparator("C:\\a\\\\"), "C:\\a\\");
    EXPECT_EQ(WithOneSeparator("C:\\\\"), "C:\\");
    EXPECT_EQ(WithOneSeparator("C:"), "C:\\");
}

TEST_F(TreeTest, CountEmptyAndNested)
{
    tree.mkdir("empty");
    TreeTotals t = Count("empty");
    EXPECT_EQ(t.dirs, 0);
    EXPECT_EQ(t.files, 0);
    EXPECT_EQ(t.bytes, 0.0f);
    EXPECT_EQ(t.unreadable, 0);

    tree.mkdir("t/a/b");
    tree.mkdir("t/c");
    tree.writeSized("t/f1", 100);
    tree.writeSized("t/a/f2", 200);
    tree.writeSized("t/a/b/.hidden", 300);
    tree.fifo("t/c/pipe"); // a file of size 0, never opened
    t = Count("t");
    EXPECT_EQ(t.dirs, 3);
    EXPECT_EQ(t.files, 4);
    EXPECT_EQ(t.bytes, 600.0f);
    EXPECT_EQ(t.exactBytes, 600u);
}

TEST_F(TreeTest, CountLargeFilesAndSinglePrecisionTotal)
{
    tree.mkdir("big");
    tree.sparse("big/five", 5000000000ULL);
    TreeTotals t = Count("big");
    EXPECT_EQ(t.bytes, 5000000000.0f);
    EXPECT_EQ(t.exactBytes, 5000000000ULL);

    // Beyond 2^24 a total keeps 24 significant bits: one more byte leaves it unchanged.
    tree.mkdir("round");
    tree.sparse("round/a", 16777216);
    tree.writeSized("round/b", 1);
    t = Count("round");
    EXPECT_EQ(t.files, 2);
    EXPECT_EQ(t.bytes, 16777216.0f);
    EXPECT_EQ(t.exactBytes, 16777217u);
}

TEST_F(TreeTest, ManySiblingDirectoriesCountedAndDeleted)
{
    for (int i = 0; i < 1500; ++i)
        tree.mkdir("wide/d" + std::to_string(i));
    tree.write("wide/d7/f", "x");
    EXPECT_EQ(Count("wide").dirs, 1500);
    EXPECT_EQ(Count("wide").files, 1);
    const DeleteResult d = Delete("wide");
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(d.dirs, 1501);
    EXPECT_EQ(d.files, 1);
    EXPECT_FALSE(tree.exists("wide"));
}

TEST_F(TreeTest, SymbolicLinkToDirectoryIsAnEntryOfItsOwn)
{
    tree.mkdir("outside/deep");
    tree.writeSized("outside/deep/keep.bin", 5000);
    tree.mkdir("t/sub");
    tree.write("t/sub/f", "abc");
    tree.symlink(tree.linux("outside"), "t/sub/link");
    tree.symlink(tree.linux("outside/deep/keep.bin"), "t/filelink");
    tree.setReadOnly("outside/deep/keep.bin", true);

    const TreeTotals t = Count("t");
    EXPECT_EQ(t.dirs, 1);
    EXPECT_EQ(t.files, 3);
    // Each link counts with its own size (the length of its target text), never its target's.
    const float linkSizes
        = static_cast<float>(tree.linux("outside").size() + tree.linux("outside/deep/keep.bin").size());
    EXPECT_EQ(t.bytes, 3.0f + linkSizes);
    // A start that is itself a link is one file.
    EXPECT_EQ(Count("t/sub/link").files, 1);
    EXPECT_EQ(Count("t/sub/link").dirs, 0);

    const DeleteResult d = Delete("t");
    EXPECT_EQ(d.result, 1);
    EXPECT_FALSE(tree.exists("t"));
    EXPECT_EQ(d.files, 3);
    EXPECT_EQ(d.dirs, 2);
    // The target tree is intact, attributes included.
    EXPECT_EQ(tree.read("outside/deep/keep.bin").size(), 5000u);
    EXPECT_NE(fs().GetAttributes(tree.drive("outside/deep/keep.bin")) & kAttrReadOnly, 0u);
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(TreeTest, WalksStayOutOfAnotherFileSystemMountedInside)
{
    // A stick mounted inside the tree is another drive: not counted into, not deleted from.
    tree.mkdir("t/stick");
    tree.write("t/a.bak", "1");
    tree.mkdir("t/sub");
    tree.write("t/sub/f", "22");
    test::ScopedTmpfsMount mount(tree.linux("t/stick"));
    if (!mount.mounted()) GTEST_SKIP() << "mounting is not permitted here";
    tree.write("t/stick/data.bak", "precious");

    const TreeTotals t = Count("t");
    EXPECT_EQ(t.dirs, 2);
    EXPECT_EQ(t.files, 2);
    EXPECT_EQ(t.bytes, 3.0f);
    EXPECT_EQ(t.unreadable, 0);

    DeleteBackupFiles(tree.drive("t"), CommandOptions {});
    EXPECT_FALSE(tree.exists("t/a.bak"));
    EXPECT_EQ(tree.read("t/stick/data.bak"), "precious");
    fake.messages.clear();

    EXPECT_EQ(Delete("t").result, -1);
    EXPECT_EQ(tree.read("t/stick/data.bak"), "precious");
    EXPECT_FALSE(tree.exists("t/sub"));
    ASSERT_EQ(fake.messages.size(), 2u);
    EXPECT_EQ(fake.messages[0].text, tree.drive("t/stick") + "  :   別のドライブがマウントされています（入りません）");
    EXPECT_EQ(fake.messages[1].text, tree.drive("t") + "\\  :   DIR　が空でない　！");
}

TEST_F(TreeTest, RootThatIsALinkIsRemovedAsALinkAndNeverEmptied)
{
    tree.mkdir("target/x");
    tree.symlink(tree.linux("target"), "link");
    EXPECT_EQ(Delete("link", 255).result, -1);
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_TRUE(tree.exists("target/x"));
    EXPECT_EQ(Delete("link").result, 1);
    EXPECT_FALSE(tree.exists("link"));
    EXPECT_TRUE(tree.exists("target/x"));
}

TEST_F(TreeTest, KeepRootBothWays)
{
    const struct {
        int keepRoot;
        bool rootStays;
        int dirs;
    } cases[] = { { 255, true, 1 }, { 0, false, 2 } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keepRoot);
        tree.mkdir("r/s");
        tree.write("r/a", "1");
        tree.write("r/b", "2");
        tree.write("r/s/c", "3");
        tree.fifo("r/s/pipe");
        const DeleteResult d = Delete("r", c.keepRoot);
        EXPECT_EQ(d.result, 1);
        EXPECT_EQ(d.files, 4);
        EXPECT_EQ(d.dirs, c.dirs);
        EXPECT_EQ(tree.exists("r"), c.rootStays);
        EXPECT_FALSE(tree.exists("r/s"));
        EXPECT_FALSE(tree.exists("r/a"));
    }
    // Only files, keep-root: nothing but the files goes.
    tree.write("flat/a", "1");
    const DeleteResult d = Delete("flat", 255);
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(d.dirs, 0);
    EXPECT_EQ(d.files, 1);
    EXPECT_TRUE(tree.exists("flat"));
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(TreeTest, ReadOnlyFileWithAndWithoutClearing)
{
    auto build = [this] {
        tree.mkdir("top/mid/low");
        tree.write("top/t.txt", "t");
        tree.write("top/mid/low/ro.txt", "r");
        tree.write("top/mid/low/other.txt", "o");
        tree.setReadOnly("top/mid/low/ro.txt", true);
        tree.setDosAttrib("top/mid/low/other.txt", kAttrHidden | kAttrSystem);
    };
    build();
    CommandOptions keep;
    keep.clearReadOnly = false;
    const DeleteResult refused = Delete("top", 0, keep);
    EXPECT_EQ(refused.result, -1);
    EXPECT_EQ(refused.dirs, 0);
    ASSERT_EQ(fake.messages.size(), 2u);
    const std::string deny = "  :   Accesee Denied !\n\r\n\r空でないフォルダーか, ＲｅａｄＯｎｌｙを削除しようとした";
    EXPECT_EQ(fake.messages[0].text, tree.drive("top/mid/low/ro.txt") + deny);
    EXPECT_EQ(fake.messages[1].text, tree.drive("top/mid/low") + "\\  :   DIR　が空でない　！");
    EXPECT_TRUE(tree.exists("top/mid/low/ro.txt"));
    EXPECT_FALSE(tree.exists("top/mid/low/other.txt")); // hidden and system do not stop a deletion
    EXPECT_TRUE(tree.exists("top/mid"));

    fake.messages.clear();
    tree.setReadOnly("top/mid/low/ro.txt", false);
    build();
    const DeleteResult whole = Delete("top");
    EXPECT_EQ(whole.result, 1);
    EXPECT_FALSE(tree.exists("top"));
    EXPECT_EQ(whole.dirs, 3);
    EXPECT_EQ(whole.files, 3);
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(TreeTest, AKeptRootThatLostOnlySomeEntriesIsNoSuccess)
{
    // A ReadOnly file in the root itself, not cleared: the rest goes, and the deletion has failed.
    tree.write("k/sub/a", "1");
    tree.write("k/ro", "r");
    tree.setReadOnly("k/ro", true);
    CommandOptions keep;
    keep.clearReadOnly = false;
    DeleteProgress progress;
    const DeleteResult d = DeleteTree(tree.drive("k") + "\\", kKeepRoot, keep, &progress);
    EXPECT_EQ(d.result, -1);
    EXPECT_EQ(d.failures, 1);
    EXPECT_EQ(progress.Entries(), 2); // sub and its file
    EXPECT_TRUE(tree.exists("k/ro") && !tree.exists("k/sub"));
}

TEST_F(TreeTest, ReadOnlyDirectoryClearedOrRefused)
{
    tree.mkdir("p/rodir");
    tree.setReadOnly("p/rodir", true);
    CommandOptions keep;
    keep.clearReadOnly = false;
    EXPECT_EQ(Delete("p", 0, keep).result, -1);
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text.rfind(tree.drive("p/rodir") + "\\  :   Accesee Denied !", 0), 0u);
    EXPECT_EQ(Delete("p").result, 1);
    EXPECT_FALSE(tree.exists("p"));
}

// Runs body as an ordinary user, for whom a directory's write permission decides whether its entries can
// be deleted (root is never refused).
void ExpectAsOrdinaryUser(const test::TempTree& tree, const std::function<bool()>& body)
{
    const std::optional<bool> result = test::RunAsOrdinaryUser(tree.root(), body);
    if (!result) GTEST_SKIP() << "cannot run as an ordinary user here";
    EXPECT_TRUE(*result);
}

TEST_F(TreeTest, ReadOnlyDirectoriesWithContentsForAnOrdinaryUser)
{
    // ReadOnly directories at several depths, each holding files; the kept root is one of them.
    tree.mkdir("t/ro/sub");
    tree.mkdir("t/ro/rosub");
    tree.write("t/ro/f", "1");
    tree.write("t/ro/sub/g", "2");
    tree.write("t/ro/rosub/h", "3");
    tree.setReadOnly("t/ro/rosub", true);
    tree.setReadOnly("t/ro", true);
    tree.mkdir("k/inner");
    tree.write("k/a", "4");
    tree.setReadOnly("k", true);
    tree.mkdir("keep/ro");
    tree.write("keep/ro/x", "5");
    tree.setReadOnly("keep/ro", true);

    ExpectAsOrdinaryUser(tree, [this] {
        // The child answers with one bool: each check that fails names itself on standard error.
        bool all = true;
        const auto check = [&all](bool ok, const char* what) {
            if (!ok) std::fprintf(stderr, "as an ordinary user, failed: %s\n", what);
            all = all && ok;
        };
        // Clearing ReadOnly deletes the whole tree.
        const DeleteResult whole = Delete("t");
        check(whole.result == 1, "whole tree: result 1");
        check(!tree.exists("t"), "whole tree: t is gone");
        check(whole.dirs == 4, "whole tree: 4 directories counted");
        check(whole.files == 3, "whole tree: 3 files counted");
        // Contents only: the root stays, ReadOnly as it was.
        check(Delete("k", 255).result == 1, "contents: result 1");
        check(tree.exists("k"), "contents: k stays");
        check(!tree.exists("k/a") && !tree.exists("k/inner"), "contents: k is empty");
        check((fs().GetAttributes(tree.drive("k")) & kAttrReadOnly) != 0, "contents: k keeps ReadOnly");
        // Without clearing, the ReadOnly directory keeps its file and the deletion fails.
        CommandOptions keepReadOnly;
        keepReadOnly.clearReadOnly = false;
        check(Delete("keep", 0, keepReadOnly).result == -1, "refused: result -1");
        check(tree.exists("keep/ro/x"), "refused: keep/ro/x stays");
        check((fs().GetAttributes(tree.drive("keep/ro")) & kAttrReadOnly) != 0, "refused: keep/ro keeps ReadOnly");
        check(fake.messages.size() == 2, "two messages in all");
        return all;
    });
}

TEST_F(TreeTest, MissingRootIsAnErrorNotAnEmptySuccess)
{
    EXPECT_EQ(Delete("nothere", 255).result, -1);
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text.rfind(tree.drive("nothere") + "\\  :   ", 0), 0u);
}

// The three walks that change or count a tree, each run over the tree "t".
enum class WalkKind { Count, Delete, Backup };

struct SwapCase {
    WalkKind walk;
    bool toLink; // swapped for a link, else for another directory
};

TEST_F(TreeTest, DirectorySwappedMidWalkIsNeverFollowed)
{
    for (const SwapCase c :
        { SwapCase { WalkKind::Count, true }, SwapCase { WalkKind::Delete, true }, SwapCase { WalkKind::Backup, true },
            SwapCase { WalkKind::Count, false }, SwapCase { WalkKind::Delete, false } }) {
        SCOPED_TRACE(int(c.walk) * 10 + c.toLink);
        tree.mkdir("t/a/sub");
        tree.write("t/a/sub/f.bak", "in");
        tree.mkdir("outside/deep");
        tree.write("outside/victim.bak", "precious");
        tree.write("outside/deep/more.bak", "precious");
        // Listed as a directory, then swapped before the walk goes in: the classic race against rm -rf.
        test::FaultyFileSystem faulty(linuxFileSystem());
        ScopedFileSystem scoped(faulty);
        faulty.beforeOpenChild = [&](const FindData& entry) {
            if (entry.name != "a" || !tree.exists("t/a/sub")) return;
            ::rename(tree.linux("t/a").c_str(), tree.linux("a.old").c_str());
            if (c.toLink)
                tree.symlink(tree.linux("outside"), "t/a");
            else
                ::rename(tree.linux("outside").c_str(), tree.linux("t/a").c_str());
        };
        if (c.walk == WalkKind::Count) {
            const TreeTotals t = Count("t");
            EXPECT_EQ(t.files, 0);
            EXPECT_EQ(t.unreadable, 1);
        } else if (c.walk == WalkKind::Delete) {
            EXPECT_EQ(Delete("t").result, -1);
        } else {
            DeleteBackupFiles(tree.drive("t"), CommandOptions {});
        }
        faulty.beforeOpenChild = {};
        EXPECT_TRUE(tree.exists("a.old")); // the swap came when the walk was about to go in
        const std::string outside = c.toLink ? "outside" : "t/a";
        EXPECT_EQ(tree.read(outside + "/victim.bak"), "precious");
        EXPECT_EQ(tree.read(outside + "/deep/more.bak"), "precious");
        std::filesystem::remove_all(tree.linux("t"));
        std::filesystem::remove_all(tree.linux("a.old"));
        std::filesystem::remove_all(tree.linux("outside"));
        fake.messages.clear();
    }
}

TEST_F(TreeTest, TreeDeeperThanThePathLimitIsCountedAndDeletedWhole)
{
    // 600 levels of 10-byte names: 6,600 bytes of path, beyond Linux's 4,096.
    constexpr int kDepth = 600;
    tree.mkdir("deep");
    int fd = ::open(tree.linux("deep").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < kDepth; ++i) {
        ASSERT_EQ(::mkdirat(fd, "0123456789", 0755), 0);
        const int next = ::openat(fd, "0123456789", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(fd = next, 0);
    }
    const int file = ::openat(fd, "bottom", O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(::write(file, "xyz", 3), 3);
    ::close(file);
    ::close(fd);

    const TreeTotals t = Count("deep");
    EXPECT_EQ(t.dirs, kDepth);
    EXPECT_EQ(t.files, 1);
    EXPECT_EQ(t.exactBytes, 3u);
    EXPECT_EQ(t.unreadable, 0);
    const DeleteResult d = Delete("deep");
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(d.dirs, kDepth + 1);
    EXPECT_EQ(d.files, 1);
    EXPECT_FALSE(tree.exists("deep"));
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(TreeTest, DeletingAHardLinkLeavesTheOtherNameAsItWas)
{
    tree.mkdir("outside");
    tree.write("outside/keep.bak", "k");
    tree.setDosAttrib("outside/keep.bak", kAttrHidden | kAttrSystem);
    tree.setReadOnly("outside/keep.bak", true);
    const auto state = [&] {
        struct stat st { };
        ::stat(tree.linux("outside/keep.bak").c_str(), &st);
        char value[64] = {};
        ::getxattr(tree.linux("outside/keep.bak").c_str(), "user.DOSATTRIB", value, sizeof value - 1);
        return std::to_string(st.st_mode) + "/" + value;
    };
    const std::string before = state();
    for (const WalkKind walk : { WalkKind::Delete, WalkKind::Backup, WalkKind::Count }) {
        SCOPED_TRACE(int(walk));
        tree.mkdir("t");
        ASSERT_EQ(::link(tree.linux("outside/keep.bak").c_str(), tree.linux("t/.link.bak").c_str()), 0);
        if (walk == WalkKind::Delete) {
            EXPECT_EQ(Delete("t").result, 1);
        } else if (walk == WalkKind::Backup) {
            DeleteBackupFiles(tree.drive("t"), CommandOptions {});
        } else {
            // The file pane's deletion of a selected file.
            EXPECT_EQ(DeleteSelectedFiles(
                          Selection::Of(tree.drive("t") + "\\", { ".link.bak" }, { true }), CommandOptions {}),
                1);
        }
        EXPECT_FALSE(tree.exists("t/.link.bak"));
        EXPECT_EQ(state(), before);
        std::filesystem::remove_all(tree.linux("t"));
    }
}

TEST_F(TreeTest, FailedDeletionGivesBackTheWriteBitsItLent)
{
    // A ReadOnly directory whose file an ordinary user can only delete with its write bit lent, beside a
    // directory that cannot be read: the deletion fails, and the lent bit goes back.
    tree.mkdir("t/ro/locked");
    tree.write("t/ro/f", "1");
    tree.write("t/ro/locked/inside", "2");
    ::chmod(tree.linux("t/ro/locked").c_str(), 0);
    ::chmod(tree.linux("t/ro").c_str(), 0555);
    ExpectAsOrdinaryUser(tree, [this] {
        const DeleteResult d = Delete("t");
        struct stat ro {
        }, locked {};
        ::stat(tree.linux("t/ro").c_str(), &ro);
        ::stat(tree.linux("t/ro/locked").c_str(), &locked);
        return d.result == -1 && !tree.exists("t/ro/f") && (ro.st_mode & 07777) == 0555
            && (locked.st_mode & 07777) == 0;
    });
}

TEST_F(TreeTest, TheSystemRootIsNeverEmptied)
{
    // Checked where "/" is this test's own tree (a chroot), so a fault cannot reach the real one.
    tree.write("a/precious", "p");
    const pid_t child = ::fork();
    if (child == 0) {
        if (::chroot(tree.root().c_str()) != 0 || ::chdir("/") != 0) ::_exit(2);
        setDriveMap(DriveMap::parse("C=/"));
        const DeleteResult d = DeleteTree("C:\\", 255, CommandOptions {});
        const bool refused = d.result == -1 && d.files == 0 && fake.messages.size() == 1
            && fake.messages[0].text == SystemRootRefusal("C:\\") && ::access("/a/precious", F_OK) == 0;
        ::_exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "chroot is not permitted here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(tree.read("a/precious"), "p");
}

} // namespace
} // namespace zelo
