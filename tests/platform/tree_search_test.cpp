// The tree walks' search: the same entries as the full search, no dot entries, deletion of found entries.
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "tests/support/faulty_fs.h"
#include "tests/support/scoped_mount.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <map>

namespace zelo {
namespace {

std::map<std::string, FindData> ListInTree(FileSystem& files, const std::string& dir)
{
    std::map<std::string, FindData> out;
    FindData entry;
    if (auto search = files.FindFirstInTree(dir, entry)) {
        do
            out[entry.name] = entry;
        while (search->Next(entry));
    }
    return out;
}

class TreeSearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tree.mkdir("d/sub");
        tree.writeSized("d/file", 70000);
        tree.write("d/ro", "r");
        tree.setReadOnly("d/ro", true);
        tree.write("d/.dot", "h");
        tree.symlink(tree.linux("d/sub"), "d/dirlink");
        tree.symlink(tree.linux("d/file"), "d/filelink");
        tree.fifo("d/pipe");
    }
    test::TempTree tree;
};

TEST_F(TreeSearchTest, SameEntriesAndWalkBitsAsTheFullSearchWithoutDots)
{
    test::FaultyFileSystem wrapper(linuxFileSystem()); // a file system that takes the default path
    for (FileSystem* files : { &linuxFileSystem(), static_cast<FileSystem*>(&wrapper) }) {
        const auto entries = ListInTree(*files, tree.drive("d") + "\\");
        ASSERT_EQ(entries.size(), 7u);
        EXPECT_EQ(entries.count("."), 0u);
        EXPECT_EQ(entries.count(".."), 0u);
        constexpr uint32_t kWalkBits = kAttrDirectory | kAttrReparsePoint | kAttrReadOnly;
        for (const auto& [name, entry] : entries) {
            SCOPED_TRACE(name);
            FindData full;
            ASSERT_TRUE(linuxFileSystem().FindFirst(tree.drive("d/" + name), kAttrMaskAll, full));
            EXPECT_EQ(entry.attributes & kWalkBits, full.attributes & kWalkBits);
            EXPECT_EQ(entry.size(), full.size());
            EXPECT_EQ(entry.lastWriteTime, full.lastWriteTime);
        }
        EXPECT_EQ(entries.at("file").size(), 70000u);
        EXPECT_EQ(entries.at("dirlink").attributes & (kAttrReparsePoint | kAttrDirectory),
            uint32_t(kAttrReparsePoint | kAttrDirectory));
        EXPECT_NE(entries.at(".dot").attributes & kAttrHidden, 0u);
    }
}

TEST_F(TreeSearchTest, EmptyAndMissingDirectories)
{
    tree.mkdir("empty");
    FindData entry;
    EXPECT_EQ(linuxFileSystem().FindFirstInTree(tree.drive("empty") + "\\", entry), nullptr);
    EXPECT_EQ(GetLastError(), err::FileNotFound);
    EXPECT_EQ(linuxFileSystem().FindFirstInTree(tree.drive("missing") + "\\", entry), nullptr);
    EXPECT_EQ(GetLastError(), err::PathNotFound);
}

TEST_F(TreeSearchTest, DeleteFoundKeepsReadOnlyAndLinkTargets)
{
    FindData entry;
    auto search = linuxFileSystem().FindFirstInTree(tree.drive("d") + "\\", entry);
    ASSERT_TRUE(search);
    std::map<std::string, bool> results;
    std::map<std::string, uint32_t> codes;
    do {
        if ((entry.attributes & kAttrDirectory) && !(entry.attributes & kAttrReparsePoint)) continue;
        SetLastError(0);
        results[entry.name] = search->DeleteFound(tree.drive("d/" + entry.name), entry);
        codes[entry.name] = GetLastError();
    } while (search->Next(entry));
    EXPECT_FALSE(results.at("ro"));
    EXPECT_EQ(codes.at("ro"), err::AccessDenied);
    for (const char* gone : { "file", ".dot", "dirlink", "filelink", "pipe" }) {
        EXPECT_TRUE(results.at(gone)) << gone;
        EXPECT_FALSE(tree.exists(std::string("d/") + gone)) << gone;
    }
    EXPECT_TRUE(tree.exists("d/ro"));
    EXPECT_TRUE(tree.exists("d/sub")); // the link's target directory
}

} // namespace
} // namespace zelo

namespace zelo {
namespace {

TEST(TreeSearchKindOnly, KindsWithoutStatAndDeletionOfReadOnly)
{
    test::TempTree tree;
    tree.mkdir("d/sub");
    tree.write("d/ro", "r");
    tree.setReadOnly("d/ro", true);
    tree.symlink(tree.linux("d/sub"), "d/dirlink");
    FindData entry;
    auto search = linuxFileSystem().FindFirstInTree(tree.drive("d") + "\\", entry, TreeSearchDetail::KindOnly);
    ASSERT_TRUE(search);
    std::map<std::string, uint32_t> kinds;
    do {
        kinds[entry.name] = entry.attributes;
        if (entry.name == "ro") {
            EXPECT_TRUE(search->DeleteFound(tree.drive("d/ro"), entry)); // read-only is not known here
        }
    } while (search->Next(entry));
    ASSERT_EQ(kinds.size(), 3u);
    EXPECT_EQ(kinds["sub"], uint32_t(kAttrDirectory));
    EXPECT_EQ(kinds["ro"], uint32_t(kAttrArchive));
    EXPECT_EQ(kinds["dirlink"], uint32_t(kAttrReparsePoint | kAttrDirectory));
    EXPECT_FALSE(tree.exists("d/ro"));
}

TEST(TreeSearchMounts, AnotherFileSystemMountedInsideIsMarkedInBothDetails)
{
    test::TempTree tree;
    tree.mkdir("d/mnt");
    tree.mkdir("d/plain");
    test::ScopedTmpfsMount mount(tree.linux("d/mnt"));
    if (!mount.mounted()) GTEST_SKIP() << "mounting is not permitted here";
    for (const TreeSearchDetail detail : { TreeSearchDetail::Full, TreeSearchDetail::KindOnly }) {
        FindData entry;
        auto search = linuxFileSystem().FindFirstInTree(tree.drive("d") + "\\", entry, detail);
        ASSERT_TRUE(search);
        std::map<std::string, bool> mountPoints;
        do
            mountPoints[entry.name] = entry.mountPoint;
        while (search->Next(entry));
        EXPECT_EQ(mountPoints, (std::map<std::string, bool> { { "mnt", true }, { "plain", false } }));
    }
}

} // namespace
} // namespace zelo
