// The work of the shortcut commands: a link to the file under the file pane's cursor, on the desktop
// or in the root of the current drive.
#pragma once

#include <string>

namespace zelo {

enum ShortcutDestination : int {
    kShortcutDriveRoot = 0, // N35Click: the root of the process's current drive
    kShortcutDesktop = 1, // N34Click: the user's desktop folder
};

// The link file's name: the target's file name with its extension (from the last dot of the name)
// replaced by ".lnk", or ".lnk" appended to a name without a dot.
std::string LinkFileName(const std::string& target);

// Creates the link to target (the full path of the file under the cursor; empty when none). An empty
// target gives the warning "ファイルが選択されておりません" and nothing else; a link that cannot be
// written is reported with its path; on success "<link path>　を作成しました" (報告). Returns success.
bool CreateShortcut(int destination, const std::string& target);

} // namespace zelo
