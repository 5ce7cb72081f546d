#include "model/path_tree.h"
#include "model/state.h"
#include "platform/drive_path.h"
#include "platform/filesystem.h"
#include "tests/model/fake_views.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace zelo {
namespace {

using test::FakeDirList;
using test::FakeFileList;
using test::TempTree;

class PathTreeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tree.Bind(&list, &files);
        tree.SetDrive("C:\\");
    }

    // Selects the item showing name and refills with navigation, as a double click does.
    void Enter(const std::string& name)
    {
        const int index = list.Find(name);
        ASSERT_GE(index, 0) << "no item " << name;
        list.selected = index;
        tree.Refill(true);
    }

    void EnterPath(const std::vector<std::string>& names)
    {
        tree.Refill(false);
        for (const auto& name : names)
            ASSERT_NO_FATAL_FAILURE(Enter(name));
    }

    static size_t Indent(const std::string& text)
    {
        size_t n = 0;
        while (n < text.size() && text[n] == ' ')
            ++n;
        return n;
    }

    TempTree temp;
    FakeDirList list;
    FakeFileList files;
    PathTree tree;
};

// The invariants of a refill that found its directory.
void ExpectConsistent(const PathTree& tree, const FakeDirList& list)
{
    ASSERT_EQ(list.Count(), tree.EntryCount());
    EXPECT_LT(tree.GetLevel(), tree.EntryCount());
    EXPECT_EQ(list.selected, tree.GetLevel());
    for (int i = 0; i < tree.EntryCount(); ++i)
        EXPECT_EQ(list.items[static_cast<size_t>(i)], tree.Entry(i).text) << "item " << i;
}

TEST_F(PathTreeTest, RootListsSubdirectoriesSortedUnderTheSelectedRoot)
{
    temp.mkdir("Windows");
    temp.mkdir("data");
    temp.mkdir("_x");
    temp.write("file.txt", "not a directory");
    tree.Refill(false);

    EXPECT_EQ(list.items, (std::vector<std::string> { "C:\\", "  data", "  Windows", "  _x" }));
    EXPECT_EQ(list.selected, 0);
    EXPECT_EQ(tree.GetLevel(), 0);
    ASSERT_FALSE(files.directories.empty());
    EXPECT_EQ(files.directories.back(), "C:\\");
    ExpectConsistent(tree, list);
}

TEST_F(PathTreeTest, SortIgnoresCaseAndPutsPrefixFirst)
{
    for (const char* name : { "beta", "ALPHA2", "alpha", "Alp", "zeta", "_u", "\xC3\xA4rger2", "\xC3\x84rger" })
        temp.mkdir(name);
    tree.Refill(false);
    // Upper-case keys byte by byte: the underscore follows the letters, UTF-8 letters follow ASCII.
    EXPECT_EQ(list.items,
        (std::vector<std::string> {
            "C:\\", "  Alp", "  alpha", "  ALPHA2", "  beta", "  zeta", "  _u", "  \xC3\x84rger", "  \xC3\xA4rger2" }));
}

TEST_F(PathTreeTest, IndentationGrowsByTwoUpToTwenty)
{
    struct Case {
        std::vector<std::string> chain;
        std::vector<size_t> indents; // chain items, then the subdirectory
    };
    const std::vector<Case> cases = {
        { { "a", "b", "c" }, { 0, 2, 4, 6, 8 } },
        { { "l1", "l2", "l3", "l4", "l5", "l6", "l7", "l8", "l9", "l10", "l11", "l12" },
            { 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 20, 20, 20 } },
    };
    for (const Case& c : cases) {
        std::string relative;
        for (const auto& name : c.chain)
            relative += (relative.empty() ? "" : "/") + name;
        temp.mkdir(relative + "/sub");
        tree.SetDrive("C:\\");
        ASSERT_NO_FATAL_FAILURE(EnterPath(c.chain));
        ASSERT_EQ(tree.GetLevel(), static_cast<int>(c.chain.size()));
        ASSERT_EQ(list.items.size(), c.indents.size());
        for (size_t i = 0; i < c.indents.size(); ++i)
            EXPECT_EQ(Indent(list.items[i]), c.indents[i]) << relative << " item " << i;
        EXPECT_EQ(list.selected, tree.GetLevel());
        ExpectConsistent(tree, list);
    }
}

