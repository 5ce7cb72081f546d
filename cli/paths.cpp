// zelo-cli's paths: Linux paths as typed, resolved as the kernel resolves them and handed to the engine
// as drive paths; drive paths in messages named again as they were typed.
#include "cli/cli.h"
#include "platform/drive_path.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/types.h"

#include <filesystem>
#include <map>
#include <unordered_map>

namespace zelo::cli {

namespace {

// The operands as typed, by their drive paths (the first typing of a path); the engine names what it works
// on by drive path.
std::unordered_map<std::string, std::string>& TypedOperands()
{
    static std::unordered_map<std::string, std::string> operands;
    return operands;
}

std::string g_currentOperand;

// A path as the kernel resolves it: ".." is taken after the real parent and symbolic links in the
// parent are resolved, so "a/link/../x" names the link target's sibling; the last component stays
// itself (a link there is the link). A trailing "/" (or a last "." or "..") asks for an existing
// directory, resolved in full. An unreachable parent is an error, unless the path holds no ".."
// (the engine then reports the missing directory itself).
std::optional<std::string> ResolveLikeKernel(const std::string& given, std::string* why)
{
    namespace stdfs = std::filesystem;
    auto failWith = [&](const char* reason) -> std::optional<std::string> {
        if (why) *why = reason;
        return std::nullopt;
    };
    if (given.empty()) return failWith("empty path");
    std::string text = given;
    const bool wantDirectory = text.size() > 1 && text.back() == '/';
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    const size_t slash = text.rfind('/');
    const std::string last = slash == std::string::npos ? text : text.substr(slash + 1);
    std::error_code ec;
    if (wantDirectory || last == "." || last == ".." || text == "/") {
        const stdfs::path real = stdfs::canonical(text, ec);
        if (ec)
            return failWith(stdfs::symlink_status(text, ec).type() == stdfs::file_type::not_found ? "does not exist"
                                                                                                  : "not a directory");
        if (!stdfs::is_directory(real, ec)) return failWith("not a directory");
        return real.string();
    }
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
    // Many files of one directory (copy-files) share their parent: it is resolved once.
    static std::map<std::string, std::string, std::less<>> resolvedParents;
    const std::string* realParent = nullptr;
    if (const auto known = resolvedParents.find(parent); known != resolvedParents.end()) {
        realParent = &known->second;
    } else {
        const stdfs::path real = stdfs::canonical(parent, ec);
        if (!ec) realParent = &resolvedParents.emplace(parent, real.string()).first->second;
    }
    if (realParent) {
        std::string path;
        path.reserve(realParent->size() + 1 + last.size());
        path = *realParent;
        if (path.back() != '/') path += '/';
        path += last;
        return path;
    }
    // The directory is missing: without ".." the text names the same place the kernel would look.
    for (const auto& component : stdfs::path(text)) {
        if (component == "..") return failWith("does not exist");
    }
    const stdfs::path absolute = stdfs::absolute(text, ec).lexically_normal();
    if (ec) return failWith("does not exist");
    return absolute.string();
}

} // namespace

std::optional<std::string> ToDrivePath(const std::string& typed, std::string* why)
{
    auto resolved = ResolveLikeKernel(typed, why);
    if (!resolved) return std::nullopt;
    std::string text = std::move(*resolved);
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    auto mapped = driveMap().fromLinux(text);
    // A path no drive holds gets a drive of its own (the first free letter from D: on, standing for the
    // path's directory), so any path can be handed to the engine.
    for (char letter = 'D'; !mapped && letter <= 'Z'; ++letter) {
        if (driveMap().find(letter)) continue;
        const std::string directory = text == "/" ? text : std::filesystem::path(text).parent_path().string();
        driveMap().add(Drive { letter, directory, kDriveFixed, std::nullopt, {} });
        mapped = driveMap().fromLinux(text);
        break;
    }
    if (!mapped) {
        if (why) *why = "cannot be reached through a drive";
        return std::nullopt;
    }
    TypedOperands().emplace(*mapped, typed);
    return mapped;
}

void NoteTypedPath(const std::string& drivePath, const std::string& typed)
{
    TypedOperands().emplace(drivePath, typed);
}

std::optional<std::string> ExistingDirectory(const std::string& typed, std::string* why)
{
    auto path = ToDrivePath(typed, why);
    if (!path) return std::nullopt;
    const uint32_t attributes = fs().GetAttributes(*path);
    if (attributes == kInvalidAttributes || !(attributes & kAttrDirectory)) {
        if (why) *why = attributes == kInvalidAttributes ? "does not exist" : "not a directory";
        return std::nullopt;
    }
    // A link to a directory is taken as the directory, as the windows take a chosen folder.
    return WithOneSeparator(*path);
}

std::optional<std::string> ExistingEntry(const std::string& typed, std::string* why)
{
    auto path = ToDrivePath(typed, why);
    if (path && fs().GetAttributes(*path) == kInvalidAttributes) {
        if (why) *why = "does not exist";
        return std::nullopt;
    }
    return path;
}

std::string TypedPath(const std::string& drivePath)
{
    // The longest operand the path is or lies below: the path itself, then each directory above it, so
    // ten thousand operands cost no more per line than one.
    const auto& operands = TypedOperands();
    const std::pair<const std::string, std::string>* best = nullptr;
    if (const auto it = operands.find(drivePath); it != operands.end()) best = &*it;
    for (size_t p = drivePath.size(); !best && p-- > 0;) {
        if (drivePath[p] != '\\') continue;
        for (const size_t length : { p + 1, p }) {
            if (const auto it = operands.find(drivePath.substr(0, length)); it != operands.end()) {
                best = &*it;
                break;
            }
        }
    }
    if (!best) return driveMap().toLinux(drivePath).value_or(drivePath);
    std::string out = best->second;
    std::string rest = drivePath.substr(best->first.size());
    while (!rest.empty() && rest.front() == '\\')
        rest.erase(rest.begin());
    if (!rest.empty() && !out.empty() && out.back() != '/') out += '/';
    // Separators first, then the names' own bytes ("\" from its stand-in) as Linux holds them.
    for (char& c : rest) {
        if (c == '\\') c = '/';
    }
    out += LinuxNameFromDrive(rest);
    return out;
}

void SetCurrentOperand(const std::string& typed)
{
    g_currentOperand = typed;
}

const std::string& CurrentOperand()
{
    return g_currentOperand;
}

std::pair<std::string, std::string> SplitDrivePath(const std::string& drivePath)
{
    const size_t sep = drivePath.find_last_of('\\');
    return { drivePath.substr(0, sep + 1), drivePath.substr(sep + 1) };
}

} // namespace zelo::cli
