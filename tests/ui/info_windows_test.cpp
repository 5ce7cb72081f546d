// The information windows and commands: TForm4, TForm5 and TForm8 as the menu items open them, the
// network commands and dialogs, and the shortcut items. The texts are pinned by the engine tests.
#include "tests/ui/ui_fixture.h"

#include "model/state.h"
#include "platform/filesystem.h"
#include "platform/shell.h"
#include "tests/support/fake_ui.h"
#include "tests/support/recording_runner.h"
#include "tests/support/scoped_env.h"
#include "ui/dir_attributes_dialog.h"
#include "ui/drive_combo_box.h"
#include "ui/file_info_dialog.h"
#include "ui/folder_info_dialog.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"
#include "ui/net_connect_dialog.h"
#include "ui/net_disconnect_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include <filesystem>

using namespace zelo;
using namespace zelo::test;

namespace {

// The main window with its information dialogs.
struct InfoWindows {
    InfoWindows()
        : fileInfo(&form, &form)
        , folderInfo(&form)
        , dirAttributes(&form, &form)
    {
        form.SetInfoDialogs(&fileInfo, &folderInfo, &dirAttributes);
        form.show();
    }
    TForm1 form;
    TForm4 fileInfo;
    TForm5 folderInfo;
    TForm8 dirAttributes;
};

void ClickRow(QListWidget* list, int row, Qt::KeyboardModifiers modifiers = {})
{
    QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, list->visualItemRect(list->item(row)).center());
}

} // namespace

class InfoWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void fileInformation();
    void folderInformationCountsTheCurrentLine();
    void directoryAttributesAndLabel();
    void disconnectMovesOnlyFromARemoteDrive();
    void networkDialogs();
    void aShareThatWantsALoginAsksForIt();
    void shortcutItems();
};

void InfoWindowsTest::fileInformation()
{
    DriveFixture drives;
    drives.tree.write("a.txt", std::string(1000, 'a'));
    drives.tree.write("b.txt", std::string(2500, 'b'));
    InfoWindows w;
    FakeUi fake;
    FileListBox* files = w.form.FileBx1;

    w.form.N15Click(); // empty selection: nothing opens (exec would not return)
    ClickRow(files, 1);
    ClickRow(files, 0, Qt::ControlModifier);
    ClickRow(files, 0, Qt::ControlModifier); // the file under the cursor is not selected
    w.form.N15Click();
    QVERIFY(!w.fileInfo.isVisible());

    ClickRow(files, 0, Qt::ControlModifier); // a and b, a under the cursor
    drives.tree.setReadOnly("b.txt", true);
    AnswerNext<TForm4>([](TForm4* d) {
        QCOMPARE(d->Label1->text(), QStringLiteral("Ｆｉｌｅの合計　　2"));
        QCOMPARE(d->Label10->text(), QStringLiteral("全部（選択）"));
        QCOMPARE(d->Label5->text(), QStringLiteral("3.41 KB ( 3,500 Byte )"));
        QVERIFY(d->Label3->text().isEmpty());
        QCOMPARE(d->CheckBox1->checkState(), Qt::PartiallyChecked); // ReadOnly differs
        QCOMPARE(d->CheckBox2->checkState(), Qt::Unchecked);
        QCOMPARE(d->CheckBox3->checkState(), Qt::Checked); // both Archive
        // Enter presses the closing button, never "変更".
        QVERIFY(d->Button1->isDefault() && !d->Button2->isDefault() && d->focusWidget() == d->Button1);
        QTest::keyClick(d->focusWidget(), Qt::Key_Return);
    });
    w.form.MenuItem("N15")->trigger();
    QVERIFY(fake.texts().empty());
    // "変更" with ReadOnly in its third state changes the others and leaves each file's ReadOnly.
    AnswerNext<TForm4>([](TForm4* d) {
        d->CheckBox2->setChecked(true);
        d->Button2->click();
    });
    w.form.N15Click();
    QCOMPARE(fs().GetAttributes("C:\\a.txt"), uint32_t(kAttrHidden | kAttrArchive));
    QCOMPARE(fs().GetAttributes("C:\\b.txt"), uint32_t(kAttrReadOnly | kAttrHidden | kAttrArchive));
    drives.tree.setReadOnly("b.txt", false);
    drives.tree.setDosAttrib("a.txt", kAttrArchive);
    drives.tree.setDosAttrib("b.txt", kAttrArchive);
    files->Reread();
    fake.messages.clear();

    ClickRow(files, 0); // a alone
    AnswerNext<TForm4>([](TForm4* d) {
        QCOMPARE(d->Label1->text(), QStringLiteral("C:\\a.txt"));
        QCOMPARE(d->Label10->text(), QStringLiteral("１ファイル"));
        QVERIFY(d->CheckBox3->isChecked()); // Archive
        QVERIFY(!d->CheckBox5->isEnabled());
        QVERIFY(!d->Label3->text().isEmpty());
        d->CheckBox2->setChecked(true); // Hidden
        d->Button2->click();
    });
    w.form.N15Click();
    QVERIFY(!w.fileInfo.isVisible());
    QCOMPARE(fs().GetAttributes("C:\\a.txt"), uint32_t(kAttrHidden | kAttrArchive));
    QCOMPARE(fake.texts(), (std::vector<std::string> { "変更しました" }));
    QCOMPARE(files->Names(), (std::vector<std::string> { "b.txt" })); // re-read: a is hidden now
}

