// Information and system: file information and attributes, folder figures, directory attributes and
// the volume label, network drives and shortcuts.
#include "engine/file_info.h"
#include "engine/folder_info.h"
#include "engine/network.h"
#include "engine/shortcuts.h"
#include "model/state.h"
#include "platform/dosattrib.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/shell.h"
#include "tests/support/fake_ui.h"
#include "tests/support/ordinary_user.h"
#include "tests/support/recording_runner.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace zelo {
namespace {

using test::FakeUi;
using test::RecordingRunner;
using test::ScopedEnv;
using test::TempTree;
using Argv = std::vector<std::string>;

class InfoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetMainState();
        tzset();
    }
    void TearDown() override
    {
        ResetMainState();
        tzset();
    }
    // The fixture's C: plus further drives, given as "LETTER=" + a directory below the tree + options.
    void MapDrives(std::initializer_list<std::pair<std::string, std::string>> drives)
    {
        std::string entries;
        for (const auto& [letter, rest] : drives)
            entries += (entries.empty() ? "" : ";") + letter + "=" + rest;
        tree.mapDrives(entries);
    }
    bool HasDosAttrib(const std::string& relative) const
    {
        return ::lgetxattr(tree.linux(relative).c_str(), dosattrib::kName, nullptr, 0) >= 0;
    }
    mode_t Mode(const std::string& relative) const
    {
        struct stat st { };
        ::lstat(tree.linux(relative).c_str(), &st);
        return st.st_mode & 07777;
    }

    ScopedEnv utc { "TZ", "UTC" };
    TempTree tree;
    FakeUi fake;
};

// ---- file information ----

TEST_F(InfoTest, OneFileShowsPathTimesSizeAndAttributes)
{
    tree.write("dir/a.txt", std::string(1500, 'x'));
    tree.setTime("dir/a.txt", 1141549625); // 2006-03-05 09:07:05 UTC
    tree.setReadOnly("dir/a.txt", true);
    const FileInfo info = GatherFileInfo(Selection::Of("C:\\dir\\", { "a.txt", "b.txt" }, { true, false }));
    EXPECT_EQ(info.selectedCount, 1);
    EXPECT_EQ(info.target, "１ファイル");
    EXPECT_EQ(info.title, "C:\\dir\\a.txt");
    EXPECT_EQ(info.written, "03/05/2006    09:07: 5"); // seconds padded with a space
    EXPECT_EQ(info.accessed, "03/05/2006");
    // Empty where the file system keeps no creation time, else in the long form.
    EXPECT_TRUE(info.created.empty() || info.created.size() == info.written.size()) << info.created;
    EXPECT_EQ(info.attributes, uint32_t(kAttrReadOnly | kAttrArchive));
    EXPECT_EQ(info.sizeText, "1.46 KB ( 1,500 Byte )");
    EXPECT_EQ(FormatInfoTime(0, true), "");
}

TEST_F(InfoTest, SeveralFilesShowCountAndA64BitTotal)
{
    tree.write("a", std::string(1000, 'a'));
    tree.write("b", std::string(2500, 'b'));
    FileInfo info = GatherFileInfo(Selection::Of("C:\\", { "a", "b", "c" }, { true, true, false }));
    EXPECT_EQ(info.title, "Ｆｉｌｅの合計　　2");
    EXPECT_EQ(info.target, "全部（選択）");
    EXPECT_EQ(info.written + info.accessed + info.created, "");
    EXPECT_FALSE(info.attributes);
    EXPECT_EQ(info.sizeText, "3.41 KB ( 3,500 Byte )");

    // Files of 4 GiB and more count in full, not modulo 2^32; a file that is gone adds nothing.
    tree.sparse("big", (uint64_t(1) << 32) + 5);
    info = GatherFileInfo(Selection::Of("C:\\", { "a", "big", "gone" }, { true, true, true }));
    EXPECT_EQ(info.totalBytes, (uint64_t(1) << 32) + 1005);
    EXPECT_EQ(info.title, "Ｆｉｌｅの合計　　3");

    // One selected file that cannot be found (a "?" in a name is no wildcard): no path, no dates,
    // the size of nothing.
    info = GatherFileInfo(Selection::Of("C:\\", { "?" }, { true }));
    EXPECT_FALSE(info.title);
    EXPECT_FALSE(info.attributes);
    EXPECT_EQ(info.written, "");
    EXPECT_EQ(info.sizeText, "0 B ( 0 Byte )");
}

