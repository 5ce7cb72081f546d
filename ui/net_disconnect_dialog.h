// NetDisconnectDialog: the network disconnect dialog: the remote drives, one of which is disconnected.
#pragma once

#include "ui_net_disconnect_dialog.h"

#include <QDialog>

namespace zelo {

class NetDisconnectDialog : public QDialog, public Ui::NetDisconnect {
    Q_OBJECT
public:
    explicit NetDisconnectDialog(QWidget* parent = nullptr);

    // Disconnects the chosen drive without forcing it; closes on success, stays open after the error
    // report on failure.
    void DisconnectClick();

    // The controls are the layout's (net_disconnect_dialog.ui): DriveList "X:  \\host\share", one row per remote drive.
};

} // namespace zelo
