// The Delete key's move to the trash: what is moved, what is reported.
#include "engine/trash_files.h"
#include "tests/support/fake_ui.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

using namespace zelo;
using zelo::test::FakeUi;
using zelo::test::ScopedEnv;
using zelo::test::TempTree;

TEST(TrashFiles, SelectedFilesAndATreeGoToTheTrashAndAreReported)
{
    TempTree tree;
    ScopedEnv data("XDG_DATA_HOME", tree.linux("data"));
    FakeUi fake;
    tree.write("dir/a.txt", "a");
    tree.write("dir/b.txt", "b");
    tree.write("dir/c.txt", "c");
    int refreshed = 0;
    EXPECT_EQ(TrashSelectedFiles(Selection::Of("C:\\dir\\", { "a.txt", "b.txt", "c.txt" }, { true, false, true }),
                  [&] { ++refreshed; }),
        2);
    EXPECT_EQ(refreshed, 1);
    EXPECT_TRUE(tree.exists("data/Trash/files/a.txt") && tree.exists("data/Trash/files/c.txt"));
    EXPECT_TRUE(tree.exists("dir/b.txt"));
    EXPECT_EQ(fake.texts(), (std::vector<std::string> { "選択された　2　ファイルをごみ箱へ移動しました" }));

    // A file that is gone is reported with its path, and no summary claims success.
    fake.messages.clear();
    EXPECT_EQ(TrashSelectedFiles(Selection::Of("C:\\dir\\", { "gone", "b.txt" }, { true, true })), 1);
    EXPECT_EQ(fake.texts(), (std::vector<std::string> { "C:\\dir\\gone  :   File Not Found" }));
    EXPECT_TRUE(tree.exists("data/Trash/files/b.txt"));

    fake.messages.clear();
    EXPECT_TRUE(TrashDirectory("C:\\dir"));
    EXPECT_TRUE(tree.exists("data/Trash/files/dir") && !tree.exists("dir"));
    EXPECT_EQ(fake.texts(), (std::vector<std::string> { "C:\\dir　をごみ箱へ移動しました" }));
}
