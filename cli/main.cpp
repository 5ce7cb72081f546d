// zelo-cli: the engine's commands for scripts, tests and benchmarks.
// Takes Linux paths, works through the drive map like the windows do, prints messages to standard error.
#include "engine/file_copy.h"
#include "engine/file_transfer.h"
#include "engine/folder_transfer.h"
#include "engine/formats.h"
#include "engine/messages.h"
#include "engine/options.h"
#include "engine/rename.h"
#include "engine/text_convert.h"
#include "engine/tree.h"
#include "model/state.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "platform/types.h"
#include "platform/ui_services.h"

#include <algorithm>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
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

// Names in these lines come from the command line or the tree: escaped for the terminal.
int Fail(const std::string& text)
{
    std::fprintf(stderr, "zelo-cli: %s\n", EscapeForTerminal(text).c_str());
    return 2;
}

// An operation that did not do all it was asked: said on standard error, exit code 1.
int Incomplete(const std::string& text)
{
    std::fprintf(stderr, "zelo-cli: %s\n", EscapeForTerminal(text).c_str());
    return 1;
}

// A path as the kernel resolves it: ".." is taken after the real parent and symbolic links in the
// parent are resolved, so "a/link/../x" names the link target's sibling; the last component stays
// itself (a link there is the link). A trailing "/" (or a last "." or "..") asks for an existing
// directory, resolved in full. An unreachable parent is an error, unless the path holds no ".."
// (the engine then reports the missing directory itself). why receives the reason of a failure.
std::optional<std::string> ResolveLikeKernel(const std::string& given, std::string* why)
{
    namespace stdfs = std::filesystem;
    auto failWith = [&](const std::string& reason) -> std::optional<std::string> {
        if (why) *why = reason + ": " + given;
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
        if (ec || !stdfs::is_directory(real, ec)) return failWith("not a directory");
        return real.string();
    }
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
    // Many files of one directory (copy-files) share their parent: it is resolved once.
    static std::map<std::string, stdfs::path> resolvedParents;
    stdfs::path realParent;
    if (const auto known = resolvedParents.find(parent); known != resolvedParents.end()) {
        realParent = known->second;
    } else {
        realParent = stdfs::canonical(parent, ec);
        if (!ec) resolvedParents.emplace(parent, realParent);
    }
    if (!ec) return (realParent / last).string();
    // The directory is missing: without ".." the text names the same place the kernel would look.
    for (const auto& component : stdfs::path(text)) {
        if (component == "..") return failWith("no such directory");
    }
    const stdfs::path absolute = stdfs::absolute(text, ec).lexically_normal();
    if (ec) return failWith("no such directory");
    return absolute.string();
}

// A Linux path as a drive path, resolved as the kernel does. A path no drive holds gets a drive of
// its own (the first free letter from D: on, standing for the path's directory), so any path can be
// handed to the engine.
std::optional<std::string> ToDrivePath(const std::string& linuxPath, std::string* why = nullptr)
{
    auto resolved = ResolveLikeKernel(linuxPath, why);
    if (!resolved) return std::nullopt;
    std::string text = *resolved;
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
        if (auto mapped = driveMap().fromLinux(text)) return mapped;
        break;
    }
    if (why) *why = "path cannot be reached through a drive: " + linuxPath;
    return std::nullopt;
}

// A directory named on the command line, as a drive path with its separator.
std::optional<std::string> ExistingDirectory(const std::string& linuxPath)
{
    auto path = ToDrivePath(linuxPath);
    const uint32_t attributes = path ? fs().GetAttributes(*path) : kInvalidAttributes;
    if (attributes == kInvalidAttributes || !(attributes & kAttrDirectory)) return std::nullopt;
    return WithOneSeparator(*path);
}

