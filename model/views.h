// The small list interfaces the directory pane model fills; the Qt widgets implement them,
// tests use plain vectors.
#pragma once

#include <string>

namespace zelo {

// An owner-drawn list of texts with one selected item (DirBx1, DirBx2).
class DirListView {
public:
    virtual ~DirListView() = default;
    virtual void Clear() = 0;
    virtual void Add(const std::string& text) = 0;
    virtual int Count() const = 0;
    virtual std::string Item(int index) const = 0;
    virtual void SetItem(int index, const std::string& text) = 0;
    // -1 when nothing is selected.
    virtual int SelectedIndex() const = 0;
    virtual void SetSelectedIndex(int index) = 0;
};

// The file list whose directory the model sets (FileBx1, FileBx2).
class FileListView {
public:
    virtual ~FileListView() = default;
    // Sets the directory and reads it; the process's current directory follows it.
    virtual void SetDirectory(const std::string& path) = 0;
};

} // namespace zelo
