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
    // the error report, on failure.
    void ConnectClick();

    // The controls are the layout's (net_connect_dialog.ui): DriveBox the free letters, "Z:" first.

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace zelo
