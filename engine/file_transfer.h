// Copy and move of the file pane's selected files (the file backup under "new"), and numbered duplicates.
#pragma once

#include "engine/options.h"
#include "platform/drives.h"

#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace zelo {

struct FileTransfer {
    std::string sourceDir; // the main window's current directory
    std::string destinationDir; // the directory chosen in the dialog
    std::vector<std::string> names; // the selected items, in list order
    int mode = 11; // kModeFileCopy or kModeFileMove
    CommandOptions options;
    // How finely the destination keeps write times; unset: asked of the destination's file system.
    std::optional<WriteTimeStep> destinationTimes;
    // Only decides: nothing is written, and counts.planned says what would be done.
    bool dryRun = false;
};

struct FileTransferCounts {
    int upToDate = 0; // not copied: the destination was as new or newer
    int copied = 0;
    int deleted = 0; // sources deleted by a move
    int errors = 0; // every file not done, each one reported
    // Sources a move kept because the destination was newer, or of the same second but another size, in
    // the newer-files list's form.
    std::vector<std::string> kept;
    // A dry run's decisions: each file that would be copied (destination path) and, for a move, each
    // source that would be deleted.
    std::vector<std::string> copies;
    std::vector<std::string> deletions;
};

// Copies or moves the files with the progress window and ends with the summary message. A file that is
// missing or has another kind of entry at the destination is reported and counted, and the run goes on;
// a copy that fails ends it. A symbolic link is copied as the link (where the destination holds none,
// it is a failure told once a run, and the run goes on). Of names the destination takes for one (they
// differ only in case, on FAT, exFAT or SMB), the first in byte order is copied and each other one is a
// failure with its path; a copy never replaces a file the run made. A move deletes a source only while
// it is still the file copied (or, not copied under "new", when the destination has its size and
// second). Source and destination the same directory by identity is refused. The free-space question comes once a run
// at most. Returns 1 when it ran to its summary or was stopped by the user ("中止します"), -1 when it ended early
// (refused, free space short and the user chose to abort, or a moved source that could not be deleted).
// stop is seen between files and between chunks of a copy (the progress window's stop button requests it).
int TransferFiles(const FileTransfer& request, FileTransferCounts& counts, std::stop_token stop);

// The summary of a file copy or move, as the driver shows it.
std::string FileTransferSummary(int mode, const FileTransferCounts& counts);

// Makes count numbered copies of sourceDir + name in destinationDir: base00.ext, base01.ext, ... An
// existing file is never overwritten: a taken number moves on by 10 (base10.ext, then base20.ext, ...)
// for at most 9 tries, and the shift stays for the numbers that follow. Returns 0 when every copy was
// made, -1 after a failure it has reported.
int DuplicateFile(const std::string& sourceDir, const std::string& destinationDir, const std::string& name, int count);

} // namespace zelo
