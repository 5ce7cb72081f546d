// The main window's option check boxes as the commands read them when they run.
#pragma once

#include <string>
#include <vector>

namespace zelo {

// The file pane's selection as a command takes it: the directory listed (with its separator) and the
// selected names in list order, built once by the pane.
struct Selection {
    std::string directory;
    std::vector<std::string> names;
    // Where each name stands in the pane's list, and how many items the pane lists (for progress that
    // steps over the whole list); empty and 0 when not known.
    std::vector<size_t> positions;
    size_t listed = 0;

    // From the pane's items and their selected flags.
    static Selection Of(
        const std::string& directory, const std::vector<std::string>& items, const std::vector<bool>& selected)
    {
        Selection out { directory, {}, {}, items.size() };
        for (size_t i = 0; i < items.size() && i < selected.size(); ++i) {
            if (!selected[i]) continue;
            out.names.push_back(items[i]);
            out.positions.push_back(i);
        }
        return out;
    }
};

struct CommandOptions {
    bool clearReadOnly = true; // CBox2 "ReadOnly": clear ReadOnly/Hidden/System before deleting or overwriting
    bool cdromWritable = false; // CheckBox1 "RW": a CD-ROM drive may be a destination
    bool newerOnly = true; // CheckBox2 "new": replace a destination only by a newer source
    bool checkFreeSpace = false; // CheckBox3 "Free Chk": test the destination's free space first
};

} // namespace zelo
