// The keys of the panes (each reaches its menu item), the deletion keys' questions, the Delete key's trash,
// going up and to a typed path, and files dropped from another program. The commands' own texts are
// pinned by the engine tests.
#include "tests/ui/ui_fixture.h"

#include "model/state.h"
#include "tests/support/fake_ui.h"
#include "tests/support/scoped_env.h"
#include "ui/fonts.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"

#include <QAction>
#include <QDir>
#include <QInputDialog>
#include <QLabel>
#include <QMimeData>
#include <QUrl>
#include <QtTest>

#include <unistd.h>

using namespace zelo;
using namespace zelo::test;

namespace {

// The main window over a tree: a.txt, b.txt, sub/inner, and the home trash under data/.
struct KeysRig {
    KeysRig()
    {
        drives.tree.write("a.txt", "a");
        drives.tree.write("b.txt", "b");
        drives.tree.mkdir("sub/inner");
        form.emplace();
        form->ShowInputDialog = [] { Main.InputMode = 0; };
        form->show();
    }
    void SelectFile(int row)
    {
        FileListBox* files = form->FileBx1;
        QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, files->visualItemRect(files->item(row)).center());
    }
    // The directory pane's row that lists name (-1: none).
    int DirRow(const char* name) const
    {
        for (int i = 0; i < form->DirBx1->Count(); ++i)
            if (form->DirBx1->item(i)->text().trimmed() == QString::fromUtf8(name)) return i;
        return -1;
    }
    // Another program's drag of urls with modifiers held, over point at of pane's viewport, then dropped
    // unless told otherwise; whether the pane accepted it.
    bool Drop(
        QWidget* pane, QPoint at, const QList<QUrl>& urls, Qt::KeyboardModifiers modifiers = {}, bool release = true)
    {
        QWidget* target = static_cast<QAbstractItemView*>(pane)->viewport();
        QMimeData mime;
        mime.setUrls(urls);
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(at, actions, &mime, Qt::LeftButton, modifiers);
        QCoreApplication::sendEvent(target, &enter);
        QDragMoveEvent move(at, actions, &mime, Qt::LeftButton, modifiers);
        QCoreApplication::sendEvent(target, &move);
        if (!release) return move.isAccepted();
        QDropEvent drop(QPointF(at), actions, &mime, Qt::LeftButton, modifiers);
        QCoreApplication::sendEvent(target, &drop);
        return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
    }
    QUrl Url(const std::string& relative) const
    {
        return QUrl::fromLocalFile(QString::fromStdString(drives.tree.linux(relative)));
    }
    DriveFixture drives;
    ScopedEnv data { "XDG_DATA_HOME", drives.tree.linux("data") };
    FakeUi fake;
    std::optional<TForm1> form;
};

} // namespace

class MainWindowKeysTest : public QObject {
    Q_OBJECT
private slots:
    void keysReachTheMenuItems();
    void deletionKeysAskWithNoAsDefault();
    void deleteMovesToTheTrash();
    void backspaceAndTypedPaths();
    void filesDroppedFromAnotherProgramAreCopiedHere();
    void dropsMoveWithShiftIntoTheFolderOfTheirRow();
    void goToPathDialogShowsPathsAsThePanes();
};

