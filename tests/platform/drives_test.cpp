// The drive map (ZELO_DRIVES, mount table), drive and Linux paths, volumes and free space.
#include "platform/bounded_call.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/mount_table.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include <climits>
#include <unistd.h>

using namespace zelo;
using zelo::test::TempTree;

namespace {

struct ExpectedDrive {
    char letter;
    std::string directory;
    uint32_t type;
    std::optional<std::string> label;
    std::string unc;
};

void expectDrives(const DriveMap& map, const std::vector<ExpectedDrive>& expected, const std::string& context)
{
    ASSERT_EQ(map.drives().size(), expected.size()) << context;
    for (size_t i = 0; i < expected.size(); ++i) {
        const Drive& d = map.drives()[i];
        EXPECT_EQ(d.letter, expected[i].letter) << context;
        EXPECT_EQ(d.directory, expected[i].directory) << context;
        EXPECT_EQ(d.type, expected[i].type) << context << " " << d.letter;
        EXPECT_EQ(d.label, expected[i].label) << context << " " << d.letter;
        EXPECT_EQ(d.unc, expected[i].unc) << context << " " << d.letter;
    }
}

} // namespace

TEST(DriveMapParse, EntriesWithTypesLabelsAndUniversalNames)
{
    struct Case {
        std::string spec;
        std::vector<ExpectedDrive> drives;
    };
    const std::vector<Case> cases = {
        { "C=/tmp/t/c;D=/tmp/t/d,removable;E=/tmp/t/cd,cdrom,label=MYCD;Z=/tmp/t/share,remote,unc=\\\\nas\\share",
            { { 'C', "/tmp/t/c", kDriveFixed, std::nullopt, "" },
                { 'D', "/tmp/t/d", kDriveRemovable, std::nullopt, "" }, { 'E', "/tmp/t/cd", kDriveCdrom, "MYCD", "" },
                { 'Z', "/tmp/t/share", kDriveRemote, std::nullopt, "\\\\nas\\share" } } },
        // Blanks around everything (a label keeps its inner blanks), lower-case letters and words,
        // trailing slashes, letters out of order.
        { "  r = /ram/ , RAM ;  ; c=/ ; b=/floppy,Removable,label= MY  DISK ",
            { { 'B', "/floppy", kDriveRemovable, "MY  DISK", "" }, { 'C', "/", kDriveFixed, std::nullopt, "" },
                { 'R', "/ram", kDriveRamdisk, std::nullopt, "" } } },
        // An empty label is a label; the later entry of a letter replaces the earlier one.
        { "C=/a,label=;C=/b,fixed,label=WINDOWSXP;", { { 'C', "/b", kDriveFixed, "WINDOWSXP", "" } } },
        // Labels keep their bytes (UTF-8 here) and may contain "=".
        { "D=/d,label=ラベル=1", { { 'D', "/d", kDriveFixed, "ラベル=1", "" } } },
        { "", {} },
        { ";;;", {} },
    };
    for (const Case& c : cases) {
        expectDrives(DriveMap::parse(c.spec), c.drives, c.spec);
        EXPECT_EQ(MalformedDriveEntry(c.spec), std::nullopt) << c.spec;
    }
}

TEST(DriveMapParse, MalformedEntriesAreLeftOutAndTheRestKept)
{
    const std::vector<std::string> malformed = {
        "bad",
        "QQ=/x",
        "=/x",
        "1=/x",
        "F=relative",
        "H=",
        "G=/g,weird",
        "I=/i,color=red",
        "J=  ,cdrom",
        "C:=/x",
    };
    for (const std::string& entry : malformed) {
        // Named, so the programs can refuse to start over it.
        EXPECT_EQ(MalformedDriveEntry("C=/c; " + entry + " ;D=/d"), entry);
        const DriveMap map = DriveMap::parse("C=/c;" + entry + ";D=/d");
        expectDrives(
            map, { { 'C', "/c", kDriveFixed, std::nullopt, "" }, { 'D', "/d", kDriveFixed, std::nullopt, "" } }, entry);
    }
    // A mistyped map never falls back to the mount table, where C: is "/".
    const test::ScopedEnv drives("ZELO_DRIVES", "C:=/x");
    EXPECT_EQ(MalformedDriveEntryInEnvironment(), "C:=/x");
    EXPECT_TRUE(DriveMap::load().drives().empty());
}

