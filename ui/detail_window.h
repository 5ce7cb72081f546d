// TForm9: the detail window: the destination files found newer than their source (DetailList).
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace zelo {

class TForm9 : public QDialog {
    Q_OBJECT
public:
    explicit TForm9(QWidget* parent = nullptr);

    // Shows DetailList in the memo.
    void FormActivate();
    void Button1Click();

    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace zelo
