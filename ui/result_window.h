// TForm6: the result window of a folder copy, move or backup: the driver's counts as a small grid.
#pragma once

#include "engine/folder_transfer.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace zelo {

class TForm9;

// The title of the result window by OperationMode; null for a value that leaves it as it was.
const char* ResultTitle(int mode);

class TForm6 : public QDialog {
    Q_OBJECT
public:
    // detail: the window Button2 opens (may be null, and may be handed over later).
    explicit TForm6(QWidget* parent = nullptr, TForm9* detail = nullptr);
    void SetDetailWindow(TForm9* detail) { m_detail = detail; }

    // The counts shown and the operation (OperationMode) they come from; Open hands them over and shows
    // the window modally.
    void SetCounts(int mode, const TransferCounts& counts);
    int Open(int mode, const TransferCounts& counts);

    void FormActivate();
    void Button1Click();
    void Button2Click();

    QLabel* Label11 = nullptr; // title
    QLabel* Label1 = nullptr;
    QLabel* Label14 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label18 = nullptr;
    QLabel* Label19 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label15 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label16 = nullptr;
    QLabel* Label17 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label13 = nullptr;
    QLabel* Label20 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    TForm9* m_detail;
    int m_mode = 0;
    TransferCounts m_counts;
};

} // namespace zelo
