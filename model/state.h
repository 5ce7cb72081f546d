// The shared state of unit Main: every global the commands share, in one place.
// Windows and commands read and write these; tests call ResetMainState() between cases.
#pragma once

#include "model/path_tree.h"
#include "platform/ui_services.h"

#include <array>
#include <stop_token>
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
    // The stop request of the run under way: the progress window's stop button and the operation dialog's
    // cancel request it, a command starts each run with a fresh one and hands the engine its token.
    std::stop_source AbortFlag;
    int InputMode = 0;
    std::string InputText;
    // The batch rename request TRen fills on execute; RenStartText afterwards holds the last serial written.
    std::string RenStartText;
    std::string RenBaseName;
    std::string RenExtText;

    // The tree totals the folder information window shows.
    int TreeDirCount = 0;
    int TreeFileCount = 0;
    float TreeByteTotal = 0.0f;

    // The destination files found newer than their source (and what a run passed over), for TForm9.
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
