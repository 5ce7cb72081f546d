// The small windows and services: the input dialog, the progress window, the help window, the
// message boxes and the event pump, the directory pane's drawing colours and the window position rule.
#include "tests/ui/ui_fixture.h"

#include "model/state.h"
#include "ui/fonts.h"
#include "ui/help_window.h"
#include "ui/input_dialog.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"
#include "ui/progress_window.h"
#include "ui/qt_ui_services.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QWindow>
#include <QtTest>

using namespace zelo;
using namespace zelo::test;

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    PaintCounter(QWidget* widget, int& count)
        : m_count(count)
    {
        widget->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) ++m_count;
        return false;
    }

private:
    int& m_count;
};

} // namespace

class SmallWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void inputEnterConfirms();
    void inputCancelKeepsText();
    void inputEscapeDoesNothing();
    void inputPrefillModes();
    void inputKeepsBytesOfPrefill();
    void progressStopButton();
    void progressBarsClampButKeepPositions();
    void progressPaintsWithoutEvents();
    void helpWindow();
    void plainMessageBox();
    void appMessageBoxAnswers_data();
    void appMessageBoxAnswers();
    void questionKeys_data();
    void questionKeys();
    void balancedLines_data();
    void balancedLines();
    void messageBoxKeepsItsLines();
    void eventPumpIsRateLimited();
    void busyCursorIsBalanced();
    void listClicksAndDoubleClicks();
    void dirItemColours_data();
    void dirItemColours();
    void activationPosition_data();
    void activationPosition();
};

void SmallWindowsTest::inputEnterConfirms()
{
    ResetMainState();
    TForm3 input(nullptr);
    Main.InputMode = 7; // keeps the last text
    AnswerNext<TForm3>([](TForm3* input) {
        QTest::keyClicks(input->Edit1, "abc");
        QTest::keyClick(input->Edit1, Qt::Key_Return);
    });
    input.exec();
    QCOMPARE(Main.InputMode, 255);
    QCOMPARE(Main.InputText, std::string("abc"));
    QVERIFY(!input.isVisible());

    // Another value than 0, 1 and 3 shows the text typed last time.
    Main.InputMode = 42;
    QString seen;
    AnswerNext<TForm3>([&seen](TForm3* input) {
        seen = input->Edit1->text();
        QCOMPARE(input->Edit1->cursorPosition(), seen.size());
        QVERIFY(!input->Edit1->hasSelectedText());
        QTest::keyClick(input->Edit1, Qt::Key_Enter);
    });
    input.exec();
    QCOMPARE(seen, QStringLiteral("abc"));
    QCOMPARE(Main.InputMode, 255);
}

void SmallWindowsTest::inputCancelKeepsText()
{
    ResetMainState();
    TForm3 input(nullptr);
    Main.InputText = "kept";
    Main.InputMode = 9;
    AnswerNext<TForm3>([](TForm3* input) {
        QTest::keyClicks(input->Edit1, "typed");
        input->Button2->click();
    });
    input.exec();
    QCOMPARE(Main.InputMode, 0);
    QCOMPARE(Main.InputText, std::string("kept"));
}

void SmallWindowsTest::inputEscapeDoesNothing()
{
    ResetMainState();
    TForm3 input(nullptr);
    QVERIFY(!(input.windowFlags() & Qt::WindowCloseButtonHint));
    Main.InputMode = 9;
    bool stillOpen = false;
    AnswerNext<TForm3>([&stillOpen](TForm3* input) {
        QTest::keyClick(input->Edit1, Qt::Key_Escape);
        input->close(); // the window manager's close request is refused too
        stillOpen = input->isVisible();
        input->Button1->click();
    });
    input.exec();
    QVERIFY(stillOpen);
    QCOMPARE(Main.InputMode, 255);
}

void SmallWindowsTest::inputPrefillModes()
{
    DriveFixture drives;
    drives.tree.write("sub/ file.txt", "x");
    drives.tree.mkdir("sub/inner");
    TForm1 form;
    TForm3 input(&form);
    form.show();
    form.DirBx1->SetSelectedIndex(1);
    form.DirBx1DblClick(); // into C:\sub
    form.DirBx1->SetSelectedIndex(2); // inner selected

    Main.InputMode = 0;
    input.FormActivate();
    QCOMPARE(input.Edit1->text(), QStringLiteral("C:\\sub\\inner"));
    Main.InputMode = 3;
    input.FormActivate();
    QCOMPARE(input.Edit1->text(), QStringLiteral("C:\\sub\\"));
    Main.InputMode = 1;
    form.FileBx1->setCurrentRow(0);
    input.FormActivate();
    QCOMPARE(input.Edit1->text(), QStringLiteral("C:\\sub\\file.txt")); // blanks at either end not offered
}

