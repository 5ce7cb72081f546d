// The operation dialog, the result and detail windows, and the main window's copy, move, duplicate and
// backup commands: the execute checks in their order, the count field, captions, the result grid.
#include "tests/ui/ui_fixture.h"

#include "engine/backup_plan.h"
#include "engine/folder_transfer.h"
#include "model/state.h"
#include "tests/support/fake_ui.h"
#include "ui/application.h"
#include "ui/detail_window.h"
#include "ui/drive_combo_box.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"
#include "ui/operation_dialog.h"
#include "ui/plan_window.h"
#include "ui/progress_window.h"
#include "ui/result_window.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <filesystem>
#include <fstream>

using namespace zelo;
using namespace zelo::test;

namespace {

// C: holds src (a.txt, sub/b.txt) and report.txt; D: is an empty directory, E: a CD-ROM.
struct Rig {
    static bool Prepare(const TempTree& tree)
    {
        tree.write("src/a.txt", "a");
        tree.write("src/sub/b.txt", "b");
        tree.write("report.txt", "r");
        tree.mkdir("d");
        tree.mkdir("cd");
        return true;
    }
    DriveFixture drives { "D=d;E=cd,cdrom" };
    bool prepared = Prepare(drives.tree); // before the windows read the panes
    TForm1 form;
    TForm9 detail { &form };
    TForm6 result { &form, &detail };
    TForm2 dialog { &result, &form };
    bool started = (form.SetOperationDialog(&dialog), true);
    FakeUi fake;

    // Hands the dialog the command of this mode as the main window gathers it now.
    void Open(int mode) { dialog.SetRequest(form.OperationRequestFor(mode)); }

    int Row(DirListBox* list, const std::string& item)
    {
        for (int i = 0; i < list->Count(); ++i)
            if (list->Item(i) == item) return i;
        return -1;
    }
    // The main window's pane at C:\ with a subdirectory selected ("" selects the root entry).
    void SelectSource(const std::string& name)
    {
        form.DirBx1->SetSelectedIndex(name.empty() ? 0 : Row(form.DirBx1, "  " + name));
    }
    // The dialog's pane on a drive root, entering one subdirectory when named.
    void SetDestination(const std::string& root, const std::string& sub = "")
    {
        Main.DialogTree.SetDrive(root);
        Main.DialogTree.Refill(false);
        if (sub.empty()) return;
        dialog.DirBx2->SetSelectedIndex(Row(dialog.DirBx2, "  " + sub));
        Main.DialogTree.Refill(true);
    }
    void SelectFile(const std::string& name)
    {
        const std::vector<std::string> names = form.FileBx1->Names();
        for (int i = 0; i < int(names.size()); ++i)
            form.FileBx1->SetSelected(i, names[size_t(i)] == name);
    }
    size_t FilesIn(const std::string& relative)
    {
        return size_t(std::distance(std::filesystem::directory_iterator(drives.tree.linux(relative)), {}));
    }
};

void ClickOkOfNextResult()
{
    AnswerNext<TForm6>([](TForm6* result) { result->Button1->click(); });
}

} // namespace

class OperationWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void executeChecksInOrder_data();
    void executeChecksInOrder();
    void countField();
    void sourceFolderOfSelection_data();
    void sourceFolderOfSelection();
    void captionsByMode_data();
    void captionsByMode();
    void resultGridByMode_data();
    void resultGridByMode();
    void backupForcesNewShowsResultAndLocksCommands();
    void commandPreconditions();
    void driveNotReadyGoesBackToTheShownDrive();
    void stopWorksAboveTheDialog();
    void versionsFolderBesideTheBackup_data();
    void versionsFolderBesideTheBackup();
    void planGuardAndVersionsThroughTheWindows();
};

