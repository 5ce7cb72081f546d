// Where a GVfs SMB folder's path lies on its share, the URL the direct client asks for, the frames the
// program and its helper exchange, and a thread's helper that dies.
#include "platform/smb_filesystem.h"

#include "tests/support/scoped_env.h"

#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <thread>

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

} // namespace
} // namespace zelo
