// The commands on names and contents: the batch rename dialog TRen and its two modes, the input
// dialog's offer for a file rename, and what the rename, case and conversion handlers gather, call
// and refresh. The texts themselves are pinned by the engine's tests.
#include "tests/ui/ui_fixture.h"

#include "engine/text_convert.h"
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

using Names = std::vector<std::string>;

// The main window over a tree of files, with its two naming dialogs and a scripted user.
struct Desk {
    explicit Desk(const Names& files)
    {
        for (const std::string& file : files)
            drives.tree.write(file, file);
        form.SetDialogs(&input, nullptr);
        form.SetRenameDialog(&ren);
        Refill();
    }
    // The panes list what the test made after the window was built.
    void Refill() { Main.MainTree.Refill(false); }
    void Select(std::initializer_list<int> rows)
    {
        for (int row : rows)
            form.FileBx1->SetSelected(row, true);
    }
    // The next input dialog: remembers what it offers, then confirms typed (cancels for null).
    void Answer(const char* typed)
    {
        AnswerNext<TForm3>([this, typed](TForm3* dialog) {
            offered = dialog->Edit1->text();
            if (typed) dialog->Edit1->setText(QString::fromUtf8(typed));
            (typed ? dialog->Button1 : dialog->Button2)->click();
        });
    }
    DriveFixture drives;
    TForm1 form;
    TForm3 input { &form };
    TRen ren { &form };
    FakeUi fake;
    QString offered;
};

// Enabled: Edit1, Edit2, Button1 (name mode), Edit3, Button2 (extension mode).
std::vector<bool> ModeControls(const TRen& r)
{
    return { r.Edit1->isEnabled(), r.Edit2->isEnabled(), r.Button1->isEnabled(), r.Edit3->isEnabled(),
        r.Button2->isEnabled() };
}

const std::vector<bool> kNameMode { true, true, true, false, false };
const std::vector<bool> kExtensionMode { false, false, false, true, true };

} // namespace

class NamesCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void renModesAndRequest();
    void renameOneFile();
    void batchRename();
    void renameDirectory();
    void caseCommands();
    void conversionItems();
};

void NamesCommandsTest::renModesAndRequest()
{
    ResetMainState();
    TRen ren;
    QVERIFY(ren.windowFlags() & Qt::WindowCloseButtonHint);
    QCOMPARE(ModeControls(ren), kNameMode);
    const struct {
        const char* what;
        std::function<void(TRen*)> act;
        std::vector<bool> enabled;
        int inputMode;
        std::string start, base, ext;
    } rows[] = {
        { "name", [](TRen* r) { r->Edit1->setText("t"), r->Edit2->setText("01"), r->Button1->click(); }, kNameMode, 1,
            "01", "t", "" },
        { "extension", [](TRen* r) { r->RadioButton2->click(), r->Edit3->setText("mpg"), r->Button2->click(); },
            kExtensionMode, 2, "001", "", "mpg" },
        // Cancelled: the last request stays, and so do the dialog's mode and texts.
        { "cancel", [](TRen* r) { r->Button3->click(); }, kExtensionMode, 0, "001", "", "mpg" },
        { "close box", [](TRen* r) { r->close(); }, kExtensionMode, 0, "001", "", "mpg" },
        { "back to name", [](TRen* r) { r->RadioButton1->click(), r->Button1->click(); }, kNameMode, 1, "01", "t", "" },
    };
    for (const auto& row : rows) {
        Main.InputMode = 1;
        AnswerNext<TRen>(row.act);
        ren.exec();
        QVERIFY2(!ren.isVisible() && ModeControls(ren) == row.enabled, row.what);
        QVERIFY2(Main.InputMode == row.inputMode, row.what);
        QVERIFY2(
            Main.RenStartText == row.start && Main.RenBaseName == row.base && Main.RenExtText == row.ext, row.what);
    }
}

void NamesCommandsTest::renameOneFile()
{
    Desk desk({ "a.txt", "b.txt" });
    // The file under the cursor is not selected: nothing is offered that the rename could not act on.
    int asked = 0;
    const auto showInput = desk.form.ShowInputDialog;
    desk.form.ShowInputDialog = [&asked] { ++asked; };
    desk.form.FileBx1->setCurrentRow(1);
    desk.form.FileBx1->SetAllSelected(false);
    desk.form.Rename1Click();
    QCOMPARE(asked, 0);
    QCOMPARE(desk.fake.texts(), Names { "Ｆｉｌｅ　を選択して下さい" });
    desk.fake.messages.clear();
    desk.form.ShowInputDialog = showInput;

    desk.Select({ 1 });
    desk.Answer(nullptr);
    desk.form.MenuItem("Rename1")->trigger();
    QCOMPARE(desk.offered, QStringLiteral("C:\\b.txt")); // the focused file's full path
    QVERIFY(desk.fake.messages.empty() && desk.drives.tree.exists("b.txt"));

    desk.Answer("C:\\c.txt");
    desk.form.Rename1Click();
    QVERIFY(desk.drives.tree.exists("c.txt") && !desk.drives.tree.exists("b.txt"));
    QCOMPARE(desk.form.FileBx1->Names(), (Names { "a.txt", "c.txt" })); // re-read
    QCOMPARE(desk.fake.messages.size(), size_t(1));
}

