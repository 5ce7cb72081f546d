// The quiet default UI services used before the windows install theirs.
#include "platform/ui_services.h"
#include "tests/support/fake_ui.h"
#include "tests/support/recording_runner.h"

#include <gtest/gtest.h>

using namespace zelo;

TEST(QuietUi, AnswersNoAndReturnsToItAfterAFake)
{
    EXPECT_EQ(ui().AppMessageBox("削除しますか", "注意", kMbYesNo), kIdNo);
    EXPECT_EQ(ui().AppMessageBox("完了", "報告", kMbOk), kIdOk);
    EXPECT_EQ(ui().AppMessageBox("削除しますか", "注意", kMbYesNo | kMbDefButton2), kIdNo);

    {
        zelo::test::FakeUi fake;
        fake.answers.push_back(kIdYes);
        EXPECT_EQ(&ui(), &fake);
        EXPECT_EQ(ui().AppMessageBox("q", "注意", kMbYesNo), kIdYes);
    }
    EXPECT_EQ(ui().AppMessageBox("q", "注意", kMbYesNo), kIdNo);

    ProgressWindow& progress = ui().Progress();
    progress.SetPosition(ProgressBar::Block, 5);
    progress.Step(ProgressBar::Block, 2);
    EXPECT_EQ(progress.Position(ProgressBar::Block), 7);
    progress.Show();
    EXPECT_TRUE(progress.IsVisible());
    progress.Close();
    EXPECT_FALSE(progress.IsVisible());
    ui().ProcessEvents();
    ui().ShowPlainMessage("ファイルが見つかりません");
}

// Replacements nest: each scope forwards to and puts back what was installed before it, never the default.
TEST(ScopedServices, NestedScopesPutBackWhatWasThere)
{
    UiServices& quiet = ui();
    CommandRunner& real = commandRunner();
    {
        zelo::test::FakeUi outer;
        zelo::test::RecordingRunner outerRunner;
        {
            struct Wrapper : ForwardingUiServices {
                ScopedUiServices installed { *this };
            } wrapper;
            zelo::test::RecordingRunner innerRunner;
            EXPECT_EQ(&ui(), &wrapper);
            EXPECT_EQ(&commandRunner(), &innerRunner);
            ui().ShowPlainMessage("x");
            EXPECT_EQ(outer.texts(), std::vector<std::string> { "x" });
        }
        EXPECT_EQ(&ui(), &outer);
        EXPECT_EQ(&commandRunner(), &outerRunner);
    }
    EXPECT_EQ(&ui(), &quiet);
    EXPECT_EQ(&commandRunner(), &real);
}