TEST_F(PathTreeTest, DotNamesAndHiddenDirectories)
{
    temp.mkdir("a/.git");
    temp.setDosAttrib("a/.git", kAttrDirectory | kAttrHidden);
    temp.mkdir("a/.config");
    temp.mkdir("a/..x");
    temp.mkdir("a/secret");
    temp.setDosAttrib("a/secret", 0x12);
    temp.mkdir("a/sys");
    temp.setDosAttrib("a/sys", kAttrDirectory | kAttrSystem);
    temp.mkdir("a/plain");
    ASSERT_NO_FATAL_FAILURE(EnterPath({ "a" }));

    // ".", ".." (reported below a root) and "..x" never; dot names whatever their Hidden attribute.
    EXPECT_EQ(
        list.items, (std::vector<std::string> { "C:\\", "  a", "    .config", "    .git", "    plain", "    sys" }));
    for (int i = 0; i < tree.EntryCount(); ++i)
        EXPECT_EQ(tree.GetMarker(i), 0) << i;

    tree.SetShowHidden(1);
    tree.Refill(false);
    EXPECT_EQ(list.items,
        (std::vector<std::string> { "C:\\", "  a", "    .config", "    .git", "    plain", "    secret", "    sys" }));
    EXPECT_EQ(tree.GetMarker(list.Find("secret")), kHiddenMarker);
    EXPECT_EQ(tree.GetMarker(list.Find(".git")), 0);
    EXPECT_EQ(tree.GetMarker(list.Find("sys")), 0);

    // A chain entry keeps the marker its directory had as a subdirectory.
    ASSERT_NO_FATAL_FAILURE(Enter("secret"));
    EXPECT_EQ(tree.GetMarker(tree.GetLevel()), kHiddenMarker);
    EXPECT_EQ(tree.CurrentPath(false), "C:\\a\\secret");

    tree.SetShowHidden(0);
    tree.Refill(false);
    EXPECT_EQ(tree.CurrentPath(false), "C:\\a\\secret"); // the chain persists; only subdirectories are filtered
}

TEST_F(PathTreeTest, LinksToDirectoriesAreListedAndEnteredFilesAndBrokenLinksAreNot)
{
    temp.mkdir("target/inner");
    temp.write("file.txt", "x");
    temp.symlink(temp.linux("target"), "dirlink");
    temp.symlink(temp.linux("file.txt"), "filelink");
    temp.symlink(temp.linux("missing"), "broken");
    tree.Refill(false);
    EXPECT_EQ(list.items, (std::vector<std::string> { "C:\\", "  dirlink", "  target" }));

    ASSERT_NO_FATAL_FAILURE(Enter("dirlink"));
    EXPECT_EQ(list.items, (std::vector<std::string> { "C:\\", "  dirlink", "    inner" }));
}

TEST_F(PathTreeTest, DoubleClickGoesUpStaysOrEnters)
{
    temp.mkdir("a/b/c/d");
    temp.mkdir("a/b/c/e");
    ASSERT_NO_FATAL_FAILURE(EnterPath({ "a", "b", "c" }));
    ASSERT_EQ(tree.GetLevel(), 3);

    // Own entry: stays and reads the directory again.
    temp.mkdir("a/b/c/f");
    list.selected = 3;
    tree.Refill(true);
    EXPECT_EQ(tree.GetLevel(), 3);
    EXPECT_GE(list.Find("f"), 0);
    EXPECT_EQ(tree.CurrentPath(false), "C:\\a\\b\\c");

    // Subdirectory: entered and becomes the selected entry one level down.
    list.selected = list.Find("e");
    tree.Refill(true);
    EXPECT_EQ(tree.GetLevel(), 4);
    EXPECT_EQ(list.selected, 4);
    EXPECT_EQ(list.items[4], "        e");
    EXPECT_EQ(tree.CurrentPath(false), "C:\\a\\b\\c\\e");
    ExpectConsistent(tree, list);

    // Chain entry: goes up to it, its siblings are gone and its subdirectories listed.
    list.selected = 1;
    tree.Refill(true);
    EXPECT_EQ(tree.GetLevel(), 1);
    EXPECT_EQ(list.items, (std::vector<std::string> { "C:\\", "  a", "    b" }));
    EXPECT_EQ(tree.CurrentPath(false), "C:\\a");
    ExpectConsistent(tree, list);

    // Nothing selected: back to the root.
    list.selected = -1;
    tree.Refill(true);
    EXPECT_EQ(tree.GetLevel(), 0);
    EXPECT_EQ(tree.CurrentPath(false), "C:\\");
    EXPECT_EQ(files.directories.back(), "C:\\");
}

