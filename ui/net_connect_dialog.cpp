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
    const std::string address(share.constData(), size_t(share.size()));
    if (m_loginShown) {
        if (ConnectWithLogin(address, letter[0].toLatin1())) accept();
        return;
    }
    switch (ConnectShareAskingLogin(address, letter[0].toLatin1(), nullptr)) {
    case ShareConnection::Connected:
        accept();
        break;
    case ShareConnection::LoginNeeded:
        ShowLogin();
        break;
    case ShareConnection::Failed:
        break;
    }
}

void NetConnectDialog::ShowLogin()
{
    m_loginShown = true;
    for (QWidget* control : { static_cast<QWidget*>(LoginNote), static_cast<QWidget*>(UserLabel),
             static_cast<QWidget*>(UserEdit), static_cast<QWidget*>(PasswordLabel), static_cast<QWidget*>(PasswordEdit),
             static_cast<QWidget*>(DomainLabel), static_cast<QWidget*>(DomainEdit) })
        control->setVisible(true);
    // The buttons go below the login fields, and the window grows to hold them.
    const int buttonsTop = DomainEdit->geometry().bottom() + 20;
    OkButton->move(OkButton->x(), buttonsTop);
    CancelButton->move(CancelButton->x(), buttonsTop);
    setFixedSize(width(), buttonsTop + OkButton->height() + 12);
    setTabOrder(ShareEdit, UserEdit);
    setTabOrder(UserEdit, PasswordEdit);
    setTabOrder(PasswordEdit, DomainEdit);
    setTabOrder(DomainEdit, DriveBox);
    UserEdit->setFocus(Qt::OtherFocusReason);
}

bool NetConnectDialog::ConnectWithLogin(const std::string& share, char letter)
{
    const QByteArray user = UserEdit->text().trimmed().toUtf8();
    if (user.isEmpty()) {
        AppMessageBox("ユーザー名を入力してください", kCaptionWarning, kMbOk);
        UserEdit->setFocus(Qt::OtherFocusReason);
        return false;
    }
    const QByteArray domain = DomainEdit->text().trimmed().toUtf8();
    const ShareLogin login { user.toStdString(),
        [this]() -> std::optional<std::string> { return PasswordEdit->text().toUtf8().toStdString(); },
        domain.toStdString() };
    const bool connected = ConnectShareAskingLogin(share, letter, &login) == ShareConnection::Connected;
    // The password is typed again rather than kept in the window.
    PasswordEdit->clear();
    if (!connected) PasswordEdit->setFocus(Qt::OtherFocusReason);
    return connected;
}

} // namespace zelo
