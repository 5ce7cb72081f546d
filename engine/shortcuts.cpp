// Shortcuts: link files written through the platform's shell links.
#include "engine/shortcuts.h"

#include "engine/messages.h"
#include "platform/drive_path.h"
#include "platform/filesystem.h"
#include "platform/shell_links.h"
#include "platform/ui_services.h"

namespace zelo {

std::string LinkFileName(const std::string& target)
{
    std::string name = LastComponent(target);
    const auto point = name.find_last_of('.');
    if (point != std::string::npos) name.resize(point);
    return name + ".lnk";
}

bool CreateShortcut(int destination, const std::string& target)
{
    if (target.empty()) {
        AppMessageBox("ファイルが選択されておりません", kCaptionWarning, kMbOk);
        return false;
    }
    const std::string name = LinkFileName(target);
    std::string linkPath;
    if (destination == kShortcutDesktop) {
        std::string desktop;
        if (!GetDesktopFolder(desktop)) {
            // A bare "Path Not Found" would not say which path: the desktop lies outside the drives.
            AppMessageBox("デスクトップのフォルダー（" + DesktopFolderLinuxPath() + "）はどのドライブにもありません",
                kCaptionWarning, kMbOk);
            return false;
        }
        linkPath = desktop + (!desktop.empty() && desktop.back() == '\\' ? "" : "\\") + name;
    } else {
        // The root of the current drive, not the current directory itself.
        linkPath = fs().GetCurrentDirectory().substr(0, 3) + name;
    }
    if (!SaveShellLink(target, linkPath)) {
        // A folder the user may not write is no ReadOnly file: the plain access-denied wording.
        ReportFileError(linkPath, kContextAccess);
        return false;
    }
    AppMessageBox(linkPath + "　を作成しました", kCaptionReport, kMbOk);
    return true;
}

} // namespace zelo
