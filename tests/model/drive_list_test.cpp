// The drive selector: item texts, the volume check, network drives, the start drive and its flags.
#include "model/drive_list.h"
#include "model/state.h"
#include "platform/drives.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

using namespace zelo;
using zelo::test::TempTree;

namespace {

class FakeCombo : public ComboView {
public:
    void ClearItems() override
    {
        items.clear();
        selected = -1;
    }
    void AddItem(const std::string& text) override { items.push_back(text); }
    int Count() const override { return int(items.size()); }
    std::string Item(int index) const override
    {
        return index >= 0 && index < Count() ? items[size_t(index)] : std::string();
    }
    int SelectedIndex() const override { return selected; }
    void SetSelectedIndex(int index) override { selected = index; }
    std::string EditText() const override { return edit; }
    void SetEditText(const std::string& text) override { edit = text; }

    std::vector<std::string> items;
    int selected = -1;
    std::string edit;
};

class DriveListTest : public ::testing::Test {
protected:
    void SetUp() override { ResetMainState(); }
    void TearDown() override { ResetMainState(); }

    // Maps drives onto directories of the fixture: "LETTER=name,options;..." with names relative to it.
    void mapDrives(const std::vector<std::string>& entries)
    {
        std::string joined;
        for (const std::string& entry : entries)
            joined += (joined.empty() ? "" : ";") + entry;
        m_tree.mapDrives(joined, false);
    }

    TempTree m_tree;
};

} // namespace

TEST_F(DriveListTest, ItemsOfAFloppyALabelledDiskAnEmptyCdDriveAndANetworkDrive)
{
    m_tree.mkdir("c");
    m_tree.mkdir("z");
    mapDrives({ "A=a,removable", "C=c,fixed,label=WINDOWSXP", "D=d,cdrom", "Z=z,remote,unc=\\\\nas\\share" });
    FakeCombo combo;
    combo.edit = "C:\\";
    combo.items = { "stale" };

    FillDriveCombo(combo);
    EXPECT_EQ(
        combo.items, (std::vector<std::string> { "A:\\", "C:\\ [ WINDOWS ]", "D:\\ [CDROM]", "Z:\\\\nas\\share" }));
    EXPECT_EQ(combo.edit, "C:\\");
    EXPECT_EQ(Main.NetDriveCount, 1);
    EXPECT_EQ(Main.NetDrives[0], "Z:\\");
    EXPECT_EQ(Main.VolumeText, "\\\\nas\\share");

    // The count starts again with every fill.
    FillDriveCombo(combo);
    EXPECT_EQ(Main.NetDriveCount, 1);
    EXPECT_EQ(combo.items.size(), 4u);
}

TEST_F(DriveListTest, ItemTextsOfEveryDriveKind)
{
    for (const char* name : { "b", "f", "g", "h", "r", "cd", "y", "x" })
        m_tree.mkdir(name);
    mapDrives({ "B=b,removable", "E=missing,fixed", "F=f,fixed,label=", "G=cd,cdrom,label=MYCD", "H=h,removable",
        "I=missing,cdrom", "J=x,cdrom,label=", "R=r,ram", "Y=y,remote" });
    FakeCombo combo;
    FillDriveCombo(combo);
    EXPECT_EQ(combo.items,
        (std::vector<std::string> {
            "B:\\", // removable A and B show the root alone
            "E:\\ [ ]", // fixed whose volume cannot be read
            "F:\\ [  ]", // fixed with an empty label
            "G:\\ MYCD", // CD with a labelled disc
            "H:\\ Rm", // other removable drives
            "I:\\ [CDROM]", // CD drive without a disc
            "J:\\ ", // CD with a disc without label
            "R:\\ [RAM]",
            "Y:", // network drive whose name cannot be had
        }));
    EXPECT_EQ(Main.NetDriveCount, 1);
    EXPECT_EQ(Main.NetDrives[0], "Y:\\");
    EXPECT_EQ(Main.VolumeText, "");
}

