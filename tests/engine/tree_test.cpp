// Tree totals and deletion: counts, single-precision totals, links, read-only items, the stack.
#include "engine/delete_commands.h"
#include "engine/tree.h"
#include "model/state.h"
#include "platform/filesystem.h"
#include "tests/support/fake_ui.h"
#include "tests/support/ordinary_user.h"
#include "tests/support/scoped_mount.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <unistd.h>

namespace zelo {
namespace {

class TreeTest : public ::testing::Test {
protected:
    void SetUp() override { ResetMainState(); }

    // A sparse file of an exact size (no disk space used).
    void Sparse(const std::string& relative, uint64_t size) const
    {
        const int fd = ::open(tree.linux(relative).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
        ::close(fd);
    }

    test::TempTree tree;
    test::FakeUi fake;
};

TEST(DirStackTest, LastInFirstOutAndGrowsPastItsFirstCapacity)
{
    DirStack stack;
    EXPECT_EQ(stack.StackCount(), 0);
    EXPECT_EQ(stack.PopDir(), "");
    EXPECT_EQ(stack.TopDir(), "");
    for (int i = 0; i < 2500; ++i)
        stack.PushDir("C:\\d" + std::to_string(i) + "\\");
    EXPECT_EQ(stack.StackCount(), 2500);
    EXPECT_EQ(stack.TopDir(), "C:\\d2499\\");
    EXPECT_EQ(stack.PopDir(), "C:\\d2499\\");
    EXPECT_EQ(stack.PopDir(), "C:\\d2498\\");
    EXPECT_EQ(stack.StackCount(), 2498);
    stack.ResetStack();
    EXPECT_EQ(stack.StackCount(), 0);
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
    EXPECT_EQ(CountTree(tree.drive("empty") + "\\"), 1);
    EXPECT_EQ(Main.TreeDirCount, 0);
    EXPECT_EQ(Main.TreeFileCount, 0);
    EXPECT_EQ(Main.TreeByteTotal, 0.0f);

    tree.mkdir("t/a/b");
    tree.mkdir("t/c");
    tree.writeSized("t/f1", 100);
    tree.writeSized("t/a/f2", 200);
    tree.writeSized("t/a/b/.hidden", 300);
    tree.fifo("t/c/pipe"); // a file of size 0, never opened
    uint64_t exact = 0;
    CountTree(tree.drive("t") + "\\", &exact);
    EXPECT_EQ(Main.TreeDirCount, 3);
    EXPECT_EQ(Main.TreeFileCount, 4);
    EXPECT_EQ(Main.TreeByteTotal, 600.0f);
    EXPECT_EQ(exact, 600u);
}

TEST_F(TreeTest, CountLargeFilesAndSinglePrecisionTotal)
{
    tree.mkdir("big");
    Sparse("big/five", 5000000000ULL);
    uint64_t exact = 0;
    CountTree(tree.drive("big") + "\\", &exact);
    EXPECT_EQ(Main.TreeByteTotal, 5000000000.0f);
    EXPECT_EQ(exact, 5000000000ULL);

    // Beyond 2^24 a total keeps 24 significant bits: one more byte leaves it unchanged.
    tree.mkdir("round");
    Sparse("round/a", 16777216);
    tree.writeSized("round/b", 1);
    CountTree(tree.drive("round") + "\\", &exact);
    EXPECT_EQ(Main.TreeFileCount, 2);
    EXPECT_EQ(Main.TreeByteTotal, 16777216.0f);
    EXPECT_EQ(exact, 16777217u);
}

TEST_F(TreeTest, ManySiblingDirectoriesCountedAndDeleted)
{
    for (int i = 0; i < 1500; ++i)
        tree.mkdir("wide/d" + std::to_string(i));
    tree.write("wide/d7/f", "x");
    CountTree(tree.drive("wide") + "\\");
    EXPECT_EQ(Main.TreeDirCount, 1500);
    EXPECT_EQ(Main.TreeFileCount, 1);
    EXPECT_EQ(DeleteTree(tree.drive("wide") + "\\", 0, CommandOptions {}), 1);
    EXPECT_EQ(Main.DeletedDirCount, 1501);
    EXPECT_EQ(Main.DeletedFileCount, 1);
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

    CountTree(tree.drive("t") + "\\");
    EXPECT_EQ(Main.TreeDirCount, 1);
    EXPECT_EQ(Main.TreeFileCount, 3);
    // Each link counts with its own size (the length of its target text), never its target's.
    const float linkSizes
        = static_cast<float>(tree.linux("outside").size() + tree.linux("outside/deep/keep.bin").size());
    EXPECT_EQ(Main.TreeByteTotal, 3.0f + linkSizes);

    EXPECT_EQ(DeleteTree(tree.drive("t") + "\\", 0, CommandOptions {}), 1);
    EXPECT_FALSE(tree.exists("t"));
    EXPECT_EQ(Main.DeletedFileCount, 3);
    EXPECT_EQ(Main.DeletedDirCount, 2);
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

    CountTree(tree.drive("t") + "\\");
    EXPECT_EQ(Main.TreeDirCount, 2);
    EXPECT_EQ(Main.TreeFileCount, 2);
    EXPECT_EQ(Main.TreeByteTotal, 3.0f);

    DeleteBackupFiles(tree.drive("t"), CommandOptions {});
    EXPECT_FALSE(tree.exists("t/a.bak"));
    EXPECT_EQ(tree.read("t/stick/data.bak"), "precious");
    fake.messages.clear();

    EXPECT_EQ(DeleteTree(tree.drive("t") + "\\", 0, CommandOptions {}), -1);
    EXPECT_EQ(tree.read("t/stick/data.bak"), "precious");
    EXPECT_FALSE(tree.exists("t/sub"));
    ASSERT_EQ(fake.messages.size(), 2u);
    EXPECT_EQ(fake.messages[0].text, tree.drive("t/stick") + "  :   使用中のファイルは操作出来ません");
    EXPECT_EQ(fake.messages[1].text, tree.drive("t") + "\\  :   DIR　が空でない　！");
}

TEST_F(TreeTest, RootThatIsALinkIsRemovedAsALink)
{
    tree.mkdir("target/x");
    tree.symlink(tree.linux("target"), "link");
    EXPECT_EQ(DeleteTree(tree.drive("link") + "\\", 0, CommandOptions {}), 1);
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
        EXPECT_EQ(DeleteTree(tree.drive("r") + "\\", c.keepRoot, CommandOptions {}), 1);
        EXPECT_EQ(Main.DeletedFileCount, 4);
        EXPECT_EQ(Main.DeletedDirCount, c.dirs);
        EXPECT_EQ(tree.exists("r"), c.rootStays);
        EXPECT_FALSE(tree.exists("r/s"));
        EXPECT_FALSE(tree.exists("r/a"));
    }
    // Only files, keep-root: nothing but the files goes.
    tree.write("flat/a", "1");
    EXPECT_EQ(DeleteTree(tree.drive("flat") + "\\", 255, CommandOptions {}), 1);
    EXPECT_EQ(Main.DeletedDirCount, 0);
    EXPECT_EQ(Main.DeletedFileCount, 1);
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
    EXPECT_EQ(DeleteTree(tree.drive("top") + "\\", 0, keep), -1);
    ASSERT_EQ(fake.messages.size(), 2u);
    const std::string deny = "  :   Accesee Denied !\n\r\n\r空でないフォルダーか, ＲｅａｄＯｎｌｙを削除しようとした";
    EXPECT_EQ(fake.messages[0].text, tree.drive("top/mid/low/ro.txt") + deny);
    EXPECT_EQ(fake.messages[1].text, tree.drive("top/mid/low") + "\\  :   DIR　が空でない　！");
    EXPECT_TRUE(tree.exists("top/mid/low/ro.txt"));
    EXPECT_FALSE(tree.exists("top/mid/low/other.txt")); // hidden and system do not stop a deletion
    EXPECT_TRUE(tree.exists("top/mid"));
    EXPECT_EQ(Main.DeletedDirCount, 0);

