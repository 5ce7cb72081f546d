// The copy threads: commits in the order handed over, a failure or a stop ends the run with nothing half
// made, a refused name fails its copy alone; on one thread and on eight.
#include "engine/copy_workers.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "tests/support/fake_ui.h"
#include "tests/support/faulty_fs.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <set>
#include <sys/stat.h>

namespace zelo {
namespace {

ino_t InodeOf(int fd)
{
    struct stat st { };
    return ::fstat(fd, &st) == 0 ? st.st_ino : 0;
}

// The file system in use, logging the names whose copies take their places (on the committing thread),
// and failing the commit of one name with a code.
class CommitLog final : public test::FaultyFileSystem {
public:
    using FaultyFileSystem::FaultyFileSystem;

    std::string failCommitOf;
    uint32_t commitError = err::DiskFull;
    std::vector<std::string> committed;

    // In place of the faulty file system's own folders: these tests fault only copy steps and commits.
    std::unique_ptr<DirHandle> MakeDir(std::unique_ptr<DirHandle> inner) override
    {
        return std::make_unique<Logged>(std::move(inner), *this);
    }

private:
    class Logged final : public ForwardingDirHandle {
    public:
        Logged(std::unique_ptr<DirHandle> inner, CommitLog& log)
            : ForwardingDirHandle(std::move(inner), log)
            , m_log(log)
        {
        }
        bool CommitReplacement(
            std::unique_ptr<File> file, const std::string& name, const ReplaceOptions& options) override
        {
            if (name == m_log.failCommitOf) {
                SetLastError(m_log.commitError);
                return false;
            }
            const bool done = ForwardingDirHandle::CommitReplacement(std::move(file), name, options);
            if (done) m_log.committed.push_back(name); // one thread commits at a time
            return done;
        }

    private:
        CommitLog& m_log;
    };
};

// Files src/NN of different sizes, each with an earlier dst/NN, copied through CopyWorkers.
class CopyWorkersTest : public ::testing::TestWithParam<unsigned> {
protected:
    void Make(int count, uint64_t size)
    {
        for (int i = 0; i < count; ++i) {
            names.push_back((i < 10 ? "0" : "") + std::to_string(i));
            tree.writeSized("src/" + names.back(), size + uint64_t(i) * 1000);
            tree.write("dst/" + names.back(), "earlier");
        }
    }

    CopyWorkerOptions Options() const { return { GetParam(), 16, true }; }

    // Hands every copy over until the run ends, then waits for the rest; Drain's result.
    bool Run(CopyWorkers& workers)
    {
        std::shared_ptr<DirHandle> from = fs().OpenTreeDirectory(tree.drive("src") + "\\", ListDetail::Full);
        std::shared_ptr<DirHandle> to = fs().OpenTreeDirectory(tree.drive("dst") + "\\", ListDetail::Full);
        EXPECT_TRUE(from && to);
        for (size_t i = 0; i < names.size(); ++i) {
            FindData entry;
            FindData there;
            EXPECT_TRUE(from->Lookup(names[i], entry));
            EXPECT_TRUE(to->Lookup(names[i], there));
            auto copy = std::make_unique<ListedCopy>(from, entry, to, there.attributes, tree.drive("src/" + names[i]),
                tree.drive("dst/" + names[i]), CopyOptions { false, {} });
            const auto done = [this, i] {
                doneOrder.push_back(int(i));
                return true;
            };
            if (!workers.Submit(std::move(copy), done, [this, i] { endedAt.push_back(int(i)); })) break;
        }
        return workers.Drain();
    }

    // Each destination holds its earlier text or its complete copy, the copies exactly those done, and
    // nothing else is left in the folder.
    void ExpectCopiedExactlyTheDone() const
    {
        const std::set<int> copied(doneOrder.begin(), doneOrder.end());
        std::set<std::string> left;
        for (const auto& e : std::filesystem::directory_iterator(tree.linux("dst")))
            left.insert(e.path().filename().string());
        EXPECT_EQ(left, std::set<std::string>(names.begin(), names.end()));
        for (size_t i = 0; i < names.size(); ++i)
            EXPECT_EQ(tree.read("dst/" + names[i]), copied.count(int(i)) ? tree.read("src/" + names[i]) : "earlier")
                << names[i];
    }

    static std::vector<int> Upto(int end, int without = -1)
    {
        std::vector<int> out;
        for (int i = 0; i < end; ++i)
            if (i != without) out.push_back(i);
        return out;
    }

