// Single-file copy: blocks and bar steps, times, safe replacement, stop, failures; date comparison.
#include "engine/file_copy.h"
#include "engine/formats.h"
#include "model/state.h"
#include "platform/filesystem.h"
#include "platform/time.h"
#include "tests/support/fake_ui.h"
#include "tests/support/faulty_fs.h"
#include "tests/support/refused_calls.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace zelo {
namespace {

class CopyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetMainState();
        tree.mkdir("src");
        tree.mkdir("dst");
    }

    // Every name in a directory of the fixture (hidden temporary files included).
    std::set<std::string> Names(const std::string& relative) const
    {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(tree.linux(relative)))
            names.insert(e.path().filename().string());
        return names;
    }

    struct stat Stat(const std::string& relative) const
    {
        struct stat st { };
        EXPECT_EQ(::lstat(tree.linux(relative).c_str(), &st), 0) << relative;
        return st;
    }

    FindData Lookup(const std::string& relative) const
    {
        FindData data;
        EXPECT_TRUE(fs().FindFirst(tree.drive(relative), kAttrMaskAll, data)) << relative;
        return data;
    }

    test::TempTree tree;
    test::FakeUi fake;
};

TEST_F(CopyTest, StepsPerBlockAndTimes)
{
    const struct {
        uint64_t size;
        int steps;
    } cases[] = {
        { 0, 0 }, { 1, 1 }, { 8192, 1 }, { 8193, 2 },
        { 9u * 1024 * 1024 + 1, 1153 }, // several chunks: one step per block all the same
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        tree.writeSized("src/f.bin", c.size);
        tree.setTime("src/f.bin", 1136214245); // 2006-01-02 15:04:05 UTC
        fake.progress = test::FakeProgress {};
        EXPECT_EQ(CopyOneFile(tree.drive("src/f.bin"), tree.drive("dst/f.bin"), 0, {}), 1);
        EXPECT_EQ(fake.progress.stepsOf[ProgressBar::Overall], c.steps);
        EXPECT_EQ(fake.progress.stepsOf[ProgressBar::Block], 0);
        EXPECT_EQ(fake.progress.label, "f.bin");
        EXPECT_EQ(tree.read("dst/f.bin"), tree.read("src/f.bin"));
        EXPECT_EQ(Lookup("dst/f.bin").lastWriteTime, Lookup("src/f.bin").lastWriteTime);
        EXPECT_EQ(Names("dst"), std::set<std::string> { "f.bin" });
    }
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(CopyTest, BlockBarForFolderWalksLeavesLabel)
{
    tree.writeSized("src/a", 20000);
    fake.progress.label = "kept";
    EXPECT_EQ(CopyOneFile(tree.drive("src/a"), tree.drive("dst/a"), 255, {}), 1);
    EXPECT_EQ(fake.progress.stepsOf[ProgressBar::Block], 3);
    EXPECT_EQ(fake.progress.stepsOf[ProgressBar::Overall], 0);
    EXPECT_EQ(fake.progress.label, "kept");
}

TEST_F(CopyTest, LongerDestinationReplacedCompletelyAndSourceBecomesArchiveOnly)
{
    tree.write("src/a.txt", "new");
    tree.writeSized("dst/a.txt", 100000);
    tree.setDosAttrib("src/a.txt", kAttrHidden | kAttrSystem | kAttrArchive);
    tree.setReadOnly("src/a.txt", true);
    EXPECT_EQ(CopyOneFile(tree.drive("src/a.txt"), tree.drive("dst/a.txt"), 0, {}), 1);
    EXPECT_EQ(tree.read("dst/a.txt"), "new");
    EXPECT_EQ(fs().GetAttributes(tree.drive("src/a.txt")), uint32_t(kAttrArchive));
    // The copy is an ordinary writable file with the source's other permission bits.
    EXPECT_EQ(fs().GetAttributes(tree.drive("dst/a.txt")) & kAttrReadOnly, 0u);
    using std::filesystem::perms;
    const perms mode = std::filesystem::status(tree.linux("dst/a.txt")).permissions();
    const perms sourceMode = std::filesystem::status(tree.linux("src/a.txt")).permissions();
    EXPECT_EQ(mode & perms::owner_write, perms::owner_write);
    EXPECT_EQ(mode & (perms::group_write | perms::others_write), perms::none);
    EXPECT_EQ(mode & perms::others_read, sourceMode & perms::others_read);
    EXPECT_NE(sourceMode & perms::others_read, perms::none);
    EXPECT_EQ(Names("dst"), std::set<std::string> { "a.txt" });
}

TEST_F(CopyTest, StopKeepsEarlierDestinationAndLeavesNoTemporaryFile)
{
    tree.writeSized("src/big", 10u * 1024 * 1024);
    tree.write("dst/big", "earlier copy");
    tree.setReadOnly("src/big", true);
    std::stop_source stop;
    fake.onPump = [&](int) { stop.request_stop(); };
    EXPECT_EQ(CopyOneFile(tree.drive("src/big"), tree.drive("dst/big"), 0, stop.get_token()), 1);
    EXPECT_EQ(fake.pumpCount, 1);
    EXPECT_EQ(tree.read("dst/big"), "earlier copy");
    EXPECT_EQ(Names("dst"), std::set<std::string> { "big" });
    // A stopped copy does not touch the source's attributes.
    EXPECT_NE(fs().GetAttributes(tree.drive("src/big")) & kAttrReadOnly, 0u);
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(CopyTest, StopDuringLastBlockOfNewFileLeavesNothing)
{
    tree.write("src/small", "abc");
    std::stop_source stop;
    fake.onPump = [&](int) { stop.request_stop(); };
    EXPECT_EQ(CopyOneFile(tree.drive("src/small"), tree.drive("dst/small"), 0, stop.get_token()), 1);
    EXPECT_TRUE(Names("dst").empty());
}

TEST_F(CopyTest, ReadOnlyDestinationRefusedBeforeWriting)
{
    tree.write("src/a", "new content");
    tree.write("dst/a", "old");
    tree.setReadOnly("dst/a", true);
    EXPECT_EQ(CopyOneFile(tree.drive("src/a"), tree.drive("dst/a"), 0, {}), -1);
    EXPECT_EQ(tree.read("dst/a"), "old");
    EXPECT_EQ(Names("dst"), std::set<std::string> { "a" });
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text,
        tree.drive("dst/a") + "  :   Accesee Denied !\n\r\n\rＲｅａｄＯｎｌｙ　に上書きしようとした");
    EXPECT_EQ(fake.progress.stepsOf[ProgressBar::Overall], 0);
}

TEST_F(CopyTest, UnopenableSourcesAreReportedWithTheirPath)
{
    tree.fifo("src/pipe");
    const struct {
        const char* name;
        const char* message; // null: any message
    } cases[] = {
        { "src/missing", "File Not Found" },
        { "src/pipe", nullptr }, // a FIFO is never opened for reading: an error, not a hang
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake.messages.clear();
        EXPECT_EQ(CopyOneFile(tree.drive(c.name), tree.drive("dst/out"), 0, {}), -1);
        ASSERT_EQ(fake.messages.size(), 1u);
        const std::string prefix = tree.drive(c.name) + "  :   ";
        EXPECT_EQ(fake.messages[0].text.substr(0, prefix.size()), prefix);
        if (c.message) {
            EXPECT_EQ(fake.messages[0].text, prefix + c.message);
        }
        EXPECT_TRUE(Names("dst").empty());
    }
}

TEST_F(CopyTest, MissingDestinationDirectoryReportedWithDestination)
{
    tree.write("src/a", "x");
    EXPECT_EQ(CopyOneFile(tree.drive("src/a"), tree.drive("nodir/a"), 0, {}), -1);
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text.rfind(tree.drive("nodir/a") + "  :   ", 0), 0u);
}

