// NetDisconnectDialog: the network disconnect dialog: the remote drives, one of which is disconnected.
#pragma once

#include <QDialog>

class QListWidget;
class QPushButton;

namespace zelo {

class NetDisconnectDialog : public QDialog {
    Q_OBJECT
public:
    explicit NetDisconnectDialog(QWidget* parent = nullptr);

    // Disconnects the chosen drive without forcing it; closes on success, stays open after the error
    // report on failure.
    void DisconnectClick();

    QListWidget* DriveList = nullptr; // "X:  \\host\share", one row per remote drive
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;
};

} // namespace zelo