void NamesCommandsTest::batchRename()
{
    const struct {
        const char* what;
        std::function<void(TRen*)> act;
        Names listed;
        std::string startAfter; // the last serial written
    } rows[] = {
        { "name", [](TRen* r) { r->Edit1->setText("t"), r->Edit2->setText("1"), r->Button1->click(); },
            { "b.txt", "t1.txt", "t2.txt" }, "2" },
        { "extension", [](TRen* r) { r->RadioButton2->click(), r->Edit3->setText("md"), r->Button2->click(); },
            { "a.md", "b.txt", "c.md" }, "001" },
        { "cancel", [](TRen* r) { r->Button3->click(); }, { "a.txt", "b.txt", "c.txt" }, "" },
        // A base that would take the files out of their folder: refused with one message, nothing renamed.
        { "outside",
            [](TRen* r) {
                r->RadioButton1->click(), r->Edit1->setText("..\\t"), r->Edit2->setText("1"), r->Button1->click();
            },
            { "a.txt", "b.txt", "c.txt" }, "1" },
    };
    for (const auto& row : rows) {
        Desk desk({ "a.txt", "b.txt", "c.txt" });
        desk.Select({ 0, 2 });
        AnswerNext<TRen>(row.act);
        desk.form.MenuItem("Rename1")->trigger();
        QVERIFY2(desk.form.FileBx1->Names() == row.listed, row.what);
        QVERIFY2(Main.RenStartText == row.startAfter, row.what);
        QVERIFY2(desk.fake.messages.size() == (Main.InputMode == 0 ? 0u : 1u), row.what);
    }
}

void NamesCommandsTest::renameDirectory()
{
    Desk desk({ "sub/f.txt" });
    desk.drives.tree.mkdir("sub/inner");
    TForm1& form = desk.form;
    form.DirBx1->SetSelectedIndex(1);
    form.DirBx1DblClick(); // into C:\sub: C:\, sub, inner

    // A subdirectory: renamed in place.
    form.DirBx1->SetSelectedIndex(2);
    desk.Answer("C:\\sub\\outer");
    form.MenuItem("RENDIR1")->trigger();
    QCOMPARE(desk.offered, QStringLiteral("C:\\sub\\inner"));
    QVERIFY(desk.drives.tree.exists("sub/outer"));
    QCOMPARE(Main.InputText, std::string("outer"));
    QCOMPARE(form.DirBx1->Item(2), std::string("    outer"));
    QCOMPARE(form.Label9->text(), QStringLiteral("C:\\sub\\outer"));

    // The current directory itself: the file pane and the current path follow the new name.
    form.DirBx1->SetSelectedIndex(1);
    desk.Answer("C:\\top");
    form.RENDIR1Click();
    QCOMPARE(form.FileBx1->Directory(), std::string("C:\\top"));
    QCOMPARE(form.FileBx1->Names(), Names { "f.txt" });
    QCOMPARE(form.Label4->text(), QStringLiteral("C:\\top"));

    // Moved into another directory: it leaves the list.
    form.DirBx1->SetSelectedIndex(2);
    desk.Answer("C:\\outer");
    form.RENDIR1Click();
    QVERIFY(desk.drives.tree.exists("outer"));
    QCOMPARE(form.DirBx1->Count(), 2);
    QCOMPARE(desk.fake.messages.size(), size_t(3));

    // The drive line: both directory commands refuse before anything else.
    int asked = 0;
    form.ShowInputDialog = [&asked] { ++asked; };
    form.DirBx1->SetSelectedIndex(0);
    form.RENDIR1Click();
    form.oomozi1Click();
    QCOMPARE(asked, 0);
    QCOMPARE(desk.fake.messages.size(), size_t(5));
}

void NamesCommandsTest::caseCommands()
{
    Desk desk({ "abc.txt", "keep.txt" });
    desk.drives.tree.mkdir("Sub");
    desk.Refill();
    desk.Select({ 0 });
    desk.form.MenuItem("N26")->trigger();
    QCOMPARE(desk.form.FileBx1->Names(), (Names { "ABC.TXT", "keep.txt" })); // renamed and re-read
    desk.Select({ 0 });
    desk.form.MenuItem("N27")->trigger();
    QVERIFY(desk.drives.tree.exists("abc.txt"));

    for (const char* item : { "oomozi1", "komozi1" }) {
        const std::string name = item == std::string("oomozi1") ? "SUB" : "sub";
        desk.form.DirBx1->SetSelectedIndex(1);
        desk.form.MenuItem(item)->trigger();
        QVERIFY2(desk.drives.tree.exists(name), item);
        QCOMPARE(desk.form.DirBx1->Item(1), "  " + name);
        QCOMPARE(desk.form.Label9->text(), Shown("C:\\" + name));
    }
    // No file selected: the user is asked to select one, and nothing is renamed.
    desk.fake.messages.clear();
    desk.form.FileBx1->SetAllSelected(false);
    desk.form.MenuItem("N26")->trigger();
    QCOMPARE(desk.fake.texts(), Names { "Ｆｉｌｅ　を選択して下さい" });
    QVERIFY(desk.drives.tree.exists("abc.txt"));
}

void NamesCommandsTest::conversionItems()
{
    const std::string text = "a\r\nb\x1b[1mc\bd\n";
    const std::pair<const char*, int> rows[]
        = { { "N25", 0 }, { "N16", 1 }, { "N17", 2 }, { "N0AHDAH1", 3 }, { "UTF8SJis1", 4 }, { "SHIFT81", 5 } };
    for (const auto& [item, mode] : rows) {
        Desk desk({});
        desk.drives.tree.write("one.txt", text);
        desk.drives.tree.write("two.txt", text);
        desk.Refill();
        desk.Select({ 1 });
        desk.form.MenuItem(item)->trigger();
        QVERIFY2(desk.drives.tree.read("two.txt") == *ConvertText(mode, text), item);
        QVERIFY2(desk.drives.tree.read("one.txt") == text, item);
        QVERIFY2(desk.fake.messages.size() == 1 && desk.fake.messages[0].caption == "報告", item);
    }
}

QTEST_MAIN(NamesCommandsTest)
#include "names_commands_test.moc"
