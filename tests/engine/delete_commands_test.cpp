// The deletion commands and directory creation: selections, questions, reports, backup-file matching.
#include "engine/delete_commands.h"
#include "model/state.h"
#include "platform/filesystem.h"
#include "tests/support/fake_ui.h"
#include "tests/support/faulty_fs.h"
#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace zelo {
namespace {

class DeleteCommandsTest : public ::testing::Test {
protected:
    void SetUp() override { ResetMainState(); }
    test::TempTree tree;
    test::FakeUi fake;
};

TEST_F(DeleteCommandsTest, SelectedFilesWithProgressAndReport)
{
    const std::vector<std::string> items { "a", "b", "c", "d" };
    const struct {
        std::vector<bool> selected;
        bool progressShown;
        std::vector<std::string> left;
    } cases[] = {
        { { false, true, false, false }, false, { "a", "c", "d" } },
        { { true, false, true, true }, true, { "b" } },
    };
    for (const auto& c : cases) {
        for (const auto& name : items)
            tree.write("dir/" + name, name);
        fake.messages.clear();
        fake.progress = test::FakeProgress {};
        fake.cursorLog.clear();
        const int selectedCount = static_cast<int>(std::count(c.selected.begin(), c.selected.end(), true));
        EXPECT_EQ(DeleteSelectedFiles(Selection::Of(tree.drive("dir") + "\\", items, c.selected), CommandOptions {}),
            selectedCount);
        EXPECT_EQ(fake.progress.showCount, c.progressShown ? 1 : 0);
        EXPECT_FALSE(fake.progress.visible);
        EXPECT_EQ(fake.progress.Position(ProgressBar::Overall), 0);
        EXPECT_EQ(fake.cursorLog, (std::vector<bool> { true, false }));
        for (const auto& name : items) {
            const bool kept = std::find(c.left.begin(), c.left.end(), name) != c.left.end();
            EXPECT_EQ(tree.exists("dir/" + name), kept) << name;
        }
        ASSERT_EQ(fake.messages.size(), 1u);
        EXPECT_EQ(fake.messages[0].text, "選択された　" + std::to_string(selectedCount) + "　ファイルを削除しました");
        EXPECT_EQ(fake.messages[0].caption, "報告");
        EXPECT_EQ(fake.messages[0].flags, kMbOk);
    }
}

TEST_F(DeleteCommandsTest, SelectedFilesFailureShowsNoSummary)
{
    tree.write("dir/a", "a");
    tree.write("dir/ro", "r");
    tree.write("dir/z", "z");
    tree.setReadOnly("dir/ro", true);
    CommandOptions keep;
    keep.clearReadOnly = false;
    EXPECT_EQ(
        DeleteSelectedFiles(Selection::Of(tree.drive("dir") + "\\", { "a", "ro", "z" }, { true, true, true }), keep),
        2);
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_TRUE(fake.messages[0].plain);
    EXPECT_EQ(fake.messages[0].text, "Accesee Denied !\n\r\n\rＲｅａｄＯｎｌｙ　を削除しようとした");
    EXPECT_TRUE(tree.exists("dir/ro"));
    EXPECT_FALSE(tree.exists("dir/z"));

    // With ReadOnly cleared the same file goes.
    fake.messages.clear();
    EXPECT_EQ(DeleteSelectedFiles(Selection::Of(tree.drive("dir") + "\\", { "ro" }, { true }), CommandOptions {}), 1);
    EXPECT_FALSE(tree.exists("dir/ro"));
}

TEST_F(DeleteCommandsTest, DirectoryCommandQuestionAndReports)
{
    auto build = [this] {
        tree.mkdir("work/old/x/y");
        tree.mkdir("work/old/z");
        for (int i = 0; i < 10; ++i)
            tree.write("work/old/" + std::string(i < 4 ? "" : (i < 7 ? "x/" : "x/y/")) + "f" + std::to_string(i), "1");
        tree.write("work/keep", "k");
    };
    build();
    const std::string current = tree.drive("work") + "\\";
    const std::string old = tree.drive("work/old") + "\\";

    // No: nothing happens.
    fake.answers = { kIdNo };
    EXPECT_EQ(DeleteDirectoryCommand(current, old, CommandOptions {}), 0);
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text, "デイレクトリ－を削除します");
    EXPECT_EQ(fake.messages[0].caption, "注意");
    EXPECT_EQ(fake.messages[0].flags, kMbYesNo);
    EXPECT_TRUE(tree.exists("work/old/x/y/f9"));

