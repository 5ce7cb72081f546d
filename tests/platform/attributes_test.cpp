#include "platform/dosattrib.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "tests/support/ordinary_user.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>

namespace zelo {
namespace {

using test::TempTree;

std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values)
        out += char(v);
    return out;
}

// A Samba version-5 blob: "0x22" NUL, a pad byte, version 5 twice, padding to 4, then valid_flags,
// attrib and the creation time.
std::string sambaV5(uint32_t textAttributes, uint32_t attrib, uint32_t validFlags, uint64_t created)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", textAttributes);
    std::string blob(text);
    blob += '\0';
    while (blob.size() % 2)
        blob += '\0';
    blob += bytes({ 5, 0, 5, 0 });
    while (blob.size() % 4)
        blob += '\0';
    for (int i = 0; i < 4; ++i)
        blob += char((validFlags >> (8 * i)) & 0xFF);
    for (int i = 0; i < 4; ++i)
        blob += char((attrib >> (8 * i)) & 0xFF);
    for (int i = 0; i < 8; ++i)
        blob += char((created >> (8 * i)) & 0xFF);
    return blob;
}

TEST(DosAttribCodec, ReadsTheFormsSambaAndWineWrite)
{
    struct Case {
        const char* what;
        std::string blob;
        std::optional<uint32_t> attributes;
    };
    const Case cases[] = {
        { "Wine text form", "0x22", 0x22 },
        { "text form with NUL", std::string("0x6\0", 4), 0x6 },
        { "upper-case hex", "0X2", 0x2 },
        { "Samba v5", sambaV5(0x20, 0x22, 0x11, 132000000000000000ull), 0x22 },
        { "v5 binary wins over its text", sambaV5(0x20, 0x06, 0x01, 0), 0x06 },
        { "v5 without a valid attrib falls back to the text", sambaV5(0x02, 0x04, 0x10, 1), 0x02 },
        { "Samba v1 (attrib first)",
            std::string("0x2\0", 4) + bytes({ 1, 0, 1, 0 }) + bytes({ 0x04, 0, 0, 0 }) + std::string(36, '\0'), 0x04 },
        { "our own version 3", dosattrib::encode({ 0x27, std::nullopt }), 0x27 },
        { "garbage", "hello", std::nullopt },
        { "empty", "", std::nullopt },
        { "truncated binary keeps the text", std::string("0x2\0", 4) + bytes({ 5, 0 }), 0x2 },
    };
    for (const Case& c : cases) {
        const auto value = dosattrib::parse(c.blob.data(), c.blob.size());
        ASSERT_EQ(value.has_value(), c.attributes.has_value()) << c.what;
        if (value) {
            EXPECT_EQ(value->attributes, *c.attributes) << c.what;
        }
    }
    const std::string v5 = sambaV5(0x20, 0x22, 0x11, 132000000000000000ull);
    EXPECT_EQ(dosattrib::parse(v5.data(), v5.size())->creationTime, 132000000000000000ull);
}

TEST(DosAttribCodec, WritesVersion3WithItsTextPrefix)
{
    const std::string blob = dosattrib::encode({ 0x22, 5ull });
    ASSERT_GE(blob.size(), 12u);
    EXPECT_EQ(std::string(blob.c_str()), "0x22"); // what Wine reads
    EXPECT_EQ(blob.substr(6, 4), bytes({ 3, 0, 3, 0 }));
    const auto back = dosattrib::parse(blob.data(), blob.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->attributes, 0x22u);
    EXPECT_EQ(back->creationTime, 5ull);
}

class Attributes : public ::testing::Test {
protected:
    TempTree tree;
    FileSystem& files = linuxFileSystem();
};

