// The tree walks' directory handle: the same entries as the full search, deletion relative to the open
// directory, and children that are only ever the directories the listing reported.
#include "platform/dir_handle.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "tests/support/faulty_fs.h"
#include "tests/support/scoped_mount.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sys/stat.h>

namespace zelo {
namespace {

std::map<std::string, FindData> List(DirHandle& dir)
{
    std::map<std::string, FindData> out;
    FindData entry;
    while (dir.Next(entry))
        out[entry.name] = entry;
    return out;
}

class DirHandleTest : public ::testing::Test {
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
    std::unique_ptr<DirHandle> Open(const std::string& relative, ListDetail detail = ListDetail::Full)
    {
        return linuxFileSystem().OpenTreeDirectory(tree.drive(relative) + "\\", detail);
    }
    test::TempTree tree;
};

TEST_F(DirHandleTest, SameEntriesAndWalkBitsAsTheFullSearchWithoutDots)
{
    test::FaultyFileSystem wrapper(linuxFileSystem()); // handles wrapped by a double list the same
    for (FileSystem* files : { &linuxFileSystem(), static_cast<FileSystem*>(&wrapper) }) {
        auto dir = files->OpenTreeDirectory(tree.drive("d") + "\\", ListDetail::Full);
        ASSERT_TRUE(dir);
        auto entries = List(*dir);
        ASSERT_EQ(entries.size(), 7u);
        constexpr uint32_t kWalkBits = kAttrDirectory | kAttrReparsePoint | kAttrReadOnly;
        for (const auto& [name, entry] : entries) {
            SCOPED_TRACE(name);
            FindData full;
            ASSERT_TRUE(linuxFileSystem().FindFirst(tree.drive("d/" + name), kAttrMaskAll, full));
            EXPECT_EQ(entry.attributes & kWalkBits, full.attributes & kWalkBits);
            EXPECT_EQ(entry.size(), full.size());
            EXPECT_EQ(entry.lastWriteTime, full.lastWriteTime);
        }
        EXPECT_NE(entries.at(".dot").attributes & kAttrHidden, 0u);
        // A second listing after Rewind is the same.
        ASSERT_TRUE(dir->Rewind());
        EXPECT_EQ(List(*dir).size(), 7u);
    }
    // KindOnly: kinds without a stat, so ReadOnly is not known.
    auto kinds = List(*Open("d", ListDetail::KindOnly));
    EXPECT_EQ(kinds.at("sub").attributes, uint32_t(kAttrDirectory));
    EXPECT_EQ(kinds.at("ro").attributes, uint32_t(kAttrArchive));
    EXPECT_EQ(kinds.at("dirlink").attributes, uint32_t(kAttrReparsePoint | kAttrDirectory));
}

TEST_F(DirHandleTest, MissingEmptyAndLinkRoots)
{
    tree.mkdir("empty");
    auto empty = Open("empty");
    ASSERT_TRUE(empty);
    FindData entry;
    EXPECT_FALSE(empty->Next(entry));
    EXPECT_EQ(GetLastError(), err::Success);
    EXPECT_EQ(Open("missing"), nullptr);
    EXPECT_EQ(GetLastError(), err::PathNotFound);
    // A link is never the root of a walk, only a drive's own directory may be reached through one.
    EXPECT_EQ(Open("d/dirlink"), nullptr);
    EXPECT_TRUE(linuxFileSystem().OpenTreeDirectory(tree.drive(""), ListDetail::Full));
}

TEST_F(DirHandleTest, DeletionKeepsReadOnlyUnlessAllowedAndNeverFollowsLinks)
{
    for (const ListDetail detail : { ListDetail::Full, ListDetail::KindOnly }) {
        SCOPED_TRACE(int(detail));
        auto dir = Open("d", detail);
        ASSERT_TRUE(dir);
        for (const auto& [name, entry] : List(*dir)) {
            SCOPED_TRACE(name);
            if (name == "sub") {
                EXPECT_FALSE(dir->DeleteEntry(entry, true)); // a directory is not a file
                continue;
            }
            if (name == "ro") {
                EXPECT_FALSE(dir->DeleteEntry(entry, false));
                EXPECT_EQ(GetLastError(), err::AccessDenied);
                EXPECT_TRUE(tree.exists("d/ro"));
                if (detail == ListDetail::Full) continue;
            }
            EXPECT_TRUE(dir->DeleteEntry(entry, true));
            EXPECT_FALSE(tree.exists("d/" + name));
        }
        EXPECT_TRUE(tree.exists("d/sub")); // the link's target directory
        if (tree.exists("d/ro")) tree.setReadOnly("d/ro", false); // so the next round can write it again
        SetUp();
    }
}

TEST_F(DirHandleTest, ChildrenAreOnlyTheDirectoriesListed)
{
    tree.mkdir("d/other");
    auto dir = Open("d");
    ASSERT_TRUE(dir);
    auto entries = List(*dir);
    ChildOpen status;
    auto sub = dir->OpenChild(entries.at("sub"), status);
    ASSERT_TRUE(sub);
    EXPECT_EQ(status, ChildOpen::Opened);
    EXPECT_TRUE(sub->OpenParent(dir->Identity()));
    EXPECT_EQ(sub->OpenParent(sub->Identity()), nullptr); // not what it was expected to be
    EXPECT_EQ(dir->OpenChild(entries.at("dirlink"), status), nullptr);
    EXPECT_EQ(status, ChildOpen::Changed);

    // Swapped for another directory after the listing: refused, and not removed in its place either.
    ASSERT_EQ(std::rename(tree.linux("d/sub").c_str(), tree.linux("moved").c_str()), 0);
    ASSERT_EQ(std::rename(tree.linux("d/other").c_str(), tree.linux("d/sub").c_str()), 0);
    EXPECT_EQ(dir->OpenChild(entries.at("sub"), status), nullptr);
    EXPECT_EQ(status, ChildOpen::Changed);
    FindData walked = entries.at("sub");
    walked.fileId = sub->Identity().inode;
    EXPECT_FALSE(dir->RemoveSubdirectory(walked, true));
    EXPECT_TRUE(tree.exists("d/sub"));

    tree.mkdir("d/mnt");
    test::ScopedTmpfsMount mount(tree.linux("d/mnt"));
    if (!mount.mounted()) GTEST_SKIP() << "mounting is not permitted here";
    for (const ListDetail detail : { ListDetail::Full, ListDetail::KindOnly }) {
        auto again = Open("d", detail);
        const FindData mnt = List(*again).at("mnt");
        EXPECT_EQ(mnt.mountPoint, detail == ListDetail::Full);
        EXPECT_EQ(again->OpenChild(mnt, status), nullptr);
        EXPECT_EQ(status, ChildOpen::MountPoint);
    }
}

TEST_F(DirHandleTest, AReplacementForAFreeNameNeverReplacesWhatAppearedThere)
{
    auto dir = Open("d");
    ASSERT_TRUE(dir);
    for (const bool fifo : { true, false }) {
        SCOPED_TRACE(fifo);
        const std::string name = fifo ? "late-fifo" : "late-file";
        // Listed as free, then taken by a FIFO or a file before the copy is committed.
        auto file = dir->CreateReplacement(name, true);
        ASSERT_TRUE(file);
        ASSERT_EQ(file->Write("new", 3), 3);
        if (fifo)
            tree.fifo("d/" + name);
        else
            tree.write("d/" + name, "old");
        ReplaceOptions options;
        EXPECT_EQ(dir->CommitReplacement(std::move(file), name, options), !fifo);
        if (fifo) {
            EXPECT_EQ(GetLastError(), err::CannotAccessFile);
        }
        struct stat st { };
        ASSERT_EQ(::lstat(tree.linux("d/" + name).c_str(), &st), 0);
        EXPECT_EQ(S_ISFIFO(st.st_mode), fifo);
        if (!fifo) {
            EXPECT_EQ(tree.read("d/" + name), "new"); // a regular file is replaced the checked way
        }
    }
}

} // namespace
} // namespace zelo