// Faults in the middle of a copy: the earlier destination survives and no temporary file is left.
TEST_F(CopyTest, FaultsHalfWayKeepEarlierDestination)
{
    struct Case {
        const char* what;
        int64_t failWriteAfter;
        int64_t failReadAfter;
        const char* denyOpen;
        const char* reportedPath;
        const char* message;
        int closeErrno = 0;
    };
    const Case cases[] = {
        { "disk full", 5 << 20, -1, "", "dst/data", "ディスク容量を越えました" },
        { "disk full in first block", 100, -1, "", "dst/data", "ディスク容量を越えました" },
        { "read failure names the source", -1, 3 << 20, "", "src/data", "エラー番号　23" },
        { "read failure in first block", -1, 100, "", "src/data", "エラー番号　23" },
        { "source access denied", -1, -1, "src", "src/data", "Accesee Denied !\n\r\n\r読み込みが許可されていません" },
        { "destination access denied", -1, -1, "dst", "dst/data",
            "Accesee Denied !\n\r\n\r書き込みが許可されていません" },
        { "close fails", -1, -1, "", "dst/data", "入出力エラーです（ディスクかネットワークの障害）", EIO },
    };
    tree.writeSized("src/data", 10u * 1024 * 1024);
    tree.setDosAttrib("src/data", kAttrHidden | kAttrArchive);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tree.write("dst/data", "earlier");
        fake.messages.clear();
        test::FaultyFileSystem faulty(linuxFileSystem());
        faulty.failWriteAfter = c.failWriteAfter;
        faulty.failReadAfter = c.failReadAfter;
        faulty.readError = 23;
        faulty.denyOpenContaining = c.denyOpen;
        faulty.closeErrno = c.closeErrno;
        {
            ScopedFileSystem scoped(faulty);
            EXPECT_EQ(CopyOneFile(tree.drive("src/data"), tree.drive("dst/data"), 0, {}), -1);
        }
        EXPECT_EQ(tree.read("dst/data"), "earlier");
        EXPECT_EQ(Names("dst"), std::set<std::string> { "data" });
        ASSERT_EQ(fake.messages.size(), 1u);
        EXPECT_EQ(fake.messages[0].text, tree.drive(c.reportedPath) + "  :   " + c.message);
        // A failed copy leaves the source's attributes alone.
        EXPECT_EQ(fs().GetAttributes(tree.drive("src/data")) & kAttrHidden, uint32_t(kAttrHidden));
    }
}