TEST(DriveMapPaths, DrivePathsToLinux)
{
    const DriveMap map = DriveMap::parse("C=/;D=/mnt/data;E=/media/u/CD ROM");
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        { "C:\\", "/" },
        { "C:", "/" },
        { "C:\\usr\\bin", "/usr/bin" },
        { "c:\\usr\\bin\\", "/usr/bin" },
        { "D:\\", "/mnt/data" },
        { "D:", "/mnt/data" },
        { "d:\\a\\\\b\\c.txt", "/mnt/data/a/b/c.txt" },
        { "D:/a/b", "/mnt/data/a/b" },
        { "E:\\x y\\z", "/media/u/CD ROM/x y/z" },
        // "." and ".." stay inside the drive: a drive path never reaches above its directory.
        { "D:\\a\\..\\..\\..\\etc", "/mnt/data/etc" },
        { "D:\\.\\a\\.\\b", "/mnt/data/a/b" },
        // Names are bytes: not valid UTF-8 is passed on unchanged.
        { "D:\\\xff\xfe.txt", "/mnt/data/\xff\xfe.txt" },
        { "F:\\a", std::nullopt },
        { "", std::nullopt },
        { "\\\\host\\share", std::nullopt },
        { "1:\\a", std::nullopt },
    };
    for (const auto& [drivePath, linuxPath] : cases)
        EXPECT_EQ(map.toLinux(drivePath), linuxPath) << drivePath;
}

// Typed paths resolve as the system's calls resolve them: a bare name in the current directory, "\name"
// at the current drive's root, ".." after the real parent of a symbolic link, never above a drive root.
TEST(DriveMapPaths, TypedPathsResolveFromTheCurrentDirectory)
{
    TempTree tree;
    tree.mkdir("sub");
    tree.mkdir("deep/inner");
    tree.symlink(tree.linux("deep/inner"), "sub/lnk");
    tree.symlink(tree.root(), "self");
    char saved[PATH_MAX];
    ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(::chdir(tree.linux("sub").c_str()), 0);
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        { "name", tree.linux("sub/name") },
        { "a\\b", tree.linux("sub/a/b") },
        { ".", tree.linux("sub") },
        { "..\\x", tree.linux("x") },
        { "\\top", tree.linux("top") },
        { "C:\\sub\\lnk\\..", tree.linux("deep") },
        { "lnk\\..\\y", tree.linux("deep/y") },
        { "C:\\..\\..", tree.root() },
        { "C:\\self\\..\\z", tree.linux("z") },
        { "\\\\host\\share", std::nullopt },
    };
    for (const auto& [typed, linuxPath] : cases)
        EXPECT_EQ(driveMap().toLinux(typed), linuxPath) << typed;
    ASSERT_EQ(::chdir(saved), 0);
}