void InfoWindowsTest::folderInformationCountsTheCurrentLine()
{
    DriveFixture drives;
    drives.tree.write("sub/x", std::string(10, 'x'));
    drives.tree.write("sub/inner/y", std::string(20, 'y'));
    InfoWindows w;
    FakeUi fake;
    ClickRow(w.form.DirBx1, 1);
    QTest::mouseDClick(
        w.form.DirBx1->viewport(), Qt::LeftButton, {}, w.form.DirBx1->visualItemRect(w.form.DirBx1->item(1)).center());
    QCOMPARE(Main.MainTree.CurrentPath(false), std::string("C:\\sub"));
    w.form.DirBx1->SetSelectedIndex(0); // the drive line

    AnswerNext<TForm5>([](TForm5* d) {
        QCOMPARE(d->Label14->text(), QStringLiteral("C:\\sub"));
        QCOMPARE(d->Label16->text(), QStringLiteral("C:\\sub"));
        QCOMPARE(d->Label2->text(), QStringLiteral("1"));
        QCOMPARE(d->Label4->text(), QStringLiteral("2"));
        QCOMPARE(d->Label6->text(), QStringLiteral("30 B ( 30 Byte )"));
        QVERIFY(d->Label8->text().endsWith(QStringLiteral(" Byte )")));
        d->Button1->click();
    });
    w.form.MenuItem("N24")->trigger();
    QCOMPARE(w.form.DirBx1->SelectedIndex(), Main.MainTree.GetLevel());
    QCOMPARE(Main.TreeFileCount, 2);
    QCOMPARE(fake.cursorLog, (std::vector<bool> { true, false }));
    QVERIFY(fake.messages.empty());
}

void InfoWindowsTest::directoryAttributesAndLabel()
{
    DriveFixture drives;
    drives.tree.mkdir("d");
    drives.tree.mkdir("e");
    InfoWindows w;
    FakeUi fake;
    ClickRow(w.form.DirBx1, 1);
    QCOMPARE(w.form.SelectDirPath(), std::string("C:\\d"));

    AnswerNext<TForm8>([](TForm8* d) {
        QCOMPARE(d->Label1->text(), QStringLiteral("C:\\d"));
        QCOMPARE(d->Edit1->text(), QStringLiteral("SYSTEM"));
        QVERIFY(d->CheckBox4->isChecked() && !d->CheckBox4->isEnabled());
        d->CheckBox1->setChecked(true);
        d->CheckBox2->setChecked(true);
        d->Button1->click();
        QCOMPARE(fs().GetAttributes("C:\\d"), uint32_t(kAttrDirectory | kAttrReadOnly | kAttrHidden));
        for (QCheckBox* box : { d->CheckBox1, d->CheckBox2, d->CheckBox3, d->CheckBox5 })
            box->setChecked(false);
        d->Button1->click(); // the dialog stays open
        QCOMPARE(fs().GetAttributes("C:\\d"), uint32_t(kAttrDirectory));
        d->Edit1->setText(QStringLiteral("NEWNAME"));
        d->Button3->click();
        QCOMPARE(d->GroupBox1->title(), QStringLiteral("NEWNAME"));
        d->Button2->click();
    });
    w.form.MenuItem("N23")->trigger();
    QCOMPARE(fake.texts(), (std::vector<std::string> { "属性を変更しました", "属性を変更しました" }));

    // Opened again after a Hidden folder, on the drive line: the drive's root and its label as they
    // are now; "変更" writes the root's own attributes, never the folder's boxes.
    fs().SetAttributes("C:\\d", kAttrDirectory | kAttrHidden);
    AnswerNext<TForm8>([](TForm8* d) { d->Button2->click(); });
    w.form.MenuItem("N23")->trigger();
    w.form.DirBx1->SetSelectedIndex(0);
    w.form.DirBx1Click();
    AnswerNext<TForm8>([](TForm8* d) {
        QCOMPARE(d->Label1->text(), QStringLiteral("C:\\"));
        QCOMPARE(d->Edit1->text(), QStringLiteral("NEWNAME"));
        QVERIFY(!d->CheckBox2->isChecked() && d->Button1->isEnabled());
        d->Button1->click();
        d->Button2->click();
    });
    w.form.MenuItem("N23")->trigger();
    QCOMPARE(fs().GetAttributes("C:\\d"), uint32_t(kAttrDirectory | kAttrHidden));
    QCOMPARE(fs().GetAttributes("C:\\"), uint32_t(kAttrDirectory));

    // A directory that cannot be read: no boxes of it, and nothing to write (d, Hidden, is not listed).
    w.form.DirBx1->SetSelectedIndex(1);
    w.form.DirBx1Click();
    QCOMPARE(w.form.SelectDirPath(), std::string("C:\\e"));
    std::filesystem::remove(drives.tree.linux("e"));
    bool writable = true;
    AnswerNext<TForm8>([&writable](TForm8* d) {
        writable = d->Button1->isEnabled() || d->CheckBox2->isEnabled();
        d->Button2->click();
    });
    w.form.MenuItem("N23")->trigger();
    QVERIFY(!writable);
}

