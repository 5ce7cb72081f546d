// Names as a destination matches them: FAT, exFAT and most SMB shares take "a.txt" and "A.TXT" for one
// name, so a copy, a move or a backup there must weigh and keep the entry it already holds under another
// case, and never let two source names land on one.
#pragma once

#include "platform/dir_handle.h"
#include "platform/types.h"

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace zelo {

// Whether dir takes names that differ only in case for one: one of its listed names (listing: by name),
// looked up in another case, answers it (a read, so a plan may ask); byType where no listed name has a
// letter to change.
bool FoldsCase(DirHandle& dir, const std::unordered_map<std::string, FindData>& listing, bool byType);

// The key under which a directory files a name: the name itself, or its case folding where case folds.
std::string NameKey(const std::string& name, bool folds);

// The entries of a source listing that would land on a name another entry takes first, in byte order:
// empty where case does not fold.
std::unordered_set<std::string> NamesTakenFirst(const std::vector<FindData>& listing, bool folds);

} // namespace zelo