TEST(DriveMapPaths, LinuxPathsToDrivePathsByLongestMatchOnComponentBoundaries)
{
    const DriveMap map = DriveMap::parse("C=/;D=/mnt/data;E=/mnt/data/deep;F=/mnt/dat");
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        { "/", "C:\\" },
        { "/usr/bin/zelo32", "C:\\usr\\bin\\zelo32" },
        { "/mnt/data", "D:\\" },
        { "/mnt/data/", "D:\\" },
        { "/mnt/data/a/b", "D:\\a\\b" },
        { "/mnt/data/deep/x", "E:\\x" },
        { "/mnt/data/deeper", "D:\\deeper" },
        { "/mnt/dat/x", "F:\\x" },
        { "/mnt/datum", "C:\\mnt\\datum" },
        { "/mnt//data//a", "C:\\mnt\\data\\a" },
        // A "\" inside a name is its stand-in U+F05C, no separator.
        { "/mnt/data/a\\b",
            "D:\\a\xEF\x81\x9C"
            "b" },
        { "relative/path", std::nullopt },
        { "", std::nullopt },
    };
    for (const auto& [linuxPath, drivePath] : cases)
        EXPECT_EQ(map.fromLinux(linuxPath), drivePath) << linuxPath;

    const DriveMap withoutRoot = DriveMap::parse("D=/mnt/data");
    EXPECT_EQ(withoutRoot.fromLinux("/etc/passwd"), std::nullopt);

    for (const std::string drivePath : { "C:\\etc\\passwd", "D:\\a b\\c", "E:\\x\\y", "F:\\", "D:\\" })
        EXPECT_EQ(map.fromLinux(*map.toLinux(drivePath)), drivePath) << drivePath;
}

TEST(DriveMapEdit, AddReplacesTheLetterAndKeepsLetterOrder)
{
    DriveMap map = DriveMap::parse("C=/c;X=/x");
    map.add(Drive { 'e', "/e", kDriveCdrom, std::nullopt, {} });
    map.add(Drive { 'X', "/x2", kDriveRemote, std::nullopt, "\\\\h\\s" });
    expectDrives(map,
        { { 'C', "/c", kDriveFixed, std::nullopt, "" }, { 'E', "/e", kDriveCdrom, std::nullopt, "" },
            { 'X', "/x2", kDriveRemote, std::nullopt, "\\\\h\\s" } },
        "after add");
    ASSERT_NE(map.find('x'), nullptr);
    EXPECT_EQ(map.find('x')->directory, "/x2");
    EXPECT_EQ(map.find('Q'), nullptr);
}

TEST(MountTable, ClassifiesUserVisibleMountsAndGivesLettersInMountPointOrder)
{
    const std::string table = R"(sysfs /sys sysfs rw,nosuid,nodev,noexec,relatime 0 0
proc /proc proc rw,nosuid,nodev,noexec,relatime 0 0
udev /dev devtmpfs rw,nosuid,relatime 0 0
devpts /dev/pts devpts rw 0 0
tmpfs /run tmpfs rw,nosuid,nodev 0 0
overlay / overlay rw,lowerdir=/a,upperdir=/b 0 0
cgroup2 /sys/fs/cgroup cgroup2 rw 0 0
cgroup /sys/fs/cgroup/cpu cgroup rw,cpu 0 0
tmpfs /dev/shm tmpfs rw 0 0
overlay /var/lib/docker/overlay2/abc/merged overlay rw 0 0
/dev/loop3 /snap/core/123 squashfs ro 0 0
/dev/sda1 /boot/efi vfat rw 0 0
/dev/sdb1 /media/user/USB\040STICK vfat rw 0 0
//nas/share /mnt/nas cifs rw 0 0
/dev/sr0 /media/user/MYCD iso9660 ro 0 0
user@host:/home/user /mnt/ssh fuse.sshfs rw 0 0
server:/export /srv/nfs nfs4 rw 0 0
gvfsd-fuse /run/user/1000/gvfs fuse.gvfsd-fuse rw 0 0
portal /run/user/1000/doc fuse.portal rw 0 0
tmpfs /mnt/ramdisk tmpfs rw 0 0
/dev/sdc1 /data ext4 rw 0 0
/dev/sdd1 /media/user/CARD exfat rw 0 0
/dev/sde1 /mnt/backup ext4 rw 0 0
binfmt_misc /proc/sys/fs/binfmt_misc binfmt_misc rw 0 0
)";
    // Only sde is removable by its device; the exfat card under /media counts as removable media.
    const DriveMap map = driveMapFromMounts(table, [](const std::string& source) { return source == "/dev/sde1"; });
    expectDrives(map,
        { { 'C', "/", kDriveFixed, std::nullopt, "" }, { 'D', "/data", kDriveFixed, std::nullopt, "" },
            { 'E', "/media/user/CARD", kDriveRemovable, std::nullopt, "" },
            { 'F', "/media/user/MYCD", kDriveCdrom, std::nullopt, "" },
            { 'G', "/media/user/USB STICK", kDriveRemovable, std::nullopt, "" },
            { 'H', "/mnt/backup", kDriveRemovable, std::nullopt, "" },
            { 'I', "/mnt/nas", kDriveRemote, std::nullopt, "\\\\nas\\share" },
            { 'J', "/mnt/ramdisk", kDriveRamdisk, std::nullopt, "" },
            { 'K', "/mnt/ssh", kDriveRemote, std::nullopt, "" },
            { 'L', "/run/user/1000/gvfs", kDriveRemote, std::nullopt, "" },
            { 'M', "/srv/nfs", kDriveRemote, std::nullopt, "" } },
        "sample table");
}

