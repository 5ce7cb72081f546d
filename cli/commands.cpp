// zelo-cli's commands over trees and files: count, delete, the copies, moves and mirror, duplicates,
// the text conversions and the batch rename.
#include "cli/cli.h"
#include "cli/observed_fs.h"
#include "cli/stop_signals.h"
#include "engine/backup_plan.h"
#include "engine/file_copy.h"
#include "engine/file_transfer.h"
#include "engine/folder_transfer.h"
#include "engine/formats.h"
#include "engine/messages.h"
#include "engine/options.h"
#include "engine/rename.h"
#include "engine/text_convert.h"
#include "engine/tree.h"
#include "platform/drive_path.h"
#include "platform/filesystem.h"
#include "platform/types.h"

#include <cinttypes>
#include <cstdio>

namespace zelo::cli {

namespace {

// The main window's check boxes as flags, with the window's defaults.
CommandOptions OptionsFrom(const Arguments& args)
{
    CommandOptions options;
    options.newerOnly = !args.has("all");
    options.clearReadOnly = !args.has("keep-readonly");
    options.checkFreeSpace = args.has("free-check");
    return options;
}

// A whole number in [low, high] as typed, or nullopt: "abc", "3x" and "" are no numbers.
std::optional<long> Number(const std::string& text, long low, long high)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high) return std::nullopt;
    return value;
}

// A count as typed of plain digits up to high: a sign or a blank makes it no count, so what is
// typed is what counts.
std::optional<long> PlainCount(const std::string& text, long high)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    return Number(text, 0, high);
}

// --verbose and --progress watch the engine's file system calls while the command runs.
std::unique_ptr<ObservedFileSystem> Observe(const Arguments& args)
{
    if (!args.verbose && !args.progress) return nullptr;
    return std::make_unique<ObservedFileSystem>(args);
}

bool IsEngineReport(const std::string& text, const std::string& caption)
{
    return caption == kCaptionReport || text.rfind("更新済みのファイル", 0) == 0;
}

} // namespace

int CountCommand(const Arguments& args)
{
    std::string why;
    const auto dir = ExistingDirectory(args.operands[0], &why);
    if (!dir) return Failed(args.operands[0], why);
    CliUi ui(IsEngineReport, false);
    const TreeTotals totals = CountTree(*dir);
    std::printf("directories %d\nfiles %d\nbytes %" PRIu64 "\ntotal %s\nsize %s\n", totals.dirs, totals.files,
        totals.exactBytes, FormatByteCount(totals.bytes).c_str(), FormatSizeUnit(totals.bytes).c_str());
    if (totals.unreadable > 0)
        return Failed(TypedPath(totals.firstUnreadable),
            std::to_string(totals.unreadable) + " director" + (totals.unreadable == 1 ? "y" : "ies")
                + " could not be read, the totals leave them out (this is the first)");
    return ui.Failures() > 0 ? kExitFailed : kExitOk;
}

int DeleteCommand(const Arguments& args)
{
    std::string why;
    const auto directory = ExistingDirectory(args.operands[0], &why);
    if (!directory) return Failed(args.operands[0], why);
    const std::string& dir = *directory;
    const bool keepRoot = args.has("keep-root");
    // A drive root ("/" itself in the default map) is only ever emptied, never removed, as rm keeps "/".
    if (dir.size() == 3 && !keepRoot)
        return UsageError(
            "refusing to delete the root of drive " + dir.substr(0, 2) + " (--keep-root deletes its contents)");
    CommandOptions options;
    options.clearReadOnly = !args.has("keep-readonly");
    CliUi ui(IsEngineReport, false);
    SetCurrentOperand(args.operands[0]);
    DeleteResult result;
    {
        const auto observed = Observe(args);
        result = DeleteTree(dir, keepRoot ? kKeepRoot : 0, options);
    }
    std::printf("directories %d\nfiles %d\n", result.dirs, result.files);
    if (result.result != 1 || result.failures > 0)
        return Failed(args.operands[0],
            std::to_string(result.failures) + " item" + (result.failures == 1 ? "" : "s")
                + " could not be deleted or read");
    return ui.Failures() > 0 ? kExitFailed : kExitOk;
}