void SmallWindowsTest::inputKeepsBytesOfPrefill()
{
    ResetMainState();
    TForm3 input(nullptr);
    const std::string dir = "C:\\d\xff\xfe\\";
    input.SetEditBytes(dir);
    input.Edit1->setText(input.Edit1->text() + "new");
    input.Button1Click();
    QCOMPARE(Main.InputText, dir + "new");
    // A text edited inside the prefill is taken as shown.
    input.SetEditBytes(dir);
    input.Edit1->setText(QStringLiteral("C:\\other"));
    input.Button1Click();
    QCOMPARE(Main.InputText, std::string("C:\\other"));
}

void SmallWindowsTest::progressStopButton()
{
    ResetMainState();
    TForm7 progress;
    QCOMPARE(progress.windowTitle(), QStringLiteral("進行状況"));
    QCOMPARE(progress.Label1->text(), QStringLiteral("Label1"));
    QCOMPARE(progress.Button1->text(), QStringLiteral("中止"));
    progress.Show();
    QVERIFY(progress.IsVisible());
    QVERIFY(progress.PBar1->isVisible());
    QVERIFY(!progress.PBar2->isVisible());
    QCOMPARE(progress.pos(), QPoint(400, 110));
    progress.Button1->click();
    QVERIFY(Main.AbortFlag.stop_requested());
    QVERIFY(!progress.IsVisible());
}

void SmallWindowsTest::progressBarsClampButKeepPositions()
{
    TForm7 progress;
    progress.SetMax(ProgressBar::Overall, 3);
    progress.SetPosition(ProgressBar::Overall, 2);
    progress.Step(ProgressBar::Overall, 5);
    QCOMPARE(progress.Position(ProgressBar::Overall), 7);
    QCOMPARE(progress.PBar1->value(), 3);
    progress.SetBarVisible(ProgressBar::Block, true);
    progress.SetMax(ProgressBar::Block, 100);
    progress.Step(ProgressBar::Block);
    QCOMPARE(progress.PBar2->value(), 1);
    QCOMPARE(progress.Position(ProgressBar::Overall), 7); // the bars are separate
    progress.SetLabel("変換中");
    QCOMPARE(progress.Label1->text(), QStringLiteral("変換中"));
    progress.SetStopVisible(false);
    QVERIFY(progress.Button1->isHidden());
}

// Deleting files lets no events run: the window is painted when shown and the bar when it moves.
void SmallWindowsTest::progressPaintsWithoutEvents()
{
    TForm7 progress;
    int paints = 0;
    PaintCounter counter(progress.PBar1, paints);
    progress.Show();
    QVERIFY(progress.windowHandle()->isExposed());
    QVERIFY(paints > 0);
    const int shown = paints;
    progress.SetMax(ProgressBar::Overall, 10);
    progress.SetPosition(ProgressBar::Overall, 3);
    QVERIFY(paints > shown);
    const int moved = paints;
    progress.SetPosition(ProgressBar::Overall, 3); // no change, no paint
    QCOMPARE(paints, moved);
    progress.Close();
}

