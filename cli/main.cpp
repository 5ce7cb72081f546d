// zelo-cli: the engine's commands for scripts, tests and benchmarks.
// Takes Linux paths, works through the drive map like the windows do, prints messages to standard error.
#include "engine/file_copy.h"
#include "engine/formats.h"
#include "engine/options.h"
#include "engine/tree.h"
#include "model/state.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/types.h"
#include "platform/ui_services.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace zelo;

struct Arguments {
    std::vector<std::string> positional;
    std::vector<std::string> flags;
    bool has(const char* flag) const
    {
        for (const auto& f : flags) {
            if (f == flag) return true;
        }
        return false;
    }
};

int Fail(const std::string& text)
{
    std::fprintf(stderr, "zelo-cli: %s\n", text.c_str());
    return 2;
}

// A Linux path as a drive path. A path no drive holds gets a drive of its own (the first free
// letter from D: on, standing for the path's directory), so any path can be handed to the engine.
std::optional<std::string> ToDrivePath(const std::string& linuxPath)
{
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(linuxPath, ec).lexically_normal();
    if (ec) return std::nullopt;
    std::string text = absolute.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    if (auto mapped = driveMap().fromLinux(text)) return mapped;
    const std::string directory = text == "/" ? text : std::filesystem::path(text).parent_path().string();
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
        if (driveMap().find(letter)) continue;
        Drive drive;
        drive.letter = letter;
        drive.directory = directory;
        drive.type = kDriveFixed;
        driveMap().add(drive);
        return driveMap().fromLinux(text);
    }
    return std::nullopt;
}

std::optional<std::string> DirectoryArgument(const std::string& linuxPath)
{
    auto path = ToDrivePath(linuxPath);
    if (!path) return std::nullopt;
    const uint32_t attributes = fs().GetAttributes(*path);
    if (attributes == kInvalidAttributes || !(attributes & kAttrDirectory)) return std::nullopt;
    return WithOneSeparator(*path);
}

int CountCommand(const Arguments& args)
{
    if (args.positional.size() != 1) return Fail("usage: count DIR");
    auto dir = DirectoryArgument(args.positional[0]);
    if (!dir) return Fail("not a directory: " + args.positional[0]);
    uint64_t exact = 0;
    CountTree(*dir, &exact);
    std::printf("directories %d\nfiles %d\nbytes %" PRIu64 "\ntotal %s\nsize %s\n", Main.TreeDirCount,
        Main.TreeFileCount, exact, FormatByteCount(Main.TreeByteTotal).c_str(),
        FormatSizeUnit(Main.TreeByteTotal).c_str());
    return 0;
}

int DeleteCommand(const Arguments& args)
{
    if (args.positional.size() != 1) return Fail("usage: delete DIR [--keep-root] [--keep-readonly]");
    auto dir = DirectoryArgument(args.positional[0]);
    if (!dir) return Fail("not a directory: " + args.positional[0]);
    // A drive root ("/" itself in the default map) is only ever emptied, never removed, as rm keeps "/".
    if (dir->size() == 3 && !args.has("--keep-root"))
        return Fail(
            "refusing to delete the root of drive " + dir->substr(0, 2) + " (--keep-root deletes its contents)");
    CommandOptions options;
    options.clearReadOnly = !args.has("--keep-readonly");
    const int result = DeleteTree(*dir, args.has("--keep-root") ? 255 : 0, options);
    std::printf("directories %d\nfiles %d\n", Main.DeletedDirCount, Main.DeletedFileCount);
    return result == 1 ? 0 : 1;
}

int CopyFileCommand(const Arguments& args)
{
    if (args.positional.size() != 2) return Fail("usage: copy-file SRC DST");
    auto source = ToDrivePath(args.positional[0]);
    auto destination = ToDrivePath(args.positional[1]);
    if (!source || !destination) return Fail("path cannot be reached through a drive");
    // Like cp: a destination that is a directory receives the file under its own name.
    const uint32_t destAttributes = fs().GetAttributes(*destination);
    if (destAttributes != kInvalidAttributes && (destAttributes & kAttrDirectory)) {
        const auto sep = source->find_last_of('\\');
        *destination = WithOneSeparator(*destination) + source->substr(sep + 1);
    }
    Main.AbortFlag = 0;
    const int result = CopyOneFile(*source, *destination, 0);
    return result == 1 && Main.AbortFlag != kAbortRequested ? 0 : 1;
}

struct Command {
    const char* name;
    const char* usage;
    int (*run)(const Arguments&);
    std::vector<std::string> flags; // the options the command accepts
};

const Command kCommands[] = {
    { "count", "count DIR                                  directories, files and bytes below DIR", CountCommand, {} },
    { "delete", "delete DIR [--keep-root] [--keep-readonly]  delete DIR and everything below it", DeleteCommand,
        { "--keep-root", "--keep-readonly" } },
    { "copy-file", "copy-file SRC DST                          copy one file (DST may be a directory)", CopyFileCommand,
        {} },
};

void Usage(std::FILE* out = stderr)
{
    std::fprintf(out, "usage: zelo-cli [--yes] COMMAND ARGS\n       zelo-cli --help | --version\n");
    for (const auto& command : kCommands)
        std::fprintf(out, "  %s\n", command.usage);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> words(argv + 1, argv + argc);
    bool yes = false;
    size_t first = 0;
    while (first < words.size() && words[first].rfind("--", 0) == 0) {
        if (words[first] == "--yes") {
            yes = true;
        } else if (words[first] == "--help") {
            // Asked-for help is the program's output, as other command-line tools give it.
            Usage(stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        } else if (words[first] == "--version") {
            std::printf("zelo-cli %s\n", ZELO_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 1;
        } else {
            Usage();
            return 2;
        }
        ++first;
    }
    if (first >= words.size()) {
        Usage();
        return 2;
    }
    const Command* command = nullptr;
    for (const auto& c : kCommands) {
        if (words[first] == c.name) command = &c;
    }
    if (!command) {
        std::fprintf(stderr, "zelo-cli: unknown command: %s\n", words[first].c_str());
        Usage();
        return 2;
    }
    Arguments args;
    for (size_t i = first + 1; i < words.size(); ++i) {
        if (words[i] == "--yes")
            yes = true;
        else if (words[i].rfind("--", 0) == 0) {
            if (std::find(command->flags.begin(), command->flags.end(), words[i]) == command->flags.end()) {
                std::fprintf(stderr, "zelo-cli: %s: unknown option %s\n", command->name, words[i].c_str());
                return 2;
            }
            args.flags.push_back(words[i]);
        } else
            args.positional.push_back(words[i]);
    }

    // The quiet default services print every message to standard error and answer questions No.
    if (yes) setDefaultUiAnswer(kIdYes);
    return command->run(args);
}
