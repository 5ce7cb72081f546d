// The freedesktop trash on real temporary trees: where a file goes, its .trashinfo record, name clashes,
// the per-mount trash of another file system, and failures that move nothing.
#include "platform/errors.h"
#include "platform/trash.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scoped_mount.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
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

    // The names in files/ of a trash (relative to the tree).
    std::set<std::string> TrashedNames(const std::string& trashDir)
    {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(tree.linux(trashDir + "/files")))
            names.insert(entry.path().filename().string());
        return names;
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

// A name of 250 bytes has no room for ".trashinfo": it is stored under a shorter name, cut where a
// character starts and numbered when the cut name is taken; its record names the original.
TEST_F(TrashFixture, NamesTooLongForTheirRecordAreStoredShorter)
{
    const std::string kana = "\xE3\x81\x82"; // one character of three bytes
    const struct {
        const char* what;
        std::string name;
    } cases[] = {
        { "ASCII with an extension", std::string(246, 'a') + ".txt" },
        { "the same cut stem again", std::string(246, 'a') + ".txt" },
        { "three-byte characters",
            "x" +
                [&] {
                    std::string s;
                    for (int i = 0; i < 83; ++i)
                        s += kana;
                    return s;
                }() },
        { "bytes that are not UTF-8", std::string(250, '\xFF') },
        { "a long extension", "a." + std::string(248, 'e') },
    };
    std::set<std::string> before;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tree.write(c.name, c.what);
        ASSERT_TRUE(trash().MoveToTrash(tree.linux(c.name))) << "error " << GetLastError();
        EXPECT_FALSE(tree.exists(c.name));
        const std::set<std::string> after = TrashedNames("data/Trash");
        ASSERT_EQ(after.size(), before.size() + 1);
        std::string stored;
        for (const std::string& name : after)
            if (!before.count(name)) stored = name;
        before = after;
        EXPECT_LE(stored.size() + std::strlen(".trashinfo"), 255u) << stored;
        EXPECT_EQ(tree.read("data/Trash/files/" + stored), c.what);
        EXPECT_EQ(RecordPath("data/Trash", stored), TrashInfoPath(tree.linux(c.name)));
        if (c.name[0] != '\xFF') {
            // Cut between characters: what is kept of the stem is a prefix of the name, in whole characters.
            const std::string stem = stored.substr(0, stored.find_first_of(".", 1));
            EXPECT_EQ(c.name.compare(0, stem.size(), stem), 0) << stored;
            EXPECT_NE(static_cast<unsigned char>(c.name[stem.size()]) & 0xC0, 0x80) << stored;
        }
    }
}

// A bind mount of the home's file system is a mount of its own: its files go to the trash at its top,
// as on any other mount, where the home trash could only be reached across mounts.
TEST_F(TrashFixture, ABindMountOfTheHomeFileSystemUsesItsOwnTrash)
{
    tree.write("src/sub/b.txt", "b");
    tree.mkdir("bind");
    test::ScopedBindMount mount(tree.linux("src"), tree.linux("bind"));
    ZELO_REQUIRE_MOUNTED(mount, "a bind mount");
    ASSERT_TRUE(trash().MoveToTrash(tree.linux("bind/sub/b.txt"))) << "error " << GetLastError();
    const std::string own = "bind/.Trash-" + uid;
    EXPECT_EQ(tree.read(own + "/files/b.txt"), "b");
    EXPECT_EQ(RecordPath(own, "b.txt"), "sub/b.txt");
    EXPECT_FALSE(tree.exists("data/Trash/files/b.txt"));
    EXPECT_EQ(TrashDirectoryFor(tree.linux("bind/sub")), tree.linux(own));
    // The home file system seen where it is mounted keeps the home trash.
    tree.write("src/c.txt", "c");
    ASSERT_TRUE(trash().MoveToTrash(tree.linux("src/c.txt")));
    EXPECT_EQ(tree.read("data/Trash/files/c.txt"), "c");
}
