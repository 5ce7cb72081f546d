// Vector-backed stand-ins for the directory list and the file list the pane model drives.
#pragma once

#include "model/views.h"

#include <string>
#include <vector>

namespace zelo::test {

class FakeDirList : public DirListView {
public:
    void Clear() override
    {
        items.clear();
        selected = -1;
    }
    void Add(const std::string& text) override { items.push_back(text); }
    int Count() const override { return static_cast<int>(items.size()); }
    std::string Item(int index) const override { return items.at(static_cast<size_t>(index)); }
    void SetItem(int index, const std::string& text) override { items.at(static_cast<size_t>(index)) = text; }
    int SelectedIndex() const override { return selected; }
    void SetSelectedIndex(int index) override { selected = index; }

    // Index of the item whose text without indentation is name, or -1.
    int Find(const std::string& name) const
    {
        for (size_t i = 0; i < items.size(); ++i) {
            const size_t start = items[i].find_first_not_of(' ');
            if (start != std::string::npos && items[i].substr(start) == name) return static_cast<int>(i);
        }
        return -1;
    }

    std::vector<std::string> items;
    int selected = -1;
};

class FakeFileList : public FileListView {
public:
    void SetDirectory(const std::string& path) override { directories.push_back(path); }
    std::vector<std::string> directories;
};

} // namespace zelo::test
