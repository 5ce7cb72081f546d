// The application and the window set: the title, exceptions from handlers, the keyboard route into
// the menu bar, and the windows created in their order with the Qt UI services installed.
#include "tests/ui/ui_fixture.h"

#include "model/state.h"
#include "platform/ui_services.h"
#include "ui/application.h"
#include "ui/detail_window.h"
#include "ui/dir_attributes_dialog.h"
#include "ui/file_info_dialog.h"
#include "ui/folder_info_dialog.h"
#include "ui/fonts.h"
#include "ui/help_window.h"
#include "ui/input_dialog.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"
#include "ui/operation_dialog.h"
#include "ui/progress_window.h"
#include "ui/qt_ui_services.h"
#include "ui/result_window.h"
#include "ui/window_builder.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QtTest>

#include <stdexcept>

using namespace zelo;
using namespace zelo::test;

namespace {

class Thrower : public QObject {
public:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::User) throw std::runtime_error("broken handler");
        if (event->type() == QEvent::Type(QEvent::User + 1)) ++calm;
        return QObject::event(event);
    }
    int calm = 0;
};

} // namespace

class ApplicationTest : public QObject {
    Q_OBJECT
private slots:
    void titleAndMenuKeyboard();
    void handlerExceptionIsShownAndLoopGoesOn();
    void windowsInTheirOrder();
    void everyCaptionFitsItsWidth();
    void layoutsGetTheirFacesAndSizes();
    void qtSpeaksJapanese();
    void opensAtTheDirectoryGiven();
};

void ApplicationTest::titleAndMenuKeyboard()
{
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Zelo"));
    // No display name: it would be appended to every window caption.
    QVERIFY(!QGuiApplication::applicationDisplayName().contains(QStringLiteral(" ")));
    QMenuBar bar;
    QVERIFY(bar.style()->styleHint(QStyle::SH_MenuBar_AltKeyNavigation, nullptr, &bar));
}

void ApplicationTest::handlerExceptionIsShownAndLoopGoesOn()
{
    Thrower thrower;
    QString shown;
    AnswerNextMessageBox([&shown](QMessageBox* box) {
        shown = box->text();
        box->accept();
    });
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::Type(QEvent::User + 1)));
    QTRY_COMPARE(thrower.calm, 1);
    QCOMPARE(shown, QStringLiteral("broken handler"));
}

// zelo32 DIR: a Linux path or a drive path, reached as the user would reach it.
void ApplicationTest::opensAtTheDirectoryGiven()
{
    DriveFixture drives;
    drives.tree.mkdir("a/b c/d");
    drives.tree.write("file", "f");
    auto windows = CreateWindows();
    // A file:// address, as "Open with" hands a folder over: its escapes are bytes, its host this computer.
    std::string uri = "file://localhost";
    for (const char c : drives.tree.linux("a/b c/"))
        uri += c == ' ' ? std::string("%20") : std::string(1, c);
    for (const std::string& given :
        { drives.tree.linux("a/b c/"), std::string("c:\\a\\b c\\d\\.."), uri, "file:" + uri.substr(16) }) {
        std::string why;
        const auto start = StartDirectory(given, &why);
        QVERIFY2(start.has_value(), why.c_str());
        QVERIFY(OpenAtDirectory(*start));
        QCOMPARE(QString::fromStdString(Main.MainTree.CurrentPath(false)), QStringLiteral("C:\\a\\b c"));
        QCOMPARE(QString::fromStdString(Form1->FileBx1->Directory()), QStringLiteral("C:\\a\\b c"));
    }
    for (const auto& [given, reason] :
        { std::pair<std::string, std::string> { drives.tree.linux("none"), "does not exist" },
            { drives.tree.linux("file"), "not a directory" },
            { "file://" + drives.tree.linux("file"), "not a directory" },
            { "smb://nas/share", "not a local folder (only file:// addresses open)" },
            { "file://elsewhere.invalid/tmp", "a folder on another computer" },
            { "file:///tmp%2", "not a valid file:// address" }, { "file:///a%00b", "not a valid file:// address" } }) {
        std::string why;
        QVERIFY(!StartDirectory(given, &why));
        QCOMPARE(why, reason);
    }
}

