// TRen: the batch rename dialog. The caller presets Main.InputMode to 1 and shows it modally; an
// execute button fills the request (RenStartText, RenBaseName, RenExtText) and leaves InputMode 1
// (name and serial number) or 2 (common extension); cancel and the close box leave 0.
#pragma once

#include "ui_rename_dialog.h"

#include <QDialog>

namespace zelo {

// What the execute buttons leave in Main.InputMode (0 is cancelled).
inline constexpr int kRenNameMode = 1;
inline constexpr int kRenExtensionMode = 2;

class TRen : public QDialog, public Ui::Ren {
    Q_OBJECT
public:
    explicit TRen(QWidget* parent = nullptr);

    // The radio buttons enable the fields and the execute button of their mode.
    void RadioButton1Click();
    void RadioButton2Click();
    void Button1Click();
    void Button2Click();
    void Button3Click();

    // The controls are the layout's (rename_dialog.ui).

public slots:
    // The close box (and Escape) cancel, as the cancel button does.
    void reject() override;

private:
    void EnableMode(bool nameMode);
};

// The one instance, created at start-up after the help window.
extern TRen* Ren;

} // namespace zelo
