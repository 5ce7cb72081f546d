// Shell shortcuts on Linux: the XDG desktop directory and symbolic links standing for link files.
#include "platform/linux_path.h"
#include "platform/shell_links.h"

#include "platform/drives.h"
#include "platform/errors.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace zelo {

using linuxfs::BaseName;
using linuxfs::JoinPath;
using linuxfs::ParentOf;

namespace {

std::string homeDirectory()
{
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

// XDG_DESKTOP_DIR of user-dirs.dirs: "$HOME/Desktop" or an absolute path, in double quotes.
std::string desktopDirectory()
{
    const std::string home = homeDirectory();
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string configDir = config && *config == '/' ? config : home + "/.config";
    std::ifstream dirs(configDir + "/user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_DESKTOP_DIR=\"";
    while (std::getline(dirs, line)) {
        if (line.compare(0, key.size(), key) != 0) continue;
        const auto end = line.find('"', key.size());
        if (end == std::string::npos) break;
        const std::string value = line.substr(key.size(), end - key.size());
        if (value.compare(0, 5, "$HOME") == 0) return home + value.substr(5);
        if (!value.empty() && value[0] == '/') return value;
        break;
    }
    return home + "/Desktop";
}

bool failErrno(int e, const std::string& linuxPath)
{
    struct stat st { };
    SetLastErrorFromErrno(e, ErrnoCall::Generic, ::stat(ParentOf(linuxPath).c_str(), &st) != 0);
    return false;
}

// Puts a new link in place of an existing one in one step: a hidden link beside it, renamed over it.
bool replaceLink(const std::string& target, const std::string& linkPath)
{
    std::random_device seed;
    std::mt19937 random(seed());
    const std::string dir = ParentOf(linkPath);
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06x", unsigned(random() & 0xFFFFFF));
        const std::string temp = dir + "/.zelo-" + suffix + ".lnk";
        if (::symlink(target.c_str(), temp.c_str()) != 0) {
            if (errno == EEXIST) continue;
            return failErrno(errno, linkPath);
        }
        if (::rename(temp.c_str(), linkPath.c_str()) != 0) {
            const int e = errno;
            ::unlink(temp.c_str());
            return failErrno(e, linkPath);
        }
        return true;
    }
    SetLastError(err::AlreadyExists);
    return false;
}

} // namespace

std::string DesktopFolderLinuxPath()
{
    return desktopDirectory();
}

bool GetDesktopFolder(std::string& drivePath)
{
    const auto mapped = driveMap().fromLinux(desktopDirectory());
    if (!mapped) {
        SetLastError(err::PathNotFound);
        return false;
    }
    drivePath = *mapped;
    while (drivePath.size() > 3 && drivePath.back() == '\\')
        drivePath.pop_back();
    SetLastError(err::Success);
    return true;
}

bool SaveShellLink(const std::string& target, const std::string& linkPath)
{
    const auto targetLinux = driveMap().toLinux(target);
    const auto linkLinux = driveMap().toLinux(linkPath);
    if (!targetLinux || !linkLinux) {
        SetLastError(err::PathNotFound);
        return false;
    }
    struct stat existing { };
    if (::lstat(linkLinux->c_str(), &existing) == 0) {
        // Only a link is replaced: a file or directory of that name is the user's data.
        if (!S_ISLNK(existing.st_mode)) {
            SetLastError(err::AlreadyExists);
            return false;
        }
        if (!replaceLink(*targetLinux, *linkLinux)) return false;
    } else if (::symlink(targetLinux->c_str(), linkLinux->c_str()) != 0) {
        return errno == EEXIST ? (SetLastError(err::AlreadyExists), false) : failErrno(errno, *linkLinux);
    }
    SetLastError(err::Success);
    return true;
}

} // namespace zelo