TEST_F(DriveListTest, OnlyTenNetworkDrivesAreRememberedButAllAreListed)
{
    std::vector<std::string> entries = { "C=c,fixed,label=SYS" };
    m_tree.mkdir("c");
    for (char letter = 'M'; letter < 'M' + 12; ++letter) {
        const std::string name(1, char(letter + 'a' - 'A'));
        m_tree.mkdir(name);
        entries.push_back(std::string(1, letter) + "=" + name + ",remote,unc=\\\\nas\\" + name);
    }
    mapDrives(entries);
    FakeCombo combo;
    FillDriveCombo(combo);
    ASSERT_EQ(combo.items.size(), 13u);
    EXPECT_EQ(combo.items.back(), "X:\\\\nas\\x");
    EXPECT_EQ(Main.NetDriveCount, 10);
    EXPECT_EQ(Main.NetDrives[0], "M:\\");
    EXPECT_EQ(Main.NetDrives[9], "V:\\");
    EXPECT_EQ(Main.VolumeText, "\\\\nas\\x");
}

TEST_F(DriveListTest, CheckDriveCutsTheLabelToEightBytesWithoutSplittingACharacter)
{
    struct Case {
        std::string label;
        std::string expected;
    };
    const std::vector<Case> cases = {
        { "SYSTEM", " SYSTEM" }, { "ABCDEFG", " ABCDEFG" }, { "WINDOWSXP", " WINDOWS" }, { "", " " },
        { "ドライブ", " ドラ" }, // "イ" would be cut after its first byte: dropped whole
        { "aドライブ", " aドラ" }, // exactly at a character's end
        { "abドライブ", " abド" }, // the cut falls after the second byte of "ラ"
        { "\x80\x80\x80\x80\x80\x80\x80\x80\x80", " \x80\x80\x80\x80\x80\x80\x80" }, // not UTF-8: plain bytes
    };
    for (const Case& c : cases) {
        m_tree.mkdir("c");
        mapDrives({ "C=c,fixed,label=" + c.label });
        Main.DriveReady = 0;
        EXPECT_EQ(CheckDrive('C'), c.expected) << c.label;
        EXPECT_EQ(Main.DriveReady, 1) << c.label;
        EXPECT_EQ(Main.VolumeText, c.label) << c.label;
    }

    mapDrives({ "D=missing,cdrom,label=GONE" });
    Main.VolumeText = "previous";
    Main.DriveReady = 1;
    EXPECT_EQ(CheckDrive('D'), "");
    EXPECT_EQ(Main.DriveReady, 0);
    EXPECT_EQ(Main.VolumeText, "");
    EXPECT_EQ(CheckDrive('Q'), "");
    EXPECT_EQ(Main.DriveReady, 0);
}

TEST_F(DriveListTest, ReadVolumeLabelReportsSuccessAndFailure)
{
    m_tree.mkdir("c");
    mapDrives({ "C=c,fixed,label=MYDISK", "D=missing,fixed,label=X" });
    EXPECT_EQ(ReadVolumeLabel("C:\\"), 1);
    EXPECT_EQ(Main.VolumeText, "MYDISK");
    EXPECT_EQ(ReadVolumeLabel("D:\\"), -1);
    EXPECT_EQ(Main.VolumeText, "");
}

TEST_F(DriveListTest, CutToBytes)
{
    EXPECT_EQ(CutToBytes("abc", 8), "abc");
    EXPECT_EQ(CutToBytes("abcdefghij", 8), "abcdefgh");
    EXPECT_EQ(CutToBytes("日本", 4), "日");
    EXPECT_EQ(CutToBytes("日本", 2), "");
    EXPECT_EQ(CutToBytes("a😀b", 4), "a"); // four-byte character
    EXPECT_EQ(CutToBytes("a😀b", 5), "a😀");
    EXPECT_EQ(CutToBytes("", 0), "");
}

