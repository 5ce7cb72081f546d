#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/time.h"
#include "tests/support/forwarding_fs.h"
#include "tests/support/ordinary_user.h"
#include "tests/support/refused_calls.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <map>
#include <set>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace zelo {
namespace {

using test::TempTree;

class FileSystemTest : public ::testing::Test {
protected:
    // Every entry a search returns, by name.
    std::map<std::string, FindData> search(const std::string& pattern, uint32_t mask = kAttrMaskAll)
    {
        std::map<std::string, FindData> out;
        FindData data;
        auto handle = files.FindFirst(pattern, mask, data);
        if (!handle) return out;
        do
            out[data.name] = data;
        while (handle->Next(data));
        return out;
    }

    std::set<std::string> linuxNames(const std::string& relative) const
    {
        std::set<std::string> names;
        DIR* dir = ::opendir(tree.linux(relative).c_str());
        while (const dirent* entry = dir ? ::readdir(dir) : nullptr) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.insert(name);
        }
        if (dir) ::closedir(dir);
        return names;
    }

    TempTree tree;
    FileSystem& files = linuxFileSystem();
};

TEST_F(FileSystemTest, ReadOnlyHoldsEvenForRoot)
{
    tree.write("ro.txt", "keep");
    tree.setReadOnly("ro.txt", true);
    tree.mkdir("rodir");
    tree.setReadOnly("rodir", true);
    tree.write("tmpsrc", "new");

    EXPECT_FALSE(files.DeleteFile(tree.drive("ro.txt")));
    EXPECT_EQ(GetLastError(), err::AccessDenied);
    for (OpenMode mode : { OpenMode::ReadWrite, OpenMode::CreateAlways, OpenMode::OpenAlways }) {
        EXPECT_EQ(files.Open(tree.drive("ro.txt"), mode), nullptr);
        EXPECT_EQ(GetLastError(), err::AccessDenied);
    }
    EXPECT_FALSE(files.CopyFile(tree.drive("tmpsrc"), tree.drive("ro.txt"), false));
    EXPECT_EQ(GetLastError(), err::AccessDenied);
    EXPECT_EQ(files.CreateReplacement(tree.drive("ro.txt")), nullptr);
    EXPECT_EQ(GetLastError(), err::AccessDenied);
    EXPECT_FALSE(files.RemoveDirectory(tree.drive("rodir")));
    EXPECT_EQ(GetLastError(), err::AccessDenied);
    EXPECT_EQ(tree.read("ro.txt"), "keep");
    EXPECT_NE(files.Open(tree.drive("ro.txt"), OpenMode::Read), nullptr); // reading is fine

    // Cleared, the same calls succeed.
    ASSERT_TRUE(files.SetAttributes(tree.drive("ro.txt"), kAttrArchive));
    EXPECT_TRUE(files.CommitReplacement(files.CreateReplacement(tree.drive("ro.txt")), tree.drive("ro.txt"), {}));
    EXPECT_TRUE(files.DeleteFile(tree.drive("ro.txt")));
    EXPECT_FALSE(tree.exists("ro.txt"));
    ASSERT_TRUE(files.SetAttributes(tree.drive("rodir"), kAttrDirectory));
    EXPECT_TRUE(files.RemoveDirectory(tree.drive("rodir")));
}

TEST_F(FileSystemTest, DeleteTakesFilesLinksAndSpecialFilesButNotDirectories)
{
    tree.write("target.txt", "t");
    tree.mkdir("dir");
    tree.symlink("target.txt", "link");
    tree.symlink("dir", "dirlink");
    tree.fifo("pipe");
    EXPECT_FALSE(files.DeleteFile(tree.drive("dir")));
    EXPECT_EQ(GetLastError(), err::AccessDenied);
    EXPECT_TRUE(files.DeleteFile(tree.drive("link")));
    EXPECT_TRUE(files.DeleteFile(tree.drive("pipe")));
    EXPECT_TRUE(files.RemoveDirectory(tree.drive("dirlink"))); // the link, not the directory
    EXPECT_TRUE(tree.exists("target.txt"));
    EXPECT_TRUE(tree.exists("dir"));
    EXPECT_FALSE(files.DeleteFile(tree.drive("gone")));
    EXPECT_EQ(GetLastError(), err::FileNotFound);
    EXPECT_FALSE(files.DeleteFile(tree.drive("nodir\\gone")));
    EXPECT_EQ(GetLastError(), err::PathNotFound);
}

