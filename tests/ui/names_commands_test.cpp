// The commands on names and contents: the batch rename dialog TRen and its two modes, the input
// dialog's offer for a file rename, and what the rename, case and conversion handlers gather, call
// and refresh. The texts themselves are pinned by the engine's tests.
#include "tests/ui/ui_fixture.h"

#include "engine/text_convert.h"
#include "model/state.h"
#include "tests/support/fake_ui.h"
#include "ui/input_dialog.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"
#include "ui/rename_dialog.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

using namespace zelo;
using namespace zelo::test;

namespace {

// The enabled state of TRen's mode controls: Edit1, Edit2, Button1, Edit3, Button2.
std::vector<bool> ModeControls(const TRen& ren)
{
    return { ren.Edit1->isEnabled(), ren.Edit2->isEnabled(), ren.Button1->isEnabled(), ren.Edit3->isEnabled(),
        ren.Button2->isEnabled() };
}

void SelectRows(TForm1& form, std::initializer_list<int> rows)
{
    for (int row : rows)
        form.FileBx1->SetSelected(row, true);
}

// Plays the input dialog: checks what it offers, then confirms typed (or cancels when typed is null).
void AnswerInput(QString* offered, const char* typed)
{
    AnswerNext<TForm3>([offered, typed](TForm3* input) {
        *offered = input->Edit1->text();
        if (!typed) {
            input->Button2->click();
            return;
        }
        input->Edit1->setText(QString::fromUtf8(typed));
        input->Button1->click();
    });
}

} // namespace

class NamesCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void renRadioButtonsEnableTheirFields();
    void renButtonsHandOverTheRequest();
    void renameOneFileThroughInputDialog();
    void batchRenameThroughRen();
    void renameDirectory();
    void caseOfFilesAndDirectories();
    void conversionItemsConvertTheSelection();
};

