// NetConnectDialog: connecting a network share as a drive letter.
#include "ui/net_connect_dialog.h"

#include "engine/messages.h"
#include "engine/network.h"
#include "platform/ui_services.h"
#include "ui/window_builder.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace zelo {

NetConnectDialog::NetConnectDialog(QWidget* parent)
    : QDialog(parent)
{
    WindowBuilder::SetUpWindow(this, "NetConnect", "ネットワ－ク ドライブの接続", 15, QSize(440, 130));
    setModal(true);
    const WindowBuilder form(this);
    DriveLabel = form.Label("DriveLabel", QPoint(12, 16), QStringLiteral("ドライブ"));
    DriveBox = new QComboBox(this);
    DriveBox->setObjectName(QStringLiteral("DriveBox"));
    DriveBox->setGeometry(96, 12, 80, 26);
    for (char letter : FreeDriveLetters())
        DriveBox->addItem(QString(QChar(letter)) + ':');
    ShareLabel = form.Label("ShareLabel", QPoint(12, 52), QStringLiteral("フォルダ"));
    ShareEdit = form.Edit("ShareEdit", QRect(96, 48, 332, 26));
    ShareEdit->setPlaceholderText(QStringLiteral("smb://host/share"));
    OkButton = form.Button("OkButton", QRect(224, 90, 96, 28), QStringLiteral("ＯＫ"));
    OkButton->setDefault(true);
    connect(OkButton, &QPushButton::clicked, this, &NetConnectDialog::ConnectClick);
    CancelButton = form.Button("CancelButton", QRect(332, 90, 96, 28), QStringLiteral("中止"));
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    // Typing goes into the address: on the drive list it would change the letter instead.
    setTabOrder(ShareEdit, DriveBox);
}

void NetConnectDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ShareEdit->setFocus(Qt::OtherFocusReason);
}

void NetConnectDialog::ConnectClick()
{
    const QString letter = DriveBox->currentText();
    const QByteArray share = ShareEdit->text().trimmed().toUtf8();
    if (share.isEmpty()) {
        AppMessageBox("接続する共有のアドレス（smb://host/share）を入力してください", kCaptionWarning, kMbOk);
        ShareEdit->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (letter.isEmpty()) {
        AppMessageBox("空いているドライブ文字がありません", kCaptionWarning, kMbOk);
        return;
    }
    if (ConnectShare(std::string(share.constData(), size_t(share.size())), letter[0].toLatin1())) accept();
}

} // namespace zelo
