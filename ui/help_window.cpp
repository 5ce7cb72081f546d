// THelp: the information window with the usage notes and the version history.
#include "ui/help_window.h"

#include "ui/window_builder.h"

#include <QEvent>
#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>

namespace zelo {

QStringList HelpText()
{
    return {
        QStringLiteral("ZELO32  Ver 2.20 　　2006/2/12"),
        QString(),
        QStringLiteral("使用法"),
        QString(),
        QStringLiteral("　右クリックで，コマンドを選択，左ダブルクリックでフｱイルの実行"),
        QStringLiteral("　左クリックで，対象フｱイル，フｵルダ－の選択（フｱイルでマルチセレクト可能）"),
        QString(),
        QStringLiteral("1) ファイルのバックアップは，コピー先に無いファイルと日付の古いファイルをコピーします．"),
        QStringLiteral("   削除は行いません．対象はファイル窓に表示されているファイルです．"),
        QStringLiteral("2) フォルダーのバックアップは，コピー先をコピー元と同一にします（ミラーリング）．"),
        QStringLiteral("   フィルターは無視されます．"),
        QStringLiteral("3) ファイルの複写，ファイル名の大文字・小文字変換，改行コード 0DH0AH→0AH の変換が出来ます．"),
        QStringLiteral("4) 拡張された空容量の取得機能を持つ環境が必要です．"),
        QStringLiteral("5) 一括ファイル名変更の連番は１桁，２桁，３桁が選べます（t1，t01，t001）．"),
        QString(),
        QStringLiteral("キー操作（ファイル窓／ＤＩＲ窓）"),
        QStringLiteral("　F5            コピー"),
        QStringLiteral("　F6            移動"),
        QStringLiteral("　F7            ＤＩＲ作成"),
        QStringLiteral("　F2            ファイル名変更／ＤＩＲ名変更"),
        QStringLiteral("　Delete        ごみ箱へ移動（選択ファイル／選択フォルダー）"),
        QStringLiteral("　Shift+Delete  削除／ＤＩＲの削除（確認のあとで）"),
        QStringLiteral("　Enter         ファイルを開く／フォルダーに入る"),
        QStringLiteral("　Backspace     一つ上のフォルダーへ"),
        QStringLiteral("　Ctrl+A        全選択"),
        QStringLiteral("　Ctrl+L        入力したパスへ移動（C:\\dir，\\dir，dir）"),
        QStringLiteral("　ドラッグ      ファイルをＤＩＲ窓のフォルダーへコピー（Shift：移動，Ctrl：コピー）"),
        QString(),
        QString(),
        QStringLiteral("Ver 2.00  ディレクトリーのチェック方法を変更，大幅に書き直し"),
        QStringLiteral("Ver 2.02  ２バイト目が「\\」の２バイト文字を含むファイル名に対応"),
        QStringLiteral("Ver 2.03  ファイルコピーを中断出来る様にした"),
        QStringLiteral("Ver 2.04  コピー，バックアップで空容量不足の誤ったエラーが出ない様にした"),
        QStringLiteral("Ver 2.05  ファイルコピーに進行状況の表示と中止を追加"),
        QStringLiteral("Ver 2.06  ２バイト文字のテキストのＢＳ削除に対応"),
        QStringLiteral("Ver 2.07  ファイル名の一覧をテキストで保存出来る様にした"),
        QStringLiteral("Ver 2.08  連続したＢＳの削除に対応"),
        QStringLiteral("Ver 2.09  ファイルサイズを符号なしで表示，0AH→0DH0AH 変換を追加"),
        QStringLiteral("Ver 2.10  サブディレクトリーにマウントしたディスクで，空容量のエラーを"),
        QStringLiteral("          無視出来る様にした"),
        QStringLiteral("Ver 2.11  ネットワークの接続，切断を追加"),
        QStringLiteral("Ver 2.12  ドライブ選択にＣＤのボリューム名を表示，ドライブのラベルを変更出来る様にした"),
        QStringLiteral("Ver 2.13  名前がドットで始まるディレクトリーに対応"),
        QStringLiteral("Ver 2.14  ディレクトリー削除でエラーの後も続ける様にした，*.VIX の削除を追加，"),
        QStringLiteral("          ショートカット作成を追加，バックアップでコピー元の更新日時を保持"),
        QStringLiteral("Ver 2.15  UTF-8→SHIFT_JIS 変換を追加（改行は LF を想定）"),
        QStringLiteral("Ver 2.16  終了時にネットワークを切断出来る様にした"),
        QStringLiteral("Ver 2.17  SHIFT_JIS に変換した後の２バイト文字テキストのＢＳ削除に対応"),
        QStringLiteral("Ver 2.18  2.147 GB を越えるファイルサイズに対応"),
        QStringLiteral("Ver 2.19  コピー先にコピー元より新しいファイルがある時に報告する様にした"),
        QStringLiteral("Ver 2.20  クリックしたアイコンファイルを右下にプレビュー表示"),
    };
}

THelp::THelp(QWidget* parent)
    : QDialog(parent,
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
{
    // A vertical scroll bar only: long notes wrap at the memo's width.
    setupUi(this);
    FinishLayout(this);
    Memo1->setPlainText(HelpText().join(QLatin1Char('\n')));
    connect(Button1, &QPushButton::clicked, this, &THelp::Button1Click);
}

void THelp::FormActivate()
{
    move(180, 50);
}

void THelp::Button1Click()
{
    accept();
}

void THelp::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
    QDialog::changeEvent(event);
}

void THelp::showEvent(QShowEvent* event)
{
    FormActivate();
    QDialog::showEvent(event);
}

} // namespace zelo
