// Where a GVfs SMB folder's path lies on its share, the URL the direct client asks for, and the frames the
// program and its helper exchange.
#include "platform/smb_filesystem.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace zelo
