#include "model/path_tree.h"

#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/text.h"

#include <algorithm>
#include <utility>

namespace zelo {

namespace {

constexpr char kSeparator = '\\';
// Every indentation is cut from this text, so depths from 10 on all get 20 spaces.
constexpr char kIndentText[] = "                    ";
constexpr int kIndentMax = sizeof(kIndentText) - 1;

bool IsBlankByte(char c)
{
    return static_cast<unsigned char>(c) <= 0x20;
}

// The dot rule: "." and ".." and every name beginning with two dots are never listed; other dot names
// (.git, .config) are listed whatever their Hidden attribute.
bool IsListableDotName(const std::string& name)
{
    return name.size() >= 2 && name[1] != '.';
}

bool IsDirectory(const std::string& path)
{
    const uint32_t attributes = fs().GetAttributes(path);
    return attributes != kInvalidAttributes && (attributes & kAttrDirectory);
}

struct SortedEntry {
    std::string key;
    PathEntry entry;
};

} // namespace

int32_t SubdirectoryMarker(const std::string& name, uint32_t attributes, int32_t showHidden)
{
    if (!name.empty() && name[0] == '.') return IsListableDotName(name) ? 0 : -1;
    if (!(attributes & kAttrHidden)) return 0;
    return showHidden ? kHiddenMarker : -1;
}

std::string TrimName(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlankByte(text[begin]))
        ++begin;
    while (end > begin && IsBlankByte(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::string PathTreeSortKey(const std::string& text)
{
    return ToUpperText(text);
}

std::string IndentFor(int depth)
{
    const int width = depth <= 0 ? 0 : (depth >= kIndentMax / 2 ? kIndentMax : 2 * depth);
    return std::string(kIndentText, static_cast<size_t>(width));
}

void PathTree::Bind(DirListView* list, FileListView* fileList)
{
    m_list = list;
    m_fileList = fileList;
}

void PathTree::SetDrive(const std::string& text)
{
    // An empty text names no drive; the pane keeps the one it shows.
    if (text.empty()) return;
    m_drive = text.substr(0, 1);
    m_level = 0;
    if (m_entries.empty()) m_entries.resize(1);
    m_entries[0].text = m_drive + ":" + kSeparator;
    m_entries[0].name = m_entries[0].text;
    m_entries[0].marker = 0;
    if (m_entryCount < 1) m_entryCount = 1;
}

void PathTree::SetShowHidden(int32_t flag)
{
    m_showHidden = flag;
}

int PathTree::SelectionIndex() const
{
    return m_list ? m_list->SelectedIndex() : -1;
}

std::string PathTree::ListItem(int index) const
{
    if (!m_list || index < 0 || index >= m_list->Count()) return {};
    return m_list->Item(index);
}

std::string PathTree::EntryName(int index) const
{
    // The entries mirror the list; a list filled by someone else falls back to its trimmed text.
    if (index >= 0 && index < m_entryCount && index < static_cast<int>(m_entries.size()))
        return m_entries[static_cast<size_t>(index)].name;
    return TrimName(ListItem(index));
}

std::string PathTree::ComposePath()
{
    m_workPath.clear();
    if (m_entries.empty()) return m_workPath;
    m_workPath = m_entries[0].name;
    for (int i = 1; i <= m_level; ++i) {
        m_workPath += m_entries[static_cast<size_t>(i)].name;
        m_workPath += kSeparator;
    }
    if (m_level > 0) m_workPath.pop_back();
    return m_workPath;
}

void PathTree::Navigate()
{
    if (m_entries.empty()) return;
    const int s = SelectionIndex();
    const int count = m_list ? m_list->Count() : 0;
    if (s > m_level) {
        // A selection past the list's end is stale; stay where we are.
        if (s >= count) return;
        // The entry takes the list item's text (indentation included) and the subdirectory's exact name.
        PathEntry entered { ListItem(s), GetMarker(s), EntryName(s) };
        ++m_level;
        if (static_cast<int>(m_entries.size()) < m_level + 1) m_entries.resize(static_cast<size_t>(m_level) + 1);
        m_entries[static_cast<size_t>(m_level)] = std::move(entered);
        return;
    }
    m_level = s < 0 ? 0 : s;
}

void PathTree::Refill(bool navigate)
{
    if (navigate) Navigate();

    if (m_entries.empty()) {
        // No drive yet: an empty pane with nothing selected.
        m_entryCount = 0;
        m_overflow = 0;
        if (m_list) {
            m_list->Clear();
            m_list->SetSelectedIndex(-1);
        }
        return;
    }

    const std::string current = ComposePath();
    std::string searchPath = m_level > 0 ? current + kSeparator : current;
    if (m_fileList) m_fileList->SetDirectory(current);
    searchPath += "*.*";

    // The chain, each entry indented by its depth.
    if (m_list) m_list->Clear();
    m_entries.resize(static_cast<size_t>(m_level) + 1);
    for (int i = 0; i <= m_level; ++i) {
        PathEntry& entry = m_entries[static_cast<size_t>(i)];
        entry.text = IndentFor(i) + entry.name;
        if (m_list) m_list->Add(entry.text);
    }
    m_entryCount = m_level + 1;
    m_overflow = 0;

    FindData found;
    std::unique_ptr<DirSearch> search = fs().FindFirst(searchPath, kAttrMaskAll, found);
    if (!search) {
        // Nothing matched in a directory that is there (an empty drive root has no "." or ".."):
        // the directory was read, so its entry is selected. Anything else leaves no selection.
        const bool empty = GetLastError() == err::FileNotFound && IsDirectory(current);
        if (m_list) m_list->SetSelectedIndex(empty ? m_level : -1);
        return;
    }

    const std::string indent = IndentFor(m_level + 1);
    std::vector<SortedEntry> subdirs;
    do {
        // A link to a directory carries Directory too and is listed: the pane follows links.
        if (!(found.attributes & kAttrDirectory)) continue;
        const std::string& name = found.name;
        const int32_t marker = SubdirectoryMarker(name, found.attributes, m_showHidden);
        if (marker < 0) continue;
        std::string text = indent + name;
        subdirs.push_back({ PathTreeSortKey(text), PathEntry { std::move(text), marker, name } });
    } while (search->Next(found));
    search.reset();

    // Upper-case keys byte by byte (a prefix first); equal keys fall back to the raw bytes so the
    // order does not depend on the order of the search.
    std::sort(subdirs.begin(), subdirs.end(), [](const SortedEntry& a, const SortedEntry& b) {
        if (a.key != b.key) return a.key < b.key;
        return a.entry.text < b.entry.text;
    });

    // Past the nominal capacity the entries grow: hiding subdirectories would leave the user no way
    // to reach them.
    m_entries.reserve(m_entries.size() + subdirs.size());
    for (SortedEntry& sorted : subdirs) {
        if (m_list) m_list->Add(sorted.entry.text);
        m_entries.push_back(std::move(sorted.entry));
    }
    m_entryCount = static_cast<int32_t>(m_entries.size());
    m_overflow = std::max(0, m_entryCount - kCapacity);

    if (m_list) m_list->SetSelectedIndex(m_level);
}

std::string PathTree::CurrentPath(bool withSeparator)
{
    std::string path = ComposePath();
    if (withSeparator && m_level > 0) path += kSeparator;
    m_lastPath = path;
    return path;
}

std::string PathTree::SelectedPath(bool withSeparator)
{
    const int s = SelectionIndex();
    std::string path = ComposePath();
    if (m_entries.empty()) {
        // No drive yet: no path to select.
        m_lastPath = path;
        return path;
    }
    if (s > m_level && m_list && s < m_list->Count()) {
        if (m_level > 0) path += kSeparator;
        path += EntryName(s);
    }
    if (withSeparator && s != 0) path += kSeparator;
    m_lastPath = path;
    return path;
}

std::string PathTree::DriveText(bool asRoot) const
{
    return asRoot ? m_drive + ":" + kSeparator : m_drive;
}

int PathTree::GetMarker(int index) const
{
    if (index < 0 || index >= m_entryCount || index >= static_cast<int>(m_entries.size())) return 0;
    return m_entries[static_cast<size_t>(index)].marker;
}

void PathTree::RenameSelected(const std::string& name)
{
    const int s = SelectionIndex();
    if (s < 0 || s >= m_entryCount || s >= static_cast<int>(m_entries.size())) return;
    PathEntry& entry = m_entries[static_cast<size_t>(s)];
    // The leading spaces, never the text's last byte.
    size_t spaces = 0;
    while (spaces + 1 < entry.text.size() && entry.text[spaces] == ' ')
        ++spaces;
    entry.text = entry.text.substr(0, spaces) + name;
    entry.name = name;
    if (m_list && s < m_list->Count()) m_list->SetItem(s, entry.text);
}

} // namespace zelo