// Only a regular file or a free name is ever written: a FIFO, socket, device or directory at the
// destination is refused with its path and stays as it was. A symbolic link is replaced itself,
// never followed out to what it names.
TEST_F(CopyTest, DestinationsThatAreNotRegularFiles)
{
    tree.write("src/a", "new");
    tree.fifo("dst/pipe");
    tree.mkdir("dst/dir");
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::string sockPath = tree.linux("dst/sock");
    ASSERT_LT(sockPath.size(), sizeof address.sun_path);
    sockPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(sock);
    const bool haveDevice = ::mknod(tree.linux("dst/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    tree.fifo("outside");
    tree.symlink("../outside", "dst/link");
    const std::set<std::string> before = Names("dst");

    for (const char* name : { "dst/pipe", "dst/sock", "dst/null", "dst/dir" }) {
        if (std::string(name) == "dst/null" && !haveDevice) continue;
        SCOPED_TRACE(name);
        fake.messages.clear();
        const mode_t kind = Stat(name).st_mode & S_IFMT;
        EXPECT_EQ(CopyOneFile(tree.drive("src/a"), tree.drive(name), 0, {}), -1);
        ASSERT_EQ(fake.messages.size(), 1u);
        EXPECT_EQ(fake.messages[0].text.rfind(tree.drive(name) + "  :   ", 0), 0u);
        EXPECT_EQ(Stat(name).st_mode & S_IFMT, kind);
        EXPECT_EQ(Names("dst"), before);
    }

    fake.messages.clear();
    EXPECT_EQ(CopyOneFile(tree.drive("src/a"), tree.drive("dst/link"), 0, {}), 1);
    EXPECT_TRUE(S_ISREG(Stat("dst/link").st_mode));
    EXPECT_EQ(tree.read("dst/link"), "new");
    EXPECT_TRUE(S_ISFIFO(Stat("outside").st_mode));
    EXPECT_EQ(Names("dst"), before);
    EXPECT_TRUE(fake.messages.empty());
}

// The copy's mode is the source's & 0777 with the owner's write bit, never setuid, setgid or sticky;
// its times are the source's to the nanosecond. A replaced file hands on its owner, group and other
// extended attributes (not Hidden: the copy is Archive); another hard link of it keeps the old bytes.
TEST_F(CopyTest, ModeTimesOwnerAndAttributesOfTheCopy)
{
    tree.write("src/prog", "#!/bin/sh\n");
    ASSERT_EQ(::chmod(tree.linux("src/prog").c_str(), 06555), 0);
    const timespec times[2] = { { 1136214245, 123456789 }, { 1136214245, 987654321 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, tree.linux("src/prog").c_str(), times, 0), 0);
    tree.write("dst/prog", "old");
    tree.setDosAttrib("dst/prog", kAttrHidden | kAttrArchive);
    ASSERT_EQ(::setxattr(tree.linux("dst/prog").c_str(), "user.kept", "v", 1, 0), 0);
    ASSERT_EQ(::link(tree.linux("dst/prog").c_str(), tree.linux("dst/other").c_str()), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(tree.linux("dst/prog").c_str(), 65534, 65534), 0);
    }

    EXPECT_EQ(CopyOneFile(tree.drive("src/prog"), tree.drive("dst/prog"), 0, {}), 1);
    const struct stat copy = Stat("dst/prog");
    EXPECT_EQ(copy.st_mode & 07777, 0755u);
    EXPECT_EQ(copy.st_mtim.tv_sec, times[1].tv_sec);
    EXPECT_EQ(copy.st_mtim.tv_nsec, times[1].tv_nsec);
    if (root) {
        EXPECT_EQ(copy.st_uid, 65534u);
        EXPECT_EQ(copy.st_gid, 65534u);
    }
    char value[8] = {};
    EXPECT_EQ(::getxattr(tree.linux("dst/prog").c_str(), "user.kept", value, sizeof value), 1);
    EXPECT_EQ(fs().GetAttributes(tree.drive("dst/prog")), uint32_t(kAttrArchive));
    EXPECT_EQ(tree.read("dst/other"), "old");
    EXPECT_EQ(Names("dst"), (std::set<std::string> { "other", "prog" }));
}

// FAT and exFAT through FUSE refuse modes, owners and extended attributes (ENOSYS, EPERM,
// EOPNOTSUPP): the bytes are what counts, the copy still takes the destination's place.
TEST_F(CopyTest, FileSystemsWithoutModesStillTakeTheCopy)
{
    tree.write("src/a", "bytes");
    ASSERT_EQ(::chmod(tree.linux("src/a").c_str(), 03644), 0);
    for (int error : { ENOSYS, EPERM, EOPNOTSUPP }) {
        SCOPED_TRACE(error);
        tree.write("dst/a", "earlier");
        const auto copied = test::RunWithRefusedCalls(test::MetadataCalls(), error,
            [&]() { return CopyOneFile(tree.drive("src/a"), tree.drive("dst/a"), 0, {}) == 1; });
        if (!copied) GTEST_SKIP() << "no seccomp filter";
        EXPECT_TRUE(*copied);
        EXPECT_EQ(tree.read("dst/a"), "bytes");
        EXPECT_EQ(Names("dst"), std::set<std::string> { "a" });
    }
}

// A 1 GiB file with one 4 KiB extent copies as one 4 KiB extent, not as a gigabyte of zeros; the bar
// still steps over every block of the size.
TEST_F(CopyTest, HolesStayHoles)
{
    constexpr off_t kSize = off_t(1) << 30, kAt = off_t(512) << 20;
    const std::string block(4096, 'x');
    const int fd = ::open(tree.linux("src/sparse").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, kSize), 0);
    ASSERT_EQ(::pwrite(fd, block.data(), block.size(), kAt), ssize_t(block.size()));
    ::close(fd);
    if (Stat("src/sparse").st_blocks * 512 > 65536) GTEST_SKIP() << "no holes on this file system";

    EXPECT_EQ(CopyOneFile(tree.drive("src/sparse"), tree.drive("dst/sparse"), 255, {}), 1);
    EXPECT_EQ(fake.progress.stepsOf[ProgressBar::Block], kSize / 8192);
    const struct stat copy = Stat("dst/sparse");
    EXPECT_EQ(copy.st_size, kSize);
    EXPECT_LE(copy.st_blocks * 512, 65536);
    std::string back(block.size(), '\0');
    const int in = ::open(tree.linux("dst/sparse").c_str(), O_RDONLY);
    EXPECT_EQ(::pread(in, back.data(), back.size(), kAt), ssize_t(block.size()));
    EXPECT_EQ(back, block);
    EXPECT_EQ(::pread(in, back.data(), back.size(), kAt - off_t(back.size())), ssize_t(block.size()));
    EXPECT_EQ(back, std::string(block.size(), '\0'));
    ::close(in);
}

