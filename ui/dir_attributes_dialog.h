// TForm8: the attributes of the directory on the main window's select line, and the volume label of
// its drive.
#pragma once

#include <QDialog>

#include <string>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace zelo {

class TForm1;

class TForm8 : public QDialog {
    Q_OBJECT
public:
    // mainWindow supplies the path of its select line (Label9).
    explicit TForm8(TForm1* mainWindow, QWidget* parent = nullptr);

    void FormActivate();
    void Button1Click(); // apply the attributes
    void Button2Click(); // close
    void Button3Click(); // set the volume label

    QLabel* Label1 = nullptr;
    QCheckBox* CheckBox1 = nullptr; // ReadOnly
    QCheckBox* CheckBox2 = nullptr; // Hidden
    QCheckBox* CheckBox3 = nullptr; // System
    QCheckBox* CheckBox4 = nullptr; // Directory, always
    QCheckBox* CheckBox5 = nullptr; // Archive
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button3 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::string SelectPath() const;

    TForm1* m_mainWindow;
};

} // namespace zelo
