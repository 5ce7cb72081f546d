// TForm3: the one-line input dialog. The caller stores a prefill mode in Main.InputMode, shows it
// modally, then reads Main.InputMode (kInputCancelled or kInputConfirmed) and Main.InputText.
#pragma once

#include "ui_input_dialog.h"

#include <QDialog>

#include <string>

namespace zelo {

class TForm1;

// Main.InputMode around TForm3: the prefill the caller asks for, and what the dialog leaves.
inline constexpr int kInputOfferSelectedDirectory = 0; // the directory pane's selected path
inline constexpr int kInputOfferFile = 1; // the current path and the file under the cursor
inline constexpr int kInputOfferCurrentPath = 3; // the current path
inline constexpr int kInputCancelled = 0;
inline constexpr int kInputConfirmed = 255;

class TForm3 : public QDialog, public Ui::Form3 {
    Q_OBJECT
public:
    // mainWindow supplies the paths of the prefill modes 0, 1 and 3 (null: those modes leave Edit1 alone).
    explicit TForm3(TForm1* mainWindow, QWidget* parent = nullptr);

    void FormActivate();
    void Button1Click();
    void Button2Click();
    // Enter in Edit1 confirms.
    void Cr();

    // Sets Edit1 to a byte string; the bytes are kept for the confirmed text while the shown
    // text still begins with them, so a name that is not valid UTF-8 survives the round trip.
    void SetEditBytes(const std::string& bytes);
    std::string EditBytes() const;

    // The controls are the layout's (input_dialog.ui).

public slots:
    // Escape and the window manager's close request do nothing: the buttons are the only way out.
    void reject() override { }

public:
    // Showing the dialog before its window is active hands the edit a focus-in "by Tab", on which a
    // line edit selects all its text: the caret is put back after the last character afterwards.
    void setVisible(bool visible) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TForm1* m_mainWindow;
    std::string m_prefillBytes;
};

} // namespace zelo