void SmallWindowsTest::helpWindow()
{
    THelp help;
    QCOMPARE(help.windowTitle(), QStringLiteral("情報"));
    QVERIFY(help.Memo1->isReadOnly());
    // A vertical scroll bar only: a long note wraps.
    QCOMPARE(help.Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(help.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    const QStringList lines = help.Memo1->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.value(0), QStringLiteral("ZELO32  Ver 2.20 　　2006/2/12"));
    QCOMPARE(lines.value(1), QString());
    QCOMPARE(lines.value(2), QStringLiteral("使用法"));
    QCOMPARE(lines.value(4), QStringLiteral("　右クリックで，コマンドを選択，左ダブルクリックでフｱイルの実行"));
    QCOMPARE(
        lines.value(5), QStringLiteral("　左クリックで，対象フｱイル，フｵルダ－の選択（フｱイルでマルチセレクト可能）"));
    // Five numbered notes, then the history from 2.00 to 2.20 in order (there was no 2.01), each version once.
    for (int note = 1; note <= 5; ++note)
        QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^%1\\) ").arg(note))).size(), 1);
    // The key table names every key.
    for (const char* key :
        { "F5", "F6", "F7", "F2", "Delete", "Shift+Delete", "Enter", "Backspace", "Ctrl+A", "Ctrl+L" })
        QCOMPARE(
            lines.filter(QRegularExpression(QStringLiteral("^　%1 ").arg(QString::fromUtf8(key).replace('+', "\\+"))))
                .size(),
            1);
    const QStringList versions = lines.filter(QRegularExpression(QStringLiteral("^Ver 2\\.\\d\\d ")));
    QStringList expected { QStringLiteral("Ver 2.00") };
    for (int minor = 2; minor <= 20; ++minor)
        expected << QStringLiteral("Ver 2.%1").arg(minor, 2, 10, QLatin1Char('0'));
    QCOMPARE(versions.size(), expected.size());
    for (int i = 0; i < versions.size(); ++i)
        QVERIFY2(versions[i].startsWith(expected[i]), qPrintable(versions[i]));

    QPoint shownAt;
    AnswerNext<THelp>([&shownAt](THelp* shown) {
        shownAt = shown->pos();
        shown->Button1->click();
    });
    QCOMPARE(help.exec(), int(QDialog::Accepted));
    QCOMPARE(shownAt, QPoint(180, 50));
}

void SmallWindowsTest::plainMessageBox()
{
    TForm7 progress;
    QtUiServices services(progress);
    QString title, text;
    int buttons = 0;
    QMessageBox::Icon icon = QMessageBox::Warning;
    bool whole = false;
    AnswerNextMessageBox([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        buttons = int(box->buttons().size());
        icon = box->icon();
        // Lines are never broken (no lone character on a line of its own), the caption has room beside
        // the title bar's buttons, and "\\" is drawn in the windows' face.
        const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        whole = label && !label->wordWrap() && box->font().family() == GothicFont(15).family()
            && box->width() >= QFontMetrics(box->font()).horizontalAdvance(title) + 160;
        box->buttons().front()->click();
    });
    services.ShowPlainMessage("C:\\x  :   Accesee Denied !\n\r\n\rＲｅａｄＯｎｌｙ　を削除しようとした");
    QCOMPARE(title, QStringLiteral("Zelo"));
    QCOMPARE(text, QStringLiteral("C:\\x  :   Accesee Denied !\n\nＲｅａｄＯｎｌｙ　を削除しようとした"));
    QCOMPARE(buttons, 1);
    QCOMPARE(icon, QMessageBox::NoIcon);
    QVERIFY(whole);
}

void SmallWindowsTest::appMessageBoxAnswers_data()
{
    QTest::addColumn<uint>("flags");
    QTest::addColumn<int>("press"); // QMessageBox::StandardButton
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("buttonCount");
    QTest::newRow("ok") << uint(kMbOk) << int(QMessageBox::Ok) << kIdOk << 1;
    QTest::newRow("yes") << uint(kMbYesNo) << int(QMessageBox::Yes) << kIdYes << 2;
    QTest::newRow("no") << uint(kMbYesNo) << int(QMessageBox::No) << kIdNo << 2;
    QTest::newRow("yes, No the default") << uint(kMbYesNo | kMbDefButton2) << int(QMessageBox::Yes) << kIdYes << 2;
}

void SmallWindowsTest::questionKeys_data()
{
    QTest::addColumn<uint>("flags");
    QTest::addColumn<int>("key"); // typed into the button with the first focus
    QTest::addColumn<int>("expected");
    QTest::newRow("Enter takes Yes, the default") << uint(kMbYesNo) << int(Qt::Key_Return) << kIdYes;
    QTest::newRow("Enter keeps No, the default") << uint(kMbYesNo | kMbDefButton2) << int(Qt::Key_Return) << kIdNo;
    QTest::newRow("Escape is No") << uint(kMbYesNo) << int(Qt::Key_Escape) << kIdNo;
}