TEST_F(PathTreeTest, CurrentAndSelectedPathInEverySeparatorForm)
{
    temp.mkdir("data");
    temp.mkdir("a/data");
    struct Case {
        const char* what;
        std::vector<std::string> chain;
        int selection; // -2: the item named data
        bool withSeparator;
        std::string selected;
        std::string current;
    };
    const std::vector<Case> cases = {
        { "subdir at root", {}, -2, false, "C:\\data", "C:\\" },
        { "subdir at root, separator", {}, -2, true, "C:\\data\\", "C:\\" },
        { "subdir at level 1", { "a" }, -2, false, "C:\\a\\data", "C:\\a" },
        { "subdir at level 1, separator", { "a" }, -2, true, "C:\\a\\data\\", "C:\\a\\" },
        { "root entry at level 1, separator", { "a" }, 0, true, "C:\\a", "C:\\a\\" },
        { "root entry at level 1", { "a" }, 0, false, "C:\\a", "C:\\a" },
        { "own entry at level 1, separator", { "a" }, 1, true, "C:\\a\\", "C:\\a\\" },
        { "root selected at root, separator", {}, 0, true, "C:\\", "C:\\" },
        { "nothing selected at root", {}, -1, false, "C:\\", "C:\\" },
        { "nothing selected at root, separator", {}, -1, true, "C:\\\\", "C:\\" },
    };
    for (const Case& c : cases) {
        tree.SetDrive("C:\\");
        ASSERT_NO_FATAL_FAILURE(EnterPath(c.chain));
        list.selected = c.selection == -2 ? list.Find("data") : c.selection;
        EXPECT_EQ(tree.SelectedPath(c.withSeparator), c.selected) << c.what;
        EXPECT_EQ(tree.LastPath(), c.selected) << c.what;
        EXPECT_EQ(tree.CurrentPath(c.withSeparator), c.current) << c.what;
        EXPECT_EQ(tree.LastPath(), c.current) << c.what;
    }
}

TEST_F(PathTreeTest, DriveTextAndSetDrive)
{
    tree.SetDrive("D:\\ [DATA ]");
    EXPECT_EQ(tree.DriveText(false), "D");
    EXPECT_EQ(tree.DriveText(true), "D:\\");
    EXPECT_EQ(tree.GetLevel(), 0);
    EXPECT_EQ(tree.CurrentPath(true), "D:\\");

    // An empty text names no drive: the pane keeps its own.
    tree.SetDrive("");
    EXPECT_EQ(tree.DriveText(true), "D:\\");

    // Back to C: from depth 2: level 0 and the root of C:.
    temp.mkdir("a/b");
    tree.SetDrive("C:\\");
    ASSERT_NO_FATAL_FAILURE(EnterPath({ "a", "b" }));
    tree.SetDrive("C:\\");
    EXPECT_EQ(tree.GetLevel(), 0);
    tree.Refill(false);
    EXPECT_EQ(list.items, (std::vector<std::string> { "C:\\", "  a" }));
}

TEST_F(PathTreeTest, RenameSelectedKeepsIndentationMarkersAndOrder)
{
    temp.mkdir("a/b/data");
    temp.mkdir("a/b/zz");
    temp.setDosAttrib("a/b/zz", 0x12);
    tree.SetShowHidden(1);
    ASSERT_NO_FATAL_FAILURE(EnterPath({ "a", "b" }));

    list.selected = list.Find("zz");
    const int renamed = list.selected;
    tree.RenameSelected("AAA");
    EXPECT_EQ(list.items[static_cast<size_t>(renamed)], "      AAA");
    EXPECT_EQ(tree.Entry(renamed).text, "      AAA");
    EXPECT_EQ(tree.GetMarker(renamed), kHiddenMarker);
    EXPECT_EQ(list.items[3], "      data"); // no re-sort
    EXPECT_EQ(tree.SelectedPath(false), "C:\\a\\b\\AAA");

    // A chain entry: the composed paths follow the new name.
    list.selected = 2;
    tree.RenameSelected("bb");
    EXPECT_EQ(list.items[2], "    bb");
    EXPECT_EQ(tree.CurrentPath(false), "C:\\a\\bb");
    EXPECT_EQ(tree.GetLevel(), 2);

    // Nothing selected: nothing changes.
    const auto before = list.items;
    list.selected = -1;
    tree.RenameSelected("x");
    EXPECT_EQ(list.items, before);
}