TEST_F(FileSystemTest, MoveNeverReplaces)
{
    tree.write("a.txt", "A");
    tree.write("b.txt", "B");
    EXPECT_FALSE(files.MoveFile(tree.drive("a.txt"), tree.drive("b.txt")));
    EXPECT_EQ(GetLastError(), err::AlreadyExists);
    EXPECT_EQ(tree.read("a.txt"), "A");
    EXPECT_EQ(tree.read("b.txt"), "B");

    // A second name of the same file is still another entry.
    ASSERT_EQ(::link(tree.linux("a.txt").c_str(), tree.linux("hard.txt").c_str()), 0);
    EXPECT_FALSE(files.MoveFile(tree.drive("a.txt"), tree.drive("hard.txt")));
    EXPECT_EQ(GetLastError(), err::AlreadyExists);
    EXPECT_TRUE(tree.exists("a.txt"));

    EXPECT_TRUE(files.MoveFile(tree.drive("a.txt"), tree.drive("A.TXT"))); // case only
    EXPECT_EQ(linuxNames(""), (std::set<std::string> { "A.TXT", "b.txt", "hard.txt" }));
    EXPECT_TRUE(files.MoveFile(tree.drive("b.txt"), tree.drive("b.txt"))); // onto itself
    EXPECT_EQ(tree.read("b.txt"), "B");

    tree.mkdir("d1");
    tree.mkdir("d2");
    EXPECT_FALSE(files.MoveFile(tree.drive("d1"), tree.drive("d2")));
    EXPECT_EQ(GetLastError(), err::AlreadyExists);
    EXPECT_TRUE(files.MoveFile(tree.drive("d1"), tree.drive("d2\\inner")));
    EXPECT_TRUE(tree.exists("d2/inner"));
    EXPECT_FALSE(files.MoveFile(tree.drive("missing"), tree.drive("x")));
    EXPECT_EQ(GetLastError(), err::FileNotFound);
}

