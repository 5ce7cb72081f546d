// The keys of the panes (each reaches its menu item), the Delete key's trash, going up and to a typed
// path, and files dropped from another program. The commands' own texts are pinned by the engine tests.
#include "tests/ui/ui_fixture.h"

#include "model/state.h"
#include "tests/support/fake_ui.h"
#include "tests/support/scoped_env.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"

#include <QAction>
#include <QLabel>
#include <QMimeData>
#include <QUrl>
#include <QtTest>

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
    void deleteMovesToTheTrash();
    void backspaceAndTypedPaths();
    void filesDroppedFromAnotherProgramAreCopiedHere();
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
        { true, Qt::Key_Delete, Qt::ShiftModifier, "Delete1" },
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
    QMimeData mime;
    mime.setUrls({ QUrl::fromLocalFile(QString::fromStdString(rig.drives.tree.linux("a.txt"))),
        QUrl::fromLocalFile(QString::fromStdString(rig.drives.tree.linux("sub/x.txt"))),
        QUrl::fromLocalFile(QString::fromStdString(rig.drives.tree.linux("sub/inner"))), // a folder: not taken
        QUrl(QStringLiteral("https://example.org/y.txt")) });
    QWidget* target = rig.form->FileBx1->viewport();
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &drop);
    QVERIFY(drop.isAccepted());
    QTRY_COMPARE(rig.form->FileBx1->Names(), (std::vector<std::string> { "a.txt", "x.txt" }));
    QVERIFY(rig.drives.tree.exists("a.txt") && rig.drives.tree.exists("sub/x.txt")); // copied, not moved
    QCOMPARE(rig.fake.messages.front().text, "C:\\sub\\inner  :   フォルダーはＤＩＲ窓のコピーで複写して下さい");

    // The file pane's own copy-and-move call: a move into the directory above with its summary.
    rig.fake.messages.clear();
    rig.form->DropFiles("C:\\sub\\inner\\", { "a.txt" }, "C:\\sub\\", true);
    QVERIFY(!rig.drives.tree.exists("sub/inner/a.txt") && rig.drives.tree.exists("sub/a.txt"));
    QCOMPARE(rig.fake.messages.size(), size_t(1));
}

QTEST_MAIN(MainWindowKeysTest)
#include "main_window_keys_test.moc"
