// PathTree: the model of a directory pane. The chain of directories from the drive root down to the
// current one, each indented by its depth, then the current directory's subdirectories in sorted order.
#pragma once

#include "model/views.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zelo {

inline constexpr int kHiddenMarker = 255;

struct PathEntry {
    std::string text; // indentation followed by the name; entry 0 is the drive root ("C:\")
    int32_t marker = 0;
    // The directory's exact name bytes (the drive root for entry 0). Paths are composed from it, never
    // from the trimmed display text: on Linux a name may begin or end with blanks, and trimming it would
    // make a command act on a different directory.
    std::string name;
};

class PathTree {
public:
    // The pane's nominal capacity: chain plus subdirectories. The entries grow past it rather than
    // leave a subdirectory out, so every subdirectory stays reachable; Overflow() counts the excess.
    static constexpr int kCapacity = 500;

    void Bind(DirListView* list, FileListView* fileList);
    void SetDrive(const std::string& text);
    void SetShowHidden(int32_t flag);
    void Refill(bool navigate);
    std::string CurrentPath(bool withSeparator);
    std::string SelectedPath(bool withSeparator);
    std::string DriveText(bool asRoot) const;
    int GetLevel() const { return m_level; }
    // 0 for an index outside the entries.
    int GetMarker(int index) const;
    void RenameSelected(const std::string& name);

    int EntryCount() const { return m_entryCount; }
    // index must lie in 0 .. EntryCount() - 1.
    const PathEntry& Entry(int index) const { return m_entries[index]; }
    DirListView* List() const { return m_list; }
    FileListView* FileList() const { return m_fileList; }
    int32_t ShowHidden() const { return m_showHidden; }
    // The path produced by the last CurrentPath or SelectedPath.
    const std::string& LastPath() const { return m_lastPath; }
    // Entries of the last refill beyond the nominal capacity (all of them are still listed).
    int Overflow() const { return m_overflow; }

private:
    void Navigate();
    std::string ComposePath();
    int SelectionIndex() const;
    std::string ListItem(int index) const;
    std::string EntryName(int index) const;

    DirListView* m_list = nullptr;
    FileListView* m_fileList = nullptr;
    int32_t m_showHidden = 0;
    int32_t m_level = 0;
    int32_t m_entryCount = 0;
    std::string m_drive;
    std::string m_lastPath;
    std::string m_workPath;
    std::vector<PathEntry> m_entries; // empty until SetDrive
    int m_overflow = 0;
};

// The sort key of the pane: the text in the locale's upper case, compared byte by byte.
std::string PathTreeSortKey(const std::string& text);
// The marker a listed subdirectory of this name and these attributes gets (0, or kHiddenMarker for a
// Hidden one while hidden ones are shown); -1 when the pane does not list it.
int32_t SubdirectoryMarker(const std::string& name, uint32_t attributes, int32_t showHidden);
// Trims blanks and control characters (bytes up to 0x20) at both ends.
std::string TrimName(const std::string& text);
// The indentation of an entry at a depth: min(2 * depth, 20) spaces.
std::string IndentFor(int depth);

} // namespace zelo
