// Single-file copy: blocks and bar steps, times, safe replacement, stop, failures; date comparison.
#include "engine/file_copy.h"
#include "engine/formats.h"
#include "model/state.h"
#include "platform/filesystem.h"
#include "platform/time.h"
#include "tests/support/fake_ui.h"
#include "tests/support/faulty_fs.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
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
        EXPECT_EQ(CopyOneFile(tree.drive("src/f.bin"), tree.drive("dst/f.bin"), 0), 1);
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
    EXPECT_EQ(CopyOneFile(tree.drive("src/a"), tree.drive("dst/a"), 255), 1);
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
    EXPECT_EQ(CopyOneFile(tree.drive("src/a.txt"), tree.drive("dst/a.txt"), 0), 1);
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
    fake.onPump = [](int) { Main.AbortFlag = kAbortRequested; };
    EXPECT_EQ(CopyOneFile(tree.drive("src/big"), tree.drive("dst/big"), 0), 1);
    EXPECT_EQ(Main.AbortFlag, kAbortRequested);
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
    fake.onPump = [](int) { Main.AbortFlag = kAbortRequested; };
    EXPECT_EQ(CopyOneFile(tree.drive("src/small"), tree.drive("dst/small"), 0), 1);
    EXPECT_TRUE(Names("dst").empty());
}

TEST_F(CopyTest, ReadOnlyDestinationRefusedBeforeWriting)
{
    tree.write("src/a", "new content");
    tree.write("dst/a", "old");
    tree.setReadOnly("dst/a", true);
    Main.ErrorContext = 0;
    EXPECT_EQ(CopyOneFile(tree.drive("src/a"), tree.drive("dst/a"), 0), -1);
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
        EXPECT_EQ(CopyOneFile(tree.drive(c.name), tree.drive("dst/out"), 0), -1);
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
    EXPECT_EQ(CopyOneFile(tree.drive("src/a"), tree.drive("nodir/a"), 0), -1);
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
    };
    const Case cases[] = {
        { "disk full", 5 << 20, -1, "", "dst/data", "ディスク容量を越えました" },
        { "disk full in first block", 100, -1, "", "dst/data", "ディスク容量を越えました" },
        { "read failure", -1, 3 << 20, "", "dst/data", "エラー番号　23" },
        { "source access denied", -1, -1, "src", "src/data",
            "Accesee Denied !\n\r\n\rＲｅａｄＯｎｌｙ　に上書きしようとした" },
        { "destination access denied", -1, -1, "dst", "dst/data",
            "Accesee Denied !\n\r\n\rＲｅａｄＯｎｌｙ　に上書きしようとした" },
    };
    tree.writeSized("src/data", 10u * 1024 * 1024);
    tree.setDosAttrib("src/data", kAttrHidden | kAttrArchive);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tree.write("dst/data", "earlier");
        fake.messages.clear();
        Main.ErrorContext = 0;
        test::FaultyFileSystem faulty(linuxFileSystem());
        faulty.failWriteAfter = c.failWriteAfter;
        faulty.failReadAfter = c.failReadAfter;
        faulty.readError = 23;
        faulty.denyOpenContaining = c.denyOpen;
        {
            ScopedFileSystem scoped(faulty);
            EXPECT_EQ(CopyOneFile(tree.drive("src/data"), tree.drive("dst/data"), 0), -1);
        }
        EXPECT_EQ(tree.read("dst/data"), "earlier");
        EXPECT_EQ(Names("dst"), std::set<std::string> { "data" });
        ASSERT_EQ(fake.messages.size(), 1u);
        EXPECT_EQ(fake.messages[0].text, tree.drive(c.reportedPath) + "  :   " + c.message);
        // A failed copy leaves the source's attributes alone.
        EXPECT_EQ(fs().GetAttributes(tree.drive("src/data")) & kAttrHidden, uint32_t(kAttrHidden));
    }
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
        EXPECT_EQ(CopyOneFile(tree.drive(source), tree.drive(std::string("dst/") + name), 0), 1);
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
