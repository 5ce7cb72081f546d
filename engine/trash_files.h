// Moving the selection to the desktop's trash (the Delete key), so a mistake can be undone from any
// desktop's trash.
#pragma once

#include "engine/options.h"

#include <functional>
#include <stop_token>
#include <string>
#include <vector>

namespace zelo {

// Moves the selected items of the selection's directory to the trash beside the window, with the
// progress window and its stop button for two or more (stop is the stop request: the items not yet
// moved stay). Each failure is reported with its path; refreshPanes (when given) runs next; then a
// stopped run reports how many went, and otherwise the count is reported (報告) when none failed.
// Returns the number moved.
int TrashSelectedFiles(
    const Selection& selection, std::stop_token stop, const std::function<void()>& refreshPanes = {});

// Moves one directory tree (a drive path without its separator) to the trash beside the window and
// reports the result.
bool TrashDirectory(const std::string& path);

} // namespace zelo
