// TPlan: the plan of a backup, shown before anything is written: what it will create, update and delete,
// and the bytes it will copy, with Yes, No and the list of every entry it deletes or replaces.
#pragma once

#include "ui_plan_window.h"

#include <QDialog>

#include <string>
#include <vector>

namespace zelo {

struct BackupPlan;
class TForm9;

// The lines of the plan's summary, as the confirmation shows them.
std::vector<std::string> PlanSummaryLines(const BackupPlan& plan);

// Every entry the plan deletes or replaces, one line each with its action word, then the problems met
// while planning.
std::vector<std::string> PlanDetailLines(const BackupPlan& plan);

class TPlan : public QDialog, public Ui::Plan {
    Q_OBJECT
public:
    // versionsDir: where the run keeps what it deletes or replaces; empty when it keeps nothing.
    TPlan(const BackupPlan& plan, const std::string& versionsDir, QWidget* parent = nullptr);

    // Shows the plan; true when the person chose Yes.
    bool Confirm();

    void Button3Click();

    // The controls are the layout's (plan_window.ui): Button1 はい; Button2 いいえ; Button3 詳細.
    TForm9* Detail = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::vector<std::string> m_detail;
};

} // namespace zelo