void SmallWindowsTest::questionKeys()
{
    QFETCH(uint, flags);
    QFETCH(int, key);
    QFETCH(int, expected);
    TForm7 progress;
    QtUiServices services(progress);
    bool firstFocusIsDefault = false;
    bool closedByKey = false;
    AnswerNextMessageBox([&](QMessageBox* box) {
        QWidget* focused = box->focusWidget();
        firstFocusIsDefault = focused == box->defaultButton();
        QTest::keyClick(focused, Qt::Key(key));
        closedByKey = !box->isVisible();
        if (!closedByKey) box->done(0);
    });
    QCOMPARE(services.AppMessageBox("バックアップ先の項目を削除します", "注意", flags), expected);
    QVERIFY(firstFocusIsDefault);
    QVERIFY(closedByKey);
}

// Lines wider than the limit are cut into pieces of nearly one width: none alone on a short last line.
void SmallWindowsTest::balancedLines_data()
{
    QTest::addColumn<QString>("text");
    const QString kanji = QStringLiteral("削除出来ませんでした");
    QTest::newRow("short") << QStringLiteral("C:\\x  :   Accesee Denied !");
    QTest::newRow("just over the limit") << kanji.repeated(2) + QStringLiteral("。");
    QTest::newRow("long") << kanji.repeated(11);
    QTest::newRow("path without blanks") << QStringLiteral("C:\\") + QStringLiteral("folder\\").repeated(20);
    QTest::newRow("two lines, one long") << QStringLiteral("短い行\n") + kanji.repeated(7);
}

void SmallWindowsTest::balancedLines()
{
    QFETCH(QString, text);
    const QFontMetrics metrics(GothicFont(15));
    const int limit = 300;
    const int character = metrics.horizontalAdvance(QStringLiteral("　"));
    const QStringList out = BalancedLines(text, metrics, limit).split(QLatin1Char('\n'));
    QCOMPARE(out.join(QString()), QString(text).remove(QLatin1Char('\n')));
    qsizetype at = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        // The fewest pieces no wider than the limit, each within two characters of the others.
        const int width = metrics.horizontalAdvance(line);
        const int pieces = (width + limit - 1) / limit;
        QCOMPARE(out.mid(at, pieces).join(QString()), line);
        int narrowest = width;
        int widest = 0;
        for (const QString& piece : out.mid(at, pieces)) {
            narrowest = std::min(narrowest, metrics.horizontalAdvance(piece));
            widest = std::max(widest, metrics.horizontalAdvance(piece));
        }
        QVERIFY2(widest <= std::max(width, limit) && widest <= limit + character, qPrintable(line));
        QVERIFY2(widest - narrowest <= 2 * character, qPrintable(line));
        at += pieces;
    }
    QCOMPARE(at, out.size());
}

// A message box never wraps what it was given: each line it shows is one line of the label.
void SmallWindowsTest::messageBoxKeepsItsLines()
{
    TForm7 progress;
    QtUiServices services(progress);
    const std::string text = "C:\\folder\\name.txt  :   " + std::string(30, 'x') + "　は見つかりません\n\r"
        + std::string(120, 'y') + "　削除出来ませんでした";
    int shownLines = 0;
    int labelLines = 0;
    AnswerNextMessageBox([&](QMessageBox* box) {
        const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        shownLines = int(label->text().count(QLatin1Char('\n'))) + 1;
        const int height = label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
        labelLines = height / label->fontMetrics().lineSpacing();
        box->buttons().front()->click();
    });
    services.AppMessageBox(text, "報告", kMbOk);
    QVERIFY(shownLines >= 3); // the long line was cut
    QCOMPARE(labelLines, shownLines);
}

void SmallWindowsTest::appMessageBoxAnswers()
{
    QFETCH(uint, flags);
    QFETCH(int, press);
    QFETCH(int, expected);
    QFETCH(int, buttonCount);
    TForm7 progress;
    QtUiServices services(progress);
    QString title;
    int buttons = 0;
    AnswerNextMessageBox([&](QMessageBox* box) {
        title = box->windowTitle();
        buttons = int(box->buttons().size());
        box->button(QMessageBox::StandardButton(press))->click();
    });
    QCOMPARE(services.AppMessageBox("デイレクトリ－を削除します", "注意", flags), expected);
    QCOMPARE(title, QStringLiteral("注意"));
    QCOMPARE(buttons, buttonCount);
}

