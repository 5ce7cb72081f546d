#include "model/file_list.h"
#include "platform/drive_path.h"
#include "platform/types.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelo {
namespace {

using test::TempTree;
using Names = std::vector<std::string>;

TEST(FileListTest, PatternsAreSearchedInTurnAndMergedWithoutDuplicates)
{
    TempTree temp;
    for (const char* name : { "a.txt", "b.c", "c.h", "D.TXT", "both.c", "x.txt.c", "noext" })
        temp.write(std::string("dir/") + name, "x");

    struct Case {
        std::string mask;
        Names expected;
    };
    const std::vector<Case> cases = {
        { "*.txt;*.c", { "a.txt", "b.c", "both.c", "D.TXT", "x.txt.c" } },
        { "*.c;b*", { "b.c", "both.c", "x.txt.c" } },
        { " *.h ; ; *.txt ", { "a.txt", "c.h", "D.TXT" } },
        { "", { "a.txt", "b.c", "both.c", "c.h", "D.TXT", "noext", "x.txt.c" } },
        { ";", { "a.txt", "b.c", "both.c", "c.h", "D.TXT", "noext", "x.txt.c" } },
        { "*.zip", {} },
        // A pattern that reaches into another directory lists nothing of this one.
        { "sub\\*.*", {} },
        { "sub\\*.*;*.h", { "c.h" } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadFileList("C:\\dir", c.mask, FileTypeState::All), c.expected) << "mask \"" << c.mask << "\"";
}

TEST(FileListTest, FileTypeStatesFilterHiddenAndSystemFiles)
{
    TempTree temp;
    temp.write("plain.txt", "x");
    temp.write("hidden.txt", "x");
    temp.setDosAttrib("hidden.txt", kAttrHidden);
    temp.write("system.txt", "x");
    temp.setDosAttrib("system.txt", kAttrSystem);
    temp.write("both.txt", "x");
    temp.setDosAttrib("both.txt", kAttrHidden | kAttrSystem);
    temp.write(".dot.txt", "x");
    temp.write("archive.txt", "x");
    temp.setDosAttrib("archive.txt", kAttrArchive);

    struct Case {
        FileTypeState state;
        Names expected;
    };
    const std::vector<Case> cases = {
        { FileTypeState::OrdinaryOnly, { "archive.txt", "plain.txt" } },
        { FileTypeState::All, { ".dot.txt", "archive.txt", "both.txt", "hidden.txt", "plain.txt", "system.txt" } },
        { FileTypeState::HiddenOrSystemOnly, { ".dot.txt", "both.txt", "hidden.txt", "system.txt" } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadFileList("C:\\", "*.*", c.state), c.expected) << static_cast<int>(c.state);
}

TEST(FileListTest, DirectoriesAndLinksToThemAreNeverListed)
{
    TempTree temp;
    temp.mkdir("d/sub.txt");
    temp.mkdir("d/.hiddendir");
    temp.write("d/real.txt", "x");
    temp.symlink(temp.linux("d/sub.txt"), "d/dirlink.txt");
    temp.symlink(temp.linux("d/real.txt"), "d/filelink.txt");
    for (FileTypeState state : { FileTypeState::OrdinaryOnly, FileTypeState::All }) {
        EXPECT_EQ(ReadFileList("C:\\d", "*.*", state), (Names { "filelink.txt", "real.txt" }));
    }
    EXPECT_EQ(ReadFileList("C:\\d", "*.*", FileTypeState::HiddenOrSystemOnly), Names {});
}

TEST(FileListTest, OrderIgnoresCaseAndKeepsExactBytes)
{
    TempTree temp;
    const std::string latin1 = "\xE9t\xE9.txt";
    for (const std::string& name :
        { std::string("b.txt"), std::string("A.txt"), std::string("a.txt"), std::string("_u.txt"), std::string("C.txt"),
            std::string("ab.txt"), std::string("\xC3\xA9t\xC3\xA9.txt"), latin1 })
        temp.write(name, "x");
    // Upper-case keys byte by byte (A.txt and a.txt share a key: raw bytes decide), non-ASCII last; a name
    // that is no UTF-8 in its drive form.
    EXPECT_EQ(ReadFileList("C:\\", "*.txt", FileTypeState::All),
        (Names { "A.txt", "a.txt", "ab.txt", "b.txt", "C.txt", "_u.txt", "\xC3\xA9t\xC3\xA9.txt",
            DriveNameFromLinux(latin1) }));
}

TEST(FileListTest, UnreadableDirectoryGivesAnEmptyList)
{
    TempTree temp;
    EXPECT_TRUE(ReadFileList("C:\\missing", "*.*", FileTypeState::All).empty());
    EXPECT_TRUE(ReadFileList("Q:\\", "*.*", FileTypeState::All).empty());
}

TEST(FileListTest, JoinPathAndSplitMask)
{
    EXPECT_EQ(JoinPath("C:\\", "a.txt"), "C:\\a.txt");
    EXPECT_EQ(JoinPath("C:\\dir", "a.txt"), "C:\\dir\\a.txt");
    EXPECT_EQ(JoinPath("", "a.txt"), "a.txt");
    EXPECT_EQ(SplitMask(" *.cpp;*.h;;\t"), (Names { "*.cpp", "*.h" }));
    EXPECT_EQ(SplitMask(""), (Names { "*.*" }));
    EXPECT_EQ(SplitMask("a\\*.*"), Names {});
}

} // namespace
} // namespace zelo
