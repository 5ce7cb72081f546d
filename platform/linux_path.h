// Linux paths as text: the one set of helpers the platform's Linux code splits and joins them with.
#pragma once

#include <string>
#include <string_view>

namespace zelo::linuxfs {

// The directory that holds a Linux path ("/a/b" and "/a/b/" -> "/a", "/a" -> "/", "b" -> ".").
inline std::string ParentOf(std::string_view linuxPath)
{
    while (linuxPath.size() > 1 && linuxPath.back() == '/')
        linuxPath.remove_suffix(1);
    const size_t slash = linuxPath.rfind('/');
    if (slash == std::string_view::npos) return ".";
    return slash == 0 ? "/" : std::string(linuxPath.substr(0, slash));
}

// The last component of a Linux path ("/a/b" and "/a/b/" -> "b", "b" -> "b").
inline std::string_view BaseName(std::string_view linuxPath)
{
    while (linuxPath.size() > 1 && linuxPath.back() == '/')
        linuxPath.remove_suffix(1);
    const size_t slash = linuxPath.rfind('/');
    return slash == std::string_view::npos ? linuxPath : linuxPath.substr(slash + 1);
}

// A Linux directory and a name joined with exactly one "/".
inline std::string JoinPath(std::string_view dir, std::string_view name)
{
    std::string out(dir);
    if (out.empty() || out.back() != '/') out += '/';
    out.append(name);
    return out;
}

} // namespace zelo::linuxfs
