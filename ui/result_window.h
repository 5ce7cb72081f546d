// TForm6: the result window of a folder copy, move or backup: the driver's counts as a small grid.
#pragma once

#include "engine/folder_transfer.h"
#include "ui_result_window.h"

#include <QDialog>

namespace zelo {

class TForm9;

// The title of the result window by OperationMode; null for a value that leaves it as it was.
const char* ResultTitle(int mode);

class TForm6 : public QDialog, public Ui::Form6 {
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

    // The controls (Label1 to Label20, Button1, Button2) come from the layout; Label11 is the title.

protected:
    void showEvent(QShowEvent* event) override;

private:
    TForm9* m_detail;
    int m_mode = 0;
    TransferCounts m_counts;
};

} // namespace zelo