TEST_F(DriveListTest, DriveFlagsMarkOnlyTheFirstRunOfBracketedItems)
{
    struct Case {
        std::string startPath;
        std::vector<std::string> items;
        int selected;
        std::vector<int> flagged;
    };
    const std::vector<Case> cases = {
        { "C:\\", { "A:\\", "C:\\ [ SYS ]", "D:\\ [CDROM]", "E:\\ Rm", "F:\\ [ DATA ]" }, 1, { 1, 2 } },
        // Case does not matter; the later match wins.
        { "c:\\", { "C:\\ [ A ]", "c:\\ [ B ]", "Z:\\\\nas\\share" }, 1, { 0, 1 } },
        // The scan ends with the run: a start drive after it is not selected.
        { "F:\\", { "C:\\ [ SYS ]", "E:\\ Rm", "F:\\ [ DATA ]" }, -1, { 0 } },
        // The start drive that ends the run is still selected.
        { "E:\\", { "C:\\ [ SYS ]", "E:\\ Rm", "F:\\ [ DATA ]" }, 1, { 0 } },
        { "Q:\\", { "C:\\ [ SYS ]" }, -1, { 0 } },
        { "", { "C:\\ [ SYS ]", "D:\\ Rm" }, -1, { 0 } },
        { "C:\\", {}, -1, {} },
    };
    for (const Case& c : cases) {
        ResetMainState();
        Main.StartPath = c.startPath;
        FakeCombo combo;
        combo.items = c.items;
        EXPECT_EQ(ComputeDriveFlags(combo), c.selected) << c.startPath;
        EXPECT_EQ(combo.selected, c.selected) << c.startPath;
        std::vector<int> flagged;
        for (int i = 0; i < 27; ++i) {
            if (Main.DriveFlags[size_t(i)] == 255)
                flagged.push_back(i);
            else
                EXPECT_EQ(Main.DriveFlags[size_t(i)], 0);
        }
        EXPECT_EQ(flagged, c.flagged) << c.startPath;
    }
}

TEST_F(DriveListTest, DriveFlagsScanIndicesZeroToTwentySixOnly)
{
    FakeCombo combo;
    for (int i = 0; i < 30; ++i)
        combo.items.push_back("X" + std::to_string(i) + " [");
    combo.items[28] = "C:\\ [ SYS ]";
    Main.StartPath = "C:\\";
    EXPECT_EQ(ComputeDriveFlags(combo), -1);
    for (int i = 0; i < 27; ++i)
        EXPECT_EQ(Main.DriveFlags[size_t(i)], 255) << i;
}

TEST_F(DriveListTest, StartDriveItemAndStartPath)
{
    FakeCombo combo;
    combo.items = { "A:\\", "C:\\ [ SYS ]", "D:\\ Rm", "e:\\ [ C:\\ ]" };
    EXPECT_EQ(FindStartDriveItem(combo, "D:\\"), 2);
    EXPECT_EQ(FindStartDriveItem(combo, "c:\\"), 3);
    EXPECT_EQ(FindStartDriveItem(combo, "Q:\\"), -1);
    EXPECT_EQ(FindStartDriveItem(combo, ""), -1);

    setDriveMap(DriveMap::parse("C=/"));
    EXPECT_EQ(ComputeStartPath(), "C:\\");
    // Started from outside every drive (as from a network path): the system drive.
    setDriveMap(DriveMap::parse("D=/nonexistent-zelo-dir;E=/nonexistent-zelo-dir2"));
    EXPECT_EQ(ComputeStartPath(), "D:\\");
}

TEST_F(DriveListTest, StartUpPicksTheProgramDrivesItem)
{
    // The program file lies under "/", which is C: here; D: has no disc.
    setDriveMap(DriveMap::parse("C=/,label=ROOT;D=" + m_tree.linux("no-disc") + ",cdrom"));
    Main.StartPath = ComputeStartPath();
    FakeCombo combo;
    FillDriveCombo(combo);
    EXPECT_EQ(combo.items, (std::vector<std::string> { "C:\\ [ ROOT ]", "D:\\ [CDROM]" }));
    EXPECT_EQ(ComputeDriveFlags(combo), 0);
    EXPECT_EQ(Main.DriveFlags[0], 255);
    EXPECT_EQ(Main.DriveFlags[1], 255);
    EXPECT_EQ(Main.DriveFlags[2], 0);
}