void NamesCommandsTest::renRadioButtonsEnableTheirFields()
{
    ResetMainState();
    TRen ren;
    QCOMPARE(ren.windowTitle(), QStringLiteral("名前の変更　一括処理"));
    QVERIFY(ren.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(ren.RadioButton1->isChecked());
    QCOMPARE(ModeControls(ren), (std::vector<bool> { true, true, true, false, false }));
    const struct {
        QRadioButton* radio;
        std::vector<bool> enabled;
    } steps[] = {
        { ren.RadioButton2, { false, false, false, true, true } },
        { ren.RadioButton2, { false, false, false, true, true } },
        { ren.RadioButton1, { true, true, true, false, false } },
    };
    for (const auto& step : steps) {
        step.radio->click();
        QVERIFY(step.radio->isChecked());
        QCOMPARE(ModeControls(ren), step.enabled);
    }
}

void NamesCommandsTest::renButtonsHandOverTheRequest()
{
    ResetMainState();
    TRen ren;
    const struct {
        const char* what;
        std::function<void(TRen*)> act;
        int inputMode;
        std::string start, base, ext;
    } rows[] = {
        { "name mode",
            [](TRen* r) {
                r->Edit1->setText("t");
                r->Edit2->setText("01");
                r->Button1->click();
            },
            1, "01", "t", "" },
        { "extension mode",
            [](TRen* r) {
                r->RadioButton2->click();
                r->Edit3->setText("mpg");
                r->Button2->click();
            },
            2, "001", "", "mpg" },
        // Cancelled: the last request stays.
        { "cancel", [](TRen* r) { r->Button3->click(); }, 0, "001", "", "mpg" },
        { "close box", [](TRen* r) { r->close(); }, 0, "001", "", "mpg" },
        // The dialog kept its mode and texts; the name-mode fields too.
        { "kept", [](TRen* r) { r->Button2->click(); }, 2, "001", "", "mpg" },
    };
    for (const auto& row : rows) {
        Main.InputMode = 1;
        AnswerNext<TRen>(row.act);
        ren.exec();
        QVERIFY2(!ren.isVisible(), row.what);
        QVERIFY2(Main.InputMode == row.inputMode, row.what);
        QVERIFY2(
            Main.RenStartText == row.start && Main.RenBaseName == row.base && Main.RenExtText == row.ext, row.what);
    }
    QCOMPARE(ren.Edit1->text(), QStringLiteral("t"));
    QCOMPARE(ren.Edit2->text(), QStringLiteral("01"));
    QVERIFY(ren.RadioButton2->isChecked());
}

void NamesCommandsTest::renameOneFileThroughInputDialog()
{
    DriveFixture drives;
    drives.tree.write("a.txt", "a");
    drives.tree.write("b.txt", "b");
    TForm1 form;
    TForm3 input(&form);
    form.SetDialogs(&input, nullptr);
    FakeUi fake;

    // Cancelled: nothing changes.
    form.FileBx1->setCurrentRow(1);
    SelectRows(form, { 1 });
    QString offered;
    AnswerInput(&offered, nullptr);
    form.MenuItem("Rename1")->trigger();
    QCOMPARE(offered, QStringLiteral("C:\\b.txt")); // the focused file's full path
    QVERIFY(fake.messages.empty());
    QVERIFY(drives.tree.exists("b.txt"));

    AnswerInput(&offered, "C:\\c.txt");
    form.Rename1Click();
    QVERIFY(drives.tree.exists("c.txt") && !drives.tree.exists("b.txt"));
    QCOMPARE(form.FileBx1->Names(), (std::vector<std::string> { "a.txt", "c.txt" })); // re-read
    QCOMPARE(fake.messages.size(), size_t(1));

    // A failed move leaves the list as it was.
    drives.tree.write("d.txt", "d");
    form.FileBx1->setCurrentRow(0);
    SelectRows(form, { 0 });
    AnswerInput(&offered, "C:\\d.txt");
    form.Rename1Click();
    QCOMPARE(offered, QStringLiteral("C:\\a.txt"));
    QCOMPARE(drives.tree.read("d.txt"), std::string("d"));
    QCOMPARE(form.FileBx1->Names(), (std::vector<std::string> { "a.txt", "c.txt" }));
    QCOMPARE(fake.messages.size(), size_t(2));
}

void NamesCommandsTest::batchRenameThroughRen()
{
    const struct {
        const char* what;
        std::function<void(TRen*)> act;
        std::vector<std::string> listed;
        std::string startAfter;
    } rows[] = {
        { "name mode",
            [](TRen* r) {
                r->Edit1->setText("t");
                r->Edit2->setText("1");
                r->Button1->click();
            },
            { "b.txt", "t1.txt", "t2.txt" }, "2" },
        { "extension mode",
            [](TRen* r) {
                r->RadioButton2->click();
                r->Edit3->setText("md");
                r->Button2->click();
            },
            { "a.md", "b.txt", "c.md" }, "001" },
        { "cancel", [](TRen* r) { r->Button3->click(); }, { "a.txt", "b.txt", "c.txt" }, "" },
    };
    for (const auto& row : rows) {
        DriveFixture drives;
        for (const char* name : { "a.txt", "b.txt", "c.txt" })
            drives.tree.write(name, name);
        TForm1 form;
        TRen ren(&form);
        form.SetRenameDialog(&ren);
        FakeUi fake;
        SelectRows(form, { 0, 2 });
        AnswerNext<TRen>(row.act);
        form.MenuItem("Rename1")->trigger();
        QVERIFY2(form.FileBx1->Names() == row.listed, row.what);
        QVERIFY2(Main.RenStartText == row.startAfter, row.what);
        QVERIFY2(fake.messages.size() == (Main.InputMode == 0 ? 0u : 1u), row.what);
    }
}

void NamesCommandsTest::renameDirectory()
{
    DriveFixture drives;
    drives.tree.write("sub/f.txt", "f");
    drives.tree.mkdir("sub/inner");
    TForm1 form;
    TForm3 input(&form);
    form.SetDialogs(&input, nullptr);
    FakeUi fake;
    form.DirBx1->SetSelectedIndex(1);
    form.DirBx1DblClick(); // into C:\sub: C:\, sub, inner

    // A subdirectory: renamed in place, the file pane untouched.
    form.DirBx1->SetSelectedIndex(2);
    QString offered;
    AnswerInput(&offered, "C:\\sub\\outer");
    form.MenuItem("RENDIR1")->trigger();
    QCOMPARE(offered, QStringLiteral("C:\\sub\\inner"));
    QVERIFY(drives.tree.exists("sub/outer"));
    QCOMPARE(Main.InputText, std::string("outer"));
    QCOMPARE(form.DirBx1->Item(2), std::string("    outer"));
    QCOMPARE(form.Label9->text(), QStringLiteral("C:\\sub\\outer"));
    QCOMPARE(fake.messages.size(), size_t(1));

    // The current directory itself: the file pane and the current path follow the new name.
    form.DirBx1->SetSelectedIndex(1);
    AnswerInput(&offered, "C:\\top");
    form.RENDIR1Click();
    QCOMPARE(form.FileBx1->Directory(), std::string("C:\\top"));
    QCOMPARE(form.FileBx1->Names(), std::vector<std::string> { "f.txt" });
    QCOMPARE(form.Label4->text(), QStringLiteral("C:\\top"));
    QCOMPARE(Main.MainTree.CurrentPath(true), std::string("C:\\top\\"));

    // Moved into another directory: it leaves the list rather than stay under a name that is not there.
    form.DirBx1->SetSelectedIndex(2);
    AnswerInput(&offered, "C:\\outer");
    form.RENDIR1Click();
    QVERIFY(drives.tree.exists("outer"));
    QCOMPARE(form.DirBx1->Count(), 2);
    QCOMPARE(Main.MainTree.CurrentPath(false), std::string("C:\\top"));

    // The drive line: refused before the dialog.
    int asked = 0;
    form.ShowInputDialog = [&asked] { ++asked; };
    form.DirBx1->SetSelectedIndex(0);
    const size_t before = fake.messages.size();
    form.RENDIR1Click();
    form.oomozi1Click();
    QCOMPARE(asked, 0);
    QCOMPARE(fake.messages.size(), before + 2);
}

void NamesCommandsTest::caseOfFilesAndDirectories()
{
    DriveFixture drives;
    drives.tree.write("abc.txt", "a");
    drives.tree.write("keep.txt", "k");
    drives.tree.mkdir("Sub");
    TForm1 form;
    FakeUi fake;

    SelectRows(form, { 0 });
    form.MenuItem("N26")->trigger();
    QVERIFY(drives.tree.exists("ABC.TXT") && drives.tree.exists("keep.txt"));
    QCOMPARE(form.FileBx1->Names(), (std::vector<std::string> { "ABC.TXT", "keep.txt" }));
    SelectRows(form, { 0 });
    form.N27Click();
    QVERIFY(drives.tree.exists("abc.txt"));

    const struct {
        const char* item;
        const char* name;
        const char* label;
    } rows[] = { { "oomozi1", "SUB", "C:\\SUB" }, { "komozi1", "sub", "C:\\sub" } };
    for (const auto& row : rows) {
        form.DirBx1->SetSelectedIndex(1);
        form.MenuItem(row.item)->trigger();
        QVERIFY2(drives.tree.exists(row.name), row.item);
        QCOMPARE(form.DirBx1->Item(1), std::string("  ") + row.name);
        QCOMPARE(Main.InputText, std::string(row.name));
        QCOMPARE(form.Label9->text(), QString::fromUtf8(row.label));
    }
    QCOMPARE(fake.messages.size(), size_t(4));
}

void NamesCommandsTest::conversionItemsConvertTheSelection()
{
    const std::string text = "a\r\nb\x1b[1mc\bd\n";
    const struct {
        const char* item;
        int mode;
    } rows[] = { { "N25", 0 }, { "N16", 1 }, { "N17", 2 }, { "N0AHDAH1", 3 }, { "UTF8SJis1", 4 }, { "SHIFT81", 5 } };
    for (const auto& row : rows) {
        DriveFixture drives;
        drives.tree.write("one.txt", text);
        drives.tree.write("two.txt", text);
        TForm1 form;
        FakeUi fake;
        SelectRows(form, { 1 });
        form.MenuItem(row.item)->trigger();
        QVERIFY2(drives.tree.read("two.txt") == *ConvertText(row.mode, text), row.item);
        QVERIFY2(drives.tree.read("one.txt") == text, row.item);
        QVERIFY2(fake.messages.size() == 1 && fake.messages[0].caption == "報告", row.item);
    }
}

QTEST_MAIN(NamesCommandsTest)
#include "names_commands_test.moc"
