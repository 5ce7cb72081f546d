// The main window: start-up state, menus, the CD-ROM lock, drive changes, navigation in the
// directory pane, and the deletion and directory-creation commands.
#include "tests/ui/ui_fixture.h"

#include "model/state.h"
#include "platform/filesystem.h"
#include "platform/shell.h"
#include "tests/support/fake_ui.h"
#include "tests/support/faulty_fs.h"
#include "tests/support/recording_runner.h"
#include "ui/application.h"
#include "ui/drive_combo_box.h"
#include "ui/input_dialog.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"
#include "ui/progress_window.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <deque>
#include <filesystem>
#include <set>

using namespace zelo;
using namespace zelo::test;

namespace {

struct MenuRow {
    int depth;
    QString name;
    QString caption;
    bool separator;
};

std::vector<MenuRow> Flatten(const QWidget* menu, int depth = 0)
{
    std::vector<MenuRow> rows;
    for (QAction* action : menu->actions()) {
        rows.push_back({ depth, action->objectName(), action->text(), action->isSeparator() });
        if (action->menu())
            for (const MenuRow& row : Flatten(action->menu(), depth + 1))
                rows.push_back(row);
    }
    return rows;
}

QRect ItemRect(QListWidget* list, int row)
{
    return list->visualItemRect(list->item(row));
}

void DoubleClickRow(QListWidget* list, int row)
{
    const QPoint at = ItemRect(list, row).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

std::vector<std::string> DirItems(DirListBox* list)
{
    std::vector<std::string> items;
    for (int i = 0; i < list->Count(); ++i)
        items.push_back(list->Item(i));
    return items;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void startupControls_data();
    void startupControls();
    void startupLabelsAndState();
    void menuTree();
    void blankItemsAreInert();
    void cdromLockFollowsDriveAndRw();
    void driveWithoutMediumReturnsToStartDrive();
    void typedDriveLetterChangesDrive();
    void panesShowWholeItemsAndTypeAheadSkipsIndentation();
    void keyboardOpensPaneMenusAtTheFocusedItem();
    void driveItemTexts();
    void doubleClickNavigation();
    void enterNavigatesAndClickShowsSelection();
    void rootOfRemovableDriveChecksMediumAgain();
    void makeDirectory();
    void makeDirectoryCancelledDoesNothing();
    void deleteSelectedFiles();
    void deleteFailureShowsNoSummary();
    void deleteDirectoryTree();
    void deletionsBesideTheWindowTellWhatStayed();
    void folderTotalsSayWhatTheyLeaveOut();
    void exitResetsPaneAndDisconnects();
    void activationMovesBackAfterOwnWindows();
};

void MainWindowTest::startupControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("CheckBox4") << "CheckBox4"
                               << "終了時ネットワ－ク切断"
                               << "" << false << true;
    QTest::newRow("CBox2") << "CBox2"
                           << "ReadOnly"
                           << "ＲｅａｄＯｎｌｙも削除，CDはArchiveとしてコピ－" << true << true;
    QTest::newRow("CheckBox1") << "CheckBox1"
                               << "RW"
                               << "CD-RWならチェック" << false << true;
    QTest::newRow("CheckBox2") << "CheckBox2"
                               << "new"
                               << "日付の新しいものを更新" << true << true;
    QTest::newRow("Check1") << "Check1"
                            << "Hidden"
                            << "Hidden,System属性のFILE ，Ｄｉｒも表示" << false << true;
    QTest::newRow("Check2") << "Check2"
                            << "Hidden"
                            << "Hidden，Ｓｙｓｔｅｍ属性のＦｉｌｅのみを表示" << false << false;
    QTest::newRow("CheckBox3") << "CheckBox3"
                               << "Free Chk"
                               << "空容量のチェック" << false << true;
}

void MainWindowTest::startupControls()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, hint);
    QFETCH(bool, checked);
    QFETCH(bool, enabled);

    DriveFixture drives;
    TForm1 form;
    auto* box = form.findChild<QCheckBox*>(name);
    QVERIFY(box);
    QCOMPARE(box->parentWidget(), form.TopPanel);
    QCOMPARE(box->text(), text);
    QCOMPARE(box->toolTip(), hint);
    QCOMPARE(box->isChecked(), checked);
    QCOMPARE(box->isEnabled(), enabled);
}

