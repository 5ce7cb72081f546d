// TForm9: the detail window: the destination files found newer than their source (DetailList), or the
// lines it is given (a backup's plan lists what it deletes or replaces here).
#pragma once

#include <QDialog>

#include <optional>
#include <string>
#include <vector>

class QPlainTextEdit;
class QPushButton;

namespace zelo {

class TForm9 : public QDialog {
    Q_OBJECT
public:
    explicit TForm9(QWidget* parent = nullptr);

    // Shows these lines rather than DetailList.
    void SetLines(std::vector<std::string> lines) { m_lines = std::move(lines); }

    // Shows DetailList (or the lines given) in the memo.
    void FormActivate();
    void Button1Click();

    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::optional<std::vector<std::string>> m_lines;
};

} // namespace zelo