    test::TempTree tree;
    test::FakeUi ui;
    CommitLog files { fs() };
    ScopedFileSystem installed { files };
    std::vector<std::string> names;
    std::vector<int> doneOrder;
    std::vector<int> endedAt;
    std::stop_source stop;
};

// Job k fails while its bytes move or at its commit, or the destination refuses its name: told once;
// a failure ends the run at k (nothing after k takes its place), a refused name only fails k.
TEST_P(CopyWorkersTest, CommitsInOrderAndEndAtAFailure)
{
    enum class Fault { None, Bytes, Commit };
    const struct {
        const char* what;
        Fault fault;
        uint32_t code;
        bool runGoesOn;
    } cases[] = {
        { "none", Fault::None, 0, true },
        { "bytes fail", Fault::Bytes, err::DiskFull, false },
        { "commit fails", Fault::Commit, err::DiskFull, false },
        { "name refused at commit", Fault::Commit, err::InvalidName, true },
        { "name too long while moving", Fault::Bytes, err::FilenameTooLong, true },
    };
    constexpr int kJobs = 40;
    constexpr int kFailing = 25;
    Make(kJobs, 1000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& name : names)
            tree.write("dst/" + name, "earlier");
        files.committed.clear();
        doneOrder.clear();
        endedAt.clear();
        ui.messages.clear();
        const int k = c.fault == Fault::None ? kJobs : kFailing;
        files.failCommitOf = c.fault == Fault::Commit ? names[kFailing] : "";
        files.commitError = c.code;
        files.readError = c.code;
        struct stat failing { };
        ASSERT_EQ(::stat(tree.linux("src/" + names[kFailing]).c_str(), &failing), 0);
        files.beforeCopy
            = [&](File& source) { return c.fault != Fault::Bytes || InodeOf(source.NativeHandle()) != failing.st_ino; };

        CopyWorkers workers(Options(), stop.get_token());
        const bool finished = Run(workers);

        EXPECT_EQ(finished, c.runGoesOn);
        EXPECT_EQ(workers.Ended(), !c.runGoesOn);
        EXPECT_FALSE(workers.StoppedByUser());
        EXPECT_EQ(workers.Refused(), c.fault != Fault::None && c.runGoesOn ? 1 : 0);
        const std::vector<int> expectedDone = c.runGoesOn ? Upto(kJobs, k) : Upto(k);
        EXPECT_EQ(doneOrder, expectedDone);
        std::vector<std::string> inOrder;
        for (int i : expectedDone)
            inOrder.push_back(names[size_t(i)]);
        EXPECT_EQ(files.committed, inOrder);
        EXPECT_EQ(endedAt, c.fault == Fault::None ? std::vector<int> {} : std::vector<int> { k });
        EXPECT_EQ(ui.messages.size(), c.fault == Fault::None ? 0u : 1u);
        ExpectCopiedExactlyTheDone();
    }
}

// The stop request, seen while job 3 is half copied, whether the stop button is pressed at a turn of the
// window's event loop or the stop comes from another thread (a signal, work beside the window) between two
// turns: the run ends there, no copy is left half made, and nothing is told.
TEST_P(CopyWorkersTest, StopLeavesNoPartialFile)
{
    constexpr int kStopped = 3;
    Make(6, 3u << 20);
    struct stat stopped { };
    ASSERT_EQ(::stat(tree.linux("src/" + names[kStopped]).c_str(), &stopped), 0);
    for (const bool atTurn : { true, false }) {
        SCOPED_TRACE(atTurn ? "at a turn of the window" : "from the copy's own thread");
        for (const std::string& name : names)
            tree.write("dst/" + name, "earlier");
        doneOrder.clear();
        endedAt.clear();
        stop = std::stop_source();
        std::atomic<bool> halfway { false };
        std::atomic<bool> stopAsked { false };
        int steps = 0; // of the stopped copy, on the one thread that moves it
        files.beforeCopy = [&](File& source) {
            if (InodeOf(source.NativeHandle()) != stopped.st_ino || ++steps != 2) return true;
            if (!atTurn) {
                stop.request_stop();
                return true;
            }
            halfway = true;
            stopAsked.wait(false);
            return true;
        };
        // The stop button, then the copy goes on to its next step.
        ui.onPump = [&](int) {
            if (!halfway) return;
            stop.request_stop();
            stopAsked = true;
            stopAsked.notify_all();
        };

        CopyWorkers workers(Options(), stop.get_token());
        EXPECT_FALSE(Run(workers));

        EXPECT_TRUE(workers.Ended());
        EXPECT_TRUE(workers.StoppedByUser());
        EXPECT_EQ(endedAt.size(), 1u);
        EXPECT_EQ(doneOrder, Upto(int(doneOrder.size())));
        EXPECT_LT(doneOrder.size(), size_t(kStopped) + 1);
        EXPECT_TRUE(ui.messages.empty());
        ExpectCopiedExactlyTheDone();
    }
}

INSTANTIATE_TEST_SUITE_P(Threads, CopyWorkersTest, ::testing::Values(1u, 8u));

} // namespace
} // namespace zelo
