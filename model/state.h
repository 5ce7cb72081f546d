// The shared state of unit Main: every global the commands share, in one place.
// Windows and commands read and write these; tests call ResetMainState() between cases.
#pragma once

#include "model/path_tree.h"
#include "platform/ui_services.h"

#include <array>
#include <string>
#include <vector>

namespace zelo {

struct MainState {
    // Start drive and drive selector (main window, drive list).
    std::string StartPath;
    std::array<int, 27> DriveFlags {};
    std::array<std::string, 10> NetDrives;
    int NetDriveCount = 0;
    std::string VolumeText;
    int DriveReady = 0;

    // Commands and dialogs.
    int OperationMode = 0;
    int AbortFlag = 0;
    int ErrorContext = 0;
    int InputMode = 0;
    std::string InputText;
    // The batch rename request TRen fills on execute; RenStartText afterwards holds the last serial written.
    std::string RenStartText;
    std::string RenBaseName;
    std::string RenExtText;

    // Tree walks.
    int TreeDirCount = 0;
    int TreeFileCount = 0;
    float TreeByteTotal = 0.0f;
    int DeletedDirCount = 0;
    int DeletedFileCount = 0;

    // Folder driver counters and the list of newer destination files.
    int CreatedDirCount = 0;
    int ExistingDirCount = 0;
    int NewFileCount = 0;
    int UpdatedFileCount = 0;
    int UpToDateFileCount = 0;
    int NewerAtDestCount = 0;
    int CopiedFileCount = 0; // the file driver's copies
    int ContentsOnly = 0;
    std::vector<std::string> DetailList;

    // The two directory pane models.
    PathTree MainTree;
    PathTree DialogTree;
};

// The one instance.
extern MainState Main;

// Back to the start-up values (texts empty, counters 0, both trees unbound and empty).
void ResetMainState();

} // namespace zelo