// Lists every other match of a pattern before the entry of the pattern's own name, as a directory may.
class OwnNameLastFileSystem : public test::FaultyFileSystem {
public:
    using FaultyFileSystem::FaultyFileSystem;

    std::unique_ptr<DirSearch> FindFirst(const std::string& pattern, uint32_t attrMask, FindData& first) override
    {
        auto inner = FaultyFileSystem::FindFirst(pattern, attrMask, first);
        if (!inner) return nullptr;
        std::vector<FindData> entries { first };
        FindData next;
        while (inner->Next(next))
            entries.push_back(next);
        const std::string own = pattern.substr(pattern.rfind('\\') + 1);
        std::stable_partition(entries.begin(), entries.end(), [&](const FindData& e) { return e.name != own; });
        first = entries.front();
        return std::make_unique<ListSearch>(std::move(entries));
    }

private:
    class ListSearch : public DirSearch {
    public:
        explicit ListSearch(std::vector<FindData> entries)
            : m_entries(std::move(entries))
        {
        }
        bool Next(FindData& out) override
        {
            if (m_next >= m_entries.size()) return false;
            out = m_entries[m_next++];
            return true;
        }

    private:
        std::vector<FindData> m_entries;
        size_t m_next = 1;
    };
};

// "*" and "?" are ordinary characters of a Linux name: the times of a file so named are its own, never
// those of another name the search pattern would also match.
TEST_F(CopyTest, NamesWithWildcardCharactersAreLookedUpExactly)
{
    const int64_t own = 1138961107;
    const int64_t other = 1000000000;
    tree.write("src/plain", "p");
    tree.setTime("src/plain", own);
    for (const char* name : { "a?", "a*" }) {
        SCOPED_TRACE(name);
        const std::string source = std::string("src/") + name;
        tree.write(source, "own");
        tree.setTime(source, own);
        tree.write("src/ab", "decoy");
        tree.setTime("src/ab", other);
        tree.write("dst/ab", "decoy");
        tree.setTime("dst/ab", other + 86400);

        OwnNameLastFileSystem listing(linuxFileSystem());
        ScopedFileSystem scoped(listing);
        EXPECT_EQ(CopyOneFile(tree.drive(source), tree.drive(std::string("dst/") + name), 0, {}), 1);
        EXPECT_EQ(std::filesystem::last_write_time(tree.linux(std::string("dst/") + name)),
            std::filesystem::last_write_time(tree.linux("src/plain")));
        EXPECT_EQ(CompareFileDates(tree.drive(source), tree.drive(std::string("dst/") + name)), 0);
        EXPECT_EQ(FormatFileDate(tree.drive(source)), FormatFileDate(tree.drive("src/plain")));
        EXPECT_EQ(FormatFileDate(tree.drive("src/a?x")), "");
        std::filesystem::remove(tree.linux(source));
        std::filesystem::remove(tree.linux(std::string("dst/") + name));
    }
    EXPECT_TRUE(fake.messages.empty());
}

