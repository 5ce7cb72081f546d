// NetDisconnectDialog: disconnecting a network drive.
#include "ui/net_disconnect_dialog.h"

#include "engine/network.h"
#include "ui/list_boxes.h"
#include "ui/window_builder.h"

#include <QListWidget>
#include <QPushButton>

namespace zelo {

NetDisconnectDialog::NetDisconnectDialog(QWidget* parent)
    : QDialog(parent)
{
    setupUi(this);
    FinishLayout(this);
    for (const RemoteDriveItem& drive : RemoteDrives()) {
        auto* item = new QListWidgetItem(ShowBytes(drive.localName + "  " + drive.universalName), DriveList);
        item->setData(Qt::UserRole, QString::fromLatin1(drive.localName.c_str()));
    }
    if (DriveList->count() > 0) DriveList->setCurrentRow(0);
    OkButton->setEnabled(DriveList->count() > 0);
    connect(OkButton, &QPushButton::clicked, this, &NetDisconnectDialog::DisconnectClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(DriveList, &QListWidget::itemDoubleClicked, this, &NetDisconnectDialog::DisconnectClick);
}

void NetDisconnectDialog::DisconnectClick()
{
    const QListWidgetItem* item = DriveList->currentItem();
    if (!item) return;
    if (DisconnectDrive(item->data(Qt::UserRole).toString().toStdString())) accept();
}

} // namespace zelo
