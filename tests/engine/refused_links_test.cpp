// A destination whose file system holds no symbolic links (an SMB share, FAT): the links are counted
// as not copied and told once a run, everything else is copied, and a move keeps the links.
#include "engine/folder_transfer.h"
#include "model/state.h"
#include "tests/support/fake_ui.h"
#include "tests/support/refused_calls.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <sys/syscall.h>

namespace zelo {
namespace {

TEST(RefusedLinks, AreNotCopiedToldOnceAndKeptByAMove)
{
    for (const int mode : { kModeFolderCopy, kModeFolderMove, kModeFolderBackup }) {
        for (const int error : { EOPNOTSUPP, EPERM }) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " errno " << error);
            test::TempTree tree;
            tree.write("src/sub/data", "bytes");
            tree.symlink("sub/data", "src/one");
            tree.symlink("data", "src/sub/two");
            tree.mkdir("dst");
            // The checks run in the child whose symlinkat fails; its result says whether all held.
            const auto held = test::RunWithRefusedCalls({ SYS_symlinkat }, error, [&] {
                ResetMainState();
                test::FakeUi fake;
                TransferCounts counts;
                FolderTransfer request;
                request.sourceFolder = tree.drive("src") + "\\";
                request.destinationDir = tree.drive("dst");
                request.mode = mode;
                const int result = TransferFolder(request, counts, {});
                int told = 0;
                for (const auto& m : fake.messages)
                    told += m.text.find("リンクを作れないドライブです") != std::string::npos;
                return result == kTransferDone && counts.linksNotCopied == 2 && counts.failures == 2 && told == 1
                    && tree.read("dst/src/sub/data") == "bytes" && !tree.exists("dst/src/one") && tree.exists("src/one")
                    && tree.exists("src/sub/two");
            });
            if (!held) GTEST_SKIP() << "no seccomp filter";
            EXPECT_TRUE(*held);
        }
    }
}

} // namespace
} // namespace zelo