TEST_F(Attributes, DerivedWithoutTheExtendedAttribute)
{
    tree.write("plain.txt", "x");
    tree.write(".bashrc", "x");
    tree.mkdir("dir");
    tree.mkdir(".git/objects");
    tree.write("ro.txt", "x");
    tree.setReadOnly("ro.txt", true);
    tree.symlink("plain.txt", "tofile");
    tree.symlink("dir", "todir");
    tree.symlink("nowhere", "dangling");
    tree.fifo("pipe");
    struct Case {
        const char* name;
        uint32_t expected;
    };
    const Case cases[] = {
        { "plain.txt", kAttrArchive },
        { ".bashrc", kAttrArchive | kAttrHidden },
        { "dir", kAttrDirectory },
        { ".git", kAttrDirectory | kAttrHidden },
        { "ro.txt", kAttrArchive | kAttrReadOnly },
        { "tofile", kAttrReparsePoint | kAttrArchive },
        { "todir", kAttrReparsePoint | kAttrDirectory },
        { "dangling", kAttrReparsePoint | kAttrArchive },
        { "pipe", kAttrArchive },
    };
    for (const Case& c : cases)
        EXPECT_EQ(files.GetAttributes(tree.drive(c.name)), c.expected) << c.name;
    // A drive whose directory has a dot name is not a hidden drive.
    setDriveMap(DriveMap::parse("C=" + tree.root() + ";D=" + tree.linux(".git")));
    EXPECT_EQ(files.GetAttributes("D:\\"), uint32_t(kAttrDirectory));
    EXPECT_EQ(files.GetAttributes("D:\\objects\\.."), uint32_t(kAttrDirectory)); // the root, written another way
    EXPECT_EQ(files.GetAttributes(tree.drive("missing")), kInvalidAttributes);
    EXPECT_EQ(GetLastError(), err::FileNotFound);
    EXPECT_EQ(files.GetAttributes(tree.drive("nodir/missing")), kInvalidAttributes);
    EXPECT_EQ(GetLastError(), err::PathNotFound);
}

TEST_F(Attributes, RoundTripThroughDosAttrib)
{
    tree.write("f.txt", "x");
    tree.mkdir("d");
    struct Case {
        const char* name;
        uint32_t set;
        uint32_t expected;
    };
    const Case cases[] = {
        { "f.txt", kAttrHidden | kAttrSystem | kAttrArchive, kAttrHidden | kAttrSystem | kAttrArchive },
        { "f.txt", kAttrReadOnly | kAttrHidden, kAttrReadOnly | kAttrHidden },
        { "f.txt", 0, 0 }, // no Archive once the attribute says so
        { "f.txt", kAttrArchive, kAttrArchive },
        { "d", kAttrDirectory | kAttrHidden, kAttrDirectory | kAttrHidden },
        { "d", kAttrDirectory | kAttrReadOnly, kAttrDirectory | kAttrReadOnly },
        { "d", kAttrDirectory, kAttrDirectory },
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(files.SetAttributes(tree.drive(c.name), c.set)) << c.name << " " << c.set;
        EXPECT_EQ(files.GetAttributes(tree.drive(c.name)), c.expected) << c.name << " " << c.set;
    }
}

