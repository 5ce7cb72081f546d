// zelo-cli's commands: their names, operands, options and one line of what each does.
#include "cli/cli.h"

#include <cstdint>

namespace zelo::cli {

int CountCommand(const Arguments& args);
int DeleteCommand(const Arguments& args);
int CopyFileCommand(const Arguments& args);
int CopyTreeCommand(const Arguments& args);
int MoveTreeCommand(const Arguments& args);
int MirrorCommand(const Arguments& args);
int CopyFilesCommand(const Arguments& args);
int MoveFilesCommand(const Arguments& args);
int DuplicateCommand(const Arguments& args);
int ConvertCommand(const Arguments& args);
int RenameBatchCommand(const Arguments& args);
int DeleteFilesCommand(const Arguments& args);
int DeleteBackupsCommand(const Arguments& args);
int AttribCommand(const Arguments& args);
int LabelCommand(const Arguments& args);
int MkdirCommand(const Arguments& args);
int FileInfoCommand(const Arguments& args);
int FolderInfoCommand(const Arguments& args);
int SaveListCommand(const Arguments& args);
int NetConnectCommand(const Arguments& args);
int NetDisconnectCommand(const Arguments& args);
int RenameCommand(const Arguments& args);
int UpperCommand(const Arguments& args);
int LowerCommand(const Arguments& args);

const std::vector<Command>& Commands()
{
    static const std::vector<Command> commands = {
        { "count", "DIR", "directories, files and bytes below DIR", CountCommand, {}, 1, 1 },
        { "delete", "[--keep-root] [--keep-readonly] DIR", "delete DIR and everything below it", DeleteCommand,
            { "keep-root", "keep-readonly" }, 1, 1 },
        { "delete-files", "[--keep-readonly] FILE...", "delete files (never directories)", DeleteFilesCommand,
            { "keep-readonly" }, 1, SIZE_MAX },
        { "delete-backups", "[--keep-readonly] DIR", "delete every *.BAK and *.VIX file below DIR",
            DeleteBackupsCommand, { "keep-readonly" }, 1, 1 },
        { "copy-file", "SRC DST", "copy one file (DST may be a directory)", CopyFileCommand, {}, 2, 2 },
        { "copy-tree", "[--contents-only] [--all] [--keep-readonly] [--free-check] [--dry-run] SRC DEST",
            "copy the folder SRC into DEST (newer files only)", CopyTreeCommand,
            { "contents-only", "all", "keep-readonly", "free-check", "dry-run" }, 2, 2 },
        { "move-tree", "[--contents-only] [--all] [--keep-readonly] [--free-check] [--dry-run] SRC DEST",
            "move the folder SRC into DEST", MoveTreeCommand,
            { "contents-only", "all", "keep-readonly", "free-check", "dry-run" }, 2, 2 },
        { "mirror",
            "[--contents-only] [--keep-readonly] [--free-check] [--dry-run] [--max-delete=N] [--backup-dir=DIR] "
            "SRC DEST",
            "make DEST's copy of SRC identical to it (BackUp); --max-delete=N allows deleting up to N entries",
            MirrorCommand, { "contents-only", "keep-readonly", "free-check", "dry-run", "max-delete", "backup-dir" }, 2,
            2 },
        { "copy-files", "[--all] [--keep-readonly] [--dry-run] FILE... DESTDIR",
            "copy files of one directory into DESTDIR", CopyFilesCommand, { "all", "keep-readonly", "dry-run" }, 2,
            SIZE_MAX },
        { "move-files", "[--all] [--keep-readonly] [--dry-run] FILE... DESTDIR",
            "move files of one directory into DESTDIR", MoveFilesCommand, { "all", "keep-readonly", "dry-run" }, 2,
            SIZE_MAX },
        { "duplicate", "FILE DESTDIR COUNT", "numbered copies FILE00, FILE01, ... (COUNT 1 to 99)", DuplicateCommand,
            {}, 3, 3 },
        { "convert", "MODE FILE...",
            "convert text files in place (MODE 0 CRLF->LF, 1 ESC, 2 BS, 3 LF->CRLF, 4 UTF-8->SJIS, 5 SJIS->UTF-8)",
            ConvertCommand, {}, 2, SIZE_MAX },
        { "rename", "PATH NEWPATH", "rename a file or directory (never over an existing name)", RenameCommand, {}, 2,
            2 },
        { "rename-batch", "name BASE START FILE... | ext EXT FILE...",
            "rename files of one directory: BASE with numbers from START, or one extension", RenameBatchCommand, {}, 3,
            SIZE_MAX },
        { "upper", "PATH...", "change the names to upper case", UpperCommand, {}, 1, SIZE_MAX },
        { "lower", "PATH...", "change the names to lower case", LowerCommand, {}, 1, SIZE_MAX },
        { "attrib", "[--set=RHSA] PATH...", "show the attributes (D R H S A), or set exactly the letters given",
            AttribCommand, { "set" }, 1, SIZE_MAX },
        { "label", "[--set=TEXT] DIR", "show the volume label of DIR's drive, or set it (empty: remove)", LabelCommand,
            { "set" }, 1, 1 },
        { "mkdir", "DIR...", "create directories (the last component of each)", MkdirCommand, {}, 1, SIZE_MAX },
        { "file-info", "FILE...",
            "one file's size, times and attributes, or several files' count and size, as the window shows them",
            FileInfoCommand, {}, 1, SIZE_MAX },
        { "folder-info", "DIR", "the disk's size, used and free space, and DIR's directories, files and size",
            FolderInfoCommand, {}, 1, 1 },
        { "save-list", "[--mask=PATTERN] [--hidden] DIR",
            "print DIR's file list as the window saves it (CR LF); redirect it to keep it", SaveListCommand,
            { "mask", "hidden" }, 1, 1 },
        { "net-connect", "[--user=NAME] SHARE",
            "mount a network share (smb://host/share) and print its folder; a password is read from the terminal "
            "or standard input",
            NetConnectCommand, { "user" }, 1, 1 },
        { "net-disconnect", "DIR", "unmount the network share DIR (as net-connect printed it), never forced",
            NetDisconnectCommand, {}, 1, 1 },
    };
    return commands;
}

} // namespace zelo::cli