int CountCommand(const Arguments& args)
{
    if (args.positional.size() != 1) return Fail("usage: count DIR");
    const auto dir = ExistingDirectory(args.positional[0]);
    if (!dir) return Fail("not a directory: " + args.positional[0]);
    const TreeTotals totals = CountTree(*dir);
    Main.TreeDirCount = totals.dirs;
    Main.TreeFileCount = totals.files;
    Main.TreeByteTotal = totals.bytes;
    std::printf("directories %d\nfiles %d\nbytes %" PRIu64 "\ntotal %s\nsize %s\n", totals.dirs, totals.files,
        totals.exactBytes, FormatByteCount(totals.bytes).c_str(), FormatSizeUnit(totals.bytes).c_str());
    if (totals.unreadable > 0)
        return Incomplete(std::to_string(totals.unreadable) + " director" + (totals.unreadable == 1 ? "y" : "ies")
            + " could not be read, the totals leave them out (first: " + totals.firstUnreadable + ")");
    return 0;
}

int DeleteCommand(const Arguments& args)
{
    if (args.positional.size() != 1) return Fail("usage: delete DIR [--keep-root] [--keep-readonly]");
    const auto directory = ExistingDirectory(args.positional[0]);
    if (!directory) return Fail("not a directory: " + args.positional[0]);
    const std::string& dir = *directory;
    const bool keepRoot = args.has("--keep-root");
    // A drive root ("/" itself in the default map) is only ever emptied, never removed, as rm keeps "/".
    if (dir.size() == 3 && !keepRoot)
        return Fail("refusing to delete the root of drive " + dir.substr(0, 2) + " (--keep-root deletes its contents)");
    CommandOptions options;
    options.clearReadOnly = !args.has("--keep-readonly");
    const DeleteResult result = DeleteTree(dir, keepRoot ? 255 : 0, options);
    Main.DeletedDirCount = result.dirs;
    Main.DeletedFileCount = result.files;
    std::printf("directories %d\nfiles %d\n", result.dirs, result.files);
    if (result.result != 1 || result.failures > 0)
        return Incomplete(std::to_string(result.failures) + " item" + (result.failures == 1 ? "" : "s")
            + " could not be deleted or read");
    return 0;
}

// SIGINT, SIGTERM and SIGHUP press the stop button: the copy stops between two chunks, which removes
// its unfinished file, and the program then ends by the signal. A second signal ends it at once (the
// unfinished file has no name where the file system allows, so even then nothing is left).
volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal)
{
    if (g_stopSignal != 0) {
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    g_stopSignal = signal;
}

class StopOnSignals final : public UiServices {
public:
    StopOnSignals()
        : m_inner(ui())
    {
        struct sigaction action { };
        action.sa_handler = OnStopSignal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < std::size(kSignals); ++i) {
            // A signal the caller ignores (nohup) stays ignored.
            ::sigaction(kSignals[i], nullptr, &m_previous[i]);
            if (m_previous[i].sa_handler != SIG_IGN) ::sigaction(kSignals[i], &action, nullptr);
        }
        setUiServices(this);
    }
    ~StopOnSignals() override
    {
        setUiServices(nullptr);
        for (size_t i = 0; i < std::size(kSignals); ++i)
            ::sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

    void ShowPlainMessage(const std::string& text) override { m_inner.ShowPlainMessage(text); }
    int AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags) override
    {
        return m_inner.AppMessageBox(text, caption, flags);
    }
    void ProcessEvents() override
    {
        m_inner.ProcessEvents();
        if (g_stopSignal != 0) Main.AbortFlag = kAbortRequested;
    }
    void SetBusyCursor(bool busy) override { m_inner.SetBusyCursor(busy); }
    ProgressWindow& Progress() override { return m_inner.Progress(); }

    // Ends the program by the signal that stopped it, as if it had not been caught.
    static void EndBySignal()
    {
        const int signal = g_stopSignal;
        std::fprintf(stderr, "zelo-cli: stopped by signal %d\n", signal);
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        std::exit(128 + signal);
    }

private:
    static constexpr int kSignals[] = { SIGINT, SIGTERM, SIGHUP };
    UiServices& m_inner;
    struct sigaction m_previous[std::size(kSignals)] {};
};

