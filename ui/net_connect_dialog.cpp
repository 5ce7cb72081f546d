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
    setupUi(this);
    FinishLayout(this);
    for (char letter : FreeDriveLetters())
        DriveBox->addItem(QString(QChar(letter)) + ':');
    connect(OkButton, &QPushButton::clicked, this, &NetConnectDialog::ConnectClick);
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
