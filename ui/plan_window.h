// TPlan: the plan of a backup, shown before anything is written: what it will create, update and delete,
// and the bytes it will copy, with Yes, No and the list of every entry it deletes or replaces.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QPushButton;

namespace zelo {

struct BackupPlan;
class TForm9;

// The lines of the plan's summary, as the confirmation shows them.
std::vector<std::string> PlanSummaryLines(const BackupPlan& plan);

// Every entry the plan deletes or replaces, one line each with its action word, then the problems met
// while planning.
std::vector<std::string> PlanDetailLines(const BackupPlan& plan);

class TPlan : public QDialog {
    Q_OBJECT
public:
    // versionsDir: where the run keeps what it deletes or replaces; empty when it keeps nothing.
    TPlan(const BackupPlan& plan, const std::string& versionsDir, QWidget* parent = nullptr);

    // Shows the plan; true when the person chose Yes.
    bool Confirm();

    void Button3Click();

    QLabel* Label1 = nullptr;
    QPushButton* Button1 = nullptr; // はい
    QPushButton* Button2 = nullptr; // いいえ
    QPushButton* Button3 = nullptr; // 詳細
    TForm9* Detail = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::vector<std::string> m_detail;
};

} // namespace zelo