int CopyFileCommand(const Arguments& args)
{
    if (args.positional.size() != 2) return Fail("usage: copy-file SRC DST");
    std::string why;
    auto source = ToDrivePath(args.positional[0], &why);
    if (!source) return Fail(why);
    auto destination = ToDrivePath(args.positional[1], &why);
    if (!destination) return Fail(why);
    // Like cp: a destination that is a directory (or a link to one) receives the file under its own name.
    const uint32_t destAttributes = fs().GetAttributes(*destination);
    if (destAttributes != kInvalidAttributes && (destAttributes & kAttrDirectory)) {
        const auto sep = source->find_last_of('\\');
        *destination = WithOneSeparator(*destination) + source->substr(sep + 1);
    }
    Main.AbortFlag = 0;
    int result = 0;
    {
        StopOnSignals stop;
        result = CopyOneFile(*source, *destination, 0);
    }
    if (g_stopSignal != 0) StopOnSignals::EndBySignal();
    return result == 1 && Main.AbortFlag != kAbortRequested ? 0 : 1;
}

// The main window's check boxes as flags, with the window's defaults.
CommandOptions OptionsFrom(const Arguments& args)
{
    CommandOptions options;
    options.newerOnly = !args.has("--all");
    options.clearReadOnly = !args.has("--keep-readonly");
    options.checkFreeSpace = args.has("--free-check");
    return options;
}

int FolderCommand(const Arguments& args, int mode, const char* usage)
{
    if (args.positional.size() != 2) return Fail(std::string("usage: ") + usage);
    const auto source = ExistingDirectory(args.positional[0]);
    if (!source) return Fail("not a directory: " + args.positional[0]);
    const auto destination = ExistingDirectory(args.positional[1]);
    if (!destination) return Fail("not a directory: " + args.positional[1]);
    FolderTransfer request;
    request.sourceFolder = *source;
    request.destinationDir = *destination;
    request.contentsOnly = args.has("--contents-only") ? 255 : 0;
    request.mode = mode;
    request.options = OptionsFrom(args);
    Main.AbortFlag = 0;
    TransferCounts counts;
    const int result = TransferFolder(request, counts);
    std::printf("directories new %d existing %d\nfiles new %d updated %d up-to-date %d newer-at-destination %d\n",
        counts.createdDirs, counts.existingDirs, counts.newFiles, counts.updatedFiles, counts.upToDateFiles,
        counts.newerAtDest);
    if (mode == kModeFolderBackup)
        std::printf("deleted directories %d files %d\n", counts.deletedDirs, counts.deletedFiles);
    for (const std::string& line : counts.detail)
        std::printf("newer at destination: %s\n", EscapeForTerminal(line).c_str());
    if (result == kTransferDone && counts.failures == 0) return 0;
    return Incomplete(result == kTransferRefused ? "nothing was done"
            : result == kTransferCancelled       ? "stopped"
                                                 : "not everything could be done (see the messages above)");
}

int CopyTreeCommand(const Arguments& args)
{
    return FolderCommand(args, kModeFolderCopy, "copy-tree SRC DEST [--contents-only] [--all] [--keep-readonly]");
}

int MoveTreeCommand(const Arguments& args)
{
    return FolderCommand(args, kModeFolderMove, "move-tree SRC DEST [--contents-only] [--all] [--keep-readonly]");
}

int MirrorCommand(const Arguments& args)
{
    return FolderCommand(args, kModeFolderBackup, "mirror SRC DEST [--contents-only] [--keep-readonly]");
}