    // A selected subdirectory is removed with everything below it.
    fake.messages.clear();
    fake.answers = { kIdYes };
    EXPECT_EQ(DeleteDirectoryCommand(current, old, CommandOptions {}), 1);
    ASSERT_EQ(fake.messages.size(), 2u);
    EXPECT_EQ(fake.messages[1].text, old + "　以下を削除しました (DIR 4  File 10 )");
    EXPECT_EQ(fake.messages[1].caption, "報告");
    EXPECT_FALSE(tree.exists("work/old"));
    EXPECT_TRUE(tree.exists("work/keep"));

    // The current directory selected, also with no or two trailing separators: contents only.
    const std::string selections[] = { current, tree.drive("work"), current + "\\" };
    for (const auto& selected : selections) {
        SCOPED_TRACE(selected);
        build();
        fake.messages.clear();
        fake.answers = { kIdYes };
        EXPECT_EQ(DeleteDirectoryCommand(current, selected, CommandOptions {}), 1);
        ASSERT_EQ(fake.messages.size(), 2u);
        EXPECT_EQ(fake.messages[1].text, current + "　以下のＤｉｒ，Ｆｉｌｅを削除しました (DIR 4  File 11 )");
        EXPECT_TRUE(tree.exists("work"));
        EXPECT_FALSE(tree.exists("work/keep"));
        EXPECT_FALSE(tree.exists("work/old"));
    }
}

TEST_F(DeleteCommandsTest, DirectoryCommandFailuresAreCountedNeverReportedAsDone)
{
    // A ReadOnly file with "ReadOnly" unticked: each failure is shown, then how many entries stayed.
    const struct {
        const char* selected;
        std::vector<std::string> failures; // shown after the question
        const char* report;
    } cases[] = {
        // The current directory: its other entries go, it stays, and so does the file.
        { "w", { "w/ro" }, "　以下の　1　個が削除出来ませんでした (DIR 2  File 2 を削除しました)" },
        // A subdirectory: its file, then the directory that cannot go without it.
        { "w/sub", { "w/sub/ro", "w/sub" }, "　以下の　2　個が削除出来ませんでした (DIR 1  File 1 を削除しました)" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selected);
        tree.mkdir("w/sub/deep");
        tree.write("w/a", "a");
        tree.write("w/sub/b", "b");
        tree.write(std::string(c.selected) + "/ro", "r");
        tree.setReadOnly(std::string(c.selected) + "/ro", true);
        CommandOptions keep;
        keep.clearReadOnly = false;
        fake.messages.clear();
        fake.answers = { kIdYes };
        DeleteResult deleted;
        EXPECT_EQ(
            DeleteDirectoryCommand(tree.drive("w") + "\\", tree.drive(c.selected) + "\\", keep, {}, &deleted), -1);
        ASSERT_EQ(fake.messages.size(), c.failures.size() + 2);
        for (size_t i = 0; i < c.failures.size(); ++i) {
            EXPECT_TRUE(fake.messages[i + 1].plain);
            EXPECT_EQ(fake.messages[i + 1].text.rfind(tree.drive(c.failures[i]), 0), 0u) << fake.messages[i + 1].text;
        }
        EXPECT_EQ(fake.messages.back().text, tree.drive(c.selected) + "\\" + c.report);
        EXPECT_EQ(fake.messages.back().caption, "報告");
        EXPECT_EQ(deleted.failures, int(c.failures.size()));
        EXPECT_TRUE(tree.exists(std::string(c.selected) + "/ro"));
        tree.setReadOnly(std::string(c.selected) + "/ro", false);
    }
}

