#include "model/file_list.h"

#include "model/path_tree.h"
#include "platform/filesystem.h"
#include "platform/text.h"

#include <algorithm>
#include <utility>

namespace zelo {

namespace {

bool Wanted(uint32_t attributes, FileTypeState state)
{
    const bool special = (attributes & (kAttrHidden | kAttrSystem)) != 0;
    switch (state) {
    case FileTypeState::OrdinaryOnly:
        return !special;
    case FileTypeState::All:
        return true;
    case FileTypeState::HiddenOrSystemOnly:
        return special;
    }
    return false;
}

} // namespace

std::vector<std::string> SplitMask(const std::string& mask)
{
    std::vector<std::string> patterns;
    bool anyPattern = false;
    size_t start = 0;
    while (start <= mask.size()) {
        size_t end = mask.find(';', start);
        if (end == std::string::npos) end = mask.size();
        std::string pattern = TrimName(mask.substr(start, end - start));
        start = end + 1;
        if (pattern.empty()) continue;
        anyPattern = true;
        // A pattern with a separator would list another directory's files under this one's path.
        if (pattern.find_first_of("\\/") == std::string::npos) patterns.push_back(std::move(pattern));
    }
    if (!anyPattern) patterns.emplace_back("*.*");
    return patterns;
}

std::string JoinPath(const std::string& directory, const std::string& name)
{
    if (directory.empty()) return name;
    if (directory.back() == '\\') return directory + name;
    return directory + '\\' + name;
}

std::vector<std::string> ReadFileList(const std::string& directory, const std::string& mask, FileTypeState state)
{
    std::vector<std::pair<std::string, std::string>> keyed; // upper-case key, name
    for (const std::string& pattern : SplitMask(mask)) {
        FindData found;
        std::unique_ptr<DirSearch> search = fs().FindFirst(JoinPath(directory, pattern), kAttrMaskAll, found);
        if (!search) continue;
        do {
            // A link to a file is a file; a link to a directory carries Directory and is left out.
            if (found.attributes & kAttrDirectory) continue;
            if (!Wanted(found.attributes, state)) continue;
            keyed.emplace_back(ToUpperText(found.name), found.name);
        } while (search->Next(found));
    }
    std::sort(keyed.begin(), keyed.end());
    // Two patterns can match one name; equal names sit side by side after the sort.
    keyed.erase(std::unique(keyed.begin(), keyed.end()), keyed.end());

    std::vector<std::string> names;
    names.reserve(keyed.size());
    for (auto& [key, name] : keyed)
        names.push_back(std::move(name));
    return names;
}

} // namespace zelo