int FilesCommand(const Arguments& args, int mode)
{
    if (args.positional.size() < 2)
        return Fail("usage: copy-files|move-files FILE... DESTDIR [--all] [--keep-readonly]");
    const auto destination = ExistingDirectory(args.positional.back());
    if (!destination) return Fail("not a directory: " + args.positional.back());
    FileTransfer request;
    for (size_t i = 0; i + 1 < args.positional.size(); ++i) {
        const auto path = ToDrivePath(args.positional[i]);
        if (!path) return Fail("path cannot be reached through a drive: " + args.positional[i]);
        const size_t sep = path->find_last_of('\\');
        const std::string dir = path->substr(0, sep + 1);
        // The file pane's selection is the files of one directory.
        if (request.sourceDir.empty()) request.sourceDir = dir;
        if (dir != request.sourceDir) return Fail("the files must be in one directory: " + args.positional[i]);
        request.names.push_back(path->substr(sep + 1));
    }
    request.destinationDir = *destination;
    request.mode = mode;
    request.options = OptionsFrom(args);
    Main.AbortFlag = 0;
    FileTransferCounts counts;
    const int result = TransferFiles(request, counts);
    std::printf("up-to-date %d\ncopied %d\n", counts.upToDate, counts.copied);
    if (mode == kModeFileMove) std::printf("deleted %d\n", counts.deleted);
    if (result != 1 || counts.errors > 0 || Main.AbortFlag == kAbortRequested)
        return Incomplete("not every file could be handled (see the messages above)");
    return 0;
}

int CopyFilesCommand(const Arguments& args)
{
    return FilesCommand(args, kModeFileCopy);
}

int MoveFilesCommand(const Arguments& args)
{
    return FilesCommand(args, kModeFileMove);
}

int DuplicateCommand(const Arguments& args)
{
    if (args.positional.size() != 3) return Fail("usage: duplicate FILE DESTDIR COUNT");
    const auto path = ToDrivePath(args.positional[0]);
    const auto destination = ExistingDirectory(args.positional[1]);
    if (!path) return Fail("path cannot be reached through a drive: " + args.positional[0]);
    if (!destination) return Fail("not a directory: " + args.positional[1]);
    // As the dialog reads its count field: not a number is 1, more than 99 is 99.
    char* end = nullptr;
    long count = std::strtol(args.positional[2].c_str(), &end, 10);
    if (end == args.positional[2].c_str() || *end != '\0') count = 1;
    if (count > 99) count = 99;
    const size_t sep = path->find_last_of('\\');
    const int result
        = DuplicateFile(path->substr(0, sep + 1), *destination, path->substr(sep + 1), static_cast<int>(count));
    return result == 0 ? 0 : Incomplete("not every copy could be made");
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
    { "copy-tree",
        "copy-tree SRC DEST [--contents-only] [--all] [--keep-readonly] [--free-check]\n"
        "                                             copy the folder SRC into DEST (newer files only)",
        CopyTreeCommand, { "--contents-only", "--all", "--keep-readonly", "--free-check" } },
    { "move-tree",
        "move-tree SRC DEST [--contents-only] [--all] [--keep-readonly] [--free-check]\n"
        "                                             move the folder SRC into DEST",
        MoveTreeCommand, { "--contents-only", "--all", "--keep-readonly", "--free-check" } },
    { "mirror",
        "mirror SRC DEST [--contents-only] [--keep-readonly] [--free-check]\n"
        "                                             make DEST's copy of SRC identical to it (BackUp)",
        MirrorCommand, { "--contents-only", "--keep-readonly", "--free-check" } },
    { "copy-files", "copy-files FILE... DESTDIR [--all] [--keep-readonly]  copy files of one directory",
        CopyFilesCommand, { "--all", "--keep-readonly" } },
    { "move-files", "move-files FILE... DESTDIR [--all] [--keep-readonly]  move files of one directory",
        MoveFilesCommand, { "--all", "--keep-readonly" } },
    { "duplicate", "duplicate FILE DESTDIR COUNT              numbered copies FILE00, FILE01, ... (at most 99)",
        DuplicateCommand, {} },
    { "convert", "convert MODE FILE...                       convert text files in place (MODE 0 to 5)", ConvertCommand,
        {} },
    { "rename-batch", "rename-batch name BASE START FILE... | ext EXT FILE...  rename files of one directory",
        RenameBatchCommand, {} },
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
    const int status = command->run(args);
    // Output that never arrived (a full disk, a closed pipe) is a failure like any other.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "zelo-cli: writing the output failed\n");
        return status == 0 ? 1 : status;
    }
    return status;
}
