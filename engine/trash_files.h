// Moving the selection to the desktop's trash (the Delete key), so a mistake can be undone from any
// desktop's trash.
#pragma once

#include "engine/options.h"

#include <functional>
#include <string>
#include <vector>

namespace zelo {

// Moves the selected items (items[i] with selected[i] set) of dirWithSep to the trash. Each failure is
// reported with its path; refreshPanes (when given) runs next, and the count is reported (報告) when
// none failed. Returns the number moved.
int TrashSelectedFiles(const Selection& selection, const std::function<void()>& refreshPanes = {});

// Moves one directory tree (a drive path without its separator) to the trash and reports the result.
bool TrashDirectory(const std::string& path);

} // namespace zelo
