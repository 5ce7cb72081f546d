// Where a GVfs SMB folder's path lies on its share, the URL the direct client asks for, the frames the
// program and its helper exchange, and a thread's helper that dies.
#include "platform/smb_filesystem.h"

#include "platform/errors.h"
#include "platform/smb_filesystem_internal.h"

#include "tests/support/scoped_env.h"
#include "tests/support/temp_tree.h"

#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace zelo {
namespace {

TEST(SmbLocationTest, GvfsFoldersAndUrls)
{
    struct Case {
        const char* linuxPath;
        bool onShare;
        const char* url; // of the location found
    };
    const Case cases[] = {
        { "/run/user/0/gvfs/smb-share:server=nas,share=data", true, "smb://nas/data" },
        { "/run/user/0/gvfs/smb-share:port=4450,server=127.0.0.1,share=z/a/b/", true, "smb://127.0.0.1:4450/z/a/b" },
        { "/r/gvfs/smb-share:domain=W,server=nas,share=s,user=u/x y/50%#?.txt", true,
            "smb://nas/s/x%20y/50%25%23%3F.txt" },
        // GVfs escapes a value's blanks and separators; the share's own name goes to the server.
        { "/r/gvfs/smb-share:server=nas,share=my%20data%2Cold/a", true, "smb://nas/my%20data%2Cold/a" },
        { "/r/gvfs/smb-share:server=nas/a", false, "" }, // no share
        { "/home/u/smb-share:server=nas,share=s", false, "" }, // not a GVfs folder
        { "/r/gvfs/sftp:host=nas/a", false, "" },
    };
    for (const Case& c : cases) {
        const auto location = SmbLocationOf(c.linuxPath);
        ASSERT_EQ(location.has_value(), c.onShare) << c.linuxPath;
        if (location) {
            EXPECT_EQ(SmbUrl(location->share, location->inside), c.url) << c.linuxPath;
        }
    }
}

TEST(SmbLocationTest, PathsOnNoShareStayLocal)
{
    EXPECT_FALSE(UsesDirectSmb("C:\\tmp\\a"));
    EXPECT_FALSE(UsesDirectSmb(""));
}

TEST(SmbProtocolTest, FramesReadBackAndShortOnesAreBad)
{
    smb::Entry entry;
    entry.name = "名前.txt";
    entry.dosAttributes = 0x21;
    entry.size = uint64_t(1) << 40;
    entry.writeNs = -1234567890123;
    smb::Writer writer;
    writer.U8(7).Bytes("url").Put(entry);
    const std::string frame = writer.Frame();
    smb::Reader reader(std::string_view(frame).substr(4));
    EXPECT_EQ(reader.U8(), 7);
    EXPECT_EQ(reader.Bytes(), "url");
    const smb::Entry back = reader.GetEntry();
    EXPECT_TRUE(reader.Ok());
    EXPECT_EQ(back.name, entry.name);
    EXPECT_EQ(back.dosAttributes, 0x21u);
    EXPECT_EQ(back.size, entry.size);
    EXPECT_EQ(back.writeNs, entry.writeNs);
    // A frame cut short reads as bad, never past its end.
    smb::Reader cut(std::string_view(frame).substr(4, 10));
    cut.U8();
    cut.GetEntry();
    EXPECT_FALSE(cut.Ok());
}

// A thread's helper that was killed fails what was open in it, as a lost share does, and the thread's next
// request gets a new helper; each ends with its thread.
TEST(SmbHelperTest, AKilledHelperIsReplacedForWhatFollows)
{
    const test::ScopedEnv helper("ZELO_SMB_HELPER", ZELO_SMB_HELPER_BUILT);
    // Handing over a login needs no server: it is answered by the helper alone.
    const auto login = [](smb::Helper& h) {
        smb::Writer request;
        request.U8(uint8_t(smb::Op::Login)).Bytes("127.0.0.1").Bytes("s").Bytes("").Bytes("").Bytes("");
        return h.Call(request).error;
    };
    pid_t last = 0;
    std::thread([&] {
        const auto first = smb::ThisThreadHelper();
        ASSERT_TRUE(first);
        EXPECT_EQ(login(*first), 0);
        EXPECT_EQ(smb::ThisThreadHelper(), first);
        ASSERT_EQ(::kill(first->Pid(), SIGKILL), 0);
        for (int call = 0; call < 2; ++call)
            EXPECT_EQ(login(*first), ENOTCONN) << call;
        const auto second = smb::ThisThreadHelper();
        ASSERT_TRUE(second);
        EXPECT_NE(second->Pid(), first->Pid());
        EXPECT_EQ(login(*second), 0);
        last = second->Pid();
    }).join();
    ASSERT_NE(last, 0);
    EXPECT_EQ(::kill(last, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

// A server that refuses every connection: what reaches it fails, what is held in the program does not.
const smb::ShareAddress kRefusing { "127.0.0.1", 1, "s" };

// A Put the helper cannot carry out fails at its first step and makes nothing: a broken frame is refused
// before anything is made, and the helper goes on serving.
TEST(SmbHelperTest, APutThatCannotBeginFailsAtItsFirstStep)
{
    const test::ScopedEnv program("ZELO_SMB_HELPER", ZELO_SMB_HELPER_BUILT);
    std::thread([] {
        const auto helper = smb::ThisThreadHelper();
        ASSERT_TRUE(helper);
        const std::string folder = SmbUrl(kRefusing, "d");
        smb::Writer whole, cut;
        whole.U8(uint8_t(smb::Op::Put)).Bytes(folder).Bytes(folder + "/f").U8(0).U8(1).I64(1).I64(2);
        whole.U8(0).U32(0).Bytes("bytes");
        cut.U8(uint8_t(smb::Op::Put)).Bytes(folder).Bytes(folder + "/f").U8(0);
        for (smb::Writer* request : { &whole, &cut }) {
            const smb::Reply reply = helper->Call(*request);
            EXPECT_NE(reply.error, 0);
            EXPECT_NE(reply.error, ENOTCONN) << "the helper ended";
            auto fields = reply.Fields();
            EXPECT_EQ(smb::PutStep(fields.U8()), smb::PutStep::Create);
        }
        EXPECT_EQ(helper->Call(cut).error, EINVAL);
        EXPECT_FALSE(helper->Broken());
    }).join();
}

// A replacement holds up to smb::kMostHeld bytes without a request; the byte past it makes the file (which
// fails here), and a commit of what was held goes to the server and reports its failure.
TEST(SmbReplacementTest, HeldUpToTheBoundThenMade)
{
    const test::ScopedEnv program("ZELO_SMB_HELPER", ZELO_SMB_HELPER_BUILT);
    struct Case {
        const char* what;
        std::vector<size_t> writes;
        size_t heldWrites; // how many of them are held (the next one fails)
    };
    const size_t bound = smb::kMostHeld;
    const Case cases[] = {
        { "nothing", {}, 0 },
        { "just the bound", { bound }, 1 },
        { "in parts up to the bound", { bound / 2, bound - bound / 2 }, 2 },
        { "one byte past", { bound, 1 }, 1 },
        { "past in one write", { bound / 2, bound }, 1 },
    };
    std::thread([&] {
        const std::string bytes(bound + 1, 'x');
        for (const Case& c : cases) {
            smbfs::SmbReplacement file(smbfs::Place { smb::ThisThreadHelper(), kRefusing, "d" }, true);
            size_t held = 0;
            for (size_t i = 0; i < c.writes.size(); ++i) {
                const int64_t wrote = file.Write(bytes.data(), c.writes[i]);
                if (i < c.heldWrites) {
                    EXPECT_EQ(wrote, int64_t(c.writes[i])) << c.what;
                    held += c.writes[i];
                } else {
                    EXPECT_EQ(wrote, -1) << c.what;
                    EXPECT_EQ(GetLastError(), err::BadNetPath) << c.what;
                }
            }
            if (c.heldWrites < c.writes.size()) continue;
            EXPECT_EQ(file.Size(), int64_t(held)) << c.what;
            SetLastError(err::Success);
            EXPECT_FALSE(file.Commit(smbfs::Place { smb::ThisThreadHelper(), kRefusing, "d/f" }, {}, false)) << c.what;
            EXPECT_EQ(GetLastError(), err::BadNetPath) << c.what;
        }
    }).join();
}

// A file copied to its source's end is made on the share there, beside the in-order commit: that request
// failing fails the copy, never a copy reported whole with nothing made.
TEST(SmbReplacementTest, ASourceCopiedToItsEndIsMadeThere)
{
    const test::ScopedEnv program("ZELO_SMB_HELPER", ZELO_SMB_HELPER_BUILT);
    test::TempTree tree;
    tree.write("small.txt", "a few bytes");
    auto source = fs().Open(tree.drive("small.txt"), OpenMode::Read);
    ASSERT_TRUE(source);
    std::thread([&] {
        smbfs::SmbReplacement file(smbfs::Place { smb::ThisThreadHelper(), kRefusing, "d" }, true);
        EXPECT_EQ(file.CopyFrom(*source, 1 << 20), 11);
        EXPECT_EQ(file.CopyFrom(*source, 1 << 20), -1);
        EXPECT_EQ(GetLastError(), err::BadNetPath);
    }).join();
}

} // namespace
} // namespace zelo
