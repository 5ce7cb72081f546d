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
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
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
    const stdfs::path realParent = stdfs::canonical(parent, ec);
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
