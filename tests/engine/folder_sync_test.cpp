// The flush at the end of a folder operation: a destination that cannot be written back is reported,
// and a move then keeps its source.
#include "engine/folder_transfer.h"
#include "model/state.h"
#include "platform/filesystem.h"
#include "tests/support/fake_ui.h"
#include "tests/support/faulty_fs.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace zelo {
namespace {

FolderTransfer Request(const test::TempTree& tree, int mode)
{
    FolderTransfer request;
    request.sourceFolder = tree.drive("src") + "\\";
    request.destinationDir = tree.drive("dst");
    request.mode = mode;
    return request;
}

TEST(FolderTransferSync, UnflushedCopyIsAnErrorAndAMoveKeepsItsSource)
{
    ResetMainState();
    test::TempTree tree;
    tree.write("src/a.txt", "a");
    tree.write("src/sub/b.txt", "b");
    tree.mkdir("dst");
    test::FakeUi fake;
    for (const int mode : { kModeFolderCopy, kModeFolderMove }) {
        SCOPED_TRACE(mode);
        fake.messages.clear();
        std::filesystem::remove_all(tree.linux("dst/src")); // something to flush each time
        test::FaultyFileSystem faulty(linuxFileSystem());
        faulty.failSyncWith = 1117; // ERROR_IO_DEVICE
        TransferCounts counts;
        int result = 0;
        {
            ScopedFileSystem scoped(faulty);
            result = TransferFolder(Request(tree, mode), counts, {});
        }
        EXPECT_EQ(result, kTransferStoppedByError);
        EXPECT_EQ(tree.read("dst/src/sub/b.txt"), "b");
        EXPECT_EQ(tree.read("src/sub/b.txt"), "b");
        ASSERT_EQ(fake.messages.size(), 1u);
        EXPECT_EQ(fake.messages[0].text.rfind(tree.drive("dst/src") + "\\  :   ", 0), 0u) << fake.messages[0].text;
    }
    // Flushed, the move goes on to delete its source.
    TransferCounts counts;
    EXPECT_EQ(TransferFolder(Request(tree, kModeFolderMove), counts, {}), kTransferDone);
    EXPECT_FALSE(tree.exists("src"));
}

} // namespace
} // namespace zelo