// Every deletion works beside the window: the window's thread keeps turning the event loop while a file
// is deleted (each deletion waits for a turn), shows the progress window, and shows every message itself.
TEST_F(DeleteCommandsTest, DeletionsRunBesideTheTurningWindow)
{
    test::FaultyFileSystem faulty(fs());
    ScopedFileSystem installed(faulty);
    const std::thread::id window = std::this_thread::get_id();
    std::mutex mutex;
    std::condition_variable turned;
    int turns = 0;
    bool deletedOnWindowThread = false;
    bool missedTurn = false;
    faulty.beforeDelete = [&](const FindData&) {
        std::unique_lock<std::mutex> lock(mutex);
        deletedOnWindowThread |= std::this_thread::get_id() == window;
        const int seen = turns;
        missedTurn |= !turned.wait_for(lock, std::chrono::seconds(20), [&] { return turns > seen; });
    };
    bool progressShownWithoutStop = false;
    fake.onPump = [&](int) {
        progressShownWithoutStop |= fake.progress.visible && !fake.progress.stopVisible;
        const std::lock_guard<std::mutex> lock(mutex);
        ++turns;
        turned.notify_all();
    };
    // The messages as they are shown, and on which thread.
    struct Recording : ForwardingUiServices {
        void ShowPlainMessage(const std::string& text) override
        {
            offWindow |= std::this_thread::get_id() != window;
            ForwardingUiServices::ShowPlainMessage(text);
        }
        std::thread::id window = std::this_thread::get_id();
        bool offWindow = false;
        ScopedUiServices installed { *this };
    } recording;

    CommandOptions keep;
    keep.clearReadOnly = false;
    const struct {
        const char* name;
        std::function<void()> run;
    } commands[] = {
        { "Delete1",
            [&] {
                DeleteSelectedFiles(Selection::Of(tree.drive("d") + "\\", { "a.bak", "ro.bak" }, { true, true }), keep);
            } },
        { "N1", [&] { DeleteDirectoryCommand(tree.drive("d") + "\\", tree.drive("d") + "\\", keep); } },
        { "bak1", [&] { DeleteBackupFiles(tree.drive("d") + "\\", keep); } },
    };
    for (const auto& c : commands) {
        SCOPED_TRACE(c.name);
        tree.write("d/a.bak", "a");
        tree.write("d/ro.bak", "r");
        tree.setReadOnly("d/ro.bak", true);
        fake.messages.clear();
        fake.answers = { kIdYes };
        progressShownWithoutStop = false;
        c.run();
        EXPECT_FALSE(tree.exists("d/a.bak"));
        EXPECT_FALSE(deletedOnWindowThread);
        EXPECT_FALSE(missedTurn);
        EXPECT_FALSE(recording.offWindow);
        EXPECT_TRUE(progressShownWithoutStop);
        EXPECT_FALSE(fake.progress.visible);
        EXPECT_TRUE(fake.progress.stopVisible);
        EXPECT_EQ(fake.progress.maxOf[ProgressBar::Overall], 100);
        // The refused file was shown, on the window's thread.
        EXPECT_TRUE(std::any_of(fake.messages.begin(), fake.messages.end(),
            [](const test::ShownMessage& m) { return m.plain && m.text.find("Accesee Denied") != std::string::npos; }));
        tree.setReadOnly("d/ro.bak", false);
    }
}

TEST_F(DeleteCommandsTest, BackupFilesByExtensionInWholeTree)
{
    const char* deleted[] = { "a.bak", "B.Bak", "c.VIX", ".bak", "sub/d.BAK", "sub/deep/.e.vix", "sub/h.bak" };
    const char* kept[] = { "a.bak.txt", "a.bak1", "abak", "bak", "sub/x.vi", "sub/deep/y.bakk" };
    tree.mkdir("root/sub/deep");
    tree.mkdir("root/dir.bak"); // a directory is never deleted by its name
    for (const char* name : deleted)
        tree.write(std::string("root/") + name, "x");
    for (const char* name : kept)
        tree.write(std::string("root/") + name, "x");
    tree.setDosAttrib("root/sub/h.bak", kAttrHidden);
    tree.setReadOnly("root/a.bak", true);

    DeleteBackupFiles(tree.drive("root"), CommandOptions {});
    for (const char* name : deleted)
        EXPECT_FALSE(tree.exists(std::string("root/") + name)) << name;
    for (const char* name : kept)
        EXPECT_TRUE(tree.exists(std::string("root/") + name)) << name;
    EXPECT_TRUE(tree.exists("root/dir.bak"));
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text,
        "＊．ｂａｋ，*.ＶＩＸ を　7 　File を削除しました\n\r\n\r0  Ｆｉｌｅ が削除出来ませんでした");
    EXPECT_EQ(fake.messages[0].caption, "報告");

    // Nothing there: the report still comes, with 0 and 0.
    fake.messages.clear();
    DeleteBackupFiles(tree.drive("root") + "\\", CommandOptions {});
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text,
        "＊．ｂａｋ，*.ＶＩＸ を　0 　File を削除しました\n\r\n\r0  Ｆｉｌｅ が削除出来ませんでした");
}