TEST_F(PathTreeTest, NamesWithBlanksComposeTheirOwnExactPath)
{
    // " x " beside "x": trimming the name would make every command on " x " act on "x".
    temp.mkdir(" x /inside");
    temp.mkdir("x");
    tree.Refill(false);
    ASSERT_EQ(list.items, (std::vector<std::string> { "C:\\", "   x ", "  x" }));
    list.selected = 1;
    EXPECT_EQ(tree.SelectedPath(false), "C:\\ x ");
    tree.Refill(true);
    EXPECT_EQ(tree.CurrentPath(true), "C:\\ x \\");
    EXPECT_EQ(list.items, (std::vector<std::string> { "C:\\", "   x ", "    inside" }));
    // A name of blanks, tabs or dots and blanks is a directory of its own too.
    for (const char* name : { "   ", "\t", ". ", " ..", " . " })
        temp.mkdir(std::string(" x /inside/") + name);
    list.selected = 2;
    tree.Refill(true);
    EXPECT_EQ(list.items.size(), 3u + 5u);
    for (int i = 3; i < 8; ++i) {
        list.selected = i;
        const std::string path = tree.SelectedPath(false);
        EXPECT_EQ(path, "C:\\ x \\inside\\" + list.items[static_cast<size_t>(i)].substr(6));
        FindData found;
        EXPECT_TRUE(fs().FindFirst(path, kAttrMaskAll, found)) << path;
    }
}

TEST_F(PathTreeTest, NonUtf8NamesKeepTheirBytesThroughTheComposedPath)
{
    // Listed in drive form (each byte that is no UTF-8 as a private-use character), which every call maps
    // back to the exact bytes.
    const std::string latin1 = "caf\xE9";
    const std::string junk = "\xFF\xFE\x80";
    temp.mkdir("a/" + latin1 + "/inner");
    temp.mkdir("a/" + junk);
    ASSERT_NO_FATAL_FAILURE(EnterPath({ "a" }));

    for (const std::string& linuxName : { latin1, junk }) {
        const std::string name = DriveNameFromLinux(linuxName);
        list.selected = list.Find(name);
        ASSERT_GE(list.selected, 0);
        const std::string path = tree.SelectedPath(false);
        EXPECT_EQ(path, "C:\\a\\" + name);
        FindData found;
        auto search = fs().FindFirst(path, kAttrMaskAll, found);
        ASSERT_TRUE(search) << "search of the composed path failed";
        EXPECT_EQ(found.name, name);
        EXPECT_TRUE(found.attributes & kAttrDirectory);
    }

    const std::string shown = DriveNameFromLinux(latin1);
    ASSERT_NO_FATAL_FAILURE(Enter(shown));
    EXPECT_EQ(tree.CurrentPath(false), "C:\\a\\" + shown);
    EXPECT_GE(list.Find("inner"), 0);
    EXPECT_EQ(files.directories.back(), "C:\\a\\" + shown);
}

TEST_F(PathTreeTest, MoreSubdirectoriesThanTheCapacityAreAllListed)
{
    const int count = PathTree::kCapacity + 100;
    for (int i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "d%04d", i);
        temp.mkdir(std::string("big/") + name);
    }
    ASSERT_NO_FATAL_FAILURE(EnterPath({ "big" }));
    EXPECT_EQ(tree.EntryCount(), count + 2);
    EXPECT_EQ(tree.Overflow(), count + 2 - PathTree::kCapacity);
    ExpectConsistent(tree, list);
    EXPECT_EQ(list.items[2], "    d0000");
    EXPECT_EQ(list.items.back(), "    d0599");

    // The last one is reachable like any other.
    list.selected = list.Count() - 1;
    EXPECT_EQ(tree.SelectedPath(false), "C:\\big\\d0599");
    tree.Refill(true);
    EXPECT_EQ(tree.CurrentPath(false), "C:\\big\\d0599");
    EXPECT_EQ(tree.Overflow(), 0);
}