void InfoWindowsTest::disconnectMovesOnlyFromARemoteDrive()
{
    DriveFixture drives("Z=z,remote,unc=\\\\h\\z");
    drives.tree.mkdir("z");
    drives.tree.mkdir("inside");
    InfoWindows w;
    FakeUi fake;
    int shown = 0;
    w.form.ShowDisconnectDialog = [&] { ++shown; }; // the user cancels
    w.form.ShowConnectDialog = [&] { shown += 10; };

    ClickRow(w.form.DirBx1, 1);
    QTest::mouseDClick(
        w.form.DirBx1->viewport(), Qt::LeftButton, {}, w.form.DirBx1->visualItemRect(w.form.DirBx1->item(1)).center());
    w.form.CBox1->ClearItems();
    w.form.MenuItem("N31")->trigger();
    QCOMPARE(shown, 1);
    QCOMPARE(w.form.Label4->text(), QStringLiteral("C:\\inside")); // a local drive: the window stays
    QCOMPARE(w.form.CBox1->Count(), 2); // refilled

    w.form.CBox1->SetEditText("Z:");
    w.form.CBox1Change();
    QCOMPARE(w.form.Label4->text(), QStringLiteral("Z:\\"));
    w.form.N31Click();
    QCOMPARE(shown, 2);
    QCOMPARE(w.form.Label4->text(), QStringLiteral("C:\\")); // to the program's drive
    QCOMPARE(w.form.CBox1->EditText(), std::string("C:\\[]"));

    w.form.MenuItem("N30")->trigger();
    QCOMPARE(shown, 12);
    QVERIFY(fake.messages.empty());
}

void InfoWindowsTest::networkDialogs()
{
    DriveFixture drives("Z=z,remote,unc=\\\\h\\z");
    drives.tree.mkdir("z");
    drives.tree.mkdir("run/gvfs/smb-share:server=nas,share=music");
    ScopedEnv runtime("XDG_RUNTIME_DIR", drives.tree.linux("run"));
    RecordingRunner runner;
    FakeUi fake;

    NetConnectDialog connect;
    QCOMPARE(connect.DriveBox->itemText(0), QStringLiteral("Y:")); // Z is in use
    connect.show();
    QCOMPARE(connect.focusWidget(), connect.ShareEdit); // typing goes into the address
    QTest::keyClick(connect.ShareEdit, Qt::Key_Return); // no address: it says what is missing
    QVERIFY(runner.ran.empty());
    QCOMPARE(
        fake.texts(), (std::vector<std::string> { "接続する共有のアドレス（smb://host/share）を入力してください" }));
    fake.messages.clear();
    connect.ShareEdit->setText(QStringLiteral("smb://nas/music"));
    connect.ConnectClick();
    QCOMPARE(connect.result(), int(QDialog::Accepted));
    QCOMPARE(runner.ran.front(), (std::vector<std::string> { "gio", "mount", "smb://nas/music" }));
    QCOMPARE(GetDriveType("Y:\\"), uint32_t(kDriveRemote));

    NetDisconnectDialog disconnect;
    QCOMPARE(disconnect.DriveList->count(), 2);
    QCOMPARE(disconnect.DriveList->item(0)->text(), QStringLiteral("Y:  \\\\nas\\music"));
    runner.ran.clear();
    disconnect.DisconnectClick();
    QCOMPARE(disconnect.result(), int(QDialog::Accepted));
    QCOMPARE(runner.ran.size(), size_t(1));
    QCOMPARE(runner.ran[0][2], std::string("-u"));
    QCOMPARE(GetDriveType("Y:\\"), uint32_t(kDriveNoRootDir));
    QVERIFY(fake.messages.empty());
}