    fake.messages.clear();
    tree.setReadOnly("top/mid/low/ro.txt", false);
    build();
    EXPECT_EQ(DeleteTree(tree.drive("top") + "\\", 0, CommandOptions {}), 1);
    EXPECT_FALSE(tree.exists("top"));
    EXPECT_EQ(Main.DeletedDirCount, 3);
    EXPECT_EQ(Main.DeletedFileCount, 3);
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(TreeTest, ReadOnlyDirectoryClearedOrRefused)
{
    tree.mkdir("p/rodir");
    tree.setReadOnly("p/rodir", true);
    CommandOptions keep;
    keep.clearReadOnly = false;
    EXPECT_EQ(DeleteTree(tree.drive("p") + "\\", 0, keep), -1);
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text.rfind(tree.drive("p/rodir") + "\\  :   Accesee Denied !", 0), 0u);
    EXPECT_EQ(DeleteTree(tree.drive("p") + "\\", 0, CommandOptions {}), 1);
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
        check(DeleteTree(tree.drive("t") + "\\", 0, CommandOptions {}) == 1, "whole tree: result 1");
        check(!tree.exists("t"), "whole tree: t is gone");
        check(Main.DeletedDirCount == 4, "whole tree: 4 directories counted");
        check(Main.DeletedFileCount == 3, "whole tree: 3 files counted");
        // Contents only: the root stays, ReadOnly as it was.
        check(DeleteTree(tree.drive("k") + "\\", 255, CommandOptions {}) == 1, "contents: result 1");
        check(tree.exists("k"), "contents: k stays");
        check(!tree.exists("k/a") && !tree.exists("k/inner"), "contents: k is empty");
        check((fs().GetAttributes(tree.drive("k")) & kAttrReadOnly) != 0, "contents: k keeps ReadOnly");
        // Without clearing, the ReadOnly directory keeps its file and the deletion fails.
        CommandOptions keepReadOnly;
        keepReadOnly.clearReadOnly = false;
        check(DeleteTree(tree.drive("keep") + "\\", 0, keepReadOnly) == -1, "refused: result -1");
        check(tree.exists("keep/ro/x"), "refused: keep/ro/x stays");
        check((fs().GetAttributes(tree.drive("keep/ro")) & kAttrReadOnly) != 0, "refused: keep/ro keeps ReadOnly");
        check(fake.messages.size() == 2, "two messages in all");
        return all;
    });
}

TEST_F(TreeTest, MissingRootIsAnErrorNotAnEmptySuccess)
{
    EXPECT_EQ(DeleteTree(tree.drive("nothere") + "\\", 255, CommandOptions {}), -1);
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text.rfind(tree.drive("nothere") + "\\  :   ", 0), 0u);
}

TEST_F(TreeTest, ClearForDeleteFollowsTheOption)
{
    tree.write("f", "x");
    tree.setReadOnly("f", true);
    tree.setDosAttrib("f", kAttrHidden | kAttrSystem);
    CommandOptions keep;
    keep.clearReadOnly = false;
    ClearForDelete(tree.drive("f"), false, keep);
    EXPECT_EQ(fs().GetAttributes(tree.drive("f")), uint32_t(kAttrReadOnly | kAttrHidden | kAttrSystem));
    ClearForDelete(tree.drive("f"), false, CommandOptions {});
    EXPECT_EQ(fs().GetAttributes(tree.drive("f")), uint32_t(kAttrArchive));
}

} // namespace
} // namespace zelo