int CopyFileCommand(const Arguments& args)
{
    std::string why;
    auto source = ToDrivePath(args.operands[0], &why);
    if (!source) return Failed(args.operands[0], why);
    auto destination = ToDrivePath(args.operands[1], &why);
    if (!destination) return Failed(args.operands[1], why);
    // Like cp: a destination that is a directory (or a link to one) receives the file under its own name.
    const uint32_t destAttributes = fs().GetAttributes(*destination);
    if (destAttributes != kInvalidAttributes && (destAttributes & kAttrDirectory))
        *destination = WithOneSeparator(*destination) + SplitDrivePath(*source).second;
    CliUi ui(IsEngineReport, false);
    int result = 0;
    bool stopped = false;
    {
        const auto observed = Observe(args);
        StopOnSignals stop;
        result = CopyOneFile(*source, *destination, kProgressOverall, stop.Token());
        stopped = stop.Token().stop_requested();
    }
    if (StopOnSignals::Stopped()) StopOnSignals::EndBySignal();
    const bool done = result == 1 && !stopped;
    return done && ui.Failures() == 0 ? kExitOk : kExitFailed;
}

namespace {

// The action word of a planned step, as a dry run prints it.
const char* DryRunWord(PlanAction action, int mode)
{
    switch (action) {
    case PlanAction::CreateFolder:
        return "created";
    case PlanAction::CopyNew:
    case PlanAction::CopyLink:
        return mode == kModeFolderMove ? "moved" : "copied";
    case PlanAction::Update:
        return "updated";
    case PlanAction::Delete:
        return "deleted";
    }
    return "";
}

int FolderCommand(const Arguments& args, int mode)
{
    std::string why;
    const auto source = ExistingDirectory(args.operands[0], &why);
    if (!source) return Failed(args.operands[0], why);
    const auto destination = ExistingDirectory(args.operands[1], &why);
    if (!destination) return Failed(args.operands[1], why);
    FolderTransfer request;
    request.sourceFolder = *source;
    request.destinationDir = *destination;
    request.contentsOnly = args.has("contents-only") ? kContentsOnly : 0;
    request.mode = mode;
    request.options = OptionsFrom(args);
    request.dryRun = args.has("dry-run");
    // A backup that would delete most of its destination is refused, unless --max-delete allows the number.
    request.refuseMassDeletion = true;
    if (args.maxDelete) {
        const auto limit = PlainCount(*args.maxDelete, INT32_MAX);
        if (!limit) return UsageError("--max-delete: not a number of entries: '" + *args.maxDelete + "'");
        request.maxDelete = static_cast<int>(*limit);
    }
    if (args.backupDir) {
        const auto versions = ToDrivePath(*args.backupDir, &why);
        if (!versions) return Failed(*args.backupDir, why);
        request.versionsDir = *versions;
    }
    CliUi ui(IsEngineReport, false);
    TransferCounts counts;
    BackupPlan plan;
    int result = 0;
    {
        const auto observed = Observe(args);
        StopOnSignals stop;
        result = TransferFolder(request, counts, stop.Token(), &plan);
    }
    const bool dry = request.dryRun;
    // What the run would do, one entry a line; nothing was written.
    if (dry) {
        plan.ForEachEntry(false, [mode](PlanAction action, const std::string& path) {
            PrintOutcome(true, std::string(DryRunWord(action, mode)) + " " + EscapeName(TypedPath(path)));
        });
    }
    PrintOutcome(dry,
        "directories new " + std::to_string(counts.createdDirs) + " existing " + std::to_string(counts.existingDirs));
    PrintOutcome(dry,
        "files new " + std::to_string(counts.newFiles) + " updated " + std::to_string(counts.updatedFiles)
            + " up-to-date " + std::to_string(counts.upToDateFiles) + " newer-at-destination "
            + std::to_string(counts.newerAtDest));
    if (mode == kModeFolderBackup)
        PrintOutcome(dry,
            "deleted directories " + std::to_string(counts.deletedDirs) + " files "
                + std::to_string(counts.deletedFiles));
    if (counts.linksNotCopied > 0) PrintOutcome(dry, "links not copied " + std::to_string(counts.linksNotCopied));
    if (!counts.versionsFolder.empty())
        PrintOutcome(dry,
            "versions kept " + std::to_string(counts.versionsKept) + " in "
                + EscapeName(TypedPath(counts.versionsFolder)));
    for (const std::string& line : counts.detail) {
        // "SOURCE  DATE  :  DATE": both dates have one format, so the source ends where the first begins.
        const size_t colon = line.rfind("  :  ");
        const size_t dateLength = colon == std::string::npos ? 0 : line.size() - colon - 5;
        if (colon != std::string::npos && colon >= dateLength + 2) {
            const size_t end = colon - dateLength - 2;
            const std::string source = TypedPath(line.substr(0, end));
            PrintOutcome(dry, "newer at destination: " + EscapeName(source) + EscapeName(line.substr(end)));
            Verbose(args, "skipped", source);
        } else {
            PrintOutcome(dry, "newer at destination: " + EscapeName(line));
        }
    }
    if (StopOnSignals::Stopped()) {
        std::fflush(stdout);
        StopOnSignals::EndBySignal();
    }
    if (result == kTransferDone && ui.Failures() == 0 && counts.failures == 0) return kExitOk;
    return Failed(result == kTransferRefused || result == kTransferDeclined ? "nothing was done"
            : result == kTransferCancelled                                  ? "stopped"
                                           : "not everything could be done (see the messages above)");
}

int FilesCommand(const Arguments& args, int mode)
{
    std::string why;
    const std::string& typedDestination = args.operands.back();
    const auto destination = ExistingDirectory(typedDestination, &why);
    if (!destination) return Failed(typedDestination, why);
    FileTransfer request;
    // Files typed as "dir/name" after one another (as a shell's pattern gives them) share their directory:
    // it is resolved once, and messages name each file through the directory as it was typed.
    std::string_view typedDir;
    for (size_t i = 0; i + 1 < args.operands.size(); ++i) {
        const std::string& typed = args.operands[i];
        const size_t slash = typed.rfind('/');
        const std::string_view name = std::string_view(typed).substr(slash == std::string::npos ? 0 : slash + 1);
        const bool inTypedDir = slash != std::string::npos && slash > 0 && typed[slash - 1] != '/' && !name.empty()
            && name != "." && name != ".." && IsOwnDriveName(name); // else mapped by ToDrivePath
        if (inTypedDir && !typedDir.empty() && std::string_view(typed).substr(0, slash) == typedDir) {
            request.names.emplace_back(name);
            continue;
        }
        const auto path = ToDrivePath(typed, &why);
        if (!path) return Failed(typed, why);
        const auto [dir, driveName] = SplitDrivePath(*path);
        // The file pane's selection is the files of one directory.
        if (request.sourceDir.empty()) request.sourceDir = dir;
        if (dir != request.sourceDir) return UsageError(typed + ": the files must be in one directory");
        request.names.push_back(driveName);
        typedDir = inTypedDir && driveName == name ? std::string_view(typed).substr(0, slash) : std::string_view();
        if (!typedDir.empty()) NoteTypedPath(WithoutSeparator(dir), std::string(typedDir));
    }
    request.destinationDir = *destination;
    request.mode = mode;
    request.options = OptionsFrom(args);
    request.dryRun = args.has("dry-run");
    CliUi ui(IsEngineReport, false);
    FileTransferCounts counts;
    int result = 0;
    bool stopped = false;
    {
        const auto observed = Observe(args);
        StopOnSignals stop;
        result = TransferFiles(request, counts, stop.Token());
        stopped = stop.Token().stop_requested();
    }
    const bool dry = request.dryRun;
    for (const std::string& path : counts.copies)
        PrintOutcome(dry, "copied " + EscapeName(TypedPath(path)));
    for (const std::string& path : counts.deletions)
        PrintOutcome(dry, "deleted " + EscapeName(TypedPath(path)));
    PrintOutcome(dry, "up-to-date " + std::to_string(counts.upToDate));
    PrintOutcome(dry, "copied " + std::to_string(counts.copied));
    if (mode == kModeFileMove) PrintOutcome(dry, "deleted " + std::to_string(counts.deleted));
    if (StopOnSignals::Stopped()) {
        std::fflush(stdout);
        StopOnSignals::EndBySignal();
    }
    if (result != 1 || counts.errors > 0 || stopped || ui.Failures() > 0)
        return Failed("not every file could be handled (see the messages above)");
    return kExitOk;
}

} // namespace

