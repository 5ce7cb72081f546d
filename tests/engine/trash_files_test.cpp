// The Delete key's move to the trash: what is moved, what is reported, and a stop part-way.
#include "engine/trash_files.h"
#include "tests/support/fake_ui.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace zelo;
using zelo::test::FakeUi;
using zelo::test::ScopedEnv;
using zelo::test::TempTree;

namespace {

// Presses the progress window's stop button as the first message is shown: the run has gone beside the
// window up to there.
class StopAtFirstMessage : public ForwardingUiServices {
public:
    void ShowPlainMessage(const std::string& text) override
    {
        ForwardingUiServices::ShowPlainMessage(text);
        if (armed) stop.request_stop();
    }
    bool armed = false;
    std::stop_source stop;

private:
    ScopedUiServices m_installed { *this };
};

} // namespace

TEST(TrashFiles, SelectedFilesGoToTheTrashUntilStopped)
{
    TempTree tree;
    ScopedEnv data("XDG_DATA_HOME", tree.linux("data"));
    FakeUi fake;
    StopAtFirstMessage stopper;
    const struct {
        const char* name;
        std::vector<std::string> items;
        std::vector<bool> selected;
        bool stop;
        int moved;
        std::vector<std::string> left; // in dir/ afterwards
        std::vector<std::string> messages;
        bool progress;
    } cases[] = {
        { "two of three", { "a.txt", "b.txt", "c.txt" }, { true, false, true }, false, 2, { "b.txt" },
            { "選択された　2　ファイルをごみ箱へ移動しました" }, true },
        // A file that is gone is reported with its path, and no summary claims success.
        { "one gone", { "gone", "b.txt" }, { true, true }, false, 1, { "a.txt", "c.txt" },
            { "C:\\dir\\gone  :   File Not Found" }, true },
        { "one alone", { "a.txt" }, { true }, false, 1, { "b.txt", "c.txt" },
            { "選択された　1　ファイルをごみ箱へ移動しました" }, false },
        // Stopped while the failure is shown: what went is told, the rest stays.
        { "stopped", { "a.txt", "gone", "b.txt", "c.txt" }, { true, true, true, true }, true, 1, { "b.txt", "c.txt" },
            { "C:\\dir\\gone  :   File Not Found",
                "中止しました\n\r\n\r選択された　4　ファイルのうち　1　ファイルをごみ箱へ移動しました" },
            true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* name : { "a.txt", "b.txt", "c.txt" })
            tree.write(std::string("dir/") + name, name);
        fake.messages.clear();
        fake.progress = test::FakeProgress {};
        stopper.stop = std::stop_source();
        stopper.armed = c.stop;
        int refreshed = 0;
        EXPECT_EQ(TrashSelectedFiles(
                      Selection::Of("C:\\dir\\", c.items, c.selected), stopper.stop.get_token(), [&] { ++refreshed; }),
            c.moved);
        EXPECT_EQ(refreshed, 1);
        EXPECT_EQ(fake.texts(), c.messages);
        for (const char* name : { "a.txt", "b.txt", "c.txt" }) {
            const bool left = std::find(c.left.begin(), c.left.end(), name) != c.left.end();
            EXPECT_EQ(tree.exists(std::string("dir/") + name), left) << name;
        }
        EXPECT_EQ(fake.progress.showCount, c.progress ? 1 : 0);
        EXPECT_FALSE(fake.progress.visible);
        std::filesystem::remove_all(tree.linux("data"));
    }
}

TEST(TrashFiles, ADirectoryTreeGoesToTheTrash)
{
    TempTree tree;
    ScopedEnv data("XDG_DATA_HOME", tree.linux("data"));
    FakeUi fake;
    tree.write("dir/sub/a.txt", "a");
    EXPECT_TRUE(TrashDirectory("C:\\dir"));
    EXPECT_TRUE(tree.exists("data/Trash/files/dir/sub/a.txt") && !tree.exists("dir"));
    EXPECT_EQ(fake.texts(), (std::vector<std::string> { "C:\\dir　をごみ箱へ移動しました" }));
}