TEST(MountTable, EscapesStackedMountsAndTheLetterLimit)
{
    const auto escaped = parseMountTable("/dev/a /media/a\\040b\\011c\\134d\\012e vfat rw 0 0\n"
                                         "/dev/b /x\\04 ext4 rw 0 0\n/dev/c /x\\089 ext4 rw 0 0\n");
    ASSERT_EQ(escaped.size(), 3u);
    EXPECT_EQ(escaped[0].directory, "/media/a b\tc\\d\ne");
    EXPECT_EQ(escaped[1].directory, "/x\\04"); // too short to be an escape
    EXPECT_EQ(escaped[2].directory, "/x\\089");

    // The later mount on a directory hides the earlier one.
    const DriveMap stacked = driveMapFromMounts("/dev/sda1 /mnt/a ext4 rw 0 0\n/dev/sr0 /mnt/a iso9660 ro 0 0\n", {});
    expectDrives(stacked,
        { { 'C', "/", kDriveFixed, std::nullopt, "" }, { 'D', "/mnt/a", kDriveCdrom, std::nullopt, "" } }, "stacked");

    // Letters end at Z; a garbled line is skipped.
    std::string many = "garbage\n";
    for (int i = 0; i < 30; ++i)
        many += "/dev/x" + std::to_string(i) + " /mnt/d" + std::to_string(100 + i) + " ext4 rw 0 0\n";
    const DriveMap full = driveMapFromMounts(many, {});
    ASSERT_EQ(full.drives().size(), 24u);
    EXPECT_EQ(full.drives().back().letter, 'Z');
    EXPECT_EQ(full.drives().back().directory, "/mnt/d122");
}

TEST(MountTable, UniversalNamesFromSources)
{
    EXPECT_EQ(uncFromCifsSource("//nas/share"), "\\\\nas\\share");
    EXPECT_EQ(uncFromCifsSource("//nas/share/sub/"), "\\\\nas\\share\\sub");
    EXPECT_EQ(uncFromCifsSource("/dev/sda1"), "");
    EXPECT_EQ(uncFromGvfsName("smb-share:server=nas,share=music"), "\\\\nas\\music");
    EXPECT_EQ(uncFromGvfsName("smb-share:domain=W,server=nas,share=music,user=bob"), "\\\\nas\\music");
    EXPECT_EQ(uncFromGvfsName("sftp:host=nas"), "");
    EXPECT_EQ(uncFromGvfsName("smb-share:server=nas"), "");
}

