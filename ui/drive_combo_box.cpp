// DriveComboBox: the editable drive selector (CBox1).
#include "ui/drive_combo_box.h"

#include "ui/list_boxes.h"

#include <QEvent>
#include <QLineEdit>
#include <QSignalBlocker>

#include <cctype>

namespace zelo {

DriveComboBox::DriveComboBox(QWidget* parent)
    : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr); // typing must reach the handler letter by letter, as typed
    lineEdit()->installEventFilter(this);
    connect(this, &QComboBox::activated, this, &DriveComboBox::UserChange);
    connect(lineEdit(), &QLineEdit::textEdited, this, &DriveComboBox::UserChange);
}

void DriveComboBox::ClearItems()
{
    const QSignalBlocker quiet(this);
    const QString text = lineEdit()->text();
    clear();
    lineEdit()->setText(text);
}

void DriveComboBox::AddItem(const std::string& text)
{
    const QSignalBlocker quiet(this);
    const QString edit = lineEdit()->text();
    addItem(ShowBytes(text), QByteArray(text.data(), qsizetype(text.size())));
    // Adding the first item to an empty list would select it and overwrite the edit text.
    if (lineEdit()->text() != edit) {
        setCurrentIndex(-1);
        lineEdit()->setText(edit);
    }
}

std::string DriveComboBox::Item(int index) const
{
    if (index < 0 || index >= count()) return {};
    const QByteArray bytes = itemData(index).toByteArray();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

void DriveComboBox::SetSelectedIndex(int index)
{
    const QSignalBlocker quiet(this);
    if (index < 0 || index >= count()) {
        const QString edit = lineEdit()->text();
        setCurrentIndex(-1);
        lineEdit()->setText(edit);
        return;
    }
    setCurrentIndex(index);
}

void DriveComboBox::SelectDriveKeepingText(char letter)
{
    int found = -1;
    for (int i = 0; i < count() && found < 0; ++i) {
        const std::string item = Item(i);
        if (item.size() >= 2 && item[1] == ':' && std::toupper(static_cast<unsigned char>(item[0])) == letter)
            found = i;
    }
    if (found == currentIndex()) return;
    const QSignalBlocker quiet(this);
    const QString edit = lineEdit()->text();
    const int caret = lineEdit()->cursorPosition();
    setCurrentIndex(found);
    lineEdit()->setText(edit);
    lineEdit()->setCursorPosition(caret);
}

std::string DriveComboBox::EditText() const
{
    const int index = currentIndex();
    if (index >= 0 && lineEdit()->text() == itemText(index)) return Item(index);
    const QByteArray bytes = lineEdit()->text().toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

void DriveComboBox::SetEditText(const std::string& text)
{
    const QSignalBlocker quiet(this);
    lineEdit()->setText(ShowBytes(text));
    update();
}

void DriveComboBox::showPopup()
{
    emit DropDown();
    QComboBox::showPopup();
}

bool DriveComboBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lineEdit() && event->type() == QEvent::MouseButtonDblClick) emit DblClick();
    return QComboBox::eventFilter(watched, event);
}

} // namespace zelo