void SmallWindowsTest::eventPumpIsRateLimited()
{
    TForm7 progress;
    QtUiServices services(progress);
    bool delivered = false;
    QTimer::singleShot(0, [&delivered] { delivered = true; });
    services.ProcessEvents();
    QCOMPARE(services.PumpRuns(), 1);
    QVERIFY(delivered);
    // Calls right after the last run only read the clock.
    for (int i = 0; i < 1000; ++i)
        services.ProcessEvents();
    QVERIFY(services.PumpRuns() < 10);
    // Once the interval has passed the queue runs again.
    const int before = services.PumpRuns();
    QTRY_VERIFY_WITH_TIMEOUT((services.ProcessEvents(), services.PumpRuns() > before), 5000);
}

void SmallWindowsTest::busyCursorIsBalanced()
{
    TForm7 progress;
    {
        QtUiServices services(progress);
        services.SetBusyCursor(false); // an arrow without an hourglass first changes nothing
        QVERIFY(!QApplication::overrideCursor());
        services.SetBusyCursor(true);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        services.SetBusyCursor(false);
        QVERIFY(!QApplication::overrideCursor());
        services.SetBusyCursor(true); // left on: the services put it back when they go
    }
    QVERIFY(!QApplication::overrideCursor());
}

void SmallWindowsTest::listClicksAndDoubleClicks()
{
    FileListBox list(nullptr);
    list.resize(300, 200);
    for (const char* name : { "a", "b", "c", "d" })
        list.AddBytes(name);
    list.show();
    QSignalSpy clicks(&list, &ClickListBox::Click);
    QSignalSpy doubles(&list, &ClickListBox::DblClick);
    const QPoint first = list.visualItemRect(list.item(0)).center();
    QTest::mousePress(list.viewport(), Qt::LeftButton, {}, first);
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, first);
    QTest::mousePress(list.viewport(), Qt::LeftButton, {}, first);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, first);
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, first);
    QCOMPARE(clicks.count(), 1); // the release ending the double click is not another click
    QCOMPARE(doubles.count(), 1);

    // A right click keeps a multiple selection for the pop-up menu.
    for (int row : { 0, 1, 2 })
        list.SetSelected(row, true);
    QTest::mouseClick(list.viewport(), Qt::RightButton, {}, list.visualItemRect(list.item(3)).center());
    QCOMPARE(list.SelectedFlags(), (std::vector<bool> { true, true, true, false }));
    QCOMPARE(clicks.count(), 1);

    // Moving with the keyboard counts as a click; Enter is no double click in the file pane.
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Down);
    QCOMPARE(clicks.count(), 2);
    QTest::keyClick(&list, Qt::Key_Return);
    QCOMPARE(doubles.count(), 1);
}

void SmallWindowsTest::dirItemColours_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("marker");
    QTest::addColumn<QColor>("expected");
    const QPalette palette;
    const int base = int(QStyle::State_Enabled | QStyle::State_Active);
    const QColor text = palette.color(QPalette::Active, QPalette::Text);
    const QColor highlighted = palette.color(QPalette::Active, QPalette::HighlightedText);
    QTest::newRow("plain") << base << 0 << text;
    QTest::newRow("hidden") << base << 255 << QColor(0x80, 0x80, 0x80);
    QTest::newRow("selected alone") << (base | int(QStyle::State_Selected)) << 0 << QColor(Qt::white);
    QTest::newRow("selected alone, hidden") << (base | int(QStyle::State_Selected)) << 255 << QColor(Qt::white);
    QTest::newRow("selected with focus") << (base | int(QStyle::State_Selected | QStyle::State_HasFocus)) << 0
                                         << highlighted;
    QTest::newRow("selected with focus, hidden")
        << (base | int(QStyle::State_Selected | QStyle::State_HasFocus)) << 255 << QColor(0x80, 0x80, 0x80);
}

void SmallWindowsTest::dirItemColours()
{
    QFETCH(int, state);
    QFETCH(int, marker);
    QFETCH(QColor, expected);
    QCOMPARE(DirItemTextColor(QStyle::State(state), marker, QPalette()), expected);
}

void SmallWindowsTest::activationPosition_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("small") << 600 << QPoint(100, 70);
    QTest::newRow("just below") << 899 << QPoint(100, 70);
    QTest::newRow("threshold") << 900 << QPoint(200, 120);
    QTest::newRow("large") << 1400 << QPoint(200, 120);
}

void SmallWindowsTest::activationPosition()
{
    QFETCH(int, height);
    QFETCH(QPoint, expected);
    QCOMPARE(MainWindowActivationPosition(height), expected);
}

QTEST_MAIN(SmallWindowsTest)
#include "small_windows_test.moc"