void OperationWindowsTest::executeChecksInOrder_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("destination"); // "" leaves the dialog's pane without a drive
    QTest::addColumn<bool>("rw");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("plain");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<bool>("copied");
    QTest::newRow("no destination") << 1 << "" << false << "Ｄｉｒ　を選択して下さい" << false << false << false;
    QTest::newRow("same as the source") << 1 << "C:src" << false << "同じＤｉｒを選択しています" << false << false
                                        << false;
    // The file copy's source is the current directory: check 3 speaks before check 5 could.
    QTest::newRow("file copy into the current dir")
        << 11 << "C:" << false << "同じＤｉｒを選択しています" << false << false << false;
    QTest::newRow("CD-ROM") << 1 << "E:" << false << "ＣＤ－ＲＯＭ　には実行出来ません　！" << true << true << false;
    QTest::newRow("folder into its own parent")
        << 1 << "C:" << false << "同じＤＩＲが選択されており，実行出来ません" << true << true << false;
    QTest::newRow("CD-ROM with RW") << 1 << "E:" << true << "" << false << true << true;
    QTest::newRow("another drive") << 1 << "D:" << false << "" << false << true << true;
}

void OperationWindowsTest::executeChecksInOrder()
{
    QFETCH(int, mode);
    QFETCH(QString, destination);
    QFETCH(bool, rw);
    QFETCH(QString, message);
    QFETCH(bool, plain);
    QFETCH(bool, closes);
    QFETCH(bool, copied);
    Rig rig;
    rig.SelectSource("src");
    rig.form.CheckBox1->setChecked(rw);
    if (destination.isEmpty())
        Main.DialogTree = PathTree {};
    else
        rig.SetDestination(Bytes(destination.left(2)) + "\\", Bytes(destination.mid(2)));
    rig.Open(mode);
    QSignalSpy finished(&rig.dialog, &QDialog::finished);
    if (copied) ClickOkOfNextResult();
    rig.dialog.Button3Click();

    if (message.isEmpty()) {
        QCOMPARE(rig.fake.texts(), std::vector<std::string> {});
    } else {
        QCOMPARE(rig.fake.texts(), std::vector<std::string> { Bytes(message) });
        QCOMPARE(rig.fake.messages[0].plain, plain);
        if (!plain) QCOMPARE(rig.fake.messages[0].caption, std::string("警告"));
    }
    QCOMPARE(finished.count(), closes ? 1 : 0);
    QCOMPARE(rig.dialog.Button3->isEnabled(), !closes);
    QCOMPARE(rig.dialog.Button4->isEnabled(), !closes);
    const std::string target = destination.startsWith("E") ? "cd/src/sub/b.txt" : "d/src/sub/b.txt";
    QCOMPARE(rig.drives.tree.exists(target), copied);
}

void OperationWindowsTest::countField()
{
    struct Case {
        const char* text;
        int count;
    };
    for (const Case& c : std::vector<Case> { { "12345", 99 }, { "abc", 1 }, { "3", 3 }, { "", 1 }, { "0", 0 },
             { "-4", -1 }, { "99999999999999999999", 99 } })
        QVERIFY2(DuplicateCountFrom(c.text) == c.count, c.text);

    // Through the dialog, as many copies as the field allows; beside the source too (no same-directory
    // check stops a duplicate).
    struct Run {
        const char* text;
        const char* destination;
        const char* directory;
        size_t files;
    };
    for (const Run& r :
        std::vector<Run> { { "12345", "D:\\", "d", 99 }, { "abc", "D:\\", "d", 1 }, { "2", "C:\\", "", 6 } }) {
        Rig rig;
        rig.SelectFile("report.txt");
        rig.SetDestination(r.destination);
        rig.Open(kModeDuplicate);
        rig.dialog.Edit1->setText(QString::fromUtf8(r.text));
        rig.dialog.Button3Click();
        QCOMPARE(rig.fake.texts(), std::vector<std::string> {});
        QCOMPARE(rig.FilesIn(r.directory), r.files); // at C:\ also cd, d, report.txt and src
        QVERIFY(rig.drives.tree.exists(std::string(r.directory) + "/report00.txt"));
        QVERIFY(rig.dialog.Edit1->isHidden());
    }
    // The one selected file is duplicated, not the item under the cursor.
    Rig rig;
    rig.drives.tree.write("other.txt", "o");
    rig.form.FileBx1->Reread();
    rig.form.FileBx1->setCurrentRow(0);
    rig.SelectFile("report.txt");
    QCOMPARE(rig.form.FileBx1->FocusedName(), std::string("other.txt"));
    rig.SetDestination("D:\\");
    rig.Open(kModeDuplicate);
    rig.dialog.Edit1->setText("1");
    rig.dialog.Button3Click();
    QVERIFY(rig.drives.tree.exists("d/report00.txt") && !rig.drives.tree.exists("d/other00.txt"));
}

