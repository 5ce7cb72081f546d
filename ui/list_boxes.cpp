// DirListBox and FileListBox: the list widgets of the directory and file panes.
#include "ui/list_boxes.h"

#include "model/path_tree.h"
#include "platform/drive_path.h"
#include "platform/filesystem.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>

#include <algorithm>
#include <unordered_set>
#include <utility>

namespace zelo {

QString ShowBytes(const std::string& bytes)
{
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

QString ShowName(const std::string& bytes)
{
    QString shown = ShowBytes(bytes);
    if (MayHoldStandIn(bytes)) shown.replace(QChar(0xF05C), QChar(0x2216));
    return shown;
}

namespace {
constexpr int kBytesRole = Qt::UserRole;

} // namespace

FixedHeightDelegate::FixedHeightDelegate(QObject* parent, int height, int extent)
    : QStyledItemDelegate(parent)
    , m_height(height)
    , m_extent(extent)
{
}

QSize FixedHeightDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const int width = m_extent > 0 ? m_extent : QStyledItemDelegate::sizeHint(option, index).width();
    return { width, m_height };
}

// ---- ClickListBox ----

ClickListBox::ClickListBox(QWidget* parent, int itemHeight, int scrollExtent)
    : QListWidget(parent)
    , m_itemHeight(itemHeight)
{
    setUniformItemSizes(true);
    setItemDelegate(new FixedHeightDelegate(this, itemHeight, scrollExtent));
    // The scroll extent is always wider than the pane, and a fixed bar keeps the visible rows steady.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setContextMenuPolicy(Qt::CustomContextMenu);
}

void ClickListBox::SetScrollExtent(int pixels)
{
    if (auto* d = dynamic_cast<FixedHeightDelegate*>(itemDelegate()))
        d->SetExtent(pixels);
    else if (auto* dd = dynamic_cast<DirItemDelegate*>(itemDelegate()))
        dd->SetExtent(pixels);
    doItemsLayout();
}

std::string ClickListBox::ItemBytes(int row) const
{
    const QListWidgetItem* it = item(row);
    if (!it) return {};
    const QByteArray bytes = it->data(kBytesRole).toByteArray();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

void ClickListBox::AddBytes(const std::string& bytes)
{
    auto* it = new QListWidgetItem(ShowName(bytes));
    it->setData(kBytesRole, QByteArray(bytes.data(), qsizetype(bytes.size())));
    addItem(it); // the list owns the item
}

void ClickListBox::mousePressEvent(QMouseEvent* event)
{
    m_inDoubleClick = false; // a new press starts a new click
    if (event->button() == Qt::RightButton) {
        setFocus(Qt::MouseFocusReason); // the menu acts on the selection as it is
        event->accept();
        return;
    }
    QListWidget::mousePressEvent(event);
}

void ClickListBox::mouseReleaseEvent(QMouseEvent* event)
{
    QListWidget::mouseReleaseEvent(event);
    // The release that ends a double click is not a click of its own.
    const bool endsDoubleClick = std::exchange(m_inDoubleClick, false);
    if (event->button() == Qt::LeftButton && !endsDoubleClick && indexAt(event->position().toPoint()).isValid())
        emit Click();
}

void ClickListBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    QListWidget::mouseDoubleClickEvent(event);
    m_inDoubleClick = true;
    emit DblClick();
}

QPoint ClickListBox::KeyboardMenuPoint() const
{
    const QRect area = viewport()->rect();
    const QRect focused = currentIndex().isValid() ? visualRect(currentIndex()) : QRect();
    if (!focused.isValid() || !area.intersects(focused)) return area.topLeft() + QPoint(m_itemHeight, m_itemHeight / 2);
    // The item's rectangle is as wide as the scroll extent: take its left part, below the text's start.
    const QPoint at(focused.left() + m_itemHeight, focused.bottom());
    return { std::clamp(at.x(), area.left(), area.right()), std::clamp(at.y(), area.top(), area.bottom()) };
}

bool ClickListBox::event(QEvent* event)
{
    if (event->type() == QEvent::ContextMenu
        && static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
        event->accept();
        emit customContextMenuRequested(KeyboardMenuPoint());
        return true;
    }
    return QListWidget::event(event);
}

void ClickListBox::resizeEvent(QResizeEvent* event)
{
    QListWidget::resizeEvent(event);
    const int rowsHeight = viewport()->height() + viewportMargins().bottom();
    const int rest = rowsHeight % m_itemHeight;
    if (rest != viewportMargins().bottom()) setViewportMargins(0, 0, 0, rest);
}

void ClickListBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        event->accept();
        emit customContextMenuRequested(KeyboardMenuPoint());
        return;
    }
    if (m_enterIsDoubleClick && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        event->accept();
        emit DblClick();
        return;
    }
    const int before = currentRow();
    QListWidget::keyPressEvent(event);
    if (currentRow() != before) emit Click();
}