TEST_F(Attributes, ReadOnlyIsTheOwnerWriteBit)
{
    tree.write("f.txt", "x");
    ::chmod(tree.linux("f.txt").c_str(), 0664);
    ASSERT_TRUE(files.SetAttributes(tree.drive("f.txt"), kAttrReadOnly | kAttrArchive));
    struct stat st { };
    ASSERT_EQ(::stat(tree.linux("f.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u); // every write bit cleared
    ASSERT_TRUE(files.SetAttributes(tree.drive("f.txt"), kAttrArchive));
    ASSERT_EQ(::stat(tree.linux("f.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u); // the owner's write bit back
}

// An ordinary user may write user.DOSATTRIB only with write permission, which a ReadOnly file or
// directory lacks: changing Hidden, System or Archive of one that stays ReadOnly must still work,
// and leave it ReadOnly.
TEST_F(Attributes, AttributesOfAReadOnlyEntryChangeForAnOrdinaryUser)
{
    tree.write("ro.txt", "x");
    tree.write("ro2.txt", "x");
    tree.mkdir("rodir");
    struct Case {
        const char* name;
        uint32_t before;
        uint32_t set;
    };
    const Case cases[] = {
        { "ro.txt", kAttrReadOnly | kAttrArchive, kAttrReadOnly | kAttrHidden | kAttrArchive },
        { "ro2.txt", kAttrReadOnly | kAttrHidden, kAttrReadOnly | kAttrArchive },
        { "rodir", kAttrDirectory | kAttrReadOnly, kAttrDirectory | kAttrReadOnly | kAttrSystem },
    };
    for (const Case& c : cases)
        ASSERT_TRUE(files.SetAttributes(tree.drive(c.name), c.before)) << c.name;
    const auto changed = test::RunAsOrdinaryUser(tree.root(), [&]() {
        for (const Case& c : cases)
            if (!files.SetAttributes(tree.drive(c.name), c.set)) return false;
        return true;
    });
    if (!changed) GTEST_SKIP() << "no ordinary user to run as";
    EXPECT_TRUE(*changed);
    for (const Case& c : cases)
        EXPECT_EQ(files.GetAttributes(tree.drive(c.name)), c.set) << c.name;
}

TEST_F(Attributes, DerivableAttributesLeaveNoExtendedAttribute)
{
    tree.write("f.txt", "x");
    tree.mkdir("d");
    ASSERT_TRUE(files.SetAttributes(tree.drive("f.txt"), kAttrArchive));
    ASSERT_TRUE(files.SetAttributes(tree.drive("d"), kAttrDirectory));
    char buffer[64];
    EXPECT_LT(::getxattr(tree.linux("f.txt").c_str(), "user.DOSATTRIB", buffer, sizeof buffer), 0);
    EXPECT_LT(::getxattr(tree.linux("d").c_str(), "user.DOSATTRIB", buffer, sizeof buffer), 0);
}

TEST_F(Attributes, ReadsSambaAndWineBlobsWrittenByHand)
{
    tree.write("samba.txt", "x");
    tree.write("wine.txt", "x");
    const std::string v5 = sambaV5(0x20, kAttrHidden | kAttrSystem | kAttrArchive, 0x01, 0);
    ASSERT_EQ(::setxattr(tree.linux("samba.txt").c_str(), "user.DOSATTRIB", v5.data(), v5.size(), 0), 0);
    ASSERT_EQ(::setxattr(tree.linux("wine.txt").c_str(), "user.DOSATTRIB", "0x2", 3, 0), 0);
    EXPECT_EQ(files.GetAttributes(tree.drive("samba.txt")), kAttrHidden | kAttrSystem | kAttrArchive);
    EXPECT_EQ(files.GetAttributes(tree.drive("wine.txt")), uint32_t(kAttrHidden));

    // The setter keeps Samba's creation time when it rewrites the attribute.
    const std::string withTime = sambaV5(0x20, 0x20, 0x11, 130000000000000000ull);
    ASSERT_EQ(::setxattr(tree.linux("samba.txt").c_str(), "user.DOSATTRIB", withTime.data(), withTime.size(), 0), 0);
    ASSERT_TRUE(files.SetAttributes(tree.drive("samba.txt"), kAttrSystem));
    char buffer[128];
    const ssize_t n = ::getxattr(tree.linux("samba.txt").c_str(), "user.DOSATTRIB", buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    const auto value = dosattrib::parse(buffer, size_t(n));
    ASSERT_TRUE(value);
    EXPECT_EQ(value->attributes & 0x27, uint32_t(kAttrSystem));
    EXPECT_EQ(value->creationTime, 130000000000000000ull);
}

TEST_F(Attributes, ASymbolicLinkIsNeverChangedThroughItsTarget)
{
    tree.write("target.txt", "x");
    tree.symlink("target.txt", "link");
    ::chmod(tree.linux("target.txt").c_str(), 0644);
    // Nothing of a link can be stored: derivable settings succeed quietly, the target stays as it was.
    EXPECT_TRUE(files.SetAttributes(tree.drive("link"), kAttrReadOnly | kAttrArchive));
    struct stat st { };
    ASSERT_EQ(::stat(tree.linux("target.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_FALSE(files.SetAttributes(tree.drive("link"), kAttrHidden | kAttrArchive));
    EXPECT_NE(GetLastError(), 0u);
}

} // namespace
} // namespace zelo