void OperationWindowsTest::sourceFolderOfSelection_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("contentsOnly");
    QTest::newRow("subdirectory") << "C:\\a\\"
                                  << "C:\\a\\b\\"
                                  << "C:\\a\\b\\" << 0;
    QTest::newRow("current directory") << "C:\\a\\"
                                       << "C:\\a\\"
                                       << "C:\\a\\" << 255;
    QTest::newRow("root entry below the root") << "C:\\a\\"
                                               << "C:\\a"
                                               << "C:\\a\\" << 255;
    QTest::newRow("nothing selected at the root") << "C:\\"
                                                  << "C:\\\\"
                                                  << "C:\\" << 255;
    QTest::newRow("subdirectory of the root") << "C:\\"
                                              << "C:\\b\\"
                                              << "C:\\b\\" << 0;
}

void OperationWindowsTest::sourceFolderOfSelection()
{
    QFETCH(QString, current);
    QFETCH(QString, selected);
    QFETCH(QString, folder);
    QFETCH(int, contentsOnly);
    const SourceFolder source = ResolveSourceFolder(Bytes(current), Bytes(selected));
    QCOMPARE(Shown(source.path), folder);
    QCOMPARE(source.contentsOnly, contentsOnly);
}

void OperationWindowsTest::captionsByMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("source");
    QTest::newRow("folder copy") << 1 << "フオルダーコピー"
                                 << "C:\\src";
    QTest::newRow("folder move") << 2 << "フオルダー移動"
                                 << "C:\\src";
    QTest::newRow("backup") << 4 << "フオルダーのバックアップ"
                            << "C:\\src";
    QTest::newRow("file copy") << 11 << "ファイルコピー"
                               << "C:\\";
    QTest::newRow("file move") << 12 << "ファイル移動"
                               << "C:\\";
    QTest::newRow("duplicate") << 15 << "ファイル複写"
                               << "C:\\";
    QTest::newRow("idle keeps the caption") << 0 << "コピー，移動，削除"
                                            << "C:\\src";
}

void OperationWindowsTest::captionsByMode()
{
    QFETCH(int, mode);
    QFETCH(QString, caption);
    QFETCH(QString, source);
    Rig rig;
    rig.SelectSource("src");
    rig.SetDestination("D:\\");
    rig.Open(mode);
    rig.dialog.FormPaint();
    QCOMPARE(rig.dialog.windowTitle(), caption);
    QCOMPARE(rig.dialog.Label5->text(), source);
    QCOMPARE(rig.dialog.Label3->text(), QStringLiteral("D:\\"));
    QCOMPARE(rig.dialog.Edit1->isHidden(), mode != kModeDuplicate);
    QCOMPARE(rig.dialog.Label6->isHidden(), mode != kModeDuplicate);
    // Cancel stops, closes and hides the count field.
    QSignalSpy finished(&rig.dialog, &QDialog::finished);
    rig.dialog.Button4Click();
    QVERIFY(Main.AbortFlag.stop_requested());
    QCOMPARE(finished.count(), 1);
    QVERIFY(rig.dialog.Edit1->isHidden() && rig.dialog.Label6->isHidden());
}

void OperationWindowsTest::resultGridByMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("deletedRows");
    QTest::newRow("copy") << 1 << "コピー結果" << false;
    QTest::newRow("move") << 2 << "移動結果" << false;
    QTest::newRow("backup") << 4 << "バックアップ結果" << true;
    QTest::newRow("other keeps the title") << 11 << "コピ－結果" << false;
}

