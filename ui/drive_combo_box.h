// CBox1: the editable drive selector. It is refilled each time its list opens and on a double click
// in its edit field; items keep their exact bytes (a network name need not be valid UTF-8).
#pragma once

#include "model/drive_list.h"

#include <QComboBox>

#include <string>

namespace zelo {

class DriveComboBox : public QComboBox, public ComboView {
    Q_OBJECT
public:
    explicit DriveComboBox(QWidget* parent);

    // ComboView. Changes made through it are never reported as user changes.
    void ClearItems() override; // the edit text stays as it was
    void AddItem(const std::string& text) override;
    int Count() const override { return count(); }
    std::string Item(int index) const override;
    int SelectedIndex() const override { return currentIndex(); }
    // -1 selects none and keeps the edit text.
    void SetSelectedIndex(int index) override;
    std::string EditText() const override;
    // Selects the item of a drive letter (none when no item has it) and leaves the edit text, and the
    // caret in it, as the user typed them.
    void SelectDriveKeepingText(char letter);
    void SetEditText(const std::string& text) override;

    void showPopup() override;

signals:
    // The list is about to open (CBox1DropDown).
    void DropDown();
    // A double click in the edit field (CBox1DblClick).
    void DblClick();
    // The user picked an item or edited the text (CBox1Change); never for changes made by the program.
    void UserChange();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace zelo
