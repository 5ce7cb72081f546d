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
    WindowBuilder::SetUpWindow(this, "Ren", "名前の変更　一括処理", 15, QSize(361, 169));
    setModal(true);
    const WindowBuilder controls(this);

    RadioGroup1 = controls.GroupBox("RadioGroup1", QRect(8, 4, 345, 49), QStringLiteral("処理"));
    const WindowBuilder inGroup(RadioGroup1);
    RadioButton1 = inGroup.RadioButton("RadioButton1", QRect(16, 20, 97, 21), QStringLiteral("名前"), true);
    RadioButton2 = inGroup.RadioButton("RadioButton2", QRect(136, 20, 97, 21), QStringLiteral("拡張子"), false);
    connect(RadioButton1, &QRadioButton::clicked, this, &TRen::RadioButton1Click);
    connect(RadioButton2, &QRadioButton::clicked, this, &TRen::RadioButton2Click);

    Edit1 = controls.Edit("Edit1", QRect(8, 64, 161, 25));
    Edit1->setText(QStringLiteral("Name"));
    Edit1->setToolTip(QStringLiteral("name001.ext　．．ｅｘｔは不変"));
    Edit2 = controls.Edit("Edit2", QRect(176, 64, 73, 25));
    Edit2->setText(QStringLiteral("001"));
    Edit2->setToolTip(QStringLiteral("name001とし　ｅｘｔ　はそのまま"));
    Button1 = controls.Button("Button1", QRect(264, 63, 89, 27), QStringLiteral("実行"));
    connect(Button1, &QPushButton::clicked, this, &TRen::Button1Click);

    Edit3 = controls.Edit("Edit3", QRect(8, 100, 161, 25));
    Edit3->setText(QStringLiteral("EXT"));
    Edit3->setToolTip(QStringLiteral("mpeg, mpg, mpe　などを統一"));
    Button2 = controls.Button("Button2", QRect(264, 99, 89, 27), QStringLiteral("実行"));
    connect(Button2, &QPushButton::clicked, this, &TRen::Button2Click);

    Button3 = controls.Button("Button3", QRect(264, 135, 89, 27), QStringLiteral("中止"));
    connect(Button3, &QPushButton::clicked, this, &TRen::Button3Click);

    // Enter in a field does not run a batch: only a click on an execute button does.
    for (QPushButton* button : { Button1, Button2, Button3 })
        button->setAutoDefault(false);
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
