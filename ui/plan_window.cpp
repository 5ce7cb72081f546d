// TPlan: the confirmation of a backup's plan, its summary and the list of what it deletes or replaces.
#include "ui/plan_window.h"

#include "engine/backup_plan.h"
#include "engine/file_info.h"
#include "engine/messages.h"
#include "ui/detail_window.h"
#include "ui/list_boxes.h"
#include "ui/window_builder.h"

#include <QLabel>
#include <QPushButton>

#include <cstdio>

namespace zelo {

namespace {

std::string CountLine(const char* what, int count)
{
    char text[128];
    std::snprintf(text, sizeof text, "%s　%d", what, count);
    return text;
}

} // namespace

std::vector<std::string> PlanSummaryLines(const BackupPlan& plan)
{
    const TransferCounts& c = plan.counts;
    std::vector<std::string> lines = {
        "バックアップ先を次のとおり変更します",
        CountLine("作成するフオルダー", c.createdDirs),
        CountLine("新しいファイル", c.newFiles),
        CountLine("更新するファイル", c.updatedFiles),
        CountLine("削除するファイル", c.deletedFiles),
        CountLine("削除するフオルダー", c.deletedDirs),
        "コピーするバイト数　" + SizeText(float(plan.bytes)),
    };
    if (!c.problems.empty()) lines.push_back(CountLine("読めなかった所など", int(c.problems.size())));
    return lines;
}

std::vector<std::string> PlanDetailLines(const BackupPlan& plan)
{
    std::vector<std::string> lines;
    for (const auto& [action, path] : plan.DeletedOrReplaced())
        lines.push_back(std::string(PlanActionWord(action)) + "　" + path);
    lines.insert(lines.end(), plan.counts.problems.begin(), plan.counts.problems.end());
    return lines;
}

TPlan::TPlan(const BackupPlan& plan, const std::string& versionsDir, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint)
    , m_detail(PlanDetailLines(plan))
{
    // A window that deletes never does so on an Enter the person did not aim: in the layout No (Button2) is
    // the default button and the other two are never default.
    setupUi(this);
    FinishLayout(this);

    std::vector<std::string> lines = PlanSummaryLines(plan);
    if (!versionsDir.empty()) lines.push_back("削除・更新する前の版は　" + versionsDir + "　に残します");
    lines.push_back("実行しますか　？");
    QString text;
    for (const std::string& line : lines) {
        if (!text.isEmpty()) text += QLatin1Char('\n');
        text += ShowBytes(line);
    }
    Label1->setText(text);
    Button3->setEnabled(!m_detail.empty());

    Detail = new TForm9(this);
    Detail->setWindowTitle(QStringLiteral("詳細"));

    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    connect(Button3, &QPushButton::clicked, this, &TPlan::Button3Click);
}

bool TPlan::Confirm()
{
    const bool yes = exec() == QDialog::Accepted;
    // The window below takes the keys again, and any question that follows stands above it.
    if (QWidget* below = parentWidget()) below->window()->activateWindow();
    return yes;
}

void TPlan::Button3Click()
{
    Detail->SetLines(m_detail);
    Detail->exec();
    Button2->setFocus(Qt::OtherFocusReason);
}

void TPlan::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    Button2->setFocus(Qt::OtherFocusReason);
}

} // namespace zelo
