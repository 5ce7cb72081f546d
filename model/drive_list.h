// The drive selector's logic (CBox1 of the main window, the operation dialog's selector): the
// drive items, the volume check and the start drive, over the shared state of unit Main.
#pragma once

#include <string>

namespace zelo {

// An editable drop-down list of texts; the Qt combo boxes implement it, tests use vectors.
class ComboView {
public:
    virtual ~ComboView() = default;
    // Removes every item; the edit text stays as it is.
    virtual void ClearItems() = 0;
    virtual void AddItem(const std::string& text) = 0;
    virtual int Count() const = 0;
    // "" for an index outside the list.
    virtual std::string Item(int index) const = 0;
    // -1 when no item is selected.
    virtual int SelectedIndex() const = 0;
    virtual void SetSelectedIndex(int index) = 0;
    virtual std::string EditText() const = 0;
    virtual void SetEditText(const std::string& text) = 0;
};

// Rebuilds the drive items A to Z; sets NetDrives, NetDriveCount and VolumeText.
void FillDriveCombo(ComboView& combo);

// "" when the drive's volume cannot be read (DriveReady 0), else " " + label cut to 8 bytes
// (DriveReady 1). Sets VolumeText.
std::string CheckDrive(char letter);

// Reads the label of a drive root ("C:\") into VolumeText: 1, or -1 when it cannot be read.
int ReadVolumeLabel(const std::string& root);

// The start drive root: the first three characters of the program's path, or of the system
// drive when the program was started from a network path.
std::string ComputeStartPath();

// Start-up scan of items 0 to 26: selects the (last) item that names StartPath and sets
// DriveFlags to 255 for the first unbroken run of items that contain "[". Returns the selected
// index, -1 when none.
int ComputeDriveFlags(ComboView& combo);

// The index of the last item that names the start drive (case-insensitive), -1 when none.
int FindStartDriveItem(const ComboView& combo, const std::string& startPath);

// Cuts text to at most maxBytes without leaving part of a UTF-8 character at the end.
std::string CutToBytes(const std::string& text, size_t maxBytes);

} // namespace zelo