void OperationWindowsTest::resultGridByMode()
{
    QFETCH(int, mode);
    QFETCH(QString, title);
    QFETCH(bool, deletedRows);
    ResetMainState();
    TForm9 detail;
    TForm6 result(nullptr, &detail);
    TransferCounts counts;
    counts.createdDirs = 2;
    counts.existingDirs = 3;
    counts.deletedDirs = 4;
    counts.newFiles = 5;
    counts.updatedFiles = 6;
    counts.upToDateFiles = 7;
    counts.deletedFiles = 8;
    counts.newerAtDest = 1;
    result.SetCounts(mode, counts);
    Main.DetailList = { "C:\\s\\x.txt  one  :  two", "C:\\s\\y.txt  three  :  four" };
    result.FormActivate();
    QCOMPARE(result.Label11->text(), title);
    const std::vector<std::pair<QLabel*, QString>> values { { result.Label14, "5" }, { result.Label3, "2" },
        { result.Label5, "3" }, { result.Label15, "18" }, { result.Label8, "5" }, { result.Label10, "6" },
        { result.Label13, "7" } };
    for (const auto& [label, text] : values)
        QCOMPARE(label->text(), text);
    for (QLabel* label : { result.Label16, result.Label17, result.Label18, result.Label19 })
        QCOMPARE(!label->isHidden(), deletedRows);
    if (deletedRows) {
        QCOMPARE(result.Label17->text(), QStringLiteral("8"));
        QCOMPARE(result.Label19->text(), QStringLiteral("4"));
    }
    QVERIFY(!result.Label20->isHidden());
    QCOMPARE(result.Button2->text(), QStringLiteral("1"));
    AnswerNext<TForm9>([](TForm9* window) {
        QCOMPARE(
            window->Memo1->toPlainText(), QStringLiteral("C:\\s\\x.txt  one  :  two\nC:\\s\\y.txt  three  :  four"));
        QTest::keyClick(window->Memo1, Qt::Key_Return); // Enter, even in the list, closes the window
    });
    result.Button2->click();
    QVERIFY(!detail.isVisible());
    // Enter in the result window closes it; the detail list opens only by its button.
    QSignalSpy detailButton(result.Button2, &QPushButton::clicked);
    AnswerNext<TForm6>([](TForm6* shown) { QTest::keyClick(shown->focusWidget(), Qt::Key_Return); });
    QCOMPARE(result.exec(), int(QDialog::Accepted));
    QCOMPARE(detailButton.count(), 0);
}

void OperationWindowsTest::backupForcesNewShowsResultAndLocksCommands()
{
    Rig rig;
    rig.drives.tree.write("d/src/extra.txt", "x");
    rig.drives.tree.write("d/src/old/c.txt", "c");
    rig.drives.tree.write("d/src/a.txt", "newer");
    rig.drives.tree.setTime("src/a.txt", 1000000000);
    rig.form.SetOperationDialog(&rig.dialog);
    rig.form.CheckBox2->setChecked(false);
    rig.SelectSource("src");
    // Refused (the destination lies inside the source): "new" stays as the user left it.
    rig.SetDestination("C:\\", "src");
    rig.dialog.DirBx2->SetSelectedIndex(rig.Row(rig.dialog.DirBx2, "    sub"));
    Main.DialogTree.Refill(true);
    rig.fake.answers = { kIdYes };
    AnswerNext<TForm2>([](TForm2* dialog) { dialog->Button3->click(); });
    rig.form.BackUp1Click();
    QCOMPARE(rig.fake.texts().at(1), std::string("同じＤＩＲ内には　ＤＩＲの移動は不可能です　！"));
    QVERIFY(!rig.form.CheckBox2->isChecked());
    rig.fake.messages.clear();

    rig.SetDestination("D:\\");
    Main.DetailList = { "from an earlier run" };
    bool lockedWhileRunning = true;
    rig.fake.onPump = [&](int) { lockedWhileRunning &= !rig.form.centralWidget()->isEnabled(); };
    rig.fake.answers = { kIdYes };
    QString shownTitle, shownDeleted, planned;
    AnswerNext<TForm2>([](TForm2* dialog) { dialog->Button3->click(); });
    AnswerNext<TPlan>([&planned](TPlan* plan) {
        planned = plan->Label1->text();
        plan->Button1->click();
    });
    AnswerNext<TForm6>([&](TForm6* result) {
        shownTitle = result->Label11->text();
        shownDeleted = result->Label17->text() + "/" + result->Label19->text();
        result->Button1->click();
    });
    rig.form.BackUp1Click();

    QCOMPARE(rig.fake.messages.at(0).caption, std::string("注意"));
    QCOMPARE(shownTitle, QStringLiteral("バックアップ結果"));
    QCOMPARE(shownDeleted, QStringLiteral("2/1")); // files extra.txt and old/c.txt, directory old
    QVERIFY2(planned.contains(QStringLiteral("削除するファイル　2\n削除するフオルダー　1")), qPrintable(planned));
    QVERIFY(rig.form.CheckBox2->isChecked());
    QVERIFY(!rig.drives.tree.exists("d/src/extra.txt") && !rig.drives.tree.exists("d/src/old"));
    QCOMPARE(rig.drives.tree.read("d/src/a.txt"), std::string("newer")); // kept, and listed
    QCOMPARE(Main.DetailList.size(), size_t(1));
    QVERIFY(rig.drives.tree.exists("d/src/sub/b.txt"));
    QVERIFY(rig.fake.pumpCount > 0 && lockedWhileRunning);
    QVERIFY(rig.form.centralWidget()->isEnabled());
}