void MainWindowTest::startupLabelsAndState()
{
    DriveFixture drives("D=d,removable");
    drives.tree.mkdir("Windows");
    drives.tree.mkdir("data");
    drives.tree.mkdir("_x");
    drives.tree.write("one.txt", "1");
    drives.tree.write("two.txt", "22");

    TForm1 form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Zelo32 Ver 2.20"));
    QCOMPARE(form.DirBx1->geometry(), QRect(8, 58, 313, 382));
    QVERIFY(!(form.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(form.DirBx1->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
    // 22 pixels high means the whole line: a descender or an underscore stays inside a 22-pixel line.
    QVERIFY(QFontMetrics(form.DirBx1->font()).height() <= 22);
    QVERIFY(form.DirBx1->font().pixelSize() >= 16);
    QCOMPARE(form.CBox1->font().family(), QStringLiteral("ＭＳ 明朝"));
    QVERIFY(QFont::substitutes(QStringLiteral("ＭＳ Ｐゴシック"))
                .contains(QStringLiteral("IPAPGothic"), Qt::CaseInsensitive));

    QCOMPARE(Main.StartPath, std::string("C:\\"));
    QCOMPARE(form.Label4->text(), QStringLiteral("C:\\"));
    QCOMPARE(form.Label9->text(), QStringLiteral("C:\\"));
    // The root, then data, Windows and _x (the underscore sorts after the letters).
    QCOMPARE(DirItems(form.DirBx1), (std::vector<std::string> { "C:\\", "  data", "  Windows", "  _x" }));
    QCOMPARE(form.DirBx1->SelectedIndex(), 0);
    QCOMPARE(form.Label6->text(), QStringLiteral("4"));
    QCOMPARE(form.Label2->text(), QStringLiteral("2"));
    QCOMPARE(form.CBox1->currentText(), QStringLiteral("C:\\"));
    QCOMPARE(form.CBox1->SelectedIndex(), 0);
    QCOMPARE(form.FBox1->currentText(), QStringLiteral("*.*"));
    QCOMPARE(form.FBox1->count(), 10);
    QCOMPARE(form.FBox1->itemText(1), QStringLiteral("*.cpp;*.h;*.dfm;*.res;*.bpr;*.bpg;*.mak;*.bpl;*.bpi;*.ico"));
    QCOMPARE(form.FBox1->itemText(9), QStringLiteral("*.~*;*.obj"));
    // Only the first unbroken run of items with "[" is flagged: C (fixed), not D (removable).
    QCOMPARE(Main.DriveFlags[0], 255);
    QCOMPARE(Main.DriveFlags[1], 0);
    QCOMPARE(form.Label3->text(), QStringLiteral("Current Dir"));
    QCOMPARE(form.Label8->text(), QStringLiteral("Ｓｅｌｅｃｔ Dir"));
    QCOMPARE(form.DirBx1->toolTip(), QStringLiteral("右クリックでメニューが表示"));
    QCOMPARE(form.FileBx1->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(form.DirBx1->sizeHintForRow(0), 21);
    QCOMPARE(form.FileBx1->sizeHintForRow(0), 22);
    QCOMPARE(form.CBox1->view()->sizeHintForRow(0), 18);
    // The process follows the file pane into the start drive's root.
    QCOMPARE(fs().GetCurrentDirectory(), std::string("C:\\"));
    for (const QString& name : TForm1::WriteCommandNames())
        QVERIFY2(form.MenuItem(name)->isEnabled(), qPrintable(name));
}

void MainWindowTest::menuTree()
{
    DriveFixture drives;
    TForm1 form;
    struct Expected {
        const QWidget* menu;
        std::vector<MenuRow> rows;
    };
    const std::vector<Expected> menus = {
        { form.menuBar(),
            { { 0, "Exit1", "終了", false }, { 0, "N20", "ネットワ－ク", false }, { 1, "N30", "接続", false },
                { 1, "N31", "切断", false }, { 0, "HEILP1", "HEILP", false } } },
        { form.PopupMenu1,
            { { 0, "N15", "情報", false }, { 0, "N4", "", true }, { 0, "Copy2", "コピー", false },
                { 0, "GoTo1", "移動", false }, { 0, "N8", "", true }, { 0, "Dup1", "オプション", false },
                { 1, "N22", "複写", false }, { 1, "N28", "", true }, { 1, "N25", "０ＤＨ０ＡＨー>0ＡＨ", false },
                { 1, "N16", "ＥＳＣ 削除", false }, { 1, "N17", "ＢＳ　削除", false },
                { 1, "N0AHDAH1", "0AH->0DH0AH", false }, { 1, "SHIFT81", "SHIFT_ＪＩＳ→ＵＴＦ8", false },
                { 1, "UTF8SJis1", "UTF8->SＨＩＦＴ_ＪＩＳ", false }, { 1, "N29", "", true },
                { 1, "N26", "大文字変換", false }, { 1, "N27", "小文字変換", false }, { 1, "N19", "", true },
                { 1, "FileList1", "File List　を保存", false }, { 1, "N32", "", true },
                { 1, "N33", "ショ－トカット作成", false }, { 2, "N34", "デスクトップ", false },
                { 2, "N35", "現在のパス", false }, { 0, "N3", "", true }, { 0, "Rename1", "ファイル名変更", false },
                { 0, "N11", "", true }, { 0, "N12", "全選択", false }, { 0, "N14", "解除", false },
                { 0, "N5", "", true }, { 0, "", "", false }, { 0, "N13", "", true },
                { 0, "Delete1", "削除", false } } },
        { form.PopupMenu2,
            { { 0, "N6", "情報", false }, { 1, "N24", "容量", false }, { 1, "N23", "属性，ラベル", false },
                { 0, "N21", "", true }, { 0, "MKDIR1", "ＤＩＲ作成", false }, { 0, "RENDIR1", "ＤＩＲ名変更", false },
                { 0, "N2", "", true }, { 0, "Copy1", "コピー", false }, { 0, "GoTo2", "移動", false },
                { 0, "BackUp1", "BackUp", false }, { 0, "N7", "", true }, { 0, "DelBAK1", "オプション", false },
                { 1, "bak1", "*.bak ,*.VIXを削除", false }, { 1, "N9", "", true }, { 1, "oomozi1", "大文字", false },
                { 1, "komozi1", "小文字", false }, { 0, "N18", "", true }, { 0, "", "", false }, { 0, "N10", "", true },
                { 0, "N1", "ＤＩＲの削除", false } } },
    };
    for (const Expected& expected : menus) {
        const std::vector<MenuRow> actual = Flatten(expected.menu);
        QCOMPARE(actual.size(), expected.rows.size());
        for (size_t i = 0; i < actual.size(); ++i) {
            const QByteArray where = expected.menu->objectName().toUtf8() + " row " + QByteArray::number(int(i));
            QVERIFY2(actual[i].depth == expected.rows[i].depth, where.constData());
            QVERIFY2(actual[i].name == expected.rows[i].name, where.constData());
            QVERIFY2(actual[i].caption == expected.rows[i].caption, where.constData());
            QVERIFY2(actual[i].separator == expected.rows[i].separator, where.constData());
        }
    }
    QCOMPARE(form.menuBar()->objectName(), QStringLiteral("MainMenu1"));
    // The pop-up menus belong to the panes.
    QCOMPARE(form.FileBx1->contextMenuPolicy(), Qt::CustomContextMenu);
    QCOMPARE(form.DirBx1->contextMenuPolicy(), Qt::CustomContextMenu);
}

// Every entry below root, as relative Linux paths.
std::set<std::string> Listing(const std::string& root)
{
    std::set<std::string> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        out.insert(std::filesystem::relative(entry.path(), root).string());
    return out;
}

// Whether choosing item does anything the user could see, with every file and a subdirectory selected
// and every question answered Yes: a message, a progress window, a dialog asked for, an entry changed.
bool HasEffect(TForm1& form, const std::string& root, QAction* item)
{
    FakeUi fake;
    fake.answers = std::deque<int>(8, kIdYes);
    int asked = 0;
    form.ShowInputDialog = [&asked] {
        ++asked;
        Main.InputMode = 0;
    };
    form.AskSaveFileName = [&asked] {
        ++asked;
        return QString();
    };
    form.OpenWithShell = [&asked](const std::string&) { ++asked; };
    form.N12Click();
    form.DirBx1->SetSelectedIndex(1);
    const std::set<std::string> before = Listing(root);
    item->trigger();
    return !fake.messages.empty() || fake.progress.showCount > 0 || asked > 0 || Listing(root) != before;
}

void MainWindowTest::blankItemsAreInert()
{
    DriveFixture drives;
    drives.tree.write("a.txt", "x");
    drives.tree.write("sub/b.txt", "y");
    TForm1 form;
    const std::string root = drives.tree.root();
    for (QMenu* menu : { form.PopupMenu1, form.PopupMenu2 }) {
        QAction* blank = nullptr;
        for (QAction* action : menu->actions())
            if (!action->isSeparator() && action->objectName().isEmpty()) blank = action;
        QVERIFY(blank);
        QVERIFY(blank->text().isEmpty());
        QVERIFY(!blank->menu());
        QVERIFY2(!HasEffect(form, root, blank), qPrintable(menu->objectName()));
    }
    // Items of commands still to come are present and quiet.
    for (const char* name : { "N15" })
        QVERIFY2(!HasEffect(form, root, form.MenuItem(name)), name);
    QVERIFY(HasEffect(form, root, form.MenuItem("BackUp1"))); // asks before the dialog
    // The probe sees what a command does: the save dialog asked for, a directory tree deleted.
    QVERIFY(HasEffect(form, root, form.MenuItem("FileList1")));
    QVERIFY(HasEffect(form, root, form.MenuItem("N1")));
    QVERIFY(!drives.tree.exists("sub"));
}

void MainWindowTest::cdromLockFollowsDriveAndRw()
{
    DriveFixture drives("D=cd,cdrom,label=MYCD");
    drives.tree.mkdir("cd");
    TForm1 form;
    FakeUi fake;
    auto writeItemsEnabled = [&form](bool expected) {
        for (const QString& name : TForm1::WriteCommandNames())
            if (form.MenuItem(name)->isEnabled() != expected) return false;
        return true;
    };
    const int cdItem = form.CBox1->findText(QStringLiteral("D:\\ MYCD"));
    QVERIFY(cdItem >= 0);
    form.CBox1->setCurrentIndex(cdItem);
    emit form.CBox1->activated(cdItem);
    QCOMPARE(form.Label4->text(), QStringLiteral("D:\\"));
    QVERIFY(writeItemsEnabled(false));
    // The other items stay usable.
    QVERIFY(form.MenuItem("Copy1")->isEnabled());
    QVERIFY(form.MenuItem("N12")->isEnabled());

    form.CheckBox1->click(); // "RW": the CD is writable
    QVERIFY(writeItemsEnabled(true));
    form.CheckBox1->click();
    QVERIFY(writeItemsEnabled(false));

    // Back on a hard disk everything is enabled again.
    form.CBox1->setCurrentIndex(0);
    emit form.CBox1->activated(0);
    QCOMPARE(form.Label4->text(), QStringLiteral("C:\\"));
    QVERIFY(writeItemsEnabled(true));
    QVERIFY(fake.messages.empty());
}

void MainWindowTest::driveWithoutMediumReturnsToStartDrive()
{
    DriveFixture drives("D=d;E=nodisc,cdrom");
    drives.tree.mkdir("d/sub");
    drives.tree.mkdir("top");
    TForm1 form;
    FakeUi fake;

    // First move to D, so the return to the start drive is visible.
    form.CBox1->setCurrentIndex(1);
    emit form.CBox1->activated(1);
    QCOMPARE(form.Label4->text(), QStringLiteral("D:\\"));

    const int cdItem = form.CBox1->findText(QStringLiteral("E:\\ [CDROM]"));
    QVERIFY(cdItem >= 0);
    form.CBox1->setCurrentIndex(cdItem);
    emit form.CBox1->activated(cdItem);

    QCOMPARE(fake.messages.size(), size_t(1));
    QCOMPARE(fake.messages[0].text, std::string("メディアが挿入されておりません"));
    QCOMPARE(fake.messages[0].caption, std::string("警告"));
    QCOMPARE(fake.messages[0].flags, kMbOk);
    QCOMPARE(form.CBox1->SelectedIndex(), 0);
    QVERIFY(form.CBox1->currentText().startsWith(QStringLiteral("C:\\")));
    QCOMPARE(form.Label4->text(), QStringLiteral("C:\\"));
    QCOMPARE(form.Label9->text(), QStringLiteral("C:\\"));
    QCOMPARE(DirItems(form.DirBx1), (std::vector<std::string> { "C:\\", "  d", "  top" }));
    QCOMPARE(form.Label6->text(), QStringLiteral("3"));
}

void MainWindowTest::typedDriveLetterChangesDrive()
{
    DriveFixture drives("D=d");
    drives.tree.mkdir("d/inner");
    TForm1 form;
    FakeUi fake;
    QLineEdit* edit = form.CBox1->lineEdit();
    edit->selectAll();
    QTest::keyClicks(edit, "d"); // a typed lower-case letter names drive D
    QCOMPARE(form.Label4->text(), QStringLiteral("D:\\"));
    QCOMPARE(form.CBox1->SelectedIndex(), 1); // the selected item follows the letter
    QCOMPARE(edit->text(), QStringLiteral("d")); // and what was typed stays
    QCOMPARE(DirItems(form.DirBx1), (std::vector<std::string> { "D:\\", "  inner" }));
    QVERIFY(fake.messages.empty());
    // Typing a letter without a drive warns and goes back.
    edit->selectAll();
    QTest::keyClicks(edit, "Q");
    QCOMPARE(fake.texts(), (std::vector<std::string> { "メディアが挿入されておりません" }));
    QCOMPARE(form.Label4->text(), QStringLiteral("C:\\"));
}

void MainWindowTest::panesShowWholeItemsAndTypeAheadSkipsIndentation()
{
    DriveFixture drives;
    drives.tree.mkdir("alpha");
    drives.tree.mkdir("beta");
    TForm1 form;
    form.show();
    for (ClickListBox* pane : { static_cast<ClickListBox*>(form.DirBx1), static_cast<ClickListBox*>(form.FileBx1) }) {
        const int rows = pane->viewport()->height();
        QVERIFY2(rows > 0 && rows % pane->ItemHeight() == 0, qPrintable(pane->objectName()));
    }
    // Type-ahead reads the names, not their indentation.
    form.DirBx1->setFocus();
    QTest::keyClicks(form.DirBx1, "b");
    QCOMPARE(form.DirBx1->SelectedIndex(), 2);
    QCOMPARE(form.Label9->text(), QStringLiteral("C:\\beta"));
}

void MainWindowTest::keyboardOpensPaneMenusAtTheFocusedItem()
{
    DriveFixture drives;
    drives.tree.mkdir("sub");
    for (const char* name : { "a.txt", "b.txt" })
        drives.tree.write(name, "x");
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.FileBx1->setCurrentRow(1);
    form.DirBx1->SetSelectedIndex(1);
    for (ClickListBox* pane : { static_cast<ClickListBox*>(form.FileBx1), static_cast<ClickListBox*>(form.DirBx1) }) {
        QSignalSpy requests(pane, &QWidget::customContextMenuRequested);
        // The Menu key (Qt places its event at the item's centre, far right of the scroll extent).
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(900, 30), pane->mapToGlobal(QPoint(900, 30)));
        QApplication::sendEvent(pane, &menuKey);
        pane->setFocus();
        QTest::keyClick(pane, Qt::Key_F10, Qt::ShiftModifier);
        QCOMPARE(requests.count(), 2);
        for (const QList<QVariant>& request : requests) {
            const QPoint at = request.front().toPoint();
            QVERIFY2(pane->viewport()->rect().contains(at), qPrintable(pane->objectName()));
            QVERIFY(pane->visualItemRect(pane->currentItem()).contains(QPoint(pane->ItemHeight(), at.y())));
        }
    }
    // The menu opens there, inside the pane.
    QVERIFY(form.PopupMenu2->isVisible());
    QVERIFY(form.DirBx1->rect().contains(form.DirBx1->mapFromGlobal(form.PopupMenu2->pos())));
    form.PopupMenu1->hide();
    form.PopupMenu2->hide();
}

void MainWindowTest::driveItemTexts()
{
    DriveFixture drives("D=gone;E=empty,label=;F=nodisc,cdrom;G=cdl,cdrom,label=MYCD;H=usb,removable;"
                        "I=cdblank,cdrom,label=;"
                        "Z=share,remote,unc=\\\\nas\\share",
        ",label=WINDOWSXP");
    for (const char* dir : { "empty", "cdl", "cdblank", "usb", "share" })
        drives.tree.mkdir(dir);
    TForm1 form;
    const QStringList expected = {
        "C:\\ [ WINDOWS ]", // seven bytes of the label
        "D:\\ [ ]", // fixed, volume not readable
        "E:\\ [  ]", // empty label
        "F:\\ [CDROM]", // no disc
        "G:\\ MYCD",
        "H:\\ Rm",
        "I:\\ ", // a disc without a label
        "Z:\\\\nas\\share",
    };
    QStringList items;
    for (int i = 0; i < form.CBox1->count(); ++i)
        items << form.CBox1->itemText(i);
    QCOMPARE(items, expected);
    QCOMPARE(Main.NetDriveCount, 1);
    QCOMPARE(Main.NetDrives[0], std::string("Z:\\"));

    // The list is rebuilt when it opens: a drive that appeared since is listed, the edit text stays.
    setDriveMap(
        DriveMap::parse("C=" + drives.tree.root() + ",label=WINDOWSXP;K=" + drives.tree.root() + "/usb,removable"));
    form.CBox1->SetEditText("typed");
    form.CBox1DropDown();
    QCOMPARE(form.CBox1->count(), 2);
    QCOMPARE(form.CBox1->itemText(1), QStringLiteral("K:\\ Rm"));
    QCOMPARE(form.CBox1->currentText(), QStringLiteral("typed"));
}

void MainWindowTest::doubleClickNavigation()
{
    DriveFixture drives;
    drives.tree.write("root.txt", "r");
    drives.tree.mkdir("alpha/inner");
    drives.tree.write("alpha/a1.txt", "1");
    drives.tree.write("alpha/a2.txt", "2");
    drives.tree.mkdir("beta");
    TForm1 form;
    form.show();

    DoubleClickRow(form.DirBx1, 1); // enter alpha
    QCOMPARE(DirItems(form.DirBx1), (std::vector<std::string> { "C:\\", "  alpha", "    inner" }));
    QCOMPARE(form.DirBx1->SelectedIndex(), 1);
    QCOMPARE(form.Label4->text(), QStringLiteral("C:\\alpha"));
    QCOMPARE(form.Label9->text(), QStringLiteral("C:\\alpha"));
    QCOMPARE(form.Label6->text(), QStringLiteral("3"));
    QCOMPARE(form.FileBx1->Names(), (std::vector<std::string> { "a1.txt", "a2.txt" }));
    QCOMPARE(form.Label2->text(), QStringLiteral("2"));
    QCOMPARE(fs().GetCurrentDirectory(), std::string("C:\\alpha"));

    // A file appears; double-clicking the current entry re-reads it.
    drives.tree.write("alpha/a3.txt", "3");
    drives.tree.mkdir("alpha/zeta");
    DoubleClickRow(form.DirBx1, 1);
    QCOMPARE(form.Label4->text(), QStringLiteral("C:\\alpha"));
    QCOMPARE(form.FileBx1->Count(), 3);
    QCOMPARE(form.Label6->text(), QStringLiteral("4"));

    DoubleClickRow(form.DirBx1, 0); // up to the root
    QCOMPARE(form.Label4->text(), QStringLiteral("C:\\"));
    QCOMPARE(form.Label9->text(), QStringLiteral("C:\\"));
    QCOMPARE(DirItems(form.DirBx1), (std::vector<std::string> { "C:\\", "  alpha", "  beta" }));
    QCOMPARE(form.FileBx1->Names(), (std::vector<std::string> { "root.txt" }));
}

void MainWindowTest::enterNavigatesAndClickShowsSelection()
{
    DriveFixture drives;
    drives.tree.mkdir("alpha");
    drives.tree.mkdir("beta/deep");
    TForm1 form;
    form.show();

    QTest::mouseClick(form.DirBx1->viewport(), Qt::LeftButton, {}, ItemRect(form.DirBx1, 2).center());
    QCOMPARE(form.Label9->text(), QStringLiteral("C:\\beta"));
    QCOMPARE(form.Label4->text(), QStringLiteral("C:\\")); // a click does not navigate
    QVERIFY(form.Image1->isHidden());

    // The keyboard moves the selection like a click, and Enter acts as the double click.
    form.DirBx1->setFocus();
    QTest::keyClick(form.DirBx1, Qt::Key_Up);
    QCOMPARE(form.Label9->text(), QStringLiteral("C:\\alpha"));
    QTest::keyClick(form.DirBx1, Qt::Key_Down);
    QTest::keyClick(form.DirBx1, Qt::Key_Return);
    QCOMPARE(form.Label4->text(), QStringLiteral("C:\\beta"));
    QCOMPARE(DirItems(form.DirBx1), (std::vector<std::string> { "C:\\", "  beta", "    deep" }));

    // A right click leaves the selection as it is.
    QTest::mouseClick(form.DirBx1->viewport(), Qt::RightButton, {}, ItemRect(form.DirBx1, 2).center());
    QCOMPARE(form.DirBx1->SelectedIndex(), 1);
    // The pane always has one selected entry: neither a control-click on it nor a click below the last
    // item takes it away (Enter would otherwise jump to the drive root).
    QTest::mouseClick(form.DirBx1->viewport(), Qt::LeftButton, Qt::ControlModifier, ItemRect(form.DirBx1, 1).center());
    QCOMPARE(form.DirBx1->SelectedIndex(), 1);
    QTest::mouseClick(form.DirBx1->viewport(), Qt::LeftButton, {}, QPoint(20, form.DirBx1->viewport()->height() - 5));
    QCOMPARE(form.DirBx1->SelectedIndex(), 1);
    QTest::keyClick(form.DirBx1, Qt::Key_Return);
    QCOMPARE(form.Label4->text(), QStringLiteral("C:\\beta"));

    // Clicking the root entry shows the current directory with its separator.
    QTest::mouseClick(form.DirBx1->viewport(), Qt::LeftButton, {}, ItemRect(form.DirBx1, 0).center());
    QCOMPARE(form.Label9->text(), QStringLiteral("C:\\beta\\"));
}

void MainWindowTest::rootOfRemovableDriveChecksMediumAgain()
{
    DriveFixture drives("D=usb,removable");
    drives.tree.mkdir("usb/photos");
    drives.tree.mkdir("home");
    TForm1 form;
    form.show();
    FakeUi fake;
    form.CBox1->setCurrentIndex(1);
    emit form.CBox1->activated(1);
    DoubleClickRow(form.DirBx1, 1);
    QCOMPARE(form.Label4->text(), QStringLiteral("D:\\photos"));

    // Still inserted: the root is read again from the drive.
    DoubleClickRow(form.DirBx1, 0);
    QCOMPARE(form.Label4->text(), QStringLiteral("D:\\"));
    QVERIFY(fake.messages.empty());

    // The medium is gone: the warning, and the panes go back to the start drive.
    DoubleClickRow(form.DirBx1, 1);
    std::filesystem::remove_all(drives.tree.linux("usb"));
    DoubleClickRow(form.DirBx1, 0);
    QCOMPARE(fake.texts(), (std::vector<std::string> { "メディアが挿入されておりません" }));
    QCOMPARE(form.Label4->text(), QStringLiteral("C:\\"));
    QCOMPARE(DirItems(form.DirBx1), (std::vector<std::string> { "C:\\", "  home" }));

    // On the start drive's root (flagged at start-up) nothing is checked.
    DoubleClickRow(form.DirBx1, 0);
    QCOMPARE(fake.messages.size(), size_t(1));
}

// Types into the input dialog once it is up: replaces its text (or appends to the prefill) and
// presses OK; the prefill is kept for the test to read.
void TypeIntoInputDialog(const QString& typed, bool replace, QString* prefill = nullptr)
{
    AnswerNext<TForm3>([typed, replace, prefill](TForm3* input) {
        if (prefill) *prefill = input->Edit1->text();
        input->Edit1->setText(replace ? typed : input->Edit1->text() + typed);
        input->Button1->click();
    });
}

void MainWindowTest::makeDirectory()
{
    DriveFixture drives;
    drives.tree.mkdir("work");
    TForm1 form;
    TForm3 input(&form, &form);
    form.SetDialogs(&input, nullptr);
    form.show();
    DoubleClickRow(form.DirBx1, 1); // into C:\work
    FakeUi fake;

    QString prefilled;
    TypeIntoInputDialog("made", false, &prefilled);
    form.MenuItem("MKDIR1")->trigger();
    QCOMPARE(prefilled, QStringLiteral("C:\\work\\"));
    QCOMPARE(Main.InputText, std::string("C:\\work\\made"));
    QVERIFY(drives.tree.exists("work/made"));
    // The pane is refilled and the labels follow it.
    QCOMPARE(DirItems(form.DirBx1), (std::vector<std::string> { "C:\\", "  work", "    made" }));
    QCOMPARE(form.Label6->text(), QStringLiteral("3"));
    QVERIFY(fake.messages.empty());

    // A bare name is made in the current directory, "\name" at the drive's root.
    TypeIntoInputDialog("bare", true);
    form.MKDIR1Click();
    QVERIFY(drives.tree.exists("work/bare"));
    TypeIntoInputDialog("\\top", true);
    form.MKDIR1Click();
    QVERIFY(drives.tree.exists("top"));
    QVERIFY(fake.messages.empty());

    // A failure is reported by the engine's message once, and the pane stays as it was.
    TypeIntoInputDialog("made", false);
    form.MKDIR1Click();
    QCOMPARE(fake.messages.size(), size_t(1));
    QVERIFY(fake.messages[0].plain);
    QCOMPARE(form.Label6->text(), QStringLiteral("4"));
}

void MainWindowTest::makeDirectoryCancelledDoesNothing()
{
    DriveFixture drives;
    TForm1 form;
    TForm3 input(&form, &form);
    form.SetDialogs(&input, nullptr);
    FakeUi fake;
    Main.InputText = "before";
    AnswerNext<TForm3>([](TForm3* shown) {
        shown->Edit1->setText(shown->Edit1->text() + "never");
        shown->Button2->click();
    });
    form.MKDIR1Click();
    QCOMPARE(Main.InputMode, 0);
    QCOMPARE(Main.InputText, std::string("before"));
    QVERIFY(!drives.tree.exists("never"));
    QVERIFY(fake.messages.empty());
}

void MainWindowTest::deleteSelectedFiles()
{
    DriveFixture drives;
    for (const char* name : { "a.txt", "b.txt", "c.txt", "d.txt", "e.txt" })
        drives.tree.write(name, name);
    TForm1 form;
    FakeUi fake;

    form.FileBx1->SetSelected(1, true); // b.txt alone
    form.MenuItem("Delete1")->trigger();
    QCOMPARE(fake.progress.showCount, 0);
    QCOMPARE(fake.messages.size(), size_t(1));
    QCOMPARE(fake.messages[0].caption, std::string("報告"));
    QVERIFY(!drives.tree.exists("b.txt"));
    QCOMPARE(form.FileBx1->Names(), (std::vector<std::string> { "a.txt", "c.txt", "d.txt", "e.txt" }));
    QCOMPARE(form.Label2->text(), QStringLiteral("4"));

    for (int row : { 0, 2, 3 }) // a, d, e
        form.FileBx1->SetSelected(row, true);
    form.Delete1Click();
    QCOMPARE(fake.progress.showCount, 1);
    QVERIFY(!fake.progress.visible);
    QCOMPARE(fake.messages.size(), size_t(2));
    QCOMPARE(form.FileBx1->Names(), (std::vector<std::string> { "c.txt" }));
    QVERIFY(drives.tree.exists("c.txt"));
}

void MainWindowTest::deleteFailureShowsNoSummary()
{
    DriveFixture drives;
    drives.tree.write("keep.txt", "k");
    drives.tree.write("gone.txt", "g");
    drives.tree.setReadOnly("keep.txt", true);
    TForm1 form;
    form.CBox2->setChecked(false); // read-only files are not cleared first
    FakeUi fake;
    form.N12Click();
    form.Delete1Click();
    QCOMPARE(fake.messages.size(), size_t(1));
    QVERIFY(fake.messages[0].plain); // the error, and no summary after it
    QVERIFY(drives.tree.exists("keep.txt"));
    QVERIFY(!drives.tree.exists("gone.txt"));
    QCOMPARE(form.FileBx1->Names(), (std::vector<std::string> { "keep.txt" }));
}

void MainWindowTest::deleteDirectoryTree()
{
    DriveFixture drives;
    drives.tree.write("old/a.txt", "a");
    drives.tree.write("old/sub/b.txt", "b");
    drives.tree.mkdir("stay");
    TForm1 form;
    form.show();
    FakeUi fake;
    QTest::mouseClick(form.DirBx1->viewport(), Qt::LeftButton, {}, ItemRect(form.DirBx1, 1).center());

    fake.answers = { kIdNo };
    form.MenuItem("N1")->trigger();
    QCOMPARE(fake.messages.size(), size_t(1));
    QCOMPARE(fake.messages[0].caption, std::string("注意"));
    QVERIFY(drives.tree.exists("old/sub/b.txt"));
    QCOMPARE(form.Label6->text(), QStringLiteral("3"));

    fake.answers = { kIdYes };
    form.N1Click();
    QVERIFY(!drives.tree.exists("old"));
    QCOMPARE(fake.messages.back().caption, std::string("報告"));
    QCOMPARE(DirItems(form.DirBx1), (std::vector<std::string> { "C:\\", "  stay" }));
    QCOMPARE(form.Label6->text(), QStringLiteral("2"));
    QCOMPARE(form.Label4->text(), QStringLiteral("C:\\"));
}

// The deletions run beside the real windows: the question is gone and the progress window is up while
// they work, the failures come in boxes of the window's thread, and the end never claims what did not
// happen: "ＤＩＲの削除" of the current directory with a ReadOnly file and "ReadOnly" unticked says how
// many entries stayed; the trash stopped part-way says how many went.
void MainWindowTest::deletionsBesideTheWindowTellWhatStayed()
{
    DriveFixture drives;
    drives.tree.write("w/a.txt", "a");
    drives.tree.write("w/sub/b.txt", "b");
    drives.tree.write("w/ro.txt", "r");
    drives.tree.setReadOnly("w/ro.txt", true);
    for (int i = 0; i < 2000; ++i)
        drives.tree.write("t/f" + std::to_string(i), "x");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(drives.tree.linux("data")));
    auto windows = CreateWindows();
    QVERIFY(Form1->GoToPath("w"));
    Form1->CBox2->setChecked(false);

    QStringList shown; // without line breaks, which the boxes add to long lines
    bool questionGone = true, progressWithoutStop = false;
    const auto answer = [&](QMessageBox* box) {
        shown << box->text().remove(QLatin1Char('\n'));
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window != box && qobject_cast<QMessageBox*>(window) && window->isVisible()) questionGone = false;
        progressWithoutStop |= Form7->isVisible() && Form7->Button1->isHidden();
        box->button(box->buttons().size() > 1 ? QMessageBox::Yes : QMessageBox::Ok)->click();
    };
    AnswerNextMessageBox([&](QMessageBox* question) {
        answer(question);
        AnswerNextMessageBox([&](QMessageBox* failure) {
            answer(failure);
            AnswerNextMessageBox(answer);
        });
    });
    Form1->N1Click();
    QCOMPARE(shown.size(), 3);
    QVERIFY(shown[1].contains(QStringLiteral("ro.txt")));
    QCOMPARE(shown[2],
        Shown(drives.tree.drive("w") + "\\　以下の　1　個が削除出来ませんでした (DIR 1  File 2 を削除しました)"));
    QVERIFY(questionGone && progressWithoutStop);
    QVERIFY(drives.tree.exists("w/ro.txt") && !drives.tree.exists("w/sub"));
    QVERIFY(!Form7->isVisible() && !Form7->Button1->isHidden());

    // The trash, stopped as soon as its progress window is up.
    QVERIFY(Form1->GoToPath(drives.tree.drive("t")));
    Form1->FileBx1->SetAllSelected(true);
    auto* stop = new QTimer(Form1);
    stop->setInterval(1);
    QObject::connect(stop, &QTimer::timeout, stop, [&] {
        if (!Form7->isVisible() || Form7->Button1->isHidden()) return;
        stop->stop();
        QTest::mouseClick(Form7->Button1, Qt::LeftButton);
    });
    stop->start();
    shown.clear();
    AnswerNextMessageBox(answer);
    Form1->TrashSelection();
    QCOMPARE(shown.size(), 1);
    const int left = int(std::distance(std::filesystem::directory_iterator(drives.tree.linux("t")), {}));
    QVERIFY(left > 0);
    QCOMPARE(shown[0],
        QStringLiteral("中止しました選択された　2000　ファイルのうち　%1　ファイルをごみ箱へ移動しました")
            .arg(2000 - left));
    qunsetenv("XDG_DATA_HOME");
}

// 容量 over a folder that could not be read (swapped for a link as the count went in): the totals are
// not passed off as the whole tree's.
void MainWindowTest::folderTotalsSayWhatTheyLeaveOut()
{
    DriveFixture drives;
    drives.tree.write("info/a.txt", "a");
    drives.tree.write("info/sub/x.txt", "x");
    TForm1 form;
    FakeUi fake;
    QVERIFY(form.GoToPath("info"));
    FaultyFileSystem faulty(fs());
    ScopedFileSystem installed(faulty);
    faulty.beforeOpenChild = [&](const FindData& entry) {
        if (entry.name != "sub" || !drives.tree.exists("info/sub/x.txt")) return;
        std::filesystem::rename(drives.tree.linux("info/sub"), drives.tree.linux("sub.old"));
        drives.tree.symlink(drives.tree.linux("sub.old"), "info/sub");
    };
    form.N24Click();
    QCOMPARE(Main.TreeFileCount, 1);
    QCOMPARE(fake.messages.size(), size_t(1));
    QCOMPARE(fake.messages[0].text,
        drives.tree.drive("info/sub") + "  :   読めないフォルダーが　1　個あり，合計に含まれていません");
    QCOMPARE(fake.messages[0].caption, std::string("警告"));
}

void MainWindowTest::exitResetsPaneAndDisconnects()
{
    DriveFixture drives("Y=y,remote,unc=\\\\h\\y;Z=z,remote,unc=\\\\h\\z");
    drives.tree.mkdir("y");
    drives.tree.mkdir("z");
    drives.tree.mkdir("inside");
    RecordingRunner runner;
    // The first disconnection fails; the second is still made.
    runner.answers[{ "gio", "mount", "-u", drives.tree.root() + "/y" }] = { 1, "" };
    TForm1 form;
    form.show();
    DoubleClickRow(form.DirBx1, 1);
    QCOMPARE(form.Label4->text(), QStringLiteral("C:\\inside"));
    form.CheckBox4->setChecked(true);

    form.MenuItem("Exit1")->trigger();
    QVERIFY(!form.isVisible());
    QCOMPARE(Main.MainTree.CurrentPath(false), std::string("C:\\"));
    QCOMPARE(fs().GetCurrentDirectory(), std::string("C:\\"));
    QCOMPARE(runner.ran.size(), size_t(2));
    QCOMPARE(runner.ran[0].back(), drives.tree.root() + "/y");
    QCOMPARE(runner.ran[1].back(), drives.tree.root() + "/z");

    // With the box unchecked the same drives stay connected.
    runner.ran.clear();
    TForm1 second;
    second.show();
    second.MenuItem("Exit1")->trigger();
    QVERIFY(runner.ran.empty());
}

void MainWindowTest::activationMovesBackAfterOwnWindows()
{
    DriveFixture drives;
    TForm1 form;
    const QPoint home = MainWindowActivationPosition(QGuiApplication::primaryScreen()->availableGeometry().height());
    form.show();
    QApplication::setActiveWindow(&form);
    QCOMPARE(form.pos(), home);

    // Back from one of the program's own windows: the window returns to its place.
    form.move(300, 300);
    QWidget other(&form, Qt::Dialog);
    other.show();
    QApplication::setActiveWindow(&other);
    QVERIFY(!form.isActiveWindow());
    other.hide();
    QApplication::setActiveWindow(&form);
    QCOMPARE(form.pos(), home);

    // Back from another application: it stays where the user put it.
    form.move(310, 310);
    QApplication::setActiveWindow(nullptr);
    QVERIFY(!form.isActiveWindow());
    QApplication::setActiveWindow(&form);
    QVERIFY(form.isActiveWindow());
    QCOMPARE(form.pos(), QPoint(310, 310));
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
