// The freedesktop trash on real temporary trees: where a file goes, its .trashinfo record, name clashes,
// the per-mount trash of another file system, and failures that move nothing.
#include "platform/errors.h"
#include "platform/trash.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scoped_mount.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <regex>
#include <unistd.h>

using namespace zelo;
using zelo::test::ScopedEnv;
using zelo::test::TempTree;

namespace {

// A tree whose home trash is data/Trash inside it.
struct TrashFixture : ::testing::Test {
    TempTree tree;
    ScopedEnv data { "XDG_DATA_HOME", tree.linux("data") };
    const std::string uid = std::to_string(::getuid());

    // The record of name in trash (relative to the tree): its Path= value, after checking its form.
    std::string RecordPath(const std::string& trashDir, const std::string& name)
    {
        const std::string text = tree.read(trashDir + "/info/" + name + ".trashinfo");
        std::smatch m;
        const std::regex form(
            "\\[Trash Info\\]\nPath=([^\n]+)\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
        EXPECT_TRUE(std::regex_match(text, m, form)) << text;
        return m.size() > 1 ? m[1].str() : std::string();
    }
};

} // namespace

TEST(TrashInfoPath, EncodesAllButUnreservedAndSlash)
{
    const std::pair<std::string, std::string> cases[] = {
        { "/home/u/a-b_c.d~", "/home/u/a-b_c.d~" },
        { "/a b/100%", "/a%20b/100%25" },
        { "/日本", "/%E6%97%A5%E6%9C%AC" },
        { "rel/x#y?", "rel/x%23y%3F" },
    };
    for (const auto& [path, encoded] : cases)
        EXPECT_EQ(TrashInfoPath(path), encoded) << path;
}

TEST_F(TrashFixture, FilesDirectoriesAndLinksGoToTheHomeTrashWithRecords)
{
    tree.write("a b.txt", "one");
    tree.write("dir/inner.txt", "two");
    tree.symlink("nowhere", "link");
    for (const char* name : { "a b.txt", "dir", "link" }) {
        ASSERT_TRUE(trash().MoveToTrash(tree.linux(name))) << name << " error " << GetLastError();
        EXPECT_FALSE(tree.exists(name));
        EXPECT_EQ(RecordPath("data/Trash", name), TrashInfoPath(tree.linux(name)));
    }
    EXPECT_EQ(tree.read("data/Trash/files/a b.txt"), "one");
    EXPECT_EQ(tree.read("data/Trash/files/dir/inner.txt"), "two");
    char target[16] = {};
    EXPECT_EQ(::readlink(tree.linux("data/Trash/files/link").c_str(), target, sizeof target - 1), 7); // the link itself

    // The same name again gets a numbered name of its own; the first stays as it was.
    tree.write("a b.txt", "again");
    ASSERT_TRUE(trash().MoveToTrash(tree.linux("a b.txt")));
    EXPECT_EQ(tree.read("data/Trash/files/a b.2.txt"), "again");
    EXPECT_EQ(tree.read("data/Trash/files/a b.txt"), "one");
    EXPECT_EQ(RecordPath("data/Trash", "a b.2.txt"), TrashInfoPath(tree.linux("a b.txt")));
}

TEST_F(TrashFixture, AStrayFileWithoutRecordKeepsItsName)
{
    tree.write("data/Trash/files/x.txt", "stray");
    tree.mkdir("data/Trash/info");
    tree.write("x.txt", "new");
    ASSERT_TRUE(trash().MoveToTrash(tree.linux("x.txt")));
    EXPECT_EQ(tree.read("data/Trash/files/x.txt"), "stray");
    EXPECT_EQ(tree.read("data/Trash/files/x.2.txt"), "new");
    EXPECT_FALSE(tree.exists("data/Trash/info/x.txt.trashinfo"));
}

TEST_F(TrashFixture, AMissingFileMovesNothingAndLeavesNoRecord)
{
    EXPECT_FALSE(trash().MoveToTrash(tree.linux("gone.txt")));
    EXPECT_EQ(GetLastError(), err::FileNotFound);
    EXPECT_FALSE(tree.exists("data/Trash/info/gone.txt.trashinfo"));
}

TEST_F(TrashFixture, AnotherFileSystemUsesTheTrashAtItsTopWithRelativePaths)
{
    tree.mkdir("mnt");
    test::ScopedTmpfsMount mount(tree.linux("mnt"));
    if (!mount.mounted()) GTEST_SKIP() << "mounting a tmpfs needs privileges";
    tree.write("mnt/sub/b.txt", "b");
    ASSERT_TRUE(trash().MoveToTrash(tree.linux("mnt/sub/b.txt")));
    const std::string own = "mnt/.Trash-" + uid;
    EXPECT_EQ(tree.read(own + "/files/b.txt"), "b");
    EXPECT_EQ(RecordPath(own, "b.txt"), "sub/b.txt");
    EXPECT_FALSE(tree.exists("data/Trash"));

    // An administrator's sticky .Trash takes the user's files in its own folder; a plain one is passed over.
    tree.mkdir("mnt/.Trash");
    tree.write("mnt/c.txt", "c");
    ASSERT_TRUE(trash().MoveToTrash(tree.linux("mnt/c.txt")));
    EXPECT_TRUE(tree.exists(own + "/files/c.txt"));
    ::chmod(tree.linux("mnt/.Trash").c_str(), 01777);
    tree.write("mnt/d.txt", "d");
    ASSERT_TRUE(trash().MoveToTrash(tree.linux("mnt/d.txt")));
    EXPECT_EQ(tree.read("mnt/.Trash/" + uid + "/files/d.txt"), "d");
    EXPECT_EQ(RecordPath("mnt/.Trash/" + uid, "d.txt"), "d.txt");
}