int CopyTreeCommand(const Arguments& args)
{
    return FolderCommand(args, kModeFolderCopy);
}

int MoveTreeCommand(const Arguments& args)
{
    return FolderCommand(args, kModeFolderMove);
}

int MirrorCommand(const Arguments& args)
{
    return FolderCommand(args, kModeFolderBackup);
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
    // The dialog's count field holds 1 to 99; on the command line anything else is a mistake.
    const auto count = Number(args.operands[2], 1, 99);
    if (!count) return UsageError("duplicate: COUNT must be a number from 1 to 99: '" + args.operands[2] + "'");
    std::string why;
    const auto path = ExistingEntry(args.operands[0], &why);
    if (!path) return Failed(args.operands[0], why);
    const auto destination = ExistingDirectory(args.operands[1], &why);
    if (!destination) return Failed(args.operands[1], why);
    CliUi ui(IsEngineReport, false);
    SetCurrentOperand(args.operands[0]);
    const auto [dir, name] = SplitDrivePath(*path);
    const auto observed = Observe(args);
    const int result = DuplicateFile(dir, *destination, name, static_cast<int>(*count));
    return result == 0 && ui.Failures() == 0 ? kExitOk : Failed(args.operands[0], "not every copy could be made");
}

int ConvertCommand(const Arguments& args)
{
    const auto mode = Number(args.operands[0], 0, kConversionModeCount - 1);
    if (!mode) return UsageError("convert: MODE must be a number from 0 to 5: '" + args.operands[0] + "'");
    // As dos2unix: a file that cannot be converted is named, and the rest are still converted.
    int converted = 0;
    bool failed = false;
    {
        CliUi ui(IsEngineReport, false);
        const EndOnSignals ending;
        for (size_t i = 1; i < args.operands.size(); ++i) {
            const std::string& typed = args.operands[i];
            std::string why;
            const auto path = ExistingEntry(typed, &why);
            if (!path) {
                Failed(typed, why);
                failed = true;
                continue;
            }
            SetCurrentOperand(typed);
            const int before = ui.Failures();
            const ConversionResult result = ConvertFiles({ *path }, int(*mode));
            converted += result.converted;
            if (result.converted > 0) Verbose(args, "converted", typed);
            if (!result.ok() || ui.Failures() > before) failed = true;
        }
        SetCurrentOperand("");
    }
    if (converted > 0) std::printf("%d%s\n", converted, ConversionReportText(int(*mode)).c_str());
    return failed ? kExitFailed : kExitOk;
}

