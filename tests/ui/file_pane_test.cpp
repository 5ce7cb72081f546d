// The file pane and its controls: filter, file type states, focus and selection, the icon preview,
// opening files, and saving the list of names.
#include "tests/ui/ui_fixture.h"

#include "model/state.h"
#include "tests/support/fake_ui.h"
#include "ui/command_guard.h"
#include "ui/drive_combo_box.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"
#include "ui/save_list_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace zelo;
using namespace zelo::test;

namespace {

QRect ItemRect(QListWidget* list, int row)
{
    return list->visualItemRect(list->item(row));
}

std::string ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return "<missing>";
    return file.readAll().toStdString();
}

} // namespace

class FilePaneTest : public QObject {
    Q_OBJECT
private slots:
    void filterWithTwoPatterns();
    void fileTypeStates();
    void hiddenDirectoriesFollowCheck1();
    void focusedPathNeedsSelection();
    void selectAllAndNone();
    void nameBytesSurviveDisplay();
    void iconPreviewAndOpening();
    void saveListTwiceKeepsEarlierLines();
    void saveListFailureIsQuiet();
    void saveDialogTakesDrivePaths();
    void saveDialogShowsDrivesAndHiddenAsThePaneDoes();
    void outsideChangesKeepSelectionAndScroll_data();
    void outsideChangesKeepSelectionAndScroll();
    void removedShownDirectoryGoesUp();
    void refillWaitsForARunningCommand();
    void networkDriveRefillsOnActivation();
};

void FilePaneTest::filterWithTwoPatterns()
{
    DriveFixture drives;
    for (const char* name : { "a.txt", "B.LOG", "c.dat", "d.txt", "e.log.bak" })
        drives.tree.write(name, "x");
    TForm1 form;
    QCOMPARE(form.FileBx1->Count(), 5);

    // Every edit applies the mask at once.
    QLineEdit* edit = form.FBox1->lineEdit();
    edit->selectAll();
    QTest::keyClicks(edit, "*.txt;*.log");
    QCOMPARE(form.FileBx1->Names(), (std::vector<std::string> { "a.txt", "B.LOG", "d.txt" }));
    QCOMPARE(form.Label2->text(), QStringLiteral("3"));

    // Choosing a preset applies it too.
    form.FBox1->setCurrentIndex(0);
    QCOMPARE(form.FileBx1->Count(), 5);
    QCOMPARE(form.FileBx1->Mask(), std::string("*.*"));
}

void FilePaneTest::fileTypeStates()
{
    DriveFixture drives;
    drives.tree.write("plain.txt", "p");
    drives.tree.write("hid.txt", "h");
    drives.tree.setDosAttrib("hid.txt", kAttrHidden | kAttrArchive);
    drives.tree.write("sys.txt", "s");
    drives.tree.setDosAttrib("sys.txt", kAttrSystem | kAttrArchive);
    drives.tree.write(".dot", "d");
    TForm1 form;

    QCOMPARE(form.FileBx1->Names(), (std::vector<std::string> { "plain.txt" }));
    QVERIFY(!form.Check2->isEnabled());

    form.Check1->click(); // all files
    QVERIFY(form.Check2->isEnabled());
    QCOMPARE(form.FileBx1->Names(), (std::vector<std::string> { ".dot", "hid.txt", "plain.txt", "sys.txt" }));
    QCOMPARE(form.Label2->text(), QStringLiteral("4"));

    form.Check2->click(); // hidden or system only
    QCOMPARE(form.FileBx1->Names(), (std::vector<std::string> { ".dot", "hid.txt", "sys.txt" }));
    form.Check2->click();
    QCOMPARE(form.FileBx1->Count(), 4);

    form.Check2->click();
    form.Check1->click(); // back to ordinary files; Check2 is cleared and disabled
    QVERIFY(!form.Check2->isChecked());
    QVERIFY(!form.Check2->isEnabled());
    QCOMPARE(form.FileBx1->Names(), (std::vector<std::string> { "plain.txt" }));
    // Check2 without Check1 changes nothing.
    form.Check2Click();
    QCOMPARE(form.FileBx1->FileType(), FileTypeState::OrdinaryOnly);
}