void MainWindowKeysTest::keysReachTheMenuItems()
{
    KeysRig rig;
    const struct {
        bool filePane;
        int key;
        Qt::KeyboardModifiers modifiers;
        const char* item;
    } cases[] = {
        { true, Qt::Key_F5, {}, "Copy2" },
        { true, Qt::Key_F6, {}, "GoTo1" },
        { true, Qt::Key_F7, {}, "MKDIR1" },
        { true, Qt::Key_F2, {}, "Rename1" },
        { false, Qt::Key_F5, {}, "Copy1" },
        { false, Qt::Key_F6, {}, "GoTo2" },
        { false, Qt::Key_F7, {}, "MKDIR1" },
        { false, Qt::Key_F2, {}, "RENDIR1" },
        { false, Qt::Key_Delete, Qt::ShiftModifier, "N1" }, // asks first; the fake user says No
        { true, Qt::Key_A, Qt::ControlModifier, "N12" },
    };
    for (const auto& c : cases) {
        QString triggered;
        std::vector<QMetaObject::Connection> spies;
        for (QAction* action : rig.form->findChildren<QAction*>())
            spies.push_back(QObject::connect(
                action, &QAction::triggered, [&triggered, action] { triggered = action->objectName(); }));
        QWidget* pane = c.filePane ? static_cast<QWidget*>(rig.form->FileBx1) : rig.form->DirBx1;
        QTest::keyClick(pane, Qt::Key(c.key), c.modifiers);
        QCOMPARE(triggered, QString::fromUtf8(c.item));
        for (const auto& spy : spies)
            QObject::disconnect(spy);
    }
    QCOMPARE(rig.form->FileBx1->SelectedCount(), 2); // Ctrl+A selected every file
    QVERIFY(rig.drives.tree.exists("sub")); // ＤＩＲの削除 was answered No
}

// Shift+Delete asks first in either pane, and a question reached through a deletion key has No as its
// default; through the menus the described questions keep Yes as theirs.
void MainWindowKeysTest::deletionKeysAskWithNoAsDefault()
{
    const struct {
        const char* name;
        bool filePane;
        bool viaMenu;
        int answer;
        const char* question;
        uint32_t flags;
        const char* removed; // what the answer removes for good; null: nothing
    } cases[] = {
        { "file pane, No", true, false, kIdNo, "選択された　1　ファイルを完全に削除しますか　？",
            kMbYesNo | kMbDefButton2, nullptr },
        { "file pane, Yes", true, false, kIdYes, "選択された　1　ファイルを完全に削除しますか　？",
            kMbYesNo | kMbDefButton2, "a.txt" },
        { "directory pane, No", false, false, kIdNo, "デイレクトリ－を削除します", kMbYesNo | kMbDefButton2, nullptr },
        { "directory pane, Yes", false, false, kIdYes, "デイレクトリ－を削除します", kMbYesNo | kMbDefButton2, "sub" },
        { "directory menu", false, true, kIdNo, "デイレクトリ－を削除します", kMbYesNo, nullptr },
    };
    for (const auto& c : cases) {
        KeysRig rig;
        rig.fake.answers.push_back(c.answer);
        if (c.filePane) {
            rig.SelectFile(0);
            QTest::keyClick(rig.form->FileBx1, Qt::Key_Delete, Qt::ShiftModifier);
        } else {
            rig.form->DirBx1->SetSelectedIndex(rig.DirRow("sub"));
            if (c.viaMenu)
                rig.form->MenuItem(QStringLiteral("N1"))->trigger();
            else
                QTest::keyClick(rig.form->DirBx1, Qt::Key_Delete, Qt::ShiftModifier);
        }
        QVERIFY2(!rig.fake.messages.empty(), c.name);
        QCOMPARE(rig.fake.messages[0].text, std::string(c.question));
        QCOMPARE(rig.fake.messages[0].flags, c.flags);
        QCOMPARE(rig.drives.tree.exists("a.txt"), !c.removed || std::string(c.removed) != "a.txt");
        QCOMPARE(rig.drives.tree.exists("sub"), !c.removed || std::string(c.removed) != "sub");
        QVERIFY2(!rig.drives.tree.exists("data/Trash"), c.name); // for good, not to the trash
    }
    // Nothing selected: nothing to ask about.
    KeysRig rig;
    QTest::keyClick(rig.form->FileBx1, Qt::Key_Delete, Qt::ShiftModifier);
    QVERIFY(rig.fake.messages.empty());
}

