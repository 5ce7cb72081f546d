// zelo-cli: the engine's commands for scripts, tests and benchmarks.
// Takes Linux paths, works through the drive map like the windows do, prints messages to standard error.
#include "engine/file_copy.h"
#include "engine/formats.h"
#include "engine/messages.h"
#include "engine/options.h"
#include "engine/rename.h"
#include "engine/text_convert.h"
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
#include <functional>
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

// The window's report goes to standard output, every other message to standard error as the quiet
// default prints it; the progress window and questions stay the default's.
class ReportToStdout : public UiServices {
public:
    explicit ReportToStdout(std::function<bool(const std::string& text, const std::string& caption)> isReport)
        : m_inner(ui())
        , m_isReport(std::move(isReport))
    {
        setUiServices(this);
    }
    ~ReportToStdout() override { setUiServices(nullptr); }
    void ShowPlainMessage(const std::string& text) override
    {
        if (m_isReport(text, ""))
            std::printf("%s\n", text.c_str());
        else
            m_inner.ShowPlainMessage(text);
    }
    int AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags) override
    {
        if (!m_isReport(text, caption)) return m_inner.AppMessageBox(text, caption, flags);
        std::printf("%s\n", text.c_str());
        return kIdOk;
    }
    void ProcessEvents() override { m_inner.ProcessEvents(); }
    void SetBusyCursor(bool busy) override { m_inner.SetBusyCursor(busy); }
    ProgressWindow& Progress() override { return m_inner.Progress(); }

private:
    UiServices& m_inner;
    std::function<bool(const std::string&, const std::string&)> m_isReport;
};

int ConvertCommand(const Arguments& args)
{
    const char* usage = "usage: convert MODE FILE...  (MODE 0 to 5)";
    if (args.positional.size() < 2) return Fail(usage);
    const std::string& modeText = args.positional[0];
    if (modeText.size() != 1 || modeText[0] < '0' || modeText[0] >= '0' + kConversionModeCount) return Fail(usage);
    std::vector<std::string> paths;
    for (size_t i = 1; i < args.positional.size(); ++i) {
        auto path = ToDrivePath(args.positional[i]);
        if (!path) return Fail("path cannot be reached through a drive: " + args.positional[i]);
        paths.push_back(*path);
    }
    ReportToStdout report([](const std::string&, const std::string& caption) { return caption == kCaptionReport; });
    return ConvertFiles(paths, modeText[0] - '0').ok() ? 0 : 1;
}

int RenameBatchCommand(const Arguments& args)
{
    const char* usage = "usage: rename-batch name BASE START FILE... | rename-batch ext EXT FILE...";
    const auto& words = args.positional;
    BatchRenameRequest request;
    size_t first = 0;
    if (words.size() >= 4 && words[0] == "name") {
        request.mode = BatchRenameMode::Name;
        request.baseName = words[1];
        request.startText = words[2];
        first = 3;
    } else if (words.size() >= 3 && words[0] == "ext") {
        request.mode = BatchRenameMode::Extension;
        request.startText = "001";
        request.extText = words[1];
        first = 2;
    } else {
        return Fail(usage);
    }
    // The files of one directory, renamed in the order given, as the file pane's selection.
    std::string directory;
    std::vector<std::string> names;
    for (size_t i = first; i < words.size(); ++i) {
        auto path = ToDrivePath(words[i]);
        if (!path) return Fail("path cannot be reached through a drive: " + words[i]);
        const auto sep = path->find_last_of('\\');
        const std::string dir = path->substr(0, sep + 1);
        if (!directory.empty() && dir != directory) return Fail("rename-batch: the files must be in one directory");
        directory = dir;
        names.push_back(path->substr(sep + 1));
    }
    ReportToStdout report([](const std::string& text, const std::string&) { return text == "全て名前を変更しました"; });
    const BatchRenameResult result = BatchRename(directory, names, std::vector<bool>(names.size(), true), request);
    return result.completed ? 0 : 1;
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
    { "convert", "convert MODE FILE...                       convert text files in place (MODE 0 to 5)", ConvertCommand,
        {} },
    { "rename-batch", "rename-batch name BASE START FILE... | ext EXT FILE...  rename files of one directory",
        RenameBatchCommand, {} },
};

void Usage()
{
    std::fprintf(stderr, "usage: zelo-cli [--yes] COMMAND ARGS\n");
    for (const auto& command : kCommands)
        std::fprintf(stderr, "  %s\n", command.usage);
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
            Usage();
            return 0;
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