TEST_F(InfoTest, FileAttributesRoundTripThroughPermissionsAndDosAttrib)
{
    const struct {
        uint32_t word;
        bool ownerWrite;
        bool stored; // user.DOSATTRIB written (what permissions alone cannot say)
    } cases[] = {
        { kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive, false, true },
        { kAttrArchive, true, false }, // what a file without the attribute reports
        { kAttrHidden, true, true }, { kAttrReadOnly | kAttrArchive, false, false },
        { 0, true, true }, // every box unticked clears ReadOnly, Hidden, System and Archive
    };
    for (const auto& c : cases) {
        tree.write("f.txt", "x");
        ::lremovexattr(tree.linux("f.txt").c_str(), dosattrib::kName);
        tree.setReadOnly("f.txt", false);
        fake.messages.clear();
        EXPECT_EQ(ApplyFileAttributes(Selection::Of("C:\\", { "f.txt" }, { true }), c.word), 0);
        EXPECT_EQ(fs().GetAttributes("C:\\f.txt"), c.word) << c.word;
        EXPECT_EQ((Mode("f.txt") & S_IWUSR) != 0, c.ownerWrite) << c.word;
        EXPECT_EQ(HasDosAttrib("f.txt"), c.stored) << c.word;
        ASSERT_EQ(fake.messages.size(), 1u);
        EXPECT_EQ(fake.messages[0].text, "変更しました");
        EXPECT_EQ(fake.messages[0].caption, "報告");
        tree.setReadOnly("f.txt", false);
    }
}

TEST_F(InfoTest, SeveralFilesKeepTheAttributesTheyDifferIn)
{
    tree.write("a", "a");
    tree.write("b", "b");
    tree.setDosAttrib("a", kAttrHidden | kAttrArchive);
    tree.setDosAttrib("b", kAttrSystem | kAttrArchive);
    tree.setReadOnly("b", true);
    const FileInfo info = GatherFileInfo(Selection::Of("C:\\", { "a", "b" }, { true, true }));
    EXPECT_EQ(info.allSet, uint32_t(kAttrArchive));
    EXPECT_EQ(info.anySet, uint32_t(kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive));

    // Hidden, System and ReadOnly left in their third state, Archive unticked: only Archive changes.
    const uint32_t keep = kAttrReadOnly | kAttrHidden | kAttrSystem;
    EXPECT_EQ(ApplyFileAttributes(Selection::Of("C:\\", { "a", "b" }, { true, true }), 0, {}, keep), 0);
    EXPECT_EQ(fs().GetAttributes("C:\\a"), uint32_t(kAttrHidden));
    EXPECT_EQ(fs().GetAttributes("C:\\b"), uint32_t(kAttrReadOnly | kAttrSystem));
    tree.setReadOnly("b", false);
}

TEST_F(InfoTest, FailedAttributeChangeIsReportedNotCalledDone)
{
    tree.write("a", "a");
    tree.write("c", "c");
    int refreshed = 0;
    EXPECT_EQ(ApplyFileAttributes(
                  Selection::Of("C:\\", { "a", "b", "c" }, { true, true, true }), kAttrHidden, [&] { ++refreshed; }),
        1);
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_TRUE(fake.messages[0].plain);
    EXPECT_EQ(fake.messages[0].text, "C:\\b  :   File Not Found");
    EXPECT_EQ(refreshed, 1);
    // The others were changed all the same.
    EXPECT_EQ(fs().GetAttributes("C:\\a"), uint32_t(kAttrHidden));
    EXPECT_EQ(fs().GetAttributes("C:\\c"), uint32_t(kAttrHidden));
}

// ---- folder information, directory attributes, volume label ----

TEST_F(InfoTest, DiskFiguresAreSinglePrecision)
{
    EXPECT_EQ(SizeText(float(100000000000ull)), "93.13 GB ( 99,999,997,952 Byte )");
    const auto disk = ReadDiskFigures("C:\\");
    ASSERT_TRUE(disk);
    EXPECT_GT(disk->total, 0.0f);
    EXPECT_EQ(disk->used, disk->total - disk->free);
    EXPECT_TRUE(fake.messages.empty());

    // A drive without a medium gives no figures, and says so.
    MapDrives({ { "E", "nodisc,cdrom" } });
    EXPECT_FALSE(ReadDiskFigures("E:\\"));
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text.rfind("E:\\  :   ", 0), 0u) << fake.messages[0].text;
}

