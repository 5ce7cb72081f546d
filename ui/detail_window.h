// TForm9: the detail window: the destination files found newer than their source (DetailList), or the
// lines it is given (a backup's plan lists what it deletes or replaces here).
#pragma once

#include "ui_detail_window.h"

#include <QDialog>

#include <optional>
#include <string>
#include <vector>

namespace zelo {

class TForm9 : public QDialog, public Ui::Form9 {
    Q_OBJECT
public:
    explicit TForm9(QWidget* parent = nullptr);

    // Shows these lines rather than DetailList.
    void SetLines(std::vector<std::string> lines) { m_lines = std::move(lines); }

    // Shows DetailList (or the lines given) in the memo.
    void FormActivate();
    void Button1Click();

    // The controls are the layout's (detail_window.ui).

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::optional<std::vector<std::string>> m_lines;
};

} // namespace zelo