void FilePaneTest::hiddenDirectoriesFollowCheck1()
{
    DriveFixture drives;
    drives.tree.mkdir("open");
    drives.tree.mkdir("secret");
    drives.tree.setDosAttrib("secret", kAttrHidden);
    drives.tree.mkdir(".git");
    TForm1 form;
    auto items = [&form] {
        std::vector<std::string> out;
        for (int i = 0; i < form.DirBx1->Count(); ++i)
            out.push_back(form.DirBx1->Item(i));
        return out;
    };
    QCOMPARE(items(), (std::vector<std::string> { "C:\\", "  .git", "  open" }));
    form.Check1->click();
    QCOMPARE(items(), (std::vector<std::string> { "C:\\", "  .git", "  open", "  secret" }));
    QCOMPARE(form.Label6->text(), QStringLiteral("4"));
    QCOMPARE(Main.MainTree.GetMarker(3), kHiddenMarker);
    QCOMPARE(Main.DialogTree.ShowHidden(), 1);
    form.Check1->click();
    QCOMPARE(items().size(), size_t(3));
    QCOMPARE(Main.DialogTree.ShowHidden(), 0);
}

void FilePaneTest::focusedPathNeedsSelection()
{
    DriveFixture drives;
    drives.tree.write("dir/one.txt", "1");
    drives.tree.write("dir/two.txt", "2");
    TForm1 form;
    form.show();
    form.FileBx1->SetDirectory("C:\\dir");
    QVERIFY(form.FileBx1->FocusedPath().empty()); // nothing focused after a read

    QTest::mouseClick(form.FileBx1->viewport(), Qt::LeftButton, {}, ItemRect(form.FileBx1, 1).center());
    QCOMPARE(form.FileBx1->FocusedPath(), std::string("C:\\dir\\two.txt"));
    // A control-click that deselects the focused item leaves no path.
    QTest::mouseClick(
        form.FileBx1->viewport(), Qt::LeftButton, Qt::ControlModifier, ItemRect(form.FileBx1, 1).center());
    QCOMPARE(form.FileBx1->FocusedName(), std::string("two.txt"));
    QVERIFY(form.FileBx1->FocusedPath().empty());

    // At a drive root no second separator is added.
    form.FileBx1->SetDirectory("C:\\");
    QCOMPARE(form.FileBx1->Count(), 0);
    QCOMPARE(form.Label2->text(), QStringLiteral("0"));
}

void FilePaneTest::selectAllAndNone()
{
    DriveFixture drives;
    TForm1 form;
    form.N12Click(); // empty pane: nothing happens
    form.N14Click();
    for (const char* name : { "a", "b", "c" })
        drives.tree.write(name, "x");
    form.FileBx1->Reread();
    form.MenuItem("N12")->trigger();
    QCOMPARE(form.FileBx1->SelectedFlags(), (std::vector<bool> { true, true, true }));
    form.MenuItem("N14")->trigger();
    QCOMPARE(form.FileBx1->SelectedCount(), 0);
}

void FilePaneTest::nameBytesSurviveDisplay()
{
    DriveFixture drives;
    // Bytes that are no UTF-8 and a "\" inside a name come in their drive forms; the pane draws the
    // stand-in of "\" as "∖".
    const std::string odd = std::string("bad\xff\xfe") + ".txt";
    drives.tree.write(odd, "x");
    drives.tree.write("back\\slash", "x");
    TForm1 form;
    QCOMPARE(form.FileBx1->Names(),
        (std::vector<std::string> { "back\xEF\x81\x9Cslash", "bad\xEF\x9F\xBF\xEF\x9F\xBE.txt" }));
    QCOMPARE(form.FileBx1->item(0)->text(), QStringLiteral("back\u2216slash"));
    // The exact bytes reach the commands: the files can be deleted through the pane.
    FakeUi fake;
    form.FileBx1->SetSelected(0, true);
    form.FileBx1->SetSelected(1, true);
    form.Delete1Click();
    QVERIFY(!drives.tree.exists(odd));
    QVERIFY(!drives.tree.exists("back\\slash"));
    QCOMPARE(fake.messages.size(), size_t(1));
    QCOMPARE(fake.messages[0].caption, std::string("報告"));
}

