// TForm5: the folder information dialog: the disk's size, used and free space, and the directory,
// file and byte counts of the selected folder's tree.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace zelo {

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);

    // Reads the disk figures again; the tree figures are those the last count left in Main.
    void FormActivate();
    void Button1Click();

    QLabel* Label13 = nullptr;
    QLabel* Label14 = nullptr; // current directory
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr; // disk size
    QLabel* Label11 = nullptr;
    QLabel* Label12 = nullptr; // used
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr; // free
    QFrame* Panel1 = nullptr;
    QLabel* Label15 = nullptr;
    QLabel* Label16 = nullptr; // selected folder
    QLabel* Label17 = nullptr;
    QLabel* Label2 = nullptr; // directories
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr; // files
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr; // bytes
    QPushButton* Button1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace zelo
