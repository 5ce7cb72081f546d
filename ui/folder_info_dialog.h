// TForm5: the folder information dialog: the disk's size, used and free space, and the directory,
// file and byte counts of the selected folder's tree.
#pragma once

#include "ui_folder_info_dialog.h"

#include <QDialog>

namespace zelo {

class TForm5 : public QDialog, public Ui::Form5 {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);

    // Reads the disk figures again; the tree figures are those the last count left in Main.
    void FormActivate();
    void Button1Click();

    // The controls are the layout's (folder_info_dialog.ui): Label14 current directory; Label8 disk size; Label12 used;
    // Label10 free; Label16 selected folder; Label2 directories; Label4 files; Label6 bytes.

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace zelo