void OperationWindowsTest::commandPreconditions()
{
    Rig rig;
    rig.form.SetOperationDialog(&rig.dialog);
    // The duplicate needs exactly one selected file.
    rig.SelectFile("");
    rig.form.N22Click();
    QCOMPARE(rig.fake.texts(), std::vector<std::string> { "Ｆｉｌｅ　を選択して下さい" });
    rig.drives.tree.write("second.txt", "s");
    rig.form.FileBx1->Reread();
    rig.form.N12Click();
    rig.fake.messages.clear();
    rig.form.N22Click();
    QCOMPARE(rig.fake.texts(), std::vector<std::string> { "Ｆｉｌｅ　の選択が多すぎます" });
    QCOMPARE(rig.fake.messages[0].caption, std::string("警告"));

    // Each command opens the dialog in its mode.
    struct Case {
        void (TForm1::*handler)();
        int mode;
    };
    for (const Case& c : std::vector<Case> { { &TForm1::Copy2Click, 11 }, { &TForm1::GoTo1Click, 12 },
             { &TForm1::N22Click, 15 }, { &TForm1::Copy1Click, 1 }, { &TForm1::GoTo2Click, 2 } }) {
        QString seen;
        rig.SelectFile("report.txt"); // a move re-reads the pane
        AnswerNext<TForm2>([&seen](TForm2* dialog) {
            dialog->FormPaint();
            seen = dialog->windowTitle();
            dialog->Button4->click();
        });
        (rig.form.*c.handler)();
        QCOMPARE(seen, QString::fromUtf8(OperationCaption(c.mode)));
    }
    // The backup asks first; No opens nothing and keeps the detail list.
    Main.DetailList = { "kept" };
    rig.fake.answers = { kIdNo };
    rig.form.BackUp1Click();
    QCOMPARE(Main.DetailList.size(), size_t(1));
}

void OperationWindowsTest::driveNotReadyGoesBackToTheShownDrive()
{
    // Items C:, D:, F: (no medium): the way back is found by the letter, not by its distance from A.
    DriveFixture drives("D=d;F=missing");
    drives.tree.mkdir("d");
    TForm1 form;
    TForm2 dialog(nullptr, &form);
    form.SetOperationDialog(&dialog);
    FakeUi fake;
    dialog.DirBx2Click();
    dialog.CBox1->SetEditText("F:\\");
    dialog.CBox1Change();
    QCOMPARE(fake.texts(), std::vector<std::string> { "準備が出来ておりません" });
    QCOMPARE(dialog.DestinationText(), std::string("C:\\"));
    QCOMPARE(dialog.CBox1->Item(dialog.CBox1->SelectedIndex()).substr(0, 3), std::string("C:\\"));
    dialog.CBox1->SetEditText("d");
    dialog.CBox1Change();
    QCOMPARE(dialog.DestinationText(), std::string("D:\\"));
    // The typed letter shows as the drive's entry.
    QCOMPARE(dialog.CBox1->EditText(), dialog.CBox1->Item(1));
}