// ---- DirListBox ----

QColor DirItemTextColor(QStyle::State state, int marker, const QPalette& palette)
{
    const QPalette::ColorGroup group = !(state & QStyle::State_Enabled) ? QPalette::Disabled
        : (state & QStyle::State_Active)                                ? QPalette::Active
                                                                        : QPalette::Inactive;
    const bool selected = state & QStyle::State_Selected;
    if (selected && !(state & QStyle::State_HasFocus)) return QColor(0xFF, 0xFF, 0xFF);
    if (marker == kHiddenMarker) return QColor(0x80, 0x80, 0x80);
    return palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
}

DirItemDelegate::DirItemDelegate(QObject* parent, std::function<int(int)> markerOf, int itemHeight, int extent)
    : QStyledItemDelegate(parent)
    , m_markerOf(std::move(markerOf))
    , m_itemHeight(itemHeight)
    , m_extent(extent)
{
}

void DirItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyle::State state = option.state;
    // The folder a drag would drop into is drawn as the selected entry with the focus.
    if (const auto* list = qobject_cast<const DirListBox*>(option.widget); list && list->DropRow() == index.row())
        state |= QStyle::State_Selected | QStyle::State_HasFocus;
    const QPalette::ColorGroup group = (state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
    const bool selected = state & QStyle::State_Selected;
    const int marker = m_markerOf ? m_markerOf(index.row()) : 0;

    painter->save();
    painter->setClipRect(option.rect);
    painter->fillRect(option.rect, option.palette.color(group, selected ? QPalette::Highlight : QPalette::Base));
    painter->setPen(DirItemTextColor(state, marker, option.palette));
    painter->setFont(option.font);
    painter->drawText(
        option.rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, index.data(Qt::DisplayRole).toString());
    painter->restore();

    if (state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.backgroundColor = option.palette.color(group, selected ? QPalette::Highlight : QPalette::Base);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : nullptr;
        if (style) style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
}

QSize DirItemDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    return { m_extent, m_itemHeight };
}

DirListBox::DirListBox(QWidget* parent, std::function<int(int)> markerOf)
    : ClickListBox(parent, kItemHeight, 1200)
{
    setItemDelegate(new DirItemDelegate(this, std::move(markerOf), kItemHeight, 1200));
    setSelectionMode(QAbstractItemView::SingleSelection);
    SetEnterIsDoubleClick(true);
}

void DirListBox::Clear()
{
    const QSignalBlocker quiet(this);
    clear();
}

void DirListBox::Add(const std::string& text)
{
    const QSignalBlocker quiet(this);
    AddBytes(text);
}

void DirListBox::SetItem(int index, const std::string& text)
{
    QListWidgetItem* it = item(index);
    if (!it) return;
    it->setText(ShowName(text));
    it->setData(Qt::UserRole, QByteArray(text.data(), qsizetype(text.size())));
}

void DirListBox::SetDropRow(int row)
{
    if (row == m_dropRow) return;
    m_dropRow = row;
    viewport()->update();
}

int DirListBox::SelectedIndex() const
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void DirListBox::SetSelectedIndex(int index)
{
    const QSignalBlocker quiet(this);
    if (index < 0 || index >= count()) {
        clearSelection();
        setCurrentRow(-1);
        return;
    }
    setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    scrollToItem(item(index));
}

void DirListBox::keyboardSearch(const QString& search)
{
    if (search.isEmpty() || count() == 0) return;
    const bool goingOn = m_sinceLastKey.isValid() && m_sinceLastKey.elapsed() < QApplication::keyboardInputInterval();
    m_search = goingOn ? m_search + search : search;
    m_sinceLastKey.start();
    // One letter moves on to the next match; a longer prefix may stay on the current item.
    const int from = std::max(currentRow(), 0) + (m_search.size() == 1 ? 1 : 0);
    for (int i = 0; i < count(); ++i) {
        const int row = (from + i) % count();
        if (item(row)->text().trimmed().startsWith(m_search, Qt::CaseInsensitive)) {
            setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
            scrollToItem(item(row));
            return;
        }
    }
}

QItemSelectionModel::SelectionFlags DirListBox::selectionCommand(const QModelIndex& index, const QEvent* event) const
{
    // A control-click on the entry, or a click below the last one, would leave the pane without a
    // selection, and the next double click or Enter would then take it to the drive root.
    if (!index.isValid()) return QItemSelectionModel::NoUpdate;
    const QItemSelectionModel::SelectionFlags command = ClickListBox::selectionCommand(index, event);
    if (command & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))
        return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
    return command;
}