TEST(Volumes, DriveTypesLettersAndMissingMedia)
{
    TempTree tree;
    tree.mkdir("d");
    tree.mkdir("share");
    driveMap().add(Drive { 'D', tree.linux("d"), kDriveFixed, std::string("DATA"), {} });
    driveMap().add(Drive { 'E', tree.linux("no-disc"), kDriveCdrom, std::nullopt, {} });
    driveMap().add(Drive { 'Z', tree.linux("share"), kDriveRemote, std::nullopt, "\\\\nas\\share" });
    driveMap().add(Drive { 'Y', tree.linux("gone"), kDriveRemote, std::nullopt, {} });

    EXPECT_EQ(GetLogicalDrives(), (1u << 2) | (1u << 3) | (1u << 4) | (1u << 24) | (1u << 25));
    EXPECT_EQ(GetDriveType("C:\\"), kDriveFixed);
    EXPECT_EQ(GetDriveType("e:\\"), kDriveCdrom);
    EXPECT_EQ(GetDriveType("Z:\\"), kDriveRemote);
    EXPECT_EQ(GetDriveType("Q:\\"), kDriveNoRootDir);
    EXPECT_EQ(GetDriveType(""), kDriveNoRootDir);

    std::string label = "old";
    std::string fileSystem = "old";
    ASSERT_TRUE(GetVolumeInformation("D:\\", label, fileSystem));
    EXPECT_EQ(label, "DATA");
    EXPECT_FALSE(fileSystem.empty());

    // A drive whose directory is missing has no medium: listed, but its volume cannot be read.
    for (const std::string root : { "E:\\", "Y:\\" }) {
        label = "old";
        EXPECT_FALSE(GetVolumeInformation(root, label, fileSystem)) << root;
        EXPECT_EQ(GetLastError(), 21u) << root;
        EXPECT_EQ(label, "old") << root;
    }
    EXPECT_FALSE(GetVolumeInformation("Q:\\", label, fileSystem));
    EXPECT_EQ(GetLastError(), err::PathNotFound);

    EXPECT_TRUE(GetVolumeInformation("Z:\\", label, fileSystem)); // remote, through the bounded wait
}

TEST(Volumes, LabelsChangeInTheMapNotOnTheVolumeThatHoldsTheDirectory)
{
    TempTree tree;
    tree.mkdir("d");
    tree.mkdir("plain");
    driveMap().add(Drive { 'D', tree.linux("d"), kDriveFixed, std::string("OLD"), {} });
    driveMap().add(Drive { 'P', tree.linux("plain"), kDriveFixed, std::nullopt, {} });
    driveMap().add(Drive { 'E', tree.linux("no-disc"), kDriveCdrom, std::nullopt, {} });
    driveMap().add(Drive { 'Z', tree.linux("d"), kDriveRemote, std::nullopt, {} });

    std::string label;
    std::string fileSystem;
    ASSERT_TRUE(SetVolumeLabel("D:\\", "NEW"));
    ASSERT_TRUE(GetVolumeInformation("D:\\", label, fileSystem));
    EXPECT_EQ(label, "NEW");
    ASSERT_TRUE(SetVolumeLabel("D:\\", ""));
    ASSERT_TRUE(GetVolumeInformation("D:\\", label, fileSystem));
    EXPECT_EQ(label, "");

    // P is a directory inside another volume: the name belongs to the drive, the volume keeps its own.
    std::string volumeBefore;
    ASSERT_TRUE(GetVolumeInformation("C:\\", volumeBefore, fileSystem));
    ASSERT_TRUE(SetVolumeLabel("P:\\", "MINE"));
    ASSERT_TRUE(GetVolumeInformation("P:\\", label, fileSystem));
    EXPECT_EQ(label, "MINE");
    ASSERT_TRUE(GetVolumeInformation("C:\\", label, fileSystem));
    EXPECT_EQ(label, volumeBefore);

    EXPECT_FALSE(SetVolumeLabel("E:\\", "X"));
    EXPECT_EQ(GetLastError(), 21u);
    EXPECT_FALSE(SetVolumeLabel("Z:\\", "X"));
    EXPECT_FALSE(SetVolumeLabel("Q:\\", "X"));
}

