// The drive map: drive letters over the Linux tree, from ZELO_DRIVES or the mount table.
#include "platform/drive_path.h"
#include "platform/drives.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <utility>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace zelo {

namespace {

std::string trimBlanks(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    while (true) {
        const auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

char upperLetter(char c)
{
    if (c >= 'a' && c <= 'z') return char(c - 'a' + 'A');
    return c;
}

bool isLetter(char c)
{
    return c >= 'A' && c <= 'Z';
}

// "/a/b/" -> "/a/b"; "/" stays.
std::string withoutTrailingSlashes(std::string directory)
{
    while (directory.size() > 1 && directory.back() == '/')
        directory.pop_back();
    return directory;
}

bool equalsNoCase(const std::string& a, const char* b)
{
    std::string lower = a;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return lower == b;
}

std::optional<uint32_t> typeFromWord(const std::string& word)
{
    if (equalsNoCase(word, "fixed")) return kDriveFixed;
    if (equalsNoCase(word, "removable")) return kDriveRemovable;
    if (equalsNoCase(word, "remote")) return kDriveRemote;
    if (equalsNoCase(word, "cdrom")) return kDriveCdrom;
    if (equalsNoCase(word, "ram")) return kDriveRamdisk;
    return std::nullopt;
}

// One "LETTER=DIRECTORY[,TYPE][,label=TEXT][,unc=TEXT]" entry, blanks around each field dropped
// (a directory or label cannot hold ",", ";" or end in blanks); nullopt when it is malformed
// (no "=", not a single letter, a relative or empty directory, an option that is not known).
std::optional<Drive> parseEntry(const std::string& entry)
{
    const auto equals = entry.find('=');
    if (equals == std::string::npos) return std::nullopt;
    const std::string letter = trimBlanks(entry.substr(0, equals));
    if (letter.size() != 1 || !isLetter(upperLetter(letter[0]))) return std::nullopt;
    const std::vector<std::string> fields = split(entry.substr(equals + 1), ',');
    Drive drive;
    drive.letter = upperLetter(letter[0]);
    drive.directory = withoutTrailingSlashes(trimBlanks(fields[0]));
    if (drive.directory.empty() || drive.directory[0] != '/') return std::nullopt;
    for (size_t i = 1; i < fields.size(); ++i) {
        const std::string field = trimBlanks(fields[i]);
        if (field.empty()) continue;
        const auto optionEquals = field.find('=');
        if (optionEquals == std::string::npos) {
            const auto type = typeFromWord(field);
            if (!type) return std::nullopt;
            drive.type = *type;
            continue;
        }
        const std::string key = trimBlanks(field.substr(0, optionEquals));
        const std::string value = trimBlanks(field.substr(optionEquals + 1));
        if (equalsNoCase(key, "label"))
            drive.label = value;
        else if (equalsNoCase(key, "unc"))
            drive.unc = value;
        else
            return std::nullopt;
    }
    return drive;
}

bool isSeparator(char c)
{
    return c == '\\' || c == '/';
}

} // namespace

std::optional<std::string> MalformedDriveEntry(const std::string& spec)
{
    for (const std::string& raw : split(spec, ';')) {
        const std::string entry = trimBlanks(raw);
        if (!entry.empty() && !parseEntry(entry)) return entry;
    }
    return std::nullopt;
}

std::optional<std::string> MalformedDriveEntryInEnvironment()
{
    const char* spec = std::getenv("ZELO_DRIVES");
    return spec ? MalformedDriveEntry(spec) : std::nullopt;
}

DriveMap DriveMap::parse(const std::string& spec)
{
    DriveMap map;
    for (const std::string& raw : split(spec, ';')) {
        const std::string entry = trimBlanks(raw);
        if (entry.empty()) continue;
        if (auto drive = parseEntry(entry)) map.add(std::move(*drive));
    }
    return map;
}

DriveMap DriveMap::load()
{
    const char* spec = std::getenv("ZELO_DRIVES");
    if (spec && *spec) {
        DriveMap map = parse(spec);
        // A mistyped entry never falls back to the mount table, where C: is "/": the map holds only
        // what was given (the programs refuse to start over it). A ZELO_DRIVES of blanks and ";" alone
        // would leave the program without drives at all.
        if (!map.drives().empty() || MalformedDriveEntry(spec)) return map;
    }
    std::ifstream mounts("/proc/self/mounts");
    std::stringstream text;
    text << mounts.rdbuf();
    DriveMap map = fromMountTable(text.str());
    if (!map.find('C')) map.add(Drive { 'C', "/", kDriveFixed, std::nullopt, {} });
    return map;
}

const Drive* DriveMap::find(char letter) const
{
    letter = upperLetter(letter);
    for (const Drive& drive : m_drives)
        if (drive.letter == letter) return &drive;
    return nullptr;
}

Drive* DriveMap::find(char letter)
{
    return const_cast<Drive*>(std::as_const(*this).find(letter));
}

void DriveMap::add(Drive drive)
{
    drive.letter = upperLetter(drive.letter);
    auto position = std::lower_bound(
        m_drives.begin(), m_drives.end(), drive.letter, [](const Drive& d, char letter) { return d.letter < letter; });
    if (position != m_drives.end() && position->letter == drive.letter)
        *position = std::move(drive);
    else
        m_drives.insert(position, std::move(drive));
}

namespace {

// The Linux parent of a directory reached inside a drive, as the kernel takes "..": a symbolic link
// is resolved first, so ".." leads to the parent of what it points at. The drive's own directory is
// its root, and ".." never leads above it.
std::string parentForDotDot(const std::string& current, const std::string& driveDirectory)
{
    if (current == driveDirectory) return current;
    std::string path = current;
    struct stat st { };
    if (::lstat(current.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(current.c_str(), nullptr)) {
            path = real;
            std::free(real);
            char* realDrive = ::realpath(driveDirectory.c_str(), nullptr);
            const std::string realRoot = realDrive ? realDrive : driveDirectory;
            std::free(realDrive);
            // The link leads to the drive's root itself: its ".." stays there.
            if (path == realRoot) return driveDirectory;
        }
    }
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return path.substr(0, slash);
}

} // namespace

std::optional<std::string> DriveMap::toLinux(const std::string& drivePath) const
{
    if (drivePath.empty()) return std::nullopt;
    if (drivePath.size() < 2 || drivePath[1] != ':') {
        // A typed path without a drive: "\name" is relative to the current drive's root, any other
        // name to the current directory. A network path ("\\host\share") has no drive.
        if (drivePath.size() >= 2 && isSeparator(drivePath[0]) && isSeparator(drivePath[1])) return std::nullopt;
        char buffer[PATH_MAX];
        if (!::getcwd(buffer, sizeof buffer)) return std::nullopt;
        const auto current = fromLinux(buffer);
        if (!current) return std::nullopt;
        if (isSeparator(drivePath[0])) return toLinux(current->substr(0, 2) + drivePath);
        return toLinux(*current + "\\" + drivePath);
    }
    const Drive* drive = find(drivePath[0]);
    if (!drive) return std::nullopt;
    // Components are taken as bytes; "." is dropped and ".." taken after the real parent.
    std::string result = drive->directory;
    std::string::size_type position = 2;
    while (position < drivePath.size()) {
        while (position < drivePath.size() && isSeparator(drivePath[position]))
            ++position;
        auto end = position;
        while (end < drivePath.size() && !isSeparator(drivePath[end]))
            ++end;
        if (end > position) {
            const std::string component = drivePath.substr(position, end - position);
            if (component == "..") {
                result = parentForDotDot(result, drive->directory);
            } else if (component != ".") {
                if (result.back() != '/') result += '/';
                // A name in drive form gets its Linux bytes back ("\" from its stand-in).
                if (MayHoldStandIn(component))
                    result += LinuxNameFromDrive(component);
                else
                    result += component;
            }
        }
        position = end;
    }
    return result;
}

std::optional<std::string> DriveMap::fromLinux(const std::string& linuxPath) const
{
    if (linuxPath.empty() || linuxPath[0] != '/') return std::nullopt;
    const Drive* best = nullptr;
    for (const Drive& drive : m_drives) {
        const std::string& directory = drive.directory;
        bool holds = false;
        if (directory == "/")
            holds = true;
        else if (linuxPath.compare(0, directory.size(), directory) == 0)
            holds = linuxPath.size() == directory.size() || linuxPath[directory.size()] == '/';
        if (holds && (!best || directory.size() > best->directory.size())) best = &drive;
    }
    if (!best) return std::nullopt;
    std::string result { best->letter, ':', '\\' };
    const std::string_view rest
        = std::string_view(linuxPath).substr(best->directory == "/" ? 0 : best->directory.size());
    result.reserve(3 + rest.size());
    bool first = true;
    for (size_t start = 0; start <= rest.size();) {
        const size_t end = std::min(rest.find('/', start), rest.size());
        const std::string_view component = rest.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == ".") continue;
        if (!first) result += '\\';
        AppendDriveName(result, component);
        first = false;
    }
    return result;
}

DriveMap& driveMap()
{
    static DriveMap map = DriveMap::load();
    return map;
}

void setDriveMap(DriveMap map)
{
    driveMap() = std::move(map);
}

} // namespace zelo
