// TForm1: the three menus of the main window: together they are the index of every command.
#include "ui/main_window.h"

#include "ui/list_boxes.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace zelo {

QAction* TForm1::AddItem(QWidget* menu, const char* name, const char* caption, void (TForm1::*handler)())
{
    auto* action = new QAction(QString::fromUtf8(caption), menu);
    action->setObjectName(QString::fromUtf8(name));
    if (handler) connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    menu->addAction(action);
    return action;
}

QMenu* TForm1::AddSubmenu(QWidget* menu, const char* name, const char* caption)
{
    auto* sub = new QMenu(QString::fromUtf8(caption), menu);
    sub->setObjectName(QString::fromUtf8(name));
    sub->menuAction()->setObjectName(QString::fromUtf8(name));
    menu->addAction(sub->menuAction());
    return sub;
}

void TForm1::AddSeparator(QWidget* menu, const char* name)
{
    auto* separator = new QAction(menu);
    separator->setSeparator(true);
    separator->setObjectName(QString::fromUtf8(name));
    menu->addAction(separator);
}

void TForm1::AddBlank(QWidget* menu)
{
    // The item with an empty caption, no name and no handler: blank and inert.
    menu->addAction(new QAction(QString(), menu));
}

void TForm1::BuildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    bar->setNativeMenuBar(false);
    AddItem(bar, "Exit1", "終了", &TForm1::Exit1Click);
    QMenu* network = AddSubmenu(bar, "N20", "ネットワ－ク");
    AddItem(network, "N30", "接続", &TForm1::N30Click);
    AddItem(network, "N31", "切断", &TForm1::N31Click);
    AddItem(bar, "HEILP1", "HEILP", &TForm1::HEILP1Click);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    QMenu* p1 = PopupMenu1;
    AddItem(p1, "N15", "情報", &TForm1::N15Click);
    AddSeparator(p1, "N4");
    AddItem(p1, "Copy2", "コピー", &TForm1::Copy2Click);
    AddItem(p1, "GoTo1", "移動", &TForm1::GoTo1Click);
    AddSeparator(p1, "N8");
    QMenu* dup = AddSubmenu(p1, "Dup1", "オプション");
    AddItem(dup, "N22", "複写", &TForm1::N22Click);
    AddSeparator(dup, "N28");
    AddItem(dup, "N25", "０ＤＨ０ＡＨー>0ＡＨ", &TForm1::N25Click);
    AddItem(dup, "N16", "ＥＳＣ 削除", &TForm1::N16Click);
    AddItem(dup, "N17", "ＢＳ　削除", &TForm1::N17Click);
    AddItem(dup, "N0AHDAH1", "0AH->0DH0AH", &TForm1::N0AHDAH1Click);
    AddItem(dup, "SHIFT81", "SHIFT_ＪＩＳ→ＵＴＦ8", &TForm1::SHIFT81Click);
    AddItem(dup, "UTF8SJis1", "UTF8->SＨＩＦＴ_ＪＩＳ", &TForm1::UTF8SJis1Click);
    AddSeparator(dup, "N29");
    AddItem(dup, "N26", "大文字変換", &TForm1::N26Click);
    AddItem(dup, "N27", "小文字変換", &TForm1::N27Click);
    AddSeparator(dup, "N19");
    AddItem(dup, "FileList1", "File List　を保存", &TForm1::FileList1Click);
    AddSeparator(dup, "N32");
    QMenu* shortcut = AddSubmenu(dup, "N33", "ショ－トカット作成");
    AddItem(shortcut, "N34", "デスクトップ", &TForm1::N34Click);
    AddItem(shortcut, "N35", "現在のパス", &TForm1::N35Click);
    AddSeparator(p1, "N3");
    AddItem(p1, "Rename1", "ファイル名変更", &TForm1::Rename1Click);
    AddSeparator(p1, "N11");
    AddItem(p1, "N12", "全選択", &TForm1::N12Click);
    AddItem(p1, "N14", "解除", &TForm1::N14Click);
    AddSeparator(p1, "N5");
    AddBlank(p1);
    AddSeparator(p1, "N13");
    AddItem(p1, "Delete1", "削除", &TForm1::Delete1Click);

    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    QMenu* p2 = PopupMenu2;
    QMenu* info = AddSubmenu(p2, "N6", "情報");
    AddItem(info, "N24", "容量", &TForm1::N24Click);
    AddItem(info, "N23", "属性，ラベル", &TForm1::N23Click);
    AddSeparator(p2, "N21");
    AddItem(p2, "MKDIR1", "ＤＩＲ作成", &TForm1::MKDIR1Click);
    AddItem(p2, "RENDIR1", "ＤＩＲ名変更", &TForm1::RENDIR1Click);
    AddSeparator(p2, "N2");
    AddItem(p2, "Copy1", "コピー", &TForm1::Copy1Click);
    AddItem(p2, "GoTo2", "移動", &TForm1::GoTo2Click);
    AddItem(p2, "BackUp1", "BackUp", &TForm1::BackUp1Click);
    AddSeparator(p2, "N7");
    QMenu* options = AddSubmenu(p2, "DelBAK1", "オプション");
    AddItem(options, "bak1", "*.bak ,*.VIXを削除", &TForm1::bak1Click);
    AddSeparator(options, "N9");
    AddItem(options, "oomozi1", "大文字", &TForm1::oomozi1Click);
    AddItem(options, "komozi1", "小文字", &TForm1::komozi1Click);
    AddSeparator(p2, "N18");
    AddBlank(p2);
    AddSeparator(p2, "N10");
    AddItem(p2, "N1", "ＤＩＲの削除", &TForm1::N1Click);

    // The pop-up menus open where the pane was right-clicked (or at the focused item from the keyboard).
    connect(FileBx1, &QWidget::customContextMenuRequested, this,
        [this](const QPoint& pos) { PopupMenu1->popup(FileBx1->viewport()->mapToGlobal(pos)); });
    connect(DirBx1, &QWidget::customContextMenuRequested, this,
        [this](const QPoint& pos) { PopupMenu2->popup(DirBx1->viewport()->mapToGlobal(pos)); });
}

QAction* TForm1::MenuItem(const QString& name) const
{
    return findChild<QAction*>(name);
}

const std::vector<QString>& TForm1::WriteCommandNames()
{
    static const std::vector<QString> names = {
        QStringLiteral("MKDIR1"),
        QStringLiteral("RENDIR1"),
        QStringLiteral("GoTo2"),
        QStringLiteral("DelBAK1"),
        QStringLiteral("N1"),
        QStringLiteral("GoTo1"),
        QStringLiteral("Dup1"),
        QStringLiteral("Rename1"),
        QStringLiteral("Delete1"),
    };
    return names;
}

} // namespace zelo