// ---- FileListBox ----

FileListBox::FileListBox(QWidget* parent)
    : ClickListBox(parent, kItemHeight, 1800)
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(this, &QListWidget::currentRowChanged, this, [this] {
        if (!m_reading) emit Change();
    });
}

void FileListBox::SetDirectory(const std::string& path)
{
    m_directory = path;
    Reread();
}

void FileListBox::SetMask(const std::string& mask)
{
    m_mask = mask;
    Reread();
}

void FileListBox::SetFileType(FileTypeState state)
{
    m_fileType = state;
    Reread();
}

void FileListBox::Reread()
{
    if (m_directory.empty()) return;
    fs().SetCurrentDirectory(m_directory);
    ShowNames(ReadFileList(m_directory, m_mask, m_fileType));
}

void FileListBox::ShowNames(const std::vector<std::string>& names)
{
    m_reading = true;
    {
        const QSignalBlocker quiet(this);
        clear();
        for (const std::string& name : names)
            AddBytes(name);
        setCurrentRow(-1);
    }
    m_reading = false;
    emit Change();
}

FilePaneView FileListBox::View() const
{
    FilePaneView view;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        view.selected.push_back(ItemBytes(index.row()));
    view.focused = FocusedName();
    view.scroll = verticalScrollBar()->value();
    return view;
}

void FileListBox::RestoreView(const FilePaneView& view)
{
    const std::unordered_set<std::string> wanted(view.selected.begin(), view.selected.end());
    QItemSelection selection;
    int focusRow = -1;
    for (int row = 0; row < count(); ++row) {
        const std::string name = ItemBytes(row);
        if (!view.focused.empty() && name == view.focused) focusRow = row;
        if (!wanted.count(name)) continue;
        // Runs of selected rows become one range each.
        const QModelIndex index = model()->index(row, 0);
        if (!selection.isEmpty() && selection.last().bottom() == row - 1)
            selection.last() = QItemSelectionRange(selection.last().topLeft(), index);
        else
            selection.select(index, index);
    }
    m_reading = true;
    if (focusRow >= 0) selectionModel()->setCurrentIndex(model()->index(focusRow, 0), QItemSelectionModel::NoUpdate);
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    m_reading = false;
    verticalScrollBar()->setValue(view.scroll);
}

bool FileListBox::IsSelected(int row) const
{
    const QListWidgetItem* it = item(row);
    return it && it->isSelected();
}

void FileListBox::SetSelected(int row, bool selected)
{
    if (QListWidgetItem* it = item(row)) it->setSelected(selected);
}

void FileListBox::SetAllSelected(bool selected)
{
    if (count() == 0) return;
    if (!selected) {
        selectionModel()->clearSelection();
        return;
    }
    const QItemSelection all(model()->index(0, 0), model()->index(count() - 1, 0));
    selectionModel()->select(all, QItemSelectionModel::Select);
}

std::vector<std::string> FileListBox::Names() const
{
    std::vector<std::string> out;
    out.reserve(size_t(count()));
    for (int i = 0; i < count(); ++i)
        out.push_back(ItemBytes(i));
    return out;
}

std::vector<bool> FileListBox::SelectedFlags() const
{
    std::vector<bool> out;
    out.reserve(size_t(count()));
    for (int i = 0; i < count(); ++i)
        out.push_back(IsSelected(i));
    return out;
}

int FileListBox::SelectedCount() const
{
    return int(selectedItems().size());
}

std::string FileListBox::FocusedName() const
{
    return ItemBytes(currentRow());
}

std::string FileListBox::FocusedPath() const
{
    const int row = currentRow();
    if (row < 0 || !IsSelected(row)) return {};
    return JoinPath(m_directory, ItemBytes(row));
}

std::string EnterDrivePath(PathTree& tree, DirListBox& list, const std::string& target)
{
    tree.SetDrive(target.substr(0, 3));
    tree.Refill(false);
    for (size_t start = 3; start < target.size();) {
        const size_t end = std::min(target.find('\\', start), target.size());
        const std::string want = target.substr(0, end);
        bool entered = false;
        for (int i = tree.GetLevel() + 1; i < list.Count() && !entered; ++i) {
            list.SetSelectedIndex(i);
            if (tree.SelectedPath(false) != want) continue;
            tree.Refill(true);
            entered = true;
        }
        if (!entered) return want;
        start = end + 1;
    }
    return {};
}

} // namespace zelo