TEST(CompareFileDates, ToTheSecondInLocalTime)
{
    test::TempTree tree;
    tree.write("a", "1");
    tree.write("b", "2");
    const struct {
        int64_t aSec, aNs, bSec, bNs;
        int sign;
    } cases[] = {
        { 1000000000, 100000000, 1000000000, 900000000, 0 }, // milliseconds apart
        { 1000000001, 0, 1000000000, 999000000, 1 }, // source one second later
        { 1000000000, 0, 1000000001, 0, -1 }, // destination later
        { 1000000020, 0, 999999999, 0, 1 }, // across a minute boundary
        { 1000000000, 0, 1031536000, 0, -1 }, // a year apart
    };
    for (const auto& c : cases) {
        const FileTime aTime = FileTimeFromUnix(c.aSec, c.aNs);
        const FileTime bTime = FileTimeFromUnix(c.bSec, c.bNs);
        ASSERT_TRUE(fs().SetFileTimes(tree.drive("a"), nullptr, &aTime, &aTime));
        ASSERT_TRUE(fs().SetFileTimes(tree.drive("b"), nullptr, &bTime, &bTime));
        const int result = CompareFileDates(tree.drive("a"), tree.drive("b"));
        EXPECT_EQ((result > 0) - (result < 0), c.sign) << c.aSec << " vs " << c.bSec;
    }
    // A missing destination gives the sign that lets a copy go ahead.
    EXPECT_GT(CompareFileDates(tree.drive("a"), tree.drive("missing")), 0);
}

} // namespace
} // namespace zelo