TEST_F(InfoTest, DirectoryAttributesAlwaysKeepDirectory)
{
    tree.mkdir("d");
    const struct {
        uint32_t ticked;
        uint32_t expected;
    } cases[] = {
        { kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive,
            kAttrDirectory | kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive },
        { kAttrHidden, kAttrDirectory | kAttrHidden }, { 0, kAttrDirectory }, // every box unticked: Directory alone
    };
    for (const auto& c : cases) {
        fake.messages.clear();
        int refreshed = 0;
        EXPECT_TRUE(ChangeDirectoryAttributes("C:\\d", c.ticked, [&] { ++refreshed; }));
        EXPECT_EQ(DirectoryAttributes("C:\\d"), c.expected);
        EXPECT_EQ(refreshed, 1);
        ASSERT_EQ(fake.messages.size(), 1u);
        EXPECT_EQ(fake.messages[0].text, "属性を変更しました");
        EXPECT_TRUE(fake.messages[0].plain);
    }
    EXPECT_EQ(Mode("d") & S_IWUSR, S_IWUSR);
    // A drive root, or a path ending in a separator: the directory itself.
    tree.setDosAttrib("", kAttrHidden);
    EXPECT_EQ(DirectoryAttributes("C:\\"), kAttrDirectory | kAttrHidden);
    EXPECT_EQ(DirectoryAttributes("C:\\d\\"), kAttrDirectory);
    EXPECT_FALSE(DirectoryAttributes("C:\\gone\\"));

    // A directory that is gone: reported, and no word of success.
    fake.messages.clear();
    EXPECT_FALSE(ChangeDirectoryAttributes("C:\\gone", 0));
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text, "C:\\gone  :   File Not Found");
}

TEST_F(InfoTest, VolumeLabelOfAMappedDriveChangesInTheMap)
{
    tree.mkdir("d/sub");
    MapDrives({ { "D", "d,removable,label=OLD" }, { "E", "nodisc,cdrom,label=CD" } });
    std::string label, fileSystem;
    EXPECT_TRUE(ChangeVolumeLabel("D:\\sub", "NEWNAME"));
    ASSERT_TRUE(GetVolumeInformation("D:\\", label, fileSystem));
    EXPECT_EQ(label, "NEWNAME");
    // An empty text removes the label.
    EXPECT_TRUE(ChangeVolumeLabel("D:\\", ""));
    ASSERT_TRUE(GetVolumeInformation("D:\\", label, fileSystem));
    EXPECT_EQ(label, "");
    EXPECT_TRUE(fake.messages.empty());

    // A drive without a medium: the failure is reported.
    EXPECT_FALSE(ChangeVolumeLabel("E:\\", "X"));
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text, "E:\\  :   エラー番号　21");
}

// ---- network drives ----

TEST_F(InfoTest, DisconnectAtExitAsksForEachDriveInOrder)
{
    tree.mkdir("x");
    tree.mkdir("y");
    MapDrives({ { "X", "x,remote" }, { "Y", "y,remote" } });
    RecordingRunner runner;
    runner.answers[{ "gio", "mount", "-u", tree.linux("x") }]
        = { 1, "" }; // the first fails; the second is still asked for
    EXPECT_EQ(DisconnectNetworkDrives({ "X:\\", "Y:\\" }), 1);
    EXPECT_EQ(runner.ran,
        (std::vector<Argv> { { "gio", "mount", "-u", tree.linux("x") }, { "gio", "mount", "-u", tree.linux("y") } }));
    EXPECT_TRUE(fake.messages.empty()); // silent at exit
    runner.ran.clear();
    EXPECT_EQ(DisconnectNetworkDrives({}), 0);
    EXPECT_TRUE(runner.ran.empty());
}

TEST_F(InfoTest, DisconnectCommandOnRemoteAndLocalDrives)
{
    tree.mkdir("z");
    MapDrives({ { "Z", "z,remote,unc=\\\\nas\\share" } });
    RecordingRunner runner;
    ASSERT_EQ(RemoteDrives().size(), 1u);
    EXPECT_EQ(RemoteDrives()[0].localName, "Z:");
    EXPECT_EQ(RemoteDrives()[0].universalName, "\\\\nas\\share");
    EXPECT_EQ(FreeDriveLetters().front(), 'Y');

    EXPECT_TRUE(DisconnectDrive("Z:"));
    EXPECT_EQ(runner.ran, (std::vector<Argv> { { "gio", "mount", "-u", tree.linux("z") } }));
    EXPECT_EQ(driveMap().find('Z'), nullptr);
    EXPECT_TRUE(fake.messages.empty());

    // A local drive is not a connection: nothing runs and the refusal is reported.
    runner.ran.clear();
    EXPECT_FALSE(DisconnectDrive("C:"));
    EXPECT_TRUE(runner.ran.empty());
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text, "C:  :   ネットワークドライブではありません（エラー番号　2250）");
    EXPECT_NE(driveMap().find('C'), nullptr);

    // A share that cannot be mounted is reported with its address.
    ScopedEnv runtime("XDG_RUNTIME_DIR", tree.linux("none"));
    EXPECT_FALSE(ConnectShare("smb://nas/none", 'X'));
    EXPECT_EQ(fake.messages.back().text, "smb://nas/none  :   共有が見つからないか，接続できません（エラー番号　67）");
    EXPECT_EQ(ProgramDriveSelectorText(), "C:\\[]"); // the test program lies outside every drive
}

