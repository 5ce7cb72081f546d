// Names as a destination matches them.
#include "engine/name_case.h"

#include "platform/errors.h"
#include "platform/text.h"

#include <algorithm>
#include <unordered_map>

namespace zelo {

bool FoldsCase(DirHandle& dir, const std::unordered_map<std::string, FindData>& listing, bool byType)
{
    // A few names are enough: the first that can change case answers.
    constexpr int kTries = 8;
    int tries = 0;
    for (const auto& [name, entry] : listing) {
        std::string other = ToUpperText(name);
        if (other == name) other = ToLowerText(name);
        if (other == name) continue;
        if (++tries > kTries) break; // the lookups fail for other reasons: the type says it
        // Two names that differ only in case, side by side, are told apart.
        if (listing.count(other)) return false;
        FindData found;
        if (dir.Lookup(other, found)) return true;
        const uint32_t code = GetLastError();
        if (code == err::FileNotFound || code == err::PathNotFound) return false;
    }
    return byType;
}

std::string NameKey(const std::string& name, bool folds)
{
    return folds ? FoldCaseText(name) : name;
}

std::unordered_set<std::string> NamesTakenFirst(const std::vector<FindData>& listing, bool folds)
{
    std::unordered_set<std::string> taken;
    if (!folds) return taken;
    std::unordered_map<std::string, const std::string*> first;
    first.reserve(listing.size());
    for (const FindData& entry : listing) {
        auto [it, inserted] = first.emplace(FoldCaseText(entry.name), &entry.name);
        if (inserted) continue;
        // The first in byte order keeps the name; every other one is the one left out.
        if (entry.name < *it->second) {
            taken.insert(*it->second);
            it->second = &entry.name;
        } else {
            taken.insert(entry.name);
        }
    }
    return taken;
}

} // namespace zelo