void FilePaneTest::iconPreviewAndOpening()
{
    DriveFixture drives;
    QImage red(32, 32, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QVERIFY(red.save(QString::fromStdString(drives.tree.linux("icon.ico")), "ICO"));
    drives.tree.write("notes.txt", "n");
    drives.tree.write("broken.ICO", "not an icon");
    TForm1 form;
    form.show();
    std::vector<std::string> opened;
    form.OpenWithShell = [&opened](const std::string& path) { opened.push_back(path); };
    QCOMPARE(form.FileBx1->Names(), (std::vector<std::string> { "broken.ICO", "icon.ico", "notes.txt" }));

    QTest::mouseClick(form.FileBx1->viewport(), Qt::LeftButton, {}, ItemRect(form.FileBx1, 1).center());
    QVERIFY(form.Image1->isVisible());
    const QImage shown = form.Image1->pixmap().toImage();
    QCOMPARE(shown.size(), QSize(70, 70));
    QCOMPARE(QColor(shown.pixel(30, 30)), QColor(Qt::red)); // the icon, stretched
    QCOMPARE(QColor(shown.pixel(0, 0)), QColor(Qt::white));

    // Double-clicking an icon previews it and never opens it.
    QTest::mouseDClick(form.FileBx1->viewport(), Qt::LeftButton, {}, ItemRect(form.FileBx1, 1).center());
    QVERIFY(opened.empty());

    // Another file hides the preview and opens with its program.
    QTest::mouseClick(form.FileBx1->viewport(), Qt::LeftButton, {}, ItemRect(form.FileBx1, 2).center());
    QVERIFY(!form.Image1->isVisible());
    QTest::mouseDClick(form.FileBx1->viewport(), Qt::LeftButton, {}, ItemRect(form.FileBx1, 2).center());
    QCOMPARE(opened, (std::vector<std::string> { "C:\\notes.txt" }));

    // An icon that cannot be read is reported in the error box, and the preview stays open and empty;
    // the extension's case does not matter.
    QString reported;
    AnswerNextMessageBox([&reported](QMessageBox* box) {
        reported = box->text();
        box->accept();
    });
    QTest::mouseClick(form.FileBx1->viewport(), Qt::LeftButton, {}, ItemRect(form.FileBx1, 0).center());
    QVERIFY(reported.contains(QStringLiteral("C:\\broken.ICO")));
    QVERIFY(form.Image1->isVisible());
    QVERIFY(form.Image1->pixmap().isNull());

    // A click in the directory pane hides it.
    QTest::mouseClick(form.DirBx1->viewport(), Qt::LeftButton, {}, ItemRect(form.DirBx1, 0).center());
    QVERIFY(!form.Image1->isVisible());
}

void FilePaneTest::saveListTwiceKeepsEarlierLines()
{
    DriveFixture drives;
    drives.tree.write("first/x1.txt", "1");
    drives.tree.write("first/x2.txt", "2");
    drives.tree.write("second/y1.txt", "3");
    QTemporaryDir out;
    TForm1 form;
    QString target = out.filePath("list1.txt");
    form.AskSaveFileName = [&target] { return target; };

    form.FileBx1->SetDirectory("C:\\first");
    form.MenuItem("FileList1")->trigger();
    QCOMPARE(ReadAll(target), std::string("x1.txt\r\nx2.txt\r\n"));

    form.FileBx1->SetDirectory("C:\\second");
    target = out.filePath("list2.txt");
    form.FileList1Click();
    QCOMPARE(ReadAll(target), std::string("x1.txt\r\nx2.txt\r\ny1.txt\r\n"));

    // A cancelled dialog writes nothing, but the names stay in the buffer for the next save.
    target.clear();
    form.FileList1Click();
    target = out.filePath("list1.txt"); // an existing file is replaced
    form.SaveFileList();
    QCOMPARE(ReadAll(target), std::string("x1.txt\r\nx2.txt\r\ny1.txt\r\ny1.txt\r\n"));
}

void FilePaneTest::saveListFailureIsQuiet()
{
    DriveFixture drives;
    drives.tree.write("f.txt", "f");
    TForm1 form;
    FakeUi fake;
    form.AskSaveFileName = [] { return QStringLiteral("/nonexistent-dir-zelo/list.txt"); };
    form.FileList1Click();
    QVERIFY(fake.messages.empty());
    QCOMPARE(form.FileListBuffer, (std::vector<std::string> { "f.txt" }));
}

void FilePaneTest::saveDialogTakesDrivePaths()
{
    DriveFixture drives("D=out");
    drives.tree.mkdir("out");
    drives.tree.mkdir("work");
    const QString root = Shown(drives.tree.root());
    const QString work = root + "/work";
    const struct {
        QString selected;
        QString expected;
    } cases[] = {
        { work + "/list.txt", work + "/list.txt" }, // a plain name stays in the folder shown
        { work + "/D:\\list3.txt", root + "/out/list3.txt" }, { work + "/d:\\sub\\..\\l.txt", root + "/out/l.txt" },
        { work + "/\\top.txt", root + "/top.txt" }, // the root of the folder's drive
        { work + "/sub\\x.txt", work + "/sub/x.txt" },
        { root + "/out/picked.txt", root + "/out/picked.txt" }, // picked in another folder
        { work + "/Q:\\none.txt", QString() }, // no such drive
    };
    for (const auto& c : cases)
        QCOMPARE(SaveDialogTarget(work, c.selected), c.expected);
}

void FilePaneTest::saveDialogShowsDrivesAndHiddenAsThePaneDoes()
{
    DriveFixture drives("D=out");
    drives.tree.write("work/seen.txt", "s");
    drives.tree.write("work/.hidden.txt", "h");
    drives.tree.mkdir("work/secret");
    drives.tree.setDosAttrib("work/secret", kAttrHidden);
    drives.tree.mkdir("out");
    TForm1 form;
    for (const bool hidden : { false, true }) {
        SaveListDialog dialog(&form, *form.CBox1);
        dialog.Open("C:\\work", hidden ? FileTypeState::All : FileTypeState::OrdinaryOnly, hidden);
        QCOMPARE(dialog.CBox1->EditText().substr(0, 3), std::string("C:\\"));
        QCOMPARE(dialog.DirBx1->Item(dialog.DirBx1->Count() - 1).find("secret") != std::string::npos, hidden);
        const std::vector<std::string> expected
            = hidden ? std::vector<std::string> { ".hidden.txt", "seen.txt" } : std::vector<std::string> { "seen.txt" };
        QCOMPARE(dialog.FileBx1->Names(), expected);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("名前を付けて保存"));
    }
    // A picked name fills the field; a bare name lands in the folder shown, a drive path on its drive.
    SaveListDialog dialog(&form, *form.CBox1);
    dialog.Open("C:\\work", FileTypeState::OrdinaryOnly, false);
    QTest::mouseClick(dialog.FileBx1->viewport(), Qt::LeftButton, {},
        dialog.FileBx1->visualItemRect(dialog.FileBx1->item(0)).center());
    QCOMPARE(dialog.NameEdit->text(), QStringLiteral("seen.txt"));
    dialog.SaveClick();
    QCOMPARE(dialog.Target(), Shown(drives.tree.linux("work/seen.txt")));
    dialog.NameEdit->setText(QStringLiteral("D:\\list.txt"));
    dialog.SaveClick();
    QCOMPARE(dialog.Target(), Shown(drives.tree.linux("out/list.txt")));
}

