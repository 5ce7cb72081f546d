// Drive paths as text ("C:\dir\name"): the one set of helpers every layer composes and splits them with.
#pragma once

#include <string>
#include <string_view>

namespace zelo {

// Linux names are byte strings; in a drive path each name appears in drive form, one-to-one and always
// valid UTF-8:
// - "\" (no separator inside a name) is the stand-in U+F05C;
// - a byte that cannot stand as itself is U+F700 plus the byte (U+F780..U+F7FF): a byte of no UTF-8
//   character, and each byte of a name's own U+F05C or U+F780..U+F7FF, so those read back as themselves.
// Everything else, nearly every name, is its own drive form.
inline constexpr std::string_view kBackslashStandIn = "\xEF\x81\x9C"; // U+F05C

// Whether a drive-form text may differ from its Linux bytes: the stand-ins all begin with 0xEF, a byte
// that ordinary names seldom hold, so this is one quick scan.
inline bool MayHoldStandIn(std::string_view driveText)
{
    return driveText.find('\xEF') != std::string_view::npos;
}

// A Linux name (or path of names: "/" passes through) in drive form.
std::string DriveNameFromLinux(std::string_view linuxName);
// Appends the drive form of a Linux name to out (a walk's buffers keep their room).
void AppendDriveName(std::string& out, std::string_view linuxName);
// The Linux bytes of a drive-form name or text; separators pass through as they are.
std::string LinuxNameFromDrive(std::string_view driveText);
// Whether a Linux name is its own drive form (no "\", valid UTF-8, no stand-in of its own).
bool IsOwnDriveName(std::string_view linuxName);

// The part after the last separator (or after the drive's colon), trailing separators aside:
// "C:\a\b" and "C:\a\b\" -> "b", "C:x" -> "x", "name" -> "name". A Linux name may hold ":" ("C:\a:b"
// -> "a:b"): only a drive letter's colon ends a drive.
inline std::string LastComponent(std::string_view path)
{
    while (path.size() > 1 && path.back() == '\\')
        path.remove_suffix(1);
    size_t cut = path.find_last_of('\\');
    if (cut == std::string_view::npos && path.size() >= 2 && path[1] == ':'
        && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')))
        cut = 1;
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

// Everything up to and including the last separator ("C:\a\b" -> "C:\a\"); empty when there is none.
inline std::string ParentWithSeparator(std::string_view path)
{
    const size_t cut = path.find_last_of('\\');
    return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut + 1));
}

// A directory path with exactly one trailing separator ("C:\a\\" -> "C:\a\", "C:\a" -> "C:\a\").
inline std::string WithOneSeparator(std::string_view directory)
{
    while (!directory.empty() && directory.back() == '\\')
        directory.remove_suffix(1);
    std::string path(directory);
    path += '\\';
    return path;
}

// The directory itself for a path with its separator ("C:\a\" -> "C:\a"); a drive root stays "C:\".
inline std::string WithoutSeparator(std::string_view dirWithSep)
{
    return std::string(
        dirWithSep.size() > 3 && dirWithSep.back() == '\\' ? dirWithSep.substr(0, dirWithSep.size() - 1) : dirWithSep);
}

} // namespace zelo