// A share that refuses a guest opens the login fields without a report; a refused password is told in
// words and typed again; the right one connects.
void InfoWindowsTest::aShareThatWantsALoginAsksForIt()
{
    DriveFixture drives;
    drives.tree.mkdir("run/gvfs");
    ScopedEnv runtime("XDG_RUNTIME_DIR", drives.tree.linux("run"));
    RecordingRunner runner;
    runner.otherwise = 2;
    const std::vector<std::string> mount { "gio", "mount", "smb://nas/locked" };
    runner.errors[{ "gio", "mount", "-a", "smb://nas/locked" }] = "gio: smb://nas/locked/: Anonymous access denied\n";
    FakeUi fake;
    NetConnectDialog connect;
    connect.show();
    connect.ShareEdit->setText(QStringLiteral("smb://nas/locked"));
    connect.ConnectClick();
    QVERIFY(fake.messages.empty());
    QVERIFY(connect.UserEdit->isVisible() && connect.PasswordEdit->isVisible() && connect.DomainEdit->isVisible());
    QCOMPARE(connect.focusWidget(), connect.UserEdit);
    QVERIFY(connect.OkButton->geometry().top() > connect.DomainEdit->geometry().bottom());

    connect.UserEdit->setText(QStringLiteral("alice"));
    connect.PasswordEdit->setText(QStringLiteral("wrong"));
    runner.prompts[mount] = { "User [guest]: ", "Domain [WORKGROUP]: ", "Password: ", "User [guest]: " };
    connect.ConnectClick();
    QCOMPARE(fake.texts(),
        (std::vector<std::string> {
            "smb://nas/locked  :   ユーザー名またはパスワードが正しくありません（エラー番号　1326）" }));
    QVERIFY(connect.PasswordEdit->text().isEmpty());
    QVERIFY(connect.isVisible());

    fake.messages.clear();
    runner.prompts[mount] = { "User [guest]: ", "Domain [WORKGROUP]: ", "Password: " };
    runner.answers[mount] = { 0, "" };
    drives.tree.mkdir("run/gvfs/smb-share:server=nas,share=locked"); // where GVfs shows the mount
    runner.replies.clear();
    connect.PasswordEdit->setText(QStringLiteral("s3cret"));
    connect.ConnectClick();
    QCOMPARE(connect.result(), int(QDialog::Accepted));
    QCOMPARE(runner.replies, (std::vector<std::optional<std::string>> { "alice", "", "s3cret" }));
    QVERIFY(fake.messages.empty());
    QVERIFY(connect.PasswordEdit->text().isEmpty());
}

void InfoWindowsTest::shortcutItems()
{
    DriveFixture drives;
    drives.tree.write("r.txt", "r");
    InfoWindows w;
    FakeUi fake;
    w.form.MenuItem("N35")->trigger(); // no file under the cursor
    QCOMPARE(fake.texts(), (std::vector<std::string> { "ファイルが選択されておりません" }));

    ClickRow(w.form.FileBx1, 0);
    w.form.MenuItem("N35")->trigger();
    QCOMPARE(std::filesystem::read_symlink(drives.tree.linux("r.lnk")).string(), drives.tree.linux("r.txt"));
    QCOMPARE(fake.messages.back().caption, std::string("報告"));

    drives.tree.mkdir("home/Desktop");
    ScopedEnv home("HOME", drives.tree.linux("home"));
    ScopedEnv config("XDG_CONFIG_HOME", drives.tree.linux("home/.config"));
    w.form.MenuItem("N34")->trigger();
    QVERIFY(drives.tree.exists("home/Desktop/r.lnk"));
}

QTEST_MAIN(InfoWindowsTest)
#include "info_windows_test.moc"
