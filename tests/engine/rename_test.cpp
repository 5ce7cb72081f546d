// Renaming: serial numbers, the batch in both modes, single file and directory rename, case conversion.
#include "engine/rename.h"
#include "model/state.h"
#include "platform/filesystem.h"
#include "platform/time.h"
#include "tests/support/fake_ui.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sys/stat.h>

namespace zelo {
namespace {

TEST(FormatSerialNumber, WidthPicksThePadding)
{
    const struct {
        int width;
        int64_t n;
        const char* text;
    } cases[] = {
        { 1, 1, "1" },
        { 1, 9, "9" },
        { 1, 10, "10" },
        { 1, 99, "99" },
        { 1, 100, "100" },
        { 2, 1, "01" },
        { 2, 99, "99" },
        { 2, 100, "100" },
        { 3, 1, "001" },
        { 3, 999, "999" },
        { 3, 1000, "1000" },
        { 4, 1, "001" },
        { 0, 7, "007" }, // longer or empty start texts pad to three digits only
        { 1, -5, "-5" },
        { 3, -5, "-05" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatSerialNumber(c.width, c.n), c.text) << c.width << " " << c.n;
}

class RenameTest : public ::testing::Test {
protected:
    void SetUp() override { ResetMainState(); }

    std::set<std::string> Names(const std::string& relative = "") const
    {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(tree.linux(relative)))
            names.insert(e.path().filename().string());
        return names;
    }

    std::vector<std::string> MakeFiles(const std::vector<std::string>& names) const
    {
        for (const auto& name : names)
            tree.write(name, name);
        return names;
    }

    test::TempTree tree;
    test::FakeUi fake;
};

// Each case also holds the unselected "skip.me" in the list: it keeps its name and takes no number.
TEST_F(RenameTest, BatchNameAndExtensionModes)
{
    const struct {
        BatchRenameMode mode;
        std::string start, text;
        std::vector<std::string> names;
        std::set<std::string> after;
        std::string lastSerial;
    } cases[] = {
        { BatchRenameMode::Name, "1", "t",
            { "a.txt", "b.txt", "c.txt", "d.txt", "e.txt", "f.txt", "g.txt", "h.txt", "i.txt", "j.txt", "k.txt",
                "l.txt" },
            { "t1.txt", "t2.txt", "t3.txt", "t4.txt", "t5.txt", "t6.txt", "t7.txt", "t8.txt", "t9.txt", "t10.txt",
                "t11.txt", "t12.txt" },
            "12" },
        { BatchRenameMode::Name, "0001", "t", { "a", "b.txt" }, { "t001", "t002.txt" }, "002" },
        { BatchRenameMode::Name, "01", "t", { "a.tar.gz", "README" }, { "t01.gz", "t02" }, "02" },
        { BatchRenameMode::Extension, "001", "mpg", { "clip.part1.mpeg", "x.MPE" }, { "clip.mpg", "x.mpg" }, "001" },
        { BatchRenameMode::Extension, "001", "txt", { "README", "a.txt" }, { "READMEtxt", "a.txt" }, "001" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start + " " + c.text);
        std::filesystem::remove_all(tree.linux("d"));
        std::vector<std::string> names = c.names;
        names.insert(names.begin() + 1, "skip.me");
        for (const auto& name : names)
            tree.write("d/" + name, name);
        std::vector<bool> selected(names.size(), true);
        selected[1] = false;
        const bool nameMode = c.mode == BatchRenameMode::Name;
        fake.messages.clear();
        bool refreshed = false;
        const auto result = BatchRename(Selection::Of(tree.drive("d\\"), names, selected),
            { c.mode, c.start, nameMode ? c.text : "", nameMode ? "" : c.text }, [&] { refreshed = true; });
        EXPECT_TRUE(result.completed);
        EXPECT_TRUE(refreshed);
        EXPECT_EQ(result.startText, c.lastSerial);
        auto after = c.after;
        after.insert("skip.me");
        EXPECT_EQ(Names("d"), after);
        EXPECT_EQ(fake.texts(), std::vector<std::string> { "全て名前を変更しました" });
    }
}

TEST_F(RenameTest, BatchStopsBeforeAnyFileOnANonIntegerAndAtACollision)
{
    const auto names = MakeFiles({ "a.txt", "b.txt", "t2.txt", "c.txt" });
    for (const std::string start : { "", "x", "1a", " 1" }) {
        fake.messages.clear();
        const auto result = BatchRename(Selection::Of(tree.drive(""), names, { true, true, false, true }),
            { BatchRenameMode::Name, start, "t", "" });
        EXPECT_FALSE(result.completed);
        EXPECT_EQ(fake.texts(), std::vector<std::string> { "'" + start + "' は整数ではありません" });
        EXPECT_EQ(Names(), std::set<std::string>(names.begin(), names.end()));
    }
    // b.txt would become t2.txt, which exists: a.txt stays renamed, c.txt keeps its name.
    fake.messages.clear();
    const auto result = BatchRename(
        Selection::Of(tree.drive(""), names, { true, true, false, true }), { BatchRenameMode::Name, "1", "t", "" });
    EXPECT_FALSE(result.completed);
    EXPECT_EQ(result.renamed, 1);
    EXPECT_EQ(Names(), (std::set<std::string> { "t1.txt", "b.txt", "t2.txt", "c.txt" }));
    EXPECT_EQ(tree.read("t2.txt"), "t2.txt");
    EXPECT_EQ(fake.texts(), std::vector<std::string> { "同じ名前が既にあります" });
}

// A new name that would leave the folder is refused before any file moves, in both modes; "a..b" and
// "a.." are ordinary names.
TEST_F(RenameTest, BatchRefusesNamesThatLeaveTheFolder)
{
    const auto names = MakeFiles({ "a.txt", ".b", "c" });
    const struct {
        BatchRenameMode mode;
        std::string text;
        std::string refused; // empty: the batch goes through
    } cases[] = {
        { BatchRenameMode::Name, "sub/t", "sub/t1.txt" },
        { BatchRenameMode::Name, "..\\t", "..\\t1.txt" },
        { BatchRenameMode::Extension, "x/y", "a.x/y" },
        { BatchRenameMode::Extension, "\\x", "a.\\x" },
        { BatchRenameMode::Extension, "", "." }, // ".b" keeps its dot only
        { BatchRenameMode::Extension, ".", ".." }, // "a.." passes, ".b" would become ".."
        { BatchRenameMode::Name, "a..b", "" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        fake.messages.clear();
        const bool nameMode = c.mode == BatchRenameMode::Name;
        const auto result = BatchRename(Selection::Of(tree.drive(""), names, { true, true, true }),
            { c.mode, "1", nameMode ? c.text : "", nameMode ? "" : c.text });
        if (!c.refused.empty()) {
            EXPECT_FALSE(result.completed);
            EXPECT_EQ(Names(), std::set<std::string>(names.begin(), names.end()));
            EXPECT_EQ(fake.texts(), std::vector<std::string> { "'" + c.refused + "' はファイル名に使えません" });
        } else {
            EXPECT_TRUE(result.completed);
            EXPECT_EQ(Names(), (std::set<std::string> { "a..b1.txt", "a..b2.b", "a..b3" }));
        }
    }
}

TEST_F(RenameTest, BatchStampsAccessAndWriteTimes)
{
    const auto names = MakeFiles({ "a.txt", "b.txt" });
    for (const auto& name : names)
        tree.setTime(name, 1'000'000'000);
    const auto before = std::filesystem::file_time_type::clock::now() - std::chrono::seconds(1);
    BatchRename(Selection::Of(tree.drive(""), names, { true, true }), { BatchRenameMode::Name, "1", "n", "" });
    const auto after = std::filesystem::file_time_type::clock::now() + std::chrono::seconds(1);
    for (const std::string name : { "n1.txt", "n2.txt" }) {
        const auto written = std::filesystem::last_write_time(tree.linux(name));
        EXPECT_TRUE(written > before && written < after) << name;
        struct stat st { };
        ASSERT_EQ(::stat(tree.linux(name).c_str(), &st), 0);
        EXPECT_EQ(st.st_atim.tv_sec, st.st_mtim.tv_sec);
    }
}

TEST_F(RenameTest, SingleFileAndDirectoryRename)
{
    tree.write("old.txt", "x");
    tree.write("taken.txt", "y");
    tree.mkdir("Dir");
    EXPECT_FALSE(RenameOneFile(tree.drive("old.txt"), ""));
    EXPECT_FALSE(RenameOneFile(tree.drive("old.txt"), tree.drive("taken.txt")));
    bool refreshed = false;
    EXPECT_TRUE(RenameOneFile(tree.drive("old.txt"), tree.drive("new.txt"), [&] { refreshed = true; }));
    EXPECT_TRUE(refreshed);
    EXPECT_EQ(tree.read("new.txt"), "x");

    EXPECT_FALSE(DirectoryRenameAllowed(0));
    EXPECT_TRUE(DirectoryRenameAllowed(3));
    EXPECT_FALSE(RenameDirectory(tree.drive("Dir"), tree.drive("Dir")));
    std::string paneName;
    EXPECT_EQ(
        RenameDirectory(tree.drive("Dir"), tree.drive("DIR"), [&](const std::string& n) { paneName = n; }), "DIR");
    EXPECT_EQ(paneName, "DIR");
    EXPECT_TRUE(tree.exists("DIR") && !tree.exists("Dir"));
    EXPECT_FALSE(ChangeDirNameCase(0, 0, tree.drive("DIR")));

    EXPECT_EQ(fake.texts(),
        (std::vector<std::string> { "ファイル名を入力して下さい", "同じ名前が既にあります",
            tree.drive("old.txt") + "　を　" + tree.drive("new.txt") + "　に名前を変更しました",
            "Drive　の名前は変更できません", "変更前と後のフオルダー名が同じです",
            tree.drive("Dir") + "　を　" + tree.drive("DIR") + "　に名前を変更しました", "Drive　は変更できません" }));
}

// Whole characters change case, non-ASCII included; the directory part is left as it is.
TEST_F(RenameTest, CaseConversionOfTheLastComponent)
{
    tree.mkdir("sub");
    for (const std::string name : { "abc.txt", "été.txt", "ｶﾅ漢字a.txt", "keep.txt" })
        tree.write("sub/" + name, name);
    EXPECT_EQ(ChangeFileNamesCase(0,
                  Selection::Of(tree.drive("sub\\"), { "abc.txt", "été.txt", "keep.txt", "ｶﾅ漢字a.txt" },
                      { true, true, false, true })),
        1);
    EXPECT_EQ(Names("sub"), (std::set<std::string> { "ABC.TXT", "ÉTÉ.TXT", "keep.txt", "ｶﾅ漢字A.TXT" }));
    EXPECT_EQ(tree.read("sub/ÉTÉ.TXT"), "été.txt");
    EXPECT_EQ(fake.texts().back(), "大文字に変更しました");

    // Nothing selected: no name changes, no refresh, and no word of success.
    bool refreshed = false;
    EXPECT_EQ(
        ChangeFileNamesCase(1, Selection::Of(tree.drive("sub\\"), { "ABC.TXT" }, { false }), [&] { refreshed = true; }),
        0);
    EXPECT_FALSE(refreshed);
    EXPECT_EQ(fake.texts().back(), "Ｆｉｌｅ　を選択して下さい");
    EXPECT_EQ(fake.messages.back().caption, "警告");

    tree.mkdir("sub/ÄRGER");
    EXPECT_EQ(ChangeDirNameCase(1, 2, tree.drive("sub\\ÄRGER")), "ärger");
    EXPECT_TRUE(tree.exists("sub/ärger") && tree.exists("sub"));
    EXPECT_EQ(fake.texts().back(), "小文字に変更しました");

    // A name whose case form is taken stops the command.
    tree.write("sub/x.txt", "1");
    tree.write("sub/X.TXT", "2");
    EXPECT_EQ(ChangeFileNamesCase(0, Selection::Of(tree.drive("sub\\"), { "x.txt" }, { true })), -1);
    EXPECT_EQ(tree.read("sub/X.TXT"), "2");
    EXPECT_EQ(fake.texts().back(), "同じ名前が既にあります");
}

} // namespace
} // namespace zelo
