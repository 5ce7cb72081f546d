// The two list widgets of the panes: DirListBox (owner-drawn directory pane, DirBx1 and DirBx2) and
// FileListBox (multi-select file pane, FileBx1 and FileBx2). Both keep each item's exact name bytes.
#pragma once

#include "model/file_list.h"
#include "model/views.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QStyle>
#include <QStyledItemDelegate>

#include <functional>
#include <string>

namespace zelo {

class PathTree;
class DirListBox;

// Takes a directory pane bound to tree from its drive's root down to target (a drive path on that
// drive), one listed subdirectory at a time as a double click on each would. Returns the first path
// that is not listed (a hidden directory while hidden ones are not shown), or "" when all are entered.
std::string EnterDrivePath(PathTree& tree, DirListBox& list, const std::string& target);

// Byte strings in, shown as UTF-8 with replacement characters.
QString ShowBytes(const std::string& bytes);
// A pane's line: as ShowBytes, with the stand-in of a "\" inside a name (U+F05C, invisible in most
// fonts) drawn as "∖" (U+2216 SET MINUS), which no one takes for a separator. Display only: the item
// keeps its bytes.
QString ShowName(const std::string& bytes);

// Items of one fixed height; the width is the list's horizontal scroll extent (0: as the text needs).
class FixedHeightDelegate : public QStyledItemDelegate {
public:
    FixedHeightDelegate(QObject* parent, int height, int extent);
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void SetExtent(int extent) { m_extent = extent; }

private:
    int m_height;
    int m_extent;
};

// A list with the click events the handlers expect: Click on a mouse click and whenever the keyboard
// moves the current item, DblClick on a double click (and on Enter when asked). A right click opens the
// context menu without touching the selection; the Menu key and Shift+F10 open it at the focused item.
// The list shows whole items only: the part of its height below the last whole item stays empty.
class ClickListBox : public QListWidget {
    Q_OBJECT
public:
    explicit ClickListBox(QWidget* parent, int itemHeight, int scrollExtent);

    void SetEnterIsDoubleClick(bool on) { m_enterIsDoubleClick = on; }
    void SetScrollExtent(int pixels);
    int ItemHeight() const { return m_itemHeight; }

    // The exact bytes of item row (empty outside the list).
    std::string ItemBytes(int row) const;
    void AddBytes(const std::string& bytes);
    // Where the keyboard opens the context menu, in viewport coordinates: at the focused item (or the
    // top of the list when none is in view), always inside the viewport.
    QPoint KeyboardMenuPoint() const;

signals:
    void Click();
    void DblClick();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int m_itemHeight;
    bool m_enterIsDoubleClick = false;
    bool m_inDoubleClick = false;
};

// The text colour of a directory pane item: white when the item is selected without the focus,
// grey (0x808080) for a directory listed because hidden ones are shown, otherwise the usual colour.
QColor DirItemTextColor(QStyle::State state, int marker, const QPalette& palette);

class DirItemDelegate : public QStyledItemDelegate {
public:
    DirItemDelegate(QObject* parent, std::function<int(int)> markerOf, int itemHeight, int extent);
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void SetExtent(int extent) { m_extent = extent; }

private:
    std::function<int(int)> m_markerOf;
    int m_itemHeight;
    int m_extent;
};

class DirListBox : public ClickListBox, public DirListView {
    Q_OBJECT
public:
    static constexpr int kItemHeight = 21;
    // markerOf: the model's marker of a list index (255 draws the item grey).
    DirListBox(QWidget* parent, std::function<int(int)> markerOf);

    // DirListView
    void Clear() override;
    void Add(const std::string& text) override;
    int Count() const override { return count(); }
    std::string Item(int index) const override { return ItemBytes(index); }
    void SetItem(int index, const std::string& text) override;
    int SelectedIndex() const override;
    void SetSelectedIndex(int index) override;

    // The row a drag over the pane would drop into, drawn highlighted (-1: none).
    void SetDropRow(int row);
    int DropRow() const { return m_dropRow; }

    // Type-ahead matches the names, not their indentation.
    void keyboardSearch(const QString& search) override;

protected:
    // A click or key never takes the selection away: the pane always marks one entry.
    QItemSelectionModel::SelectionFlags selectionCommand(
        const QModelIndex& index, const QEvent* event = nullptr) const override;

private:
    QString m_search;
    QElapsedTimer m_sinceLastKey;
    int m_dropRow = -1;
};

// What a refill keeps of the file pane where its entries survive: the selected names, the focused
// name and the scroll position.
struct FilePaneView {
    std::vector<std::string> selected;
    std::string focused;
    int scroll = 0;
};

class FileListBox : public ClickListBox, public FileListView {
    Q_OBJECT
public:
    static constexpr int kItemHeight = 22;
    explicit FileListBox(QWidget* parent);

    // FileListView: sets the directory and reads it.
    void SetDirectory(const std::string& path) override;
    void SetMask(const std::string& mask);
    void SetFileType(FileTypeState state);
    FileTypeState FileType() const { return m_fileType; }
    const std::string& Directory() const { return m_directory; }
    const std::string& Mask() const { return m_mask; }
    // Reads the directory again; the process's current directory follows it.
    void Reread();
    // Lists names read from the directory elsewhere (ReadFileList), as a read would.
    void ShowNames(const std::vector<std::string>& names);

    FilePaneView View() const;
    // Selects the names of view that are still listed (one change of the selection, so 20,000 names
    // stay cheap), focuses its focused name when listed and scrolls back.
    void RestoreView(const FilePaneView& view);

    int Count() const { return count(); }
    bool IsSelected(int row) const;
    void SetSelected(int row, bool selected);
    // Every item selected or none, as one change of the selection: item by item, each change would
    // be announced and the time would grow with the square of the count.
    void SetAllSelected(bool selected);
    std::vector<std::string> Names() const;
    std::vector<bool> SelectedFlags() const;
    int SelectedCount() const;
    // The focused item's name (empty when none), whether it is selected or not.
    std::string FocusedName() const;
    // Directory joined with the focused item's name; empty when nothing is focused or the focused
    // item is not selected.
    std::string FocusedPath() const;

signals:
    // After every read, and when a click moves the focus to another item.
    void Change();

private:
    std::string m_directory;
    std::string m_mask = "*.*";
    FileTypeState m_fileType = FileTypeState::OrdinaryOnly;
    bool m_reading = false;
};

} // namespace zelo
