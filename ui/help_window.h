// THelp: the information window with the usage notes and the version history.
#pragma once

#include <QDialog>
#include <QStringList>

class QFrame;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace zelo {

// The memo's lines, in order.
QStringList HelpText();

class THelp : public QDialog {
    Q_OBJECT
public:
    explicit THelp(QWidget* parent = nullptr);

    void FormActivate();
    void Button1Click();

    QPlainTextEdit* Memo1 = nullptr;
    QFrame* Panel1 = nullptr;
    QPushButton* Button1 = nullptr;

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
};

} // namespace zelo
