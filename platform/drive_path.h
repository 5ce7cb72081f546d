// Drive paths as text ("C:\dir\name"): the one set of helpers every layer composes and splits them with.
#pragma once

#include <string>
#include <string_view>

namespace zelo {

// The part after the last separator (or after the drive's colon), trailing separators aside:
// "C:\a\b" and "C:\a\b\" -> "b", "C:x" -> "x", "name" -> "name".
inline std::string LastComponent(std::string_view path)
{
    while (path.size() > 1 && path.back() == '\\')
        path.remove_suffix(1);
    const size_t cut = path.find_last_of("\\:");
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