TEST(Volumes, FreeSpaceIsSaneAndMissingDrivesFail)
{
    TempTree tree;
    tree.mkdir("sub");
    driveMap().add(Drive { 'E', tree.linux("no-disc"), kDriveCdrom, std::nullopt, {} });
    driveMap().add(Drive { 'Z', tree.linux("sub"), kDriveRemote, std::nullopt, {} });
    driveMap().add(Drive { 'Y', tree.linux("unmounted"), kDriveRemote, std::nullopt, {} });

    for (const std::string path : { "C:\\", "C:\\sub", "Z:\\" }) {
        uint64_t freeToCaller = 0;
        uint64_t total = 0;
        uint64_t totalFree = 0;
        ASSERT_TRUE(GetDiskFreeSpaceEx(path, freeToCaller, total, totalFree)) << path;
        EXPECT_GT(total, 0u) << path;
        EXPECT_LE(totalFree, total) << path;
        EXPECT_LE(freeToCaller, totalFree) << path;
    }
    uint64_t a = 1, b = 2, c = 3;
    for (const std::string root : { "E:\\", "Y:\\" }) {
        EXPECT_FALSE(GetDiskFreeSpaceEx(root, a, b, c)) << root;
        EXPECT_EQ(GetLastError(), 21u) << root; // a remote drive decides it inside its time limit
    }
    EXPECT_FALSE(GetDiskFreeSpaceEx("C:\\missing\\dir", a, b, c));
    EXPECT_FALSE(GetDiskFreeSpaceEx("Q:\\", a, b, c));
    EXPECT_EQ(GetLastError(), err::PathNotFound);
}

TEST(Volumes, UniversalNames)
{
    TempTree tree;
    tree.mkdir("gvfs/smb-share:server=nas,share=music");
    driveMap().add(Drive { 'X', tree.linux("x"), kDriveRemote, std::nullopt, "\\\\server\\docs" });
    driveMap().add(Drive { 'Y', tree.linux("gvfs/smb-share:server=nas,share=music"), kDriveRemote, std::nullopt, {} });
    driveMap().add(Drive { 'W', tree.linux("gvfs"), kDriveRemote, std::nullopt, {} });

    std::string name = "unchanged";
    ASSERT_TRUE(GetUniversalName("X:\\", name));
    EXPECT_EQ(name, "\\\\server\\docs");
    ASSERT_TRUE(GetUniversalName("y:\\", name));
    EXPECT_EQ(name, "\\\\nas\\music");
    name = "unchanged";
    EXPECT_FALSE(GetUniversalName("W:\\", name));
    EXPECT_FALSE(GetUniversalName("C:\\", name));
    EXPECT_FALSE(GetUniversalName("Q:\\", name));
    EXPECT_EQ(name, "unchanged");
}

TEST(Volumes, ProgramPathAndSystemDrive)
{
    setDriveMap(DriveMap::parse("C=/"));
    const std::string module = GetModuleFileName();
    ASSERT_GE(module.size(), 4u);
    EXPECT_EQ(module.substr(0, 3), "C:\\");
    EXPECT_EQ(GetWindowsDirectory(), "C:\\");

    // A program outside every drive is written like a network path.
    setDriveMap(DriveMap::parse("D=/nonexistent-zelo-dir"));
    EXPECT_EQ(GetModuleFileName().substr(0, 1), "\\");
    EXPECT_EQ(GetWindowsDirectory(), "D:\\");
    setDriveMap(DriveMap::load());
}

TEST(BoundedCall, AnswersInTimeOrGivesUpWithoutWaitingForTheCall)
{
    EXPECT_EQ(runBounded<int>([] { return 42; }, std::chrono::milliseconds(5000)), 42);

    // A call that does not return until released: the caller gets control back after the limit.
    auto gate = std::make_shared<std::pair<std::mutex, std::condition_variable>>();
    auto released = std::make_shared<bool>(false);
    const auto result = runBounded<int>(
        [gate, released] {
            std::unique_lock lock(gate->first);
            gate->second.wait(lock, [&] { return *released; });
            return 1;
        },
        std::chrono::milliseconds(20));
    EXPECT_EQ(result, std::nullopt);
    {
        std::lock_guard lock(gate->first);
        *released = true;
    }
    gate->second.notify_all();
}
