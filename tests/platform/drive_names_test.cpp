// Linux names in drive paths: "\" as its stand-in, bytes that are no UTF-8 as private-use characters,
// one-to-one and back to the exact bytes, in the drive map and in the listings of real directories.
#include "platform/dir_handle.h"
#include "platform/drive_path.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <set>

namespace zelo {
namespace {

// The drive form of one byte that cannot stand as itself: U+F700 plus the byte.
std::string Byte(unsigned char b)
{
    const char32_t code = 0xF700 + b;
    return { char(0xE0 | (code >> 12)), char(0x80 | ((code >> 6) & 0x3F)), char(0x80 | (code & 0x3F)) };
}

const std::string kStandIn = "\xEF\x81\x9C"; // U+F05C

struct NameCase {
    std::string linuxName;
    std::string driveName;
};

const std::vector<NameCase>& NameCases()
{
    static const std::vector<NameCase> cases = {
        { "plain.txt", "plain.txt" },
        { "日本語.txt", "日本語.txt" },
        { "a\\b.txt", "a" + kStandIn + "b.txt" },
        { "x\\\\y", "x" + kStandIn + kStandIn + "y" },
        { "system-systemd\\x2dcryptsetup.slice", "system-systemd" + kStandIn + "x2dcryptsetup.slice" },
        // A name that holds a stand-in itself keeps it apart from the one made for "\".
        { "a" + kStandIn + "b", "a" + Byte(0xEF) + Byte(0x81) + Byte(0x9C) + "b" },
        { Byte(0xFF), Byte(0xEF) + Byte(0x9F) + Byte(0xBF) },
        // Bytes of no UTF-8 character: a lone byte, a cut sequence, an overlong form, a surrogate.
        { "\xff.bin", Byte(0xFF) + ".bin" },
        { "\xe3\x81", Byte(0xE3) + Byte(0x81) },
        { "\xc0\xaf", Byte(0xC0) + Byte(0xAF) },
        { "\xed\xa0\x80", Byte(0xED) + Byte(0xA0) + Byte(0x80) },
        { "\x80\\\xfe", Byte(0x80) + kStandIn + Byte(0xFE) },
        // Other private-use characters are names of their own.
        { "\xef\x80\x80", "\xef\x80\x80" },
    };
    return cases;
}

TEST(DriveNames, EachLinuxNameHasOneDriveFormAndGetsItsBytesBack)
{
    std::set<std::string> driveNames;
    for (const auto& [linuxName, driveName] : NameCases()) {
        SCOPED_TRACE(linuxName);
        EXPECT_EQ(DriveNameFromLinux(linuxName), driveName);
        EXPECT_EQ(LinuxNameFromDrive(driveName), linuxName);
        EXPECT_EQ(IsOwnDriveName(linuxName), linuxName == driveName);
        EXPECT_EQ(driveName.find('\\'), std::string::npos);
        driveNames.insert(driveName);
    }
    EXPECT_EQ(driveNames.size(), NameCases().size());
}

TEST(DriveNames, DrivePathsCarryTheNamesBothWays)
{
    const DriveMap map = DriveMap::parse("C=/;D=/mnt/da\\ta");
    for (const auto& [linuxName, driveName] : NameCases()) {
        SCOPED_TRACE(linuxName);
        EXPECT_EQ(map.fromLinux("/mnt/da\\ta/" + linuxName + "/in"), "D:\\" + driveName + "\\in");
        EXPECT_EQ(map.toLinux("D:\\" + driveName + "\\in"), "/mnt/da\\ta/" + linuxName + "/in");
        EXPECT_EQ(map.fromLinux("/" + linuxName), "C:\\" + driveName);
    }
}

TEST(DriveNames, TheLastComponentIsAWholeName)
{
    const std::pair<std::string, std::string> cases[] = {
        { "C:\\a\\b", "b" },
        { "C:\\a\\b\\", "b" },
        { "C:x", "x" },
        { "C:", "" },
        { "name", "name" },
        // ":" is a drive's only after its letter: a Linux name may hold it.
        { "C:\\dir\\a:b", "a:b" },
        { "C:\\x:y\\", "x:y" },
        { "C:\\a" + kStandIn + "b", "a" + kStandIn + "b" },
    };
    for (const auto& [path, name] : cases)
        EXPECT_EQ(LastComponent(path), name) << path;
}

// Every name of a real directory is listed by the walks' handle and reached again through its drive form:
// searched, looked up, deleted.
TEST(DriveNames, ListingsHandEveryNameOnInDriveForm)
{
    test::TempTree tree;
    std::set<std::string> expected;
    for (const auto& [linuxName, driveName] : NameCases()) {
        tree.write("d/" + linuxName, linuxName);
        expected.insert(driveName);
    }
    for (const ListDetail detail : { ListDetail::Full, ListDetail::KindOnly }) {
        auto dir = fs().OpenTreeDirectory(tree.drive("d") + "\\", detail);
        ASSERT_TRUE(dir);
        std::set<std::string> listed;
        for (FindData entry; dir->Next(entry);)
            listed.insert(entry.name);
        EXPECT_EQ(listed, expected);
    }
    auto dir = fs().OpenTreeDirectory(tree.drive("d") + "\\", ListDetail::Full);
    ASSERT_TRUE(dir);
    for (const auto& [linuxName, driveName] : NameCases()) {
        SCOPED_TRACE(linuxName);
        FindData found;
        EXPECT_TRUE(fs().FindFirst(tree.drive("d") + "\\" + driveName, kAttrHidden, found));
        ASSERT_TRUE(dir->Lookup(driveName, found));
        EXPECT_TRUE(dir->DeleteEntry(found, true));
        EXPECT_FALSE(tree.exists("d/" + linuxName));
    }
}

} // namespace
} // namespace zelo