void ApplicationTest::windowsInTheirOrder()
{
    DriveFixture drives;
    drives.tree.mkdir("start");
    {
        auto windows = CreateWindows();
        QVERIFY(Form1 && Form7 && Form3 && Help);
        QVERIFY(Form1->isVisible());
        QVERIFY(!Form7->isVisible() && !Form3->isVisible() && !Help->isVisible());
        QCOMPARE(Form7->parentWidget(), static_cast<QWidget*>(Form1));
        QCOMPARE(Form3->parentWidget(), static_cast<QWidget*>(Form1));
        QCOMPARE(Help->parentWidget(), static_cast<QWidget*>(Form1));
        QVERIFY(dynamic_cast<QtUiServices*>(&ui()));
        QCOMPARE(&ui().Progress(), static_cast<ProgressWindow*>(Form7));
        QCOMPARE(Form1->Label6->text(), QStringLiteral("2"));

        // The help command shows the help window modally; its button closes it.
        bool helpShown = false;
        AnswerNext<THelp>([&helpShown](THelp* help) {
            helpShown = help == Help;
            help->Button1->click();
        });
        Form1->MenuItem(QStringLiteral("HEILP1"))->trigger();
        QVERIFY(helpShown);
        QVERIFY(!Help->isVisible());
    }
    QVERIFY(!Form1 && !Form7 && !Form3 && !Help);
    QVERIFY(!dynamic_cast<QtUiServices*>(&ui()));
}

namespace {
std::vector<QWidget*> AllWindows()
{
    return { Form1, Form2, Form3, Form4, Form5, Form6, Form7, Form8, Form9, Help };
}
} // namespace

void ApplicationTest::everyCaptionFitsItsWidth()
{
    DriveFixture drives;
    auto windows = CreateWindows();
    int measured = 0;
    for (QWidget* window : AllWindows()) {
        for (QWidget* control : window->findChildren<QWidget*>()) {
            const QString text = control->property("text").toString();
            if (text.isEmpty()) continue;
            ++measured;
            QVERIFY2(
                CaptionFits(control), qPrintable(window->objectName() + "." + control->objectName() + ": " + text));
        }
    }
    QVERIFY(measured >= 20);
}

void ApplicationTest::layoutsGetTheirFacesAndSizes()
{
    // What a layout file names beyond Qt's own properties takes effect once the window is made: the face
    // of a height, and labels as wide as their text.
    DriveFixture drives;
    auto windows = CreateWindows();
    int faces = 0, sized = 0;
    for (QWidget* window : AllWindows()) {
        QList<QWidget*> controls = window->findChildren<QWidget*>();
        controls.prepend(window);
        for (QWidget* control : controls) {
            if (control->window() != window) continue; // a dialog is checked as a window of its own
            const QString name = window->objectName() + "." + control->objectName();
            for (const auto& [property, face] :
                { std::pair { "gothicPixelSize", &GothicFont }, std::pair { "minchoPixelSize", &MinchoFont } }) {
                const QVariant height = control->property(property);
                if (!height.isValid()) continue;
                ++faces;
                // A button's caption may have taken up to three pixels less to fit.
                const QFont wanted = face(height.toInt());
                const int shrunk = qobject_cast<QAbstractButton*>(control) ? 3 : 0;
                QVERIFY2(control->font().family() == wanted.family(), qPrintable(name));
                QVERIFY2(control->font().pixelSize() <= wanted.pixelSize()
                        && control->font().pixelSize() >= wanted.pixelSize() - shrunk,
                    qPrintable(name));
            }
            if (!control->property("autoSize").toBool()) continue;
            ++sized;
            QVERIFY2(control->size() == control->sizeHint(), qPrintable(name));
        }
    }
    QVERIFY(faces >= 10 && sized >= 20);
}

void ApplicationTest::qtSpeaksJapanese()
{
    QMessageBox box;
    const QString yes = box.addButton(QMessageBox::Yes)->text();
    QVERIFY2(!yes.contains(QStringLiteral("Yes")), qPrintable(yes));
}

int main(int argc, char* argv[])
{
    ZeloApplication app(argc, argv);
    ApplicationTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "application_test.moc"
