// TForm4: the file information dialog: path, size, times and attributes of one selected file, or the
// count and total size of several, and the change of their attributes.
#pragma once

#include "ui_file_info_dialog.h"

#include <QDialog>

#include <cstdint>
#include <utility>
#include <vector>

class QCheckBox;

namespace zelo {

class TForm1;

class TForm4 : public QDialog, public Ui::Form4 {
    Q_OBJECT
public:
    // mainWindow supplies the file pane whose selected files the dialog shows.
    explicit TForm4(TForm1* mainWindow, QWidget* parent = nullptr);

    void FormActivate();
    void Button1Click();
    void Button2Click();

    // The controls are the layout's (file_info_dialog.ui): CheckBox1 ReadOnly; CheckBox2 Hidden; CheckBox4 SysFile;
    // CheckBox5 Directory, shown only; CheckBox3 Archive.

public slots:
    // Only its own buttons close it.
    void reject() override { }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The four boxes "変更" writes, with their bits (Directory is shown only).
    std::vector<std::pair<QCheckBox*, uint32_t>> AttributeBoxes() const;

    TForm1* m_mainWindow;
};

} // namespace zelo