TEST_F(FileSystemTest, CopyWithoutOverwriteFailsWith80)
{
    tree.write("src.txt", "source bytes");
    tree.write("dst.txt", "old");
    tree.setTime("src.txt", 1'000'000'000);
    EXPECT_FALSE(files.CopyFile(tree.drive("src.txt"), tree.drive("dst.txt"), true));
    EXPECT_EQ(GetLastError(), err::FileExists);
    EXPECT_EQ(tree.read("dst.txt"), "old");

    ASSERT_TRUE(files.CopyFile(tree.drive("src.txt"), tree.drive("new.txt"), true));
    EXPECT_EQ(tree.read("new.txt"), "source bytes");
    ASSERT_TRUE(files.CopyFile(tree.drive("src.txt"), tree.drive("dst.txt"), false));
    EXPECT_EQ(tree.read("dst.txt"), "source bytes");
    struct stat st { };
    ASSERT_EQ(::stat(tree.linux("dst.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1'000'000'000);
    EXPECT_EQ(linuxNames(""), (std::set<std::string> { "src.txt", "dst.txt", "new.txt" })); // no temporary left

    // Attributes travel with the copy: Hidden in user.DOSATTRIB, ReadOnly in the mode.
    tree.setDosAttrib("src.txt", kAttrHidden | kAttrArchive);
    tree.setReadOnly("src.txt", true);
    ASSERT_TRUE(files.CopyFile(tree.drive("src.txt"), tree.drive("copy.txt"), true));
    EXPECT_EQ(files.GetAttributes(tree.drive("copy.txt")), kAttrHidden | kAttrArchive | kAttrReadOnly);

    tree.fifo("pipe");
    EXPECT_FALSE(files.CopyFile(tree.drive("pipe"), tree.drive("pipe2"), true));
    EXPECT_EQ(GetLastError(), err::CannotAccessFile);
    EXPECT_FALSE(tree.exists("pipe2"));
    // The name is taken, whatever it names.
    EXPECT_FALSE(files.CopyFile(tree.drive("src.txt"), tree.drive("pipe"), true));
    EXPECT_EQ(GetLastError(), err::FileExists);
    // Overwriting never turns a FIFO into a file, neither by copy nor by a replacement.
    EXPECT_FALSE(files.CopyFile(tree.drive("src.txt"), tree.drive("pipe"), false));
    EXPECT_EQ(GetLastError(), err::CannotAccessFile);
    EXPECT_EQ(files.CreateReplacement(tree.drive("pipe")), nullptr);
    EXPECT_EQ(GetLastError(), err::CannotAccessFile);
    EXPECT_EQ(::lstat(tree.linux("pipe").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    // setuid, setgid and sticky never travel.
    ASSERT_EQ(::chmod(tree.linux("src.txt").c_str(), 07755), 0);
    ASSERT_TRUE(files.CopyFile(tree.drive("src.txt"), tree.drive("plain"), true));
    ASSERT_EQ(::stat(tree.linux("plain").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
}

TEST_F(FileSystemTest, SpecialFilesAndDirectoriesAreNeverOpened)
{
    tree.fifo("pipe"); // opening it for reading would block without a writer
    tree.mkdir("dir");
    for (OpenMode mode : { OpenMode::Read, OpenMode::ReadWrite, OpenMode::CreateAlways }) {
        EXPECT_EQ(files.Open(tree.drive("pipe"), mode), nullptr);
        EXPECT_EQ(GetLastError(), err::CannotAccessFile);
        EXPECT_EQ(files.Open(tree.drive("dir"), mode), nullptr);
        EXPECT_EQ(GetLastError(), err::AccessDenied);
    }
    EXPECT_EQ(files.Open(tree.drive("missing"), OpenMode::Read), nullptr);
    EXPECT_EQ(GetLastError(), err::FileNotFound);
    EXPECT_EQ(files.Open(tree.drive("nodir\\new"), OpenMode::CreateAlways), nullptr);
    EXPECT_EQ(GetLastError(), err::PathNotFound);
    EXPECT_EQ(files.Open("Q:\\unmapped", OpenMode::Read), nullptr);
    EXPECT_EQ(GetLastError(), err::PathNotFound);
}

// A rewrite works on the file it opened: a name swapped for a link afterwards (to a file the user may
// not read) is neither read nor replaced. What cannot be opened fails with the open's codes.
TEST_F(FileSystemTest, RewriteKeepsToTheFileItOpened)
{
    tree.write("secret", "root only");
    tree.write("d/f.txt", "mine");
    auto target = files.OpenForRewrite(tree.drive("d\\f.txt"));
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->Info().size, 4u);
    ASSERT_EQ(::rename(tree.linux("d/f.txt").c_str(), tree.linux("d/old.txt").c_str()), 0);
    tree.symlink("../secret", "d/f.txt");
    char text[16] = {};
    EXPECT_EQ(target->Content().Read(text, sizeof text), 4);
    EXPECT_EQ(std::string(text), "mine");
    auto replacement = target->CreateReplacement();
    ASSERT_NE(replacement, nullptr);
    EXPECT_EQ(replacement->Write("new", 3), 3);
    EXPECT_FALSE(target->CommitReplacement(std::move(replacement)));
    EXPECT_EQ(GetLastError(), err::SharingViolation);
    EXPECT_EQ(tree.read("secret"), "root only");
    EXPECT_EQ(tree.read("d/old.txt"), "mine");
    EXPECT_EQ(linuxNames("d"), (std::set<std::string> { "f.txt", "old.txt" }));

    tree.fifo("pipe");
    tree.symlink("d", "dirlink");
    const struct {
        const char* name;
        uint32_t code;
    } refused[] = { { "pipe", err::CannotAccessFile }, { "dirlink", err::AccessDenied },
        { "d\\gone", err::FileNotFound }, { "nodir\\gone", err::PathNotFound } };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(files.OpenForRewrite(tree.drive(r.name)), nullptr);
        EXPECT_EQ(GetLastError(), r.code);
    }
}

TEST_F(FileSystemTest, OpenModesCreateTruncateAndKeep)
{
    tree.write("f", "0123456789");
    auto check = [&](OpenMode mode, const char* name, const std::string& expectedSize) {
        auto file = files.Open(tree.drive(name), mode);
        ASSERT_NE(file, nullptr) << name;
        EXPECT_EQ(std::to_string(file->Size()), expectedSize) << name;
    };
    check(OpenMode::OpenAlways, "f", "10");
    check(OpenMode::ReadWrite, "f", "10");
    check(OpenMode::OpenAlways, "g", "0");
    check(OpenMode::CreateAlways, "f", "0");
    EXPECT_EQ(files.Open(tree.drive("f"), OpenMode::CreateNew), nullptr);
    EXPECT_EQ(GetLastError(), err::FileExists);
    EXPECT_EQ(files.Open(tree.drive("h"), OpenMode::ReadWrite), nullptr);
    EXPECT_EQ(GetLastError(), err::FileNotFound);
}

TEST_F(FileSystemTest, FindFirstReportsEntriesAsTheSystemDoes)
{
    tree.mkdir("d/sub");
    tree.mkdir("d/.hiddendir");
    tree.write("d/plain.txt", "12345");
    tree.write("d/.dot", "");
    tree.write("d/sys.txt", "");
    tree.setDosAttrib("d/sys.txt", kAttrSystem);
    tree.write(std::string("d/bad\xff\xfe.txt"), "x");
    tree.write("d/back\\slash", "x");
    tree.setTime("d/plain.txt", 1'141'549'625);
    // Every name is listed, in drive form: bytes that are no UTF-8 and "\" as their stand-ins.
    const std::string bad = "bad\xEF\x9F\xBF\xEF\x9F\xBE.txt";
    const std::string slash = "back\xEF\x81\x9Cslash";

    auto all = search(tree.drive("d\\*.*"));
    EXPECT_EQ(all.size(), 9u); // . .. sub .hiddendir plain.txt .dot sys.txt bad... back\slash
    ASSERT_TRUE(all.count("."));
    ASSERT_TRUE(all.count(".."));
    EXPECT_EQ(all["."].attributes & kAttrDirectory, uint32_t(kAttrDirectory));
    EXPECT_EQ(all["."].attributes & kAttrHidden, 0u);
    EXPECT_TRUE(all.count(bad));
    EXPECT_TRUE(all.count(slash));
    EXPECT_EQ(all["plain.txt"].size(), 5u);
    EXPECT_EQ(all["plain.txt"].lastWriteTime, FileTimeFromUnix(1'141'549'625));
    EXPECT_EQ(all["sys.txt"].attributes, uint32_t(kAttrSystem));

    struct MaskCase {
        uint32_t mask;
        std::set<std::string> names;
    };
    const MaskCase masks[] = {
        { 0, { "plain.txt", bad, slash } },
        { kAttrHidden, { "plain.txt", bad, slash, ".dot" } },
        { kAttrSystem, { "plain.txt", bad, slash, "sys.txt" } },
        { kAttrDirectory, { ".", "..", "sub", "plain.txt", bad, slash } },
        { kAttrDirectory | kAttrHidden, { ".", "..", "sub", ".hiddendir", "plain.txt", ".dot", bad, slash } },
    };
    for (const MaskCase& m : masks) {
        std::set<std::string> names;
        for (const auto& [name, data] : search(tree.drive("d\\*"), m.mask))
            names.insert(name);
        EXPECT_EQ(names, m.names) << "mask " << m.mask;
    }

    // One name without wildcards is an exact lookup.
    FindData one;
    ASSERT_NE(files.FindFirst(tree.drive("d\\plain.txt"), kAttrMaskAll, one), nullptr);
    EXPECT_EQ(one.name, "plain.txt");
    EXPECT_EQ(one.attributes, uint32_t(kAttrArchive));
    EXPECT_EQ(files.FindFirst(tree.drive("d\\sys.txt"), 0, one), nullptr); // filtered: System not in the mask
    EXPECT_EQ(GetLastError(), err::FileNotFound);
}

TEST_F(FileSystemTest, FindFirstFailures)
{
    tree.mkdir("empty");
    FindData data;
    struct Case {
        std::string pattern;
        uint32_t error;
    };
    const Case cases[] = {
        { tree.drive("empty\\*.txt"), err::FileNotFound },
        { tree.drive("empty\\nothing"), err::FileNotFound },
        { tree.drive("missing\\*.*"), err::PathNotFound },
        { tree.drive("missing\\file"), err::PathNotFound },
        { "Q:\\*.*", err::PathNotFound },
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(files.FindFirst(c.pattern, kAttrMaskAll, data), nullptr) << c.pattern;
        EXPECT_EQ(GetLastError(), c.error) << c.pattern;
    }
}

TEST_F(FileSystemTest, TheDriveRootHasNoDotEntries)
{
    // However the root is written: its ".." names the directory above the drive.
    tree.write("top.txt", "x");
    tree.mkdir("a");
    for (const std::string pattern : { "C:\\*.*", "C:\\a\\..\\*.*", "C:\\.\\*" }) {
        std::set<std::string> names;
        for (const auto& [name, data] : search(pattern))
            names.insert(name);
        EXPECT_EQ(names, (std::set<std::string> { "top.txt", "a" })) << pattern;
    }
    FindData data;
    for (const std::string name : { "C:\\..", "C:\\a\\..\\..", "C:\\a\\..\\." }) {
        EXPECT_EQ(files.FindFirst(name, kAttrMaskAll, data), nullptr) << name;
        EXPECT_EQ(GetLastError(), err::FileNotFound) << name;
    }
    EXPECT_NE(files.FindFirst("C:\\a\\..", kAttrMaskAll, data), nullptr); // a's "..": the root, inside the drive
}

TEST_F(FileSystemTest, SizeHalvesOfAFileBeyondFourGigabytes)
{
    const int fd = ::open(tree.linux("big").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 5'000'000'000), 0); // sparse: no disk space used
    ::close(fd);
    FindData data;
    ASSERT_NE(files.FindFirst(tree.drive("*"), kAttrMaskAll, data), nullptr);
    EXPECT_EQ(data.sizeHigh, 1u);
    EXPECT_EQ(data.sizeLow, 705'032'704u);
    EXPECT_EQ(data.size(), 5'000'000'000ull);
}

TEST_F(FileSystemTest, ReplacementsLeaveNothingBehind)
{
    tree.write("doc.txt", "old");
    ::chmod(tree.linux("doc.txt").c_str(), 0640);
    auto first = files.CreateReplacement(tree.drive("doc.txt"));
    auto second = files.CreateReplacement(tree.drive("doc.txt"));
    ASSERT_TRUE(first && second);
    ASSERT_EQ(first->Write("new", 3), 3);
    second.reset();

    ReplaceOptions options;
    options.permissionsFrom = tree.drive("doc.txt");
    ASSERT_TRUE(files.CommitReplacement(std::move(first), tree.drive("doc.txt"), options));
    EXPECT_EQ(tree.read("doc.txt"), "new");
    struct stat st { };
    ASSERT_EQ(::stat(tree.linux("doc.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u); // the original's permission bits
    EXPECT_EQ(linuxNames(""), std::set<std::string> { "doc.txt" });
}

// Permission bits that leave out the owner's write bit still let the attribute travel: it is
// written before the bits are applied (an ordinary user needs write permission for it).
TEST_F(FileSystemTest, ReplacementTakesTheAttributeOfAReadOnlyModelForAnOrdinaryUser)
{
    tree.write("model.txt", "m");
    tree.setDosAttrib("model.txt", kAttrHidden | kAttrArchive);
    tree.setReadOnly("model.txt", true);
    const auto replaced = test::RunAsOrdinaryUser(tree.root(), [&]() {
        auto file = files.CreateReplacement(tree.drive("out.txt"));
        if (!file || file->Write("new", 3) != 3) return false;
        ReplaceOptions options;
        options.permissionsFrom = tree.drive("model.txt");
        options.keepDosAttributes = true;
        return files.CommitReplacement(std::move(file), tree.drive("out.txt"), options);
    });
    if (!replaced) GTEST_SKIP() << "no ordinary user to run as";
    EXPECT_TRUE(*replaced);
    EXPECT_EQ(tree.read("out.txt"), "new");
    EXPECT_EQ(files.GetAttributes(tree.drive("out.txt")), kAttrReadOnly | kAttrHidden | kAttrArchive);
    EXPECT_EQ(linuxNames(""), (std::set<std::string> { "model.txt", "out.txt" }));
}

// A replaced file hands its extended attributes on, but not Hidden/System/Archive (the new file's own) nor
// file capabilities (privileges never travel). A medium too full or failing to take them fails the
// replacement and leaves the old file; a file system that keeps none lets it through without them.
TEST_F(FileSystemTest, AReplacedFileHandsOnItsExtendedAttributes)
{
    const std::string path = tree.linux("f");
    // CAP_NET_BIND_SERVICE, permitted (VFS_CAP_REVISION_2, little-endian); only root may set it.
    const unsigned char capability[20] = { 0, 0, 0, 2, 0, 4 };
    const struct {
        int refused; // the errno fsetxattr fails with (0: none)
        bool done;
    } cases[] = { { 0, true }, { ENOTSUP, true }, { EPERM, true }, { ENOSYS, true }, { ENOSPC, false },
        { EDQUOT, false }, { EIO, false } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refused);
        tree.write("f", "old");
        tree.setDosAttrib("f", kAttrHidden | kAttrArchive);
        ASSERT_EQ(::setxattr(path.c_str(), "user.kept", "v", 1, 0), 0);
        const bool privileged = ::setxattr(path.c_str(), "security.capability", capability, sizeof capability, 0) == 0;
        const uint32_t code = c.refused ? SetLastErrorFromErrno(c.refused) : 0;
        const auto step = [&] {
            auto file = files.CreateReplacement(tree.drive("f"));
            return file && file->Write("new", 3) == 3
                && files.CommitReplacement(std::move(file), tree.drive("f"), ReplaceOptions {});
        };
        SetLastError(0);
        const auto done
            = c.refused ? test::RunInThreadWithRefusedCalls({ SYS_fsetxattr }, c.refused, step) : std::optional(step());
        if (!done) GTEST_SKIP() << "no seccomp filter";
        EXPECT_EQ(*done, c.done);
        EXPECT_EQ(tree.read("f"), c.done ? "new" : "old");
        EXPECT_EQ(linuxNames(""), std::set<std::string> { "f" });
        if (!c.done) {
            EXPECT_EQ(GetLastError(), code);
            continue;
        }
        char value[32];
        EXPECT_EQ(::getxattr(path.c_str(), "user.kept", value, sizeof value), c.refused ? -1 : 1);
        EXPECT_LT(::getxattr(path.c_str(), "security.capability", value, sizeof value), 0) << privileged;
        EXPECT_EQ(files.GetAttributes(tree.drive("f")), uint32_t(kAttrArchive));
    }
}

// Where the kernel refuses renameat2's flag (NFS, some FUSE: EINVAL) or has no copy_file_range for
// the pair (ENOSYS, EXDEV), the fallbacks still never replace an existing name and move every byte.
TEST_F(FileSystemTest, FallbacksWhereTheKernelRefusesACall)
{
    tree.writeSized("src.bin", (9u << 20) + 77); // more than one kernel chunk, and a tail
    for (const char* name : { "a", "b", "taken", "h/x", "h/y", "h2/x" })
        tree.write(name, name);
    tree.mkdir("dir");
    auto h = files.OpenTreeDirectory(tree.drive("h") + "\\", ListDetail::Full);
    auto h2 = files.OpenTreeDirectory(tree.drive("h2") + "\\", ListDetail::Full);
    ASSERT_TRUE(h && h2);
    const auto entry = [&](const std::string& name) {
        FindData found;
        EXPECT_TRUE(h->Lookup(name, found));
        return found;
    };
    const struct {
        const char* what;
        long call;
        int error;
        std::function<bool()> step;
        uint32_t code; // 0: succeeds
        const char* made; // holds src.bin's bytes, or the name moved there
    } cases[] = {
        { "move to a free name", SYS_renameat2, EINVAL,
            [&] { return files.MoveFile(tree.drive("a"), tree.drive("a2")); }, 0, "a2" },
        { "move onto a taken name", SYS_renameat2, ENOSYS,
            [&] { return files.MoveFile(tree.drive("b"), tree.drive("taken")); }, err::AlreadyExists, nullptr },
        { "move a folder onto a taken name", SYS_renameat2, EINVAL,
            [&] { return files.MoveFile(tree.drive("dir"), tree.drive("taken")); }, err::AlreadyExists, nullptr },
        { "copy to a free name only", SYS_renameat2, EINVAL,
            [&] { return files.CopyFile(tree.drive("src.bin"), tree.drive("c.bin"), true); }, 0, "c.bin" },
        { "copy onto a taken name only", SYS_renameat2, EINVAL,
            [&] { return files.CopyFile(tree.drive("src.bin"), tree.drive("taken"), true); }, err::FileExists,
            nullptr },
        { "handle move onto a taken name", SYS_renameat2, EINVAL, [&] { return h->MoveEntryTo(entry("x"), *h2); },
            err::AlreadyExists, nullptr },
        { "handle move to a free name", SYS_renameat2, EINVAL, [&] { return h->MoveEntryTo(entry("y"), *h2); }, 0,
            "h2/y" },
        { "copy without copy_file_range", SYS_copy_file_range, ENOSYS,
            [&] { return files.CopyFile(tree.drive("src.bin"), tree.drive("d.bin"), false); }, 0, "d.bin" },
        { "copy across file systems", SYS_copy_file_range, EXDEV,
            [&] { return files.CopyFile(tree.drive("src.bin"), tree.drive("e.bin"), false); }, 0, "e.bin" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        const auto done = test::RunInThreadWithRefusedCalls({ c.call }, c.error, c.step);
        if (!done) GTEST_SKIP() << "no seccomp filter";
        EXPECT_EQ(*done, c.code == 0);
        if (c.code != 0) {
            EXPECT_EQ(GetLastError(), c.code);
        }
        const std::string made = c.made ? c.made : "";
        if (made.ends_with(".bin")) {
            EXPECT_TRUE(tree.read(made) == tree.read("src.bin"));
        } else if (!made.empty()) {
            EXPECT_TRUE(tree.exists(made));
        }
    }
    EXPECT_EQ(tree.read("taken"), "taken");
    EXPECT_EQ(tree.read("h2/x"), "h2/x");
    EXPECT_FALSE(tree.exists("a"));
    EXPECT_TRUE(tree.exists("b") && tree.exists("dir") && tree.exists("h/x"));
}

TEST_F(FileSystemTest, CopyFromMovesEveryByte)
{
    const uint64_t size = 5 * 1024 * 1024 + 123; // several chunks and a tail
    tree.writeSized("src.bin", size);
    tree.mkdir("out");
    auto in = files.Open(tree.drive("src.bin"), OpenMode::Read);
    auto out = files.Open(tree.drive("out\\dst.bin"), OpenMode::CreateNew);
    ASSERT_TRUE(in && out);
    uint64_t total = 0;
    for (;;) {
        const int64_t n = out->CopyFrom(*in, 1 << 20);
        ASSERT_GE(n, 0);
        if (n == 0) break;
        EXPECT_LE(n, 1 << 20);
        total += uint64_t(n);
    }
    EXPECT_EQ(total, size);
    out.reset();
    EXPECT_EQ(tree.read("out/dst.bin"), tree.read("src.bin"));
}

TEST_F(FileSystemTest, CopyFromFallsBackWhenTheKernelCannotCopy)
{
    // /proc files report size 0 and copy_file_range gives 0 bytes on them; the bytes must still come.
    setDriveMap(DriveMap::parse("C=" + tree.root() + ";P=/proc"));
    auto in = files.Open("P:\\self\\status", OpenMode::Read);
    auto out = files.Open(tree.drive("status.txt"), OpenMode::CreateAlways);
    ASSERT_TRUE(in && out);
    int64_t total = 0, n = 0;
    while ((n = out->CopyFrom(*in, 4096)) > 0)
        total += n;
    EXPECT_EQ(n, 0);
    out.reset();
    EXPECT_GT(total, 0);
    EXPECT_NE(tree.read("status.txt").find("Name:"), std::string::npos);
}

TEST_F(FileSystemTest, ReadAndWriteLoopUntilDone)
{
    auto out = files.Open(tree.drive("f"), OpenMode::CreateAlways);
    ASSERT_NE(out, nullptr);
    std::string big(3 * 1024 * 1024 + 7, 'z');
    EXPECT_EQ(out->Write(big.data(), big.size()), int64_t(big.size()));
    ASSERT_TRUE(out->Seek(0));
    std::string back(big.size() + 100, '\0');
    EXPECT_EQ(out->Read(back.data(), back.size()), int64_t(big.size())); // all, then the end
    EXPECT_EQ(out->Read(back.data(), back.size()), 0);
    const FileTime when = FileTimeFromUnix(1'200'000'000);
    ASSERT_TRUE(out->SetTimes(nullptr, nullptr, &when));
    out.reset();
    FindData data;
    ASSERT_NE(files.FindFirst(tree.drive("f"), kAttrMaskAll, data), nullptr);
    EXPECT_EQ(data.lastWriteTime, when);
}

TEST_F(FileSystemTest, DirectoriesCreateAndRemoveWithTheirCodes)
{
    EXPECT_TRUE(files.CreateDirectory(tree.drive("new")));
    EXPECT_FALSE(files.CreateDirectory(tree.drive("new")));
    EXPECT_EQ(GetLastError(), err::AlreadyExists);
    EXPECT_FALSE(files.CreateDirectory(tree.drive("no\\parent")));
    EXPECT_EQ(GetLastError(), err::PathNotFound);
    tree.write("new/file", "x");
    EXPECT_FALSE(files.RemoveDirectory(tree.drive("new")));
    EXPECT_EQ(GetLastError(), err::DirNotEmpty);
    EXPECT_FALSE(files.RemoveDirectory(tree.drive("new\\file")));
    EXPECT_EQ(GetLastError(), err::NotADirectory);

    char saved[4096];
    ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
    tree.mkdir("here");
    ASSERT_TRUE(files.SetCurrentDirectory(tree.drive("here")));
    EXPECT_EQ(files.GetCurrentDirectory(), "C:\\here");
    EXPECT_FALSE(files.RemoveDirectory(tree.drive("here")));
    EXPECT_EQ(GetLastError(), err::CurrentDirectory);
    EXPECT_TRUE(tree.exists("here"));
    EXPECT_FALSE(files.SetCurrentDirectory(tree.drive("nothere")));
    ASSERT_EQ(::chdir(saved), 0);
    EXPECT_TRUE(files.RemoveDirectory(tree.drive("here")));
}

TEST_F(FileSystemTest, FileTimesAndSync)
{
    tree.write("f", "x");
    const FileTime access = FileTimeFromUnix(1'100'000'000), write = FileTimeFromUnix(1'100'000'500);
    ASSERT_TRUE(files.SetFileTimes(tree.drive("f"), nullptr, &access, &write));
    FindData data;
    ASSERT_NE(files.FindFirst(tree.drive("f"), kAttrMaskAll, data), nullptr);
    EXPECT_EQ(data.lastAccessTime, access);
    EXPECT_EQ(data.lastWriteTime, write);
    ASSERT_TRUE(files.SetFileTimes(tree.drive("f"), nullptr, nullptr, nullptr)); // leaves them alone
    ASSERT_NE(files.FindFirst(tree.drive("f"), kAttrMaskAll, data), nullptr);
    EXPECT_EQ(data.lastWriteTime, write);
    EXPECT_TRUE(files.SyncFileSystem(tree.drive("")));
    // A FIFO at the path is never opened (inotify sees every open): its directory is synced instead.
    tree.fifo("pipe");
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, tree.linux("pipe").c_str(), IN_OPEN), 0);
    EXPECT_TRUE(files.SyncFileSystem(tree.drive("pipe")));
    char events[256];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "the FIFO was opened";
    ::close(watch);
    EXPECT_FALSE(files.SetFileTimes(tree.drive("missing"), nullptr, &access, &write));
    EXPECT_EQ(GetLastError(), err::FileNotFound);
}

TEST_F(FileSystemTest, ScopedFileSystemInstallsAndRestores)
{
    struct Counting : test::ForwardingFileSystem {
        using ForwardingFileSystem::ForwardingFileSystem;
        uint32_t GetAttributes(const std::string&) override { return 0x1234; }
    } fake(linuxFileSystem());
    // The default routes each path to Linux or to a share reached directly.
    FileSystem* const routing = &fs();
    {
        ScopedFileSystem scope(fake);
        EXPECT_EQ(fs().GetAttributes("C:\\x"), 0x1234u);
    }
    EXPECT_EQ(&fs(), routing);
}

} // namespace
} // namespace zelo
