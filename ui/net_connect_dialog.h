// NetConnectDialog: the network connect dialog: a share address and a free drive letter.
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace zelo {

class NetConnectDialog : public QDialog {
    Q_OBJECT
public:
    explicit NetConnectDialog(QWidget* parent = nullptr);

    // Connects the share as the chosen letter; the dialog closes on success and stays open, after
    // the error report, on failure.
    void ConnectClick();

    QLabel* DriveLabel = nullptr;
    QComboBox* DriveBox = nullptr; // the free letters, "Z:" first
    QLabel* ShareLabel = nullptr;
    QLineEdit* ShareEdit = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace zelo