// ---- shortcuts ----

TEST_F(InfoTest, ShortcutOnTheDesktopReplacesAnExistingLink)
{
    tree.write("data/report.txt", "r");
    tree.write("config/user-dirs.dirs", "# xdg\nXDG_DESKTOP_DIR=\"" + tree.linux("desk") + "\"\n");
    tree.mkdir("desk");
    ScopedEnv config("XDG_CONFIG_HOME", tree.linux("config"));
    tree.symlink("/elsewhere", "desk/report.lnk");

    EXPECT_TRUE(CreateShortcut(kShortcutDesktop, "C:\\data\\report.txt"));
    EXPECT_EQ(std::filesystem::read_symlink(tree.linux("desk/report.lnk")), tree.linux("data/report.txt"));
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text, "C:\\desk\\report.lnk　を作成しました");
    EXPECT_EQ(fake.messages[0].caption, "報告");
    // Nothing else was left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tree.linux("desk")), {}), 1);

    // A desktop folder the user may not write is said to be so, not to hold a ReadOnly file.
    const auto denied = test::RunAsOrdinaryUser(tree.root(), [&] {
        ::chmod(tree.linux("desk").c_str(), 0555);
        fake.messages.clear();
        return !CreateShortcut(kShortcutDesktop, "C:\\data\\report.txt")
            && fake.texts() == std::vector<std::string> { "C:\\desk\\report.lnk  :   Accesee Denied !" };
    });
    if (denied) {
        EXPECT_TRUE(*denied);
    }
}

TEST_F(InfoTest, ShortcutToADesktopOnNoDriveSaysSo)
{
    tree.write("data/report.txt", "r");
    tree.write("config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"/nowhere/Desktop\"\n");
    ScopedEnv config("XDG_CONFIG_HOME", tree.linux("config"));
    EXPECT_FALSE(CreateShortcut(kShortcutDesktop, "C:\\data\\report.txt"));
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text, "デスクトップのフォルダー（/nowhere/Desktop）はどのドライブにもありません");
    EXPECT_EQ(fake.messages[0].caption, "警告");
}

TEST_F(InfoTest, ShortcutInTheCurrentDriveRoot)
{
    tree.write("data/report.txt", "r");
    tree.mkdir("d/work/sub");
    MapDrives({ { "D", "d" } });
    ASSERT_TRUE(fs().SetCurrentDirectory("D:\\work\\sub"));
    EXPECT_TRUE(CreateShortcut(kShortcutDriveRoot, "C:\\data\\report.txt"));
    EXPECT_EQ(std::filesystem::read_symlink(tree.linux("d/report.lnk")), tree.linux("data/report.txt"));
    EXPECT_EQ(fake.messages.back().text, "D:\\report.lnk　を作成しました");

    // A file of the link's name is the user's: kept, and the failure reported.
    tree.write("d/notes.lnk", "mine");
    fake.messages.clear();
    EXPECT_FALSE(CreateShortcut(kShortcutDriveRoot, "C:\\data\\notes.txt"));
    EXPECT_EQ(tree.read("d/notes.lnk"), "mine");
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text, "D:\\notes.lnk  :   同じ名前が既にあります");
    ASSERT_TRUE(fs().SetCurrentDirectory("C:\\"));

    // The link's name: the extension, from the last dot of the name, becomes ".lnk".
    EXPECT_EQ(LinkFileName("C:\\data\\archive.tar.gz"), "archive.tar.lnk");
    EXPECT_EQ(LinkFileName("C:\\v1.2\\README"), "README.lnk");

    // No file under the cursor: the warning and nothing else.
    fake.messages.clear();
    EXPECT_FALSE(CreateShortcut(kShortcutDriveRoot, ""));
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text, "ファイルが選択されておりません");
    EXPECT_EQ(fake.messages[0].caption, "警告");
}

} // namespace
} // namespace zelo