void OperationWindowsTest::stopWorksAboveTheDialog()
{
    // The real windows and services: the progress window's stop button must take a click while the
    // modal dialog runs the copy, and the main window's commands must be off meanwhile.
    // On tmpfs: the copy ends with a sync of its file system, which on a busy disk takes seconds.
    const QByteArray tmp = qgetenv("TMPDIR");
    if (std::filesystem::is_directory("/dev/shm")) qputenv("TMPDIR", "/dev/shm");
    DriveFixture drives("D=zz");
    qputenv("TMPDIR", tmp);
    for (int i = 0; i < 3000; ++i)
        drives.tree.write("src/f" + std::to_string(i) + ".txt", std::string(size_t(i % 4096), 'x'));
    drives.tree.mkdir("zz");
    auto windows = CreateWindows();
    Form1->DirBx1->SetSelectedIndex(1); // src
    Main.DialogTree.SetDrive("D:\\");
    Main.DialogTree.Refill(false);
    bool commandsOff = false, resultShown = false;
    AnswerNext<TForm2>([](TForm2* dialog) { dialog->Button3->click(); });
    auto* stop = new QTimer(Form1);
    stop->setInterval(2);
    QObject::connect(stop, &QTimer::timeout, stop, [&] {
        if (!Form7->isVisible()) return;
        stop->stop();
        commandsOff = !Form1->centralWidget()->isEnabled() && !Form1->menuBar()->isEnabled();
        AnswerNextMessageBox([](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); }); // "中断いたします"
        QTest::mouseClick(Form7->Button1, Qt::LeftButton);
    });
    stop->start();
    AnswerNext<TForm6>([&resultShown](TForm6* result) {
        resultShown = true;
        result->Button1->click();
    });
    Form1->Copy1Click();
    QVERIFY(Main.AbortFlag.stop_requested());
    QVERIFY(!resultShown);
    QVERIFY(commandsOff);
    QVERIFY(Form1->centralWidget()->isEnabled());
    QCOMPARE(Form7->windowModality(), Qt::NonModal);
    const std::filesystem::path copied = drives.tree.linux("zz/src");
    QVERIFY(!std::filesystem::exists(copied)
        || std::distance(std::filesystem::directory_iterator(copied), std::filesystem::directory_iterator()) < 3000);
}

void OperationWindowsTest::versionsFolderBesideTheBackup_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("contentsOnly");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("versions"); // "" : refused
    QTest::newRow("folder into a folder") << "C:\\a\\src\\" << 0 << "D:\\bak\\"
                                          << "D:\\bak\\src.versions";
    QTest::newRow("folder into a root") << "C:\\src\\" << 0 << "D:\\"
                                        << "D:\\src.versions";
    QTest::newRow("contents into a folder") << "C:\\src\\" << 255 << "D:\\x\\bak\\"
                                            << "D:\\x\\bak.versions";
    QTest::newRow("contents into a root") << "C:\\src\\" << 255 << "D:\\"
                                          << "";
}

void OperationWindowsTest::versionsFolderBesideTheBackup()
{
    QFETCH(QString, source);
    QFETCH(int, contentsOnly);
    QFETCH(QString, destination);
    QFETCH(QString, versions);
    QCOMPARE(Shown(VersionsFolderOf({ Bytes(source), contentsOnly }, Bytes(destination))), versions);
}

