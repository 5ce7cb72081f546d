// THelp: the information window with the usage notes and the version history.
#pragma once

#include "ui_help_window.h"

#include <QDialog>
#include <QStringList>

class QWidget;

namespace zelo {

// The memo's lines, in order.
QStringList HelpText();

class THelp : public QDialog, public Ui::Help {
    Q_OBJECT
public:
    explicit THelp(QWidget* parent = nullptr);

    void FormActivate();
    void Button1Click();

    // The controls are the layout's (help_window.ui).

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
};

} // namespace zelo
