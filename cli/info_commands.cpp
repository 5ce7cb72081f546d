// zelo-cli's counterparts of the information and network commands: file and folder information with
// the numbers the windows show, the file pane's list as the window saves it, and network shares
// connected and disconnected through the mount tool.
#include "cli/cli.h"
#include "engine/file_info.h"
#include "engine/folder_info.h"
#include "engine/formats.h"
#include "engine/messages.h"
#include "engine/network.h"
#include "engine/tree.h"
#include "model/file_list.h"
#include "platform/drive_path.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/shell.h"
#include "platform/types.h"

#include <cinttypes>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace zelo::cli {

namespace {

bool IsReport(const std::string&, const std::string& caption)
{
    return caption == kCaptionReport;
}

std::string AttributeLetters(uint32_t attributes)
{
    std::string text;
    for (const auto& [letter, bit] : { std::pair { 'D', kAttrDirectory }, std::pair { 'R', kAttrReadOnly },
             std::pair { 'H', kAttrHidden }, std::pair { 'S', kAttrSystem }, std::pair { 'A', kAttrArchive } })
        text += (attributes & bit) ? letter : '-';
    return text;
}

// One line of a password, from the terminal without echo or else from standard input; never from the
// command line, where other users' process lists would show it. nullopt when none can be read.
std::optional<std::string> ReadPassword(const std::string& share)
{
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    termios saved {};
    const bool quiet = terminal && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        std::fprintf(stderr, "Password for %s: ", EscapeName(share).c_str());
        std::fflush(stderr);
    }
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    std::string line;
    int c = 0;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n')
        line += char(c);
    if (quiet) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    if (c == EOF && line.empty()) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

} // namespace

int FileInfoCommand(const Arguments& args)
{
    // The file pane's selection: files of one directory, looked up as the information window does.
    std::string directory;
    std::vector<std::string> names;
    for (const std::string& typed : args.operands) {
        std::string why;
        const auto path = ExistingEntry(typed, &why);
        if (!path) return Failed(typed, why);
        const uint32_t attributes = fs().GetAttributes(*path);
        if ((attributes & kAttrDirectory) && !(attributes & kAttrReparsePoint))
            return Failed(typed, "is a directory (folder-info tells of folders)");
        const auto [dir, name] = SplitDrivePath(*path);
        if (!directory.empty() && dir != directory) return UsageError(typed + ": the files must be in one directory");
        directory = dir;
        names.push_back(name);
    }
    CliUi ui(IsReport, false);
    const FileInfo info = GatherFileInfo(Selection::Of(directory, names, std::vector<bool>(names.size(), true)));
    if (names.size() == 1) {
        std::printf("path %s\n", EscapeName(args.operands[0]).c_str());
        std::printf("size %s\nbytes %" PRIu64 "\n", info.sizeText.c_str(), info.totalBytes);
        std::printf(
            "created %s\naccessed %s\nwritten %s\n", info.created.c_str(), info.accessed.c_str(), info.written.c_str());
        std::printf("attributes %s\n", info.attributes ? AttributeLetters(*info.attributes).c_str() : "");
    } else {
        std::printf("files %zu\nsize %s\nbytes %" PRIu64 "\n", names.size(), info.sizeText.c_str(), info.totalBytes);
    }
    return ui.Failures() > 0 ? kExitFailed : kExitOk;
}

int FolderInfoCommand(const Arguments& args)
{
    std::string why;
    const auto dir = ExistingDirectory(args.operands[0], &why);
    if (!dir) return Failed(args.operands[0], why);
    CliUi ui(IsReport, false);
    SetCurrentOperand(args.operands[0]);
    // The disk's figures first: no figures are better than false ones, so a failing query fails.
    const auto disk = ReadDiskFigures(*dir);
    if (!disk) return kExitFailed;
    const TreeTotals totals = CountTree(*dir);
    std::printf("disk size %s\ndisk used %s\ndisk free %s\n", SizeText(disk->total).c_str(),
        SizeText(disk->used).c_str(), SizeText(disk->free).c_str());
    std::printf("directories %d\nfiles %d\nsize %s\nbytes %" PRIu64 "\n", totals.dirs, totals.files,
        SizeText(totals.bytes).c_str(), totals.exactBytes);
    if (totals.unreadable > 0)
        return Failed(TypedPath(totals.firstUnreadable),
            std::to_string(totals.unreadable) + " director" + (totals.unreadable == 1 ? "y" : "ies")
                + " could not be read, the totals leave them out (this is the first)");
    return ui.Failures() > 0 ? kExitFailed : kExitOk;
}

int SaveListCommand(const Arguments& args)
{
    std::string why;
    const auto dir = ExistingDirectory(args.operands[0], &why);
    if (!dir) return Failed(args.operands[0], why);
    // The file pane's names through its filter, as the window saves them: exact bytes, CR LF.
    const FileTypeState state = args.has("hidden") ? FileTypeState::All : FileTypeState::OrdinaryOnly;
    for (const std::string& name : ReadFileList(*dir, args.mask.value_or("*.*"), state)) {
        const std::string linuxName = LinuxNameFromDrive(name);
        std::fwrite(linuxName.data(), 1, linuxName.size(), stdout);
        std::fputs("\r\n", stdout);
    }
    return kExitOk;
}

int NetConnectCommand(const Arguments& args)
{
    const std::string& share = args.operands[0];
    const std::vector<char> letters = FreeDriveLetters();
    if (letters.empty()) return Failed(share, "no drive letter is free");
    CliUi ui(IsReport, false);
    NoteTypedPath(share, share); // the engine names the share by its address, which no drive holds
    ShareLogin login { args.user.value_or(""), [&share] { return ReadPassword(share); }, {} };
    if (!ConnectShare(share, letters.front(), &login)) return kExitFailed;
    // Each run of zelo-cli has its own drive letters: the folder is what the next command is given.
    const Drive* drive = driveMap().find(letters.front());
    std::printf("%s\n", drive ? EscapeName(drive->directory).c_str() : "");
    return ui.Failures() > 0 ? kExitFailed : kExitOk;
}

int NetDisconnectCommand(const Arguments& args)
{
    const std::string& typed = args.operands[0];
    std::string why;
    const auto dir = ExistingDirectory(typed, &why);
    if (!dir) return Failed(typed, why);
    // Only a network share is unmounted: the mount tool would take any other mount the folder lies on.
    const auto linuxPath = driveMap().toLinux(WithoutSeparator(*dir));
    const bool remoteDrive = GetDriveType(dir->substr(0, 3)) == kDriveRemote;
    if (!remoteDrive && !(linuxPath && IsOnNetworkShare(*linuxPath))) return Failed(typed, "not on a network drive");
    CliUi ui(IsReport, false);
    std::string localName = dir->substr(0, 2);
    if (dir->size() > 3 || !remoteDrive) {
        // A share's folder inside a drive (GVfs keeps every share below one mount) stands for a drive
        // of its own, the share the mount tool unmounts.
        const std::vector<char> letters = FreeDriveLetters();
        if (letters.empty() || !linuxPath) return Failed(typed, "no drive letter is free");
        driveMap().add(Drive { letters.front(), *linuxPath, kDriveRemote, std::nullopt, {} });
        localName = std::string { letters.front(), ':' };
    }
    SetCurrentOperand(typed);
    if (!DisconnectDrive(localName)) return kExitFailed;
    Verbose(args, "disconnected", typed);
    return ui.Failures() > 0 ? kExitFailed : kExitOk;
}

} // namespace zelo::cli