void MainWindowKeysTest::deleteMovesToTheTrash()
{
    KeysRig rig;
    rig.SelectFile(0);
    QTest::keyClick(rig.form->FileBx1, Qt::Key_Delete);
    QVERIFY(!rig.drives.tree.exists("a.txt"));
    QCOMPARE(rig.drives.tree.read("data/Trash/files/a.txt"), std::string("a"));
    QCOMPARE(rig.form->FileBx1->Names(), (std::vector<std::string> { "b.txt" }));
    QCOMPARE(rig.fake.messages.size(), size_t(1));

    // In the directory pane only a listed subdirectory goes: not the drive root above it.
    DirListBox* dirs = rig.form->DirBx1;
    dirs->SetSelectedIndex(0);
    QTest::keyClick(dirs, Qt::Key_Delete);
    QCOMPARE(rig.fake.messages.size(), size_t(1));
    for (int i = 1; i < dirs->Count(); ++i)
        if (dirs->item(i)->text().trimmed() == QStringLiteral("sub")) dirs->SetSelectedIndex(i);
    QTest::keyClick(dirs, Qt::Key_Delete);
    QVERIFY(!rig.drives.tree.exists("sub") && rig.drives.tree.exists("data/Trash/files/sub/inner"));
}

void MainWindowKeysTest::backspaceAndTypedPaths()
{
    KeysRig rig;
    QVERIFY(rig.form->GoToPath("sub\\inner"));
    QCOMPARE(rig.form->Label4->text(), QStringLiteral("C:\\sub\\inner"));
    QTest::keyClick(rig.form->DirBx1, Qt::Key_Backspace);
    QCOMPARE(rig.form->Label4->text(), QStringLiteral("C:\\sub"));
    // The folder it came from is the selected one.
    QCOMPARE(rig.form->DirBx1->SelectedIndex(), rig.DirRow("inner"));
    QCOMPARE(rig.form->Label9->text(), QStringLiteral("C:\\sub\\inner"));
    rig.form->AskPath = [] { return QStringLiteral("\\"); };
    QTest::keyClick(rig.form->FileBx1, Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(rig.form->Label4->text(), QStringLiteral("C:\\"));
    QVERIFY(!rig.form->GoToPath("C:\\missing"));
    QCOMPARE(rig.fake.texts(), (std::vector<std::string> { "C:\\missing　は見つかりません" }));
}

void MainWindowKeysTest::filesDroppedFromAnotherProgramAreCopiedHere()
{
    KeysRig rig;
    rig.drives.tree.write("sub/x.txt", "x");
    QVERIFY(rig.form->GoToPath("C:\\sub\\inner"));
    const QString offDrive = QDir::tempPath() + QStringLiteral("/zelo-on-no-drive.txt");
    QVERIFY(rig.Drop(rig.form->FileBx1, rig.form->FileBx1->viewport()->rect().center(),
        { rig.Url("a.txt"), rig.Url("sub/x.txt"), rig.Url("sub/inner"), // a folder: not taken
            QUrl(QStringLiteral("https://example.org/y.txt")), QUrl::fromLocalFile(offDrive) }));
    QTRY_COMPARE(rig.form->FileBx1->Names(), (std::vector<std::string> { "a.txt", "x.txt" }));
    QVERIFY(rig.drives.tree.exists("a.txt") && rig.drives.tree.exists("sub/x.txt")); // copied, not moved
    // What lies on no drive is refused, by name, before the folder's message.
    QCOMPARE(rig.fake.messages[0].text,
        "https://example.org/y.txt\n\r" + Bytes(offDrive) + "\n\rどのドライブにもないため複写出来ません");
    QCOMPARE(rig.fake.messages[1].text, "C:\\sub\\inner  :   フォルダーはＤＩＲ窓のコピーで複写して下さい");

    // The file pane's own copy-and-move call: a move into the directory above with its summary.
    rig.fake.messages.clear();
    rig.form->DropFiles("C:\\sub\\inner\\", { "a.txt" }, "C:\\sub\\", true);
    QVERIFY(!rig.drives.tree.exists("sub/inner/a.txt") && rig.drives.tree.exists("sub/a.txt"));
    QCOMPARE(rig.fake.messages.size(), size_t(1));
}

// Shift moves, Ctrl copies, a plain drag copies; a drop on a folder row goes into that folder (highlighted
// while the drag is over it), elsewhere into the current folder.
void MainWindowKeysTest::dropsMoveWithShiftIntoTheFolderOfTheirRow()
{
    const struct {
        const char* name;
        Qt::KeyboardModifiers modifiers;
        const char* row; // the directory pane's row dropped on; null: the file pane
        const char* arrives;
        bool moved;
    } cases[] = {
        { "plain on the file pane", {}, nullptr, "sub/a.txt", false },
        { "shift on the file pane", Qt::ShiftModifier, nullptr, "sub/a.txt", true },
        { "plain on a folder row", {}, "sub", "sub/a.txt", false },
        { "shift on a folder row", Qt::ShiftModifier, "inner", "sub/inner/a.txt", true },
        { "ctrl on a folder row", Qt::ControlModifier, "inner", "sub/inner/a.txt", false },
        { "ctrl and shift on a folder row", Qt::ControlModifier | Qt::ShiftModifier, "inner", "sub/inner/a.txt",
            false },
    };
    for (const auto& c : cases) {
        KeysRig rig;
        rig.drives.tree.mkdir("from");
        rig.drives.tree.write("from/a.txt", "a");
        ::unlink(rig.drives.tree.linux("a.txt").c_str());
        QVERIFY(rig.form->GoToPath("C:\\sub"));
        DirListBox* dirs = rig.form->DirBx1;
        QWidget* pane = c.row ? static_cast<QWidget*>(dirs) : rig.form->FileBx1;
        const QPoint at = c.row ? dirs->visualItemRect(dirs->item(rig.DirRow(c.row))).center()
                                : rig.form->FileBx1->viewport()->rect().center();
        QVERIFY2(rig.Drop(pane, at, { rig.Url("from/a.txt") }, c.modifiers, false), c.name);
        QCOMPARE(dirs->DropRow(), c.row ? rig.DirRow(c.row) : -1);
        QVERIFY2(rig.Drop(pane, at, { rig.Url("from/a.txt") }, c.modifiers), c.name);
        QCOMPARE(dirs->DropRow(), -1);
        QTRY_VERIFY2(rig.drives.tree.exists(c.arrives), c.name);
        QCOMPARE(rig.drives.tree.exists("from/a.txt"), !c.moved);
    }
    // Over the empty part of the directory pane the current folder is highlighted; leaving clears it.
    KeysRig rig;
    QVERIFY(rig.form->GoToPath("C:\\sub"));
    DirListBox* dirs = rig.form->DirBx1;
    QVERIFY(rig.Drop(dirs, dirs->viewport()->rect().bottomLeft() + QPoint(5, -5), { rig.Url("a.txt") }, {}, false));
    QCOMPARE(dirs->DropRow(), rig.DirRow("sub"));
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(dirs->viewport(), &leave);
    QCOMPARE(dirs->DropRow(), -1);
}

// Ctrl+L asks in the windows' face (which draws "\\" as the panes do) under a caption saying where it goes.
void MainWindowKeysTest::goToPathDialogShowsPathsAsThePanes()
{
    KeysRig rig;
    QString caption;
    QString family;
    QString offered;
    AnswerNext<QInputDialog>([&](QInputDialog* dialog) {
        caption = dialog->windowTitle();
        family = dialog->font().family();
        offered = dialog->textValue();
        dialog->reject();
    });
    QTest::keyClick(rig.form->FileBx1, Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(caption, QStringLiteral("指定のフオルダーへ移動"));
    QCOMPARE(family, GothicFont(15).family());
    QCOMPARE(offered, QStringLiteral("C:\\"));
}

QTEST_MAIN(MainWindowKeysTest)
#include "main_window_keys_test.moc"
