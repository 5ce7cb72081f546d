// NetConnectDialog: the network connect dialog: a share address and a free drive letter.
#pragma once

#include "ui_net_connect_dialog.h"

#include <QDialog>

namespace zelo {

class NetConnectDialog : public QDialog, public Ui::NetConnect {
    Q_OBJECT
public:
    explicit NetConnectDialog(QWidget* parent = nullptr);

    // Connects the share as the chosen letter; the dialog closes on success and stays open, after
    // the error report, on failure. A share that refuses a guest opens the login fields instead of a
    // report, and the next OK connects with the name, password and domain typed there.
    void ConnectClick();

    // The controls are the layout's (net_connect_dialog.ui): DriveBox the free letters, "Z:" first;
    // LoginNote, UserEdit, PasswordEdit and DomainEdit hidden until a share wants a login.

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ShowLogin();
    bool ConnectWithLogin(const std::string& share, char letter);
    bool m_loginShown = false;
};

} // namespace zelo
