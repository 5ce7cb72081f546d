// Copy and move of the file pane's selected files (the file backup under "new"), and numbered duplicates.
#pragma once

#include "engine/options.h"
#include "model/state.h"

#include <string>
#include <vector>

namespace zelo {

struct FileTransfer {
    std::string sourceDir; // the main window's current directory
    std::string destinationDir; // the directory chosen in the dialog
    std::vector<std::string> names; // the selected items, in list order
    int mode = 11; // kModeFileCopy or kModeFileMove
    CommandOptions options;
};

struct FileTransferCounts {
    int upToDate = 0; // not copied: the destination was as new or newer
    int copied = 0;
    int deleted = 0; // sources deleted by a move
    int errors = 0;
};

// Copies or moves the files with the progress window and ends with the summary message. Returns 1
// when it ran to its summary or was stopped by the user ("中止します"), -1 when it ended early (free
// space short and the user chose to abort, or a moved source that could not be deleted).
int TransferFiles(const FileTransfer& request, FileTransferCounts& counts, const int& abortFlag = Main.AbortFlag);

// The summary of a file copy or move, as the driver shows it.
std::string FileTransferSummary(int mode, const FileTransferCounts& counts);

// Makes count numbered copies of sourceDir + name in destinationDir: base00.ext, base01.ext, ... An
// existing file is never overwritten: a taken number moves on by 10 (base10.ext, then base20.ext, ...)
// for at most 9 tries, and the shift stays for the numbers that follow. Returns 0 when every copy was
// made, -1 after a failure it has reported.
int DuplicateFile(const std::string& sourceDir, const std::string& destinationDir, const std::string& name, int count);

} // namespace zelo
