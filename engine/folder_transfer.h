// Folder copy, move and mirror ("BackUp") of a whole tree into the destination chosen in the operation
// dialog, and the free-space check before a copy.
#pragma once

#include "engine/options.h"
#include "platform/dir_handle.h"
#include "platform/drives.h"
#include "platform/types.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace zelo {

struct BackupPlan;

// OperationMode values: up to 10 folder operations, above 10 file operations.
enum OperationModeValue : int {
    kModeIdle = 0,
    kModeFolderCopy = 1,
    kModeFolderMove = 2,
    kModeFolderBackup = 4,
    kModeFileCopy = 11,
    kModeFileMove = 12,
    kModeDuplicate = 15,
};

// What a folder operation did, as the result window shows it: the folder driver's counters, each the
// one its comment names.
struct TransferCounts {
    int createdDirs = 0; // CreatedDirCount: destination subdirectories created
    int existingDirs = 0; // ExistingDirCount: destination subdirectories that were there already
    int newFiles = 0; // NewFileCount: copied without a date comparison (missing at the destination, or "new" off)
    int updatedFiles = 0; // UpdatedFileCount: copied because the source was newer
    int upToDateFiles = 0; // UpToDateFileCount: not copied, the destination was as new or newer
    int newerAtDest = 0; // NewerAtDestCount: of those, destination newer than the source (one detail line each)
    // DeletedDirCount, DeletedFileCount: every directory and file the mirror deleted, those inside extra
    // directories included.
    int deletedDirs = 0;
    int deletedFiles = 0;
    std::vector<std::string> detail; // "source  date  :  date" per newer destination file
    // Problems reported along the way that the counts do not show (a source directory that could not be
    // read, a FIFO or device that cannot be copied, a destination entry the mirror could not delete).
    int failures = 0;
    // Each of those problems as it was told, for the result.
    std::vector<std::string> problems;
    // The run's folder of earlier versions (when the backup keeps them) and how many entries went there.
    std::string versionsFolder;
    int versionsKept = 0;
    // Symbolic links the destination's file system refused (each a failure; the first one told).
    int linksNotCopied = 0;
};

// FolderTransfer::contentsOnly of a transfer of the source's contents (any value but 0 is).
inline constexpr int kContentsOnly = 255;

// A link the destination's file system cannot hold: counted as not copied and as a failure, told once a
// run (a share without links refuses every one of them alike), and the walk goes on.
void LinkNotCopied(TransferCounts& counts, const std::string& destinationPath);

struct FolderTransfer {
    std::string sourceFolder; // the directory to copy, with its trailing separator
    std::string destinationDir; // the directory chosen in the dialog
    int contentsOnly = 0; // ContentsOnly; kContentsOnly: the source's contents go straight into the destination
    int mode = kModeFolderCopy; // kModeFolderCopy, kModeFolderMove or kModeFolderBackup
    CommandOptions options; // "new" is taken as on for a backup
    // How finely the destination keeps write times; unset: asked of the destination's file system.
    std::optional<WriteTimeStep> destinationTimes;
    // A backup keeps what it deletes or replaces below this folder (one folder a run), when it is set.
    std::string versionsDir;
    // Only plans: nothing is written; the counts say what would be done (any mode).
    bool dryRun = false;
    // A backup's plan is shown here before anything is written; false leaves everything as it is.
    std::function<bool(const BackupPlan&)> confirmPlan;
    // The mass-delete guard of a backup: -1 asks a second time when most of the destination would go (or
    // refuses then, with refuseMassDeletion); 0 or more refuses a run that deletes more files than that.
    int maxDelete = -1;
    bool refuseMassDeletion = false;
};

// Result values of TransferFolder.
enum TransferResult : int {
    kTransferDone = 1,
    kTransferStoppedByError = 0,
    kTransferRefused = -1,
    kTransferCancelled = -2,
    kTransferDeclined = -3, // the person said No to the backup's plan or to its second question
};

// Copies, moves or mirrors the source folder into the destination (below a folder of its name unless
// contentsOnly), with the progress window, reporting every failure. stop is seen between files and
// between chunks of a copy (the progress window's stop button requests it). A backup never deletes in a
// destination directory whose source directory could not be read completely, nor into another drive
// mounted there; a move deletes its source only when everything was copied, and then only what it copied and is still
// unchanged. A destination that is the source, or lies in it, is refused by identity (links and bind mounts too), and
// a backup into a destination that holds the source. The destination file system is synced once at the
// end. Returns a TransferResult: kTransferDone when the walk ran to its end, even when it met problems
// it could pass over (counts.failures, counts.problems: a caller must not call that a full success);
// counts holds what was done even when the walk stopped.
// plan, when given, receives the plan of a backup or a dry run.
int TransferFolder(
    const FolderTransfer& request, TransferCounts& counts, std::stop_token stop, BackupPlan* plan = nullptr);

// Whether the destination can be inside the source: by text (the described check), and by what the
// directories are (a link or a bind mount into the source). True when it is, or is the source itself.
bool DestinationInsideSource(const std::string& sourceFolder, const std::string& destinationDir);

// Whether dir is the directory of identity or lies below it, by what the directories are.
bool IsAtOrBelow(DirHandle& dir, const DirIdentity& identity);
// Whether a lookup of name in dir finds nothing at all (anything else, an error included, is something).
bool NothingAt(DirHandle& dir, const std::string& name);

// Bytes a folder copy needs at the destination: the source tree, less what a folder of its name at the
// destination already holds, plus the largest source file (a replacement is written whole beside the file
// it replaces).
int64_t FolderSpaceNeeded(const std::string& sourceFolder, const std::string& destinationDir);

// 1 to go on, -1 when the destination's free space is short of need and the user chose to abort.
int CheckFreeSpace(const std::string& destinationDir, int64_t need);

// The folder name of a source folder with its trailing separator ("C:\a\b\" -> "b\"), empty for a root.
std::string FolderNameOf(const std::string& sourceFolder);

// Sign of the comparison of two last-write times to the second, in local time (positive: a is later).
int CompareWriteSeconds(const FileTime& a, const FileTime& b);

// The newer-only comparison of a source's write time with its copy's, as finely as the destination keeps
// times: to the second, or for FAT in 2-second steps with an exact hour apart (a daylight-saving shift)
// taken as the same time. Positive: the source is later.
int CompareWriteTimes(const FileTime& source, const FileTime& destination, WriteTimeStep step);

} // namespace zelo