TEST_F(DeleteCommandsTest, BackupFilesFailuresCountedWithoutNames)
{
    tree.write("r/a.bak", "x");
    tree.write("r/ro.bak", "x");
    tree.setReadOnly("r/ro.bak", true);
    CommandOptions keep;
    keep.clearReadOnly = false;
    DeleteBackupFiles(tree.drive("r") + "\\", keep);
    ASSERT_EQ(fake.messages.size(), 2u);
    EXPECT_EQ(fake.messages[0].text, "Accesee Denied !\n\r\n\rＲｅａｄＯｎｌｙ　を削除しようとした");
    EXPECT_EQ(fake.messages[1].text,
        "＊．ｂａｋ，*.ＶＩＸ を　1 　File を削除しました\n\r\n\r1  Ｆｉｌｅ が削除出来ませんでした");

    // A folder that cannot be read is told, and the report does not pass it off as looked through.
    fake.messages.clear();
    DeleteBackupFiles(tree.drive("gone") + "\\", keep);
    ASSERT_EQ(fake.messages.size(), 2u);
    EXPECT_EQ(fake.messages[0].text.rfind(tree.drive("gone") + "  :   ", 0), 0u) << fake.messages[0].text;
    EXPECT_EQ(fake.messages[1].text,
        "＊．ｂａｋ，*.ＶＩＸ を　0 　File を削除しました\n\r\n\r0  Ｆｉｌｅ が削除出来ませんでした\n\r\n\r1  "
        "個のフォルダーが読めませんでした");
}

TEST_F(DeleteCommandsTest, PanesAreRefreshedBeforeTheReportAndNotAfterNo)
{
    // Each command refreshes once its files are gone, so its report is read over current panes.
    std::vector<size_t> messagesAtRefresh;
    const auto refresh = [&] { messagesAtRefresh.push_back(fake.messages.size()); };
    tree.write("dir/a.bak", "a");
    tree.write("dir/b", "b");
    tree.mkdir("dir/sub");

    DeleteSelectedFiles(Selection::Of(tree.drive("dir") + "\\", { "b" }, { true }), CommandOptions {}, refresh);
    DeleteBackupFiles(tree.drive("dir") + "\\", CommandOptions {}, refresh);
    fake.answers = { kIdNo, kIdYes };
    DeleteDirectoryCommand(tree.drive("dir") + "\\", tree.drive("dir/sub") + "\\", CommandOptions {}, refresh);
    DeleteDirectoryCommand(tree.drive("dir") + "\\", tree.drive("dir/sub") + "\\", CommandOptions {}, refresh);

    // Reports so far when each refresh ran: none, one, then the two questions and two reports later.
    EXPECT_EQ(messagesAtRefresh, (std::vector<size_t> { 0, 1, 4 }));
    EXPECT_EQ(fake.messages.size(), 5u);
    EXPECT_FALSE(tree.exists("dir/sub"));
}

TEST_F(DeleteCommandsTest, MakeDirectoryReportsWithoutName)
{
    tree.mkdir("base");
    EXPECT_TRUE(MakeDirectory(tree.drive("base/new")));
    EXPECT_TRUE(tree.exists("base/new"));
    const struct {
        const char* path;
        const char* message;
    } cases[] = {
        { "base/new", "同じ名前が既にあります" },
        { "base/missing/new", "Path Not Found" },
    };
    for (const auto& c : cases) {
        fake.messages.clear();
        EXPECT_FALSE(MakeDirectory(tree.drive(c.path)));
        ASSERT_EQ(fake.messages.size(), 1u);
        EXPECT_EQ(fake.messages[0].text, c.message);
    }
}

} // namespace
} // namespace zelo