int RenameBatchCommand(const Arguments& args)
{
    const auto& words = args.operands;
    BatchRenameRequest request;
    size_t first = 0;
    if (words[0] == "name" && words.size() >= 4) {
        request.mode = BatchRenameMode::Name;
        request.baseName = DriveNameFromLinux(words[1]); // a Linux name: its "\" is a character
        request.startText = words[2];
        if (!Number(words[2], 0, 999999999))
            return UsageError("rename-batch: START must be a number: '" + words[2] + "'");
        first = 3;
    } else if (words[0] == "ext") {
        request.mode = BatchRenameMode::Extension;
        request.startText = "001";
        request.extText = DriveNameFromLinux(words[1]);
        first = 2;
    } else {
        return UsageError("rename-batch: 'name BASE START' or 'ext EXT' comes before the files");
    }
    // The files of one directory, renamed in the order given, as the file pane's selection.
    std::string directory;
    std::vector<std::string> names;
    for (size_t i = first; i < words.size(); ++i) {
        std::string why;
        auto path = ToDrivePath(words[i], &why);
        if (!path) return Failed(words[i], why);
        const auto [dir, name] = SplitDrivePath(*path);
        if (!directory.empty() && dir != directory)
            return UsageError(words[i] + ": the files must be in one directory");
        directory = dir;
        names.push_back(name);
    }
    CliUi ui([](const std::string& text, const std::string&) { return text == "全て名前を変更しました"; }, true);
    BatchRenameResult result;
    {
        const auto observed = Observe(args);
        if (observed) observed->TellMovesAsRenames();
        result = BatchRename(Selection::Of(directory, names, std::vector<bool>(names.size(), true)), request);
    }
    return result.completed && ui.Failures() == 0 ? kExitOk : kExitFailed;
}

} // namespace zelo::cli