// Waits for a refill that an outside change started, with the generous limit of a loaded machine.
constexpr int kOutsideRefillLimitMs = 20000;

void FilePaneTest::outsideChangesKeepSelectionAndScroll_data()
{
    // Files alone refill the file pane; a new subdirectory rebuilds the directory pane as well.
    QTest::addColumn<bool>("withSubdirectory");
    QTest::newRow("files") << false;
    QTest::newRow("files and a subdirectory") << true;
}

void FilePaneTest::outsideChangesKeepSelectionAndScroll()
{
    QFETCH(bool, withSubdirectory);
    DriveFixture drives;
    for (int i = 0; i < 60; ++i)
        drives.tree.write("f" + std::to_string(100 + i) + ".txt", "x");
    drives.tree.mkdir("keep");
    drives.tree.mkdir("other");
    TForm1 form;
    form.show();
    QTRY_VERIFY(!form.WatchedDirectory().isEmpty());

    // Two files and a subdirectory selected, one file focused, the file pane scrolled down.
    FileListBox* files = form.FileBx1;
    files->SetSelected(40, true);
    files->SetSelected(41, true);
    files->setCurrentRow(50, QItemSelectionModel::NoUpdate);
    files->verticalScrollBar()->setValue(30);
    form.DirBx1->SetSelectedIndex(1); // "  keep"
    form.DirBx1Click();

    // Other programs add a file, a subdirectory, and remove a file that was not selected.
    drives.tree.write("new.txt", "n");
    if (withSubdirectory) drives.tree.mkdir("added");
    QVERIFY(QFile::remove(Shown(drives.tree.linux("f100.txt"))));
    QTRY_VERIFY_WITH_TIMEOUT(files->Count() == 60 && files->Names().back() == "new.txt", kOutsideRefillLimitMs);
    QTRY_COMPARE_WITH_TIMEOUT(form.DirBx1->Count(), withSubdirectory ? 4 : 3, kOutsideRefillLimitMs);

    QCOMPARE(files->SelectedCount(), 2);
    QVERIFY(files->IsSelected(39) && files->IsSelected(40)); // f140 and f141, one row up now
    QCOMPARE(files->FocusedName(), std::string("f150.txt"));
    QCOMPARE(files->verticalScrollBar()->value(), 30);
    QCOMPARE(Main.MainTree.SelectedPath(false), std::string("C:\\keep"));
    QCOMPARE(form.Label6->text(), QString::number(form.DirBx1->Count()));
    QCOMPARE(form.Label2->text(), QStringLiteral("60"));
}