void OperationWindowsTest::planGuardAndVersionsThroughTheWindows()
{
    // The real windows and services. D:\src holds twelve files the source lacks: the plan lists them, No
    // there or at the second question changes nothing, and the versions box keeps what the run deletes.
    const QByteArray tmp = qgetenv("TMPDIR");
    if (std::filesystem::is_directory("/dev/shm")) qputenv("TMPDIR", "/dev/shm");
    DriveFixture drives("D=zz"); // after src in the directory pane
    qputenv("TMPDIR", tmp);
    drives.tree.write("src/a.txt", "a");
    for (int i = 0; i < 12; ++i)
        drives.tree.write("zz/src/x" + std::to_string(i) + ".txt", "x");
    auto windows = CreateWindows();
    Form1->DirBx1->SetSelectedIndex(1); // src
    Main.DialogTree.SetDrive("D:\\");
    Main.DialogTree.Refill(false);
    const auto backUp = [](bool versions, std::function<void(TPlan*)> answerPlan) {
        AnswerNextMessageBox([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
        AnswerNext<TForm2>([versions](TForm2* dialog) {
            QVERIFY(dialog->CheckBox1->isVisible());
            dialog->CheckBox1->setChecked(versions);
            dialog->Button3->click();
        });
        AnswerNext<TPlan>(std::move(answerPlan));
        Form1->BackUp1Click();
    };

    // The list of what goes opens above the plan and leaves it open; Enter means No.
    QString listed;
    bool planStillOpen = false;
    backUp(false, [&](TPlan* plan) {
        QCOMPARE(plan->focusWidget(), plan->Button2);
        QVERIFY(plan->Button2->isDefault());
        AnswerNext<TForm9>([&](TForm9* detail) {
            listed = detail->Memo1->toPlainText();
            detail->Button1->click();
        });
        plan->Button3->click();
        planStillOpen = plan->isVisible();
        QTest::keyClick(plan->focusWidget(), Qt::Key_Return);
    });
    QVERIFY(planStillOpen);
    QVERIFY2(listed.contains(QStringLiteral("削除　D:\\src\\x11.txt")), qPrintable(listed));
    QCOMPARE(listed.count(QLatin1Char('\n')), 11);
    QVERIFY(drives.tree.exists("zz/src/x11.txt") && !drives.tree.exists("zz/src/a.txt"));

    // Yes to the plan: the second question names the numbers and stands above the dialog; Enter, on its
    // default No, keeps all.
    QString question;
    QWidget* above = nullptr;
    backUp(false, [&](TPlan* plan) {
        AnswerNextMessageBox([&](QMessageBox* box) {
            question = box->text();
            above = box->parentWidget();
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
            QTest::keyClick(box->focusWidget(), Qt::Key_Return);
        });
        plan->Button1->click();
    });
    QCOMPARE(question,
        QStringLiteral("バックアップ先の項目（ファイル・フォルダ－・リンク）　12　のうち　12　を削除します\n本当に実行"
                       "しますか　？"));
    QCOMPARE(above, static_cast<QWidget*>(Form2));
    QVERIFY(drives.tree.exists("zz/src/x11.txt") && !drives.tree.exists("zz/src/a.txt"));

    // With the versions box: Yes twice, and what went is in the run's folder beside the backup.
    backUp(true, [](TPlan* plan) {
        QVERIFY(plan->Label1->text().contains(QStringLiteral("D:\\src.versions")));
        AnswerNextMessageBox([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
        AnswerNext<TForm6>([](TForm6* result) { result->Button1->click(); });
        plan->Button1->click();
    });
    QVERIFY(!drives.tree.exists("zz/src/x11.txt") && drives.tree.exists("zz/src/a.txt"));
    QCOMPARE(Main.DetailList.back().substr(0, Main.DetailList.back().find("：")),
        std::string("以前の版　12　件を残しました　"));
    const auto runs = std::filesystem::directory_iterator(drives.tree.linux("zz/src.versions"));
    QVERIFY(runs != std::filesystem::directory_iterator());
    std::ifstream kept(runs->path() / "x11.txt");
    QCOMPARE(std::string(std::istreambuf_iterator<char>(kept), {}), std::string("x"));
}

QTEST_MAIN(OperationWindowsTest)
#include "operation_windows_test.moc"
