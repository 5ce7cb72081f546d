// TForm8: the attributes of the directory on the main window's select line, and the volume label of
// its drive.
#pragma once

#include "ui_dir_attributes_dialog.h"

#include <QDialog>

#include <string>

namespace zelo {

class TForm1;

class TForm8 : public QDialog, public Ui::Form8 {
    Q_OBJECT
public:
    // mainWindow supplies the path of its select line (Label9).
    explicit TForm8(TForm1* mainWindow, QWidget* parent = nullptr);

    void FormActivate();
    void Button1Click(); // apply the attributes
    void Button2Click(); // close
    void Button3Click(); // set the volume label

    // The controls are the layout's (dir_attributes_dialog.ui): CheckBox1 ReadOnly; CheckBox2 Hidden; CheckBox3 System;
    // CheckBox4 Directory, always; CheckBox5 Archive.

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::string SelectPath() const;

    TForm1* m_mainWindow;
};

} // namespace zelo
