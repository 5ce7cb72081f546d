// TRen: the batch rename dialog and its two modes.
#include "ui/rename_dialog.h"

#include "model/state.h"
#include "ui/window_builder.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <string>

namespace zelo {

TRen* Ren = nullptr;

namespace {

std::string TextOf(const QLineEdit* edit)
{
    const QByteArray bytes = edit->text().toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

} // namespace

TRen::TRen(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    // Enter in a field does not run a batch: only a click on an execute button does (none of the buttons is
    // a default button in the layout).
    setupUi(this);
    FinishLayout(this);
    connect(RadioButton1, &QRadioButton::clicked, this, &TRen::RadioButton1Click);
    connect(RadioButton2, &QRadioButton::clicked, this, &TRen::RadioButton2Click);
    connect(Button1, &QPushButton::clicked, this, &TRen::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TRen::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TRen::Button3Click);
    EnableMode(true);
}

void TRen::EnableMode(bool nameMode)
{
    Edit1->setEnabled(nameMode);
    Edit2->setEnabled(nameMode);
    Button1->setEnabled(nameMode);
    Edit3->setEnabled(!nameMode);
    Button2->setEnabled(!nameMode);
}

void TRen::RadioButton1Click()
{
    EnableMode(true);
}

void TRen::RadioButton2Click()
{
    EnableMode(false);
}

void TRen::Button1Click()
{
    Main.RenStartText = TextOf(Edit2);
    Main.RenBaseName = TextOf(Edit1);
    Main.RenExtText.clear();
    Main.InputMode = kRenNameMode;
    done(QDialog::Accepted);
}

void TRen::Button2Click()
{
    Main.RenStartText = "001";
    Main.RenBaseName.clear();
    Main.RenExtText = TextOf(Edit3);
    Main.InputMode = kRenExtensionMode;
    done(QDialog::Accepted);
}

void TRen::Button3Click()
{
    Main.InputMode = 0;
    done(QDialog::Rejected);
}

void TRen::reject()
{
    Main.InputMode = 0;
    QDialog::reject();
}

} // namespace zelo
