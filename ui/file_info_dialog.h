// TForm4: the file information dialog: path, size, times and attributes of one selected file, or the
// count and total size of several, and the change of their attributes.
#pragma once

#include <QDialog>

#include <cstdint>
#include <utility>
#include <vector>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;

namespace zelo {

class TForm1;

class TForm4 : public QDialog {
    Q_OBJECT
public:
    // mainWindow supplies the file pane whose selected files the dialog shows.
    explicit TForm4(TForm1* mainWindow, QWidget* parent = nullptr);

    void FormActivate();
    void Button1Click();
    void Button2Click();

    QFrame* Panel1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLabel* Label10 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QCheckBox* CheckBox1 = nullptr; // ReadOnly
    QCheckBox* CheckBox2 = nullptr; // Hidden
    QCheckBox* CheckBox4 = nullptr; // SysFile
    QCheckBox* CheckBox5 = nullptr; // Directory, shown only
    QCheckBox* CheckBox3 = nullptr; // Archive
    QLabel* Label11 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button1 = nullptr;

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