TEST_F(PathTreeTest, ChainDeeperThanTheCapacityStaysNavigable)
{
    const int depth = PathTree::kCapacity + 20;
    std::string relative = "n";
    for (int i = 1; i < depth; ++i)
        relative += "/n";
    temp.mkdir(relative + "/leaf");
    tree.Refill(false);
    for (int i = 0; i < depth; ++i) {
        list.selected = tree.GetLevel() + 1; // the only subdirectory
        tree.Refill(true);
    }
    ASSERT_EQ(tree.GetLevel(), depth);
    ExpectConsistent(tree, list);
    EXPECT_EQ(list.items.back(), std::string(20, ' ') + "leaf");
    std::string expected = "C:\\n";
    for (int i = 1; i < depth; ++i)
        expected += "\\n";
    EXPECT_EQ(tree.CurrentPath(false), expected);

    // Up again from the bottom to a chain entry near the top.
    list.selected = 2;
    tree.Refill(true);
    EXPECT_EQ(tree.CurrentPath(false), "C:\\n\\n");
    EXPECT_EQ(list.items, (std::vector<std::string> { "C:\\", "  n", "    n", "      n" }));
}

TEST_F(PathTreeTest, UnsearchableDirectoryLeavesTheChainWithoutSelection)
{
    temp.mkdir("a/gone/sub");
    ASSERT_NO_FATAL_FAILURE(EnterPath({ "a", "gone" }));
    std::filesystem::remove_all(temp.linux("a/gone"));
    tree.Refill(false);
    EXPECT_EQ(list.items, (std::vector<std::string> { "C:\\", "  a", "    gone" }));
    EXPECT_EQ(list.selected, -1);
    EXPECT_EQ(tree.EntryCount(), 3);
    EXPECT_EQ(files.directories.back(), "C:\\a\\gone");

    // Nothing selected: a double click goes back to the root.
    tree.Refill(true);
    EXPECT_EQ(tree.GetLevel(), 0);
    EXPECT_EQ(list.selected, 0);
}

TEST_F(PathTreeTest, EmptyRootIsReadAndSelected)
{
    tree.Refill(false);
    EXPECT_EQ(list.items, (std::vector<std::string> { "C:\\" }));
    EXPECT_EQ(list.selected, 0);
}

TEST(PathTreeUnbound, EveryOperationIsSafeWithoutListsOrDrive)
{
    PathTree tree;
    tree.Refill(false);
    tree.Refill(true);
    EXPECT_EQ(tree.CurrentPath(true), "");
    EXPECT_EQ(tree.SelectedPath(true), "");
    EXPECT_EQ(tree.GetMarker(0), 0);
    EXPECT_EQ(tree.GetMarker(-1), 0);
    EXPECT_EQ(tree.EntryCount(), 0);
    tree.RenameSelected("x");

    TempTree temp;
    temp.mkdir("a");
    tree.SetDrive("C:\\");
    tree.Refill(true); // no list: no selection, stays at the root
    EXPECT_EQ(tree.EntryCount(), 2);
    EXPECT_EQ(tree.CurrentPath(false), "C:\\");
    EXPECT_EQ(tree.SelectedPath(true), "C:\\\\");
}

TEST(MainStateTest, ResetUnbindsAndEmptiesBothTrees)
{
    TempTree temp;
    FakeDirList list;
    FakeFileList files;
    Main.MainTree.Bind(&list, &files);
    Main.MainTree.SetDrive("C:\\");
    Main.MainTree.Refill(false);
    Main.DialogTree.Bind(&list, &files);
    Main.InputMode = 4;
    Main.DetailList.push_back("x");

    ResetMainState();
    EXPECT_EQ(Main.MainTree.List(), nullptr);
    EXPECT_EQ(Main.DialogTree.List(), nullptr);
    EXPECT_EQ(Main.MainTree.EntryCount(), 0);
    EXPECT_EQ(Main.MainTree.CurrentPath(false), "");
    EXPECT_EQ(Main.InputMode, 0);
    EXPECT_TRUE(Main.DetailList.empty());
}

TEST(PathTreeText, TrimAndIndentation)
{
    EXPECT_EQ(TrimName("  \t name \x01\x20"), "name");
    EXPECT_EQ(TrimName("\x7F"
                       "a"),
        "\x7F"
        "a"); // only bytes up to 0x20 are blanks
    EXPECT_EQ(TrimName(" \xE3\x80\x80x"), "\xE3\x80\x80x"); // a full-width space is a character
    EXPECT_EQ(TrimName("   "), "");
    EXPECT_EQ(IndentFor(0), "");
    EXPECT_EQ(IndentFor(3).size(), 6u);
    EXPECT_EQ(IndentFor(10).size(), 20u);
    EXPECT_EQ(IndentFor(100000).size(), 20u);
}

} // namespace
} // namespace zelo