void FilePaneTest::removedShownDirectoryGoesUp()
{
    DriveFixture drives;
    drives.tree.mkdir("a/gone");
    drives.tree.write("a/here.txt", "h");
    TForm1 form;
    QVERIFY(EnterDrivePath(Main.MainTree, *form.DirBx1, "C:\\a\\gone").empty());
    QTRY_VERIFY(form.WatchedDirectory().endsWith(QStringLiteral("/a/gone")));

    QVERIFY(QDir(Shown(drives.tree.linux("a/gone"))).removeRecursively());
    QTRY_VERIFY_WITH_TIMEOUT(Main.MainTree.GetLevel() == 1, kOutsideRefillLimitMs);
    QCOMPARE(Main.MainTree.CurrentPath(false), std::string("C:\\a"));
    QCOMPARE(form.FileBx1->Names(), (std::vector<std::string> { "here.txt" }));
    QCOMPARE(form.FileBx1->Directory(), std::string("C:\\a"));
    QVERIFY(form.WatchedDirectory().endsWith(QStringLiteral("/a")));
}

void FilePaneTest::refillWaitsForARunningCommand()
{
    DriveFixture drives;
    drives.tree.write("mine.txt", "m");
    TForm1 form;
    QTRY_VERIFY(!form.WatchedDirectory().isEmpty());
    {
        // A command reads the panes while it runs: the change waits for its end.
        const CommandGuard guard(&form);
        drives.tree.write("theirs.txt", "t");
        QTRY_VERIFY_WITH_TIMEOUT(form.OutsideRefillPending(), kOutsideRefillLimitMs);
        QCOMPARE(form.FileBx1->Count(), 1);
    }
    QTRY_COMPARE_WITH_TIMEOUT(form.FileBx1->Count(), 2, kOutsideRefillLimitMs);
}

void FilePaneTest::networkDriveRefillsOnActivation()
{
    DriveFixture drives("Z=z,remote");
    drives.tree.mkdir("z");
    TForm1 form;
    Main.MainTree.SetDrive("Z:\\");
    Main.MainTree.Refill(false);
    QVERIFY(form.WatchedDirectory().isEmpty()); // a share sends no events for others' changes
    form.show();
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));

    QTRY_VERIFY(!form.OutsideRefillPending()); // the refill of the first activation
    drives.tree.write("z/theirs.txt", "t");
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTRY_COMPARE_WITH_TIMEOUT(
        form.FileBx1->Names(), (std::vector<std::string> { "theirs.txt" }), kOutsideRefillLimitMs);
}

QTEST_MAIN(FilePaneTest)
#include "file_pane_test.moc"
