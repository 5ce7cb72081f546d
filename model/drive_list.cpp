// The drive selector's items, the volume check and the start drive.
#include "model/drive_list.h"

#include "model/state.h"
#include "platform/drives.h"

#include <algorithm>
#include <cctype>

namespace zelo {

namespace {

constexpr int kScannedItems = 27;

std::string lowerAscii(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

bool containsNoCase(const std::string& text, const std::string& part)
{
    // An empty start text names no drive (it would otherwise match every item).
    if (part.empty()) return false;
    return lowerAscii(text).find(lowerAscii(part)) != std::string::npos;
}

bool isContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

bool isLeadByte(char c)
{
    return static_cast<unsigned char>(c) >= 0xC0;
}

std::string itemAfterRoot(char letter, uint32_t type)
{
    switch (type) {
    case kDriveUnknown:
    case kDriveNoRootDir:
        return " ?";
    case kDriveRemovable:
        return letter == 'A' || letter == 'B' ? "" : " Rm";
    case kDriveFixed:
        return " [" + CheckDrive(letter) + " ]";
    case kDriveCdrom: {
        const std::string volume = CheckDrive(letter);
        return volume.empty() ? " [CDROM]" : volume;
    }
    case kDriveRamdisk:
        return " [RAM]";
    default:
        return "";
    }
}

} // namespace

std::string CutToBytes(const std::string& text, size_t maxBytes)
{
    if (text.size() <= maxBytes) return text;
    // The byte after the cut continues a character: step back to that character's lead byte
    // (at most three steps) and drop the whole character. Stray bytes that are no UTF-8 stay cut
    // where the limit falls.
    size_t cut = maxBytes;
    int steps = 0;
    while (cut > 0 && steps < 3 && isContinuationByte(text[cut])) {
        --cut;
        ++steps;
    }
    if (steps > 0 && !isLeadByte(text[cut])) cut = maxBytes;
    return text.substr(0, cut);
}

int ReadVolumeLabel(const std::string& root)
{
    Main.VolumeText.clear();
    std::string label;
    std::string fileSystem;
    if (!GetVolumeInformation(root, label, fileSystem)) return -1;
    // The label buffer holds 255 bytes and its terminator.
    Main.VolumeText = CutToBytes(label, 255);
    return 1;
}

std::string CheckDrive(char letter)
{
    Main.VolumeText.clear();
    if (ReadVolumeLabel(std::string { letter, ':', '\\' }) != 1) {
        Main.DriveReady = 0;
        return "";
    }
    Main.DriveReady = 1;
    return CutToBytes(" " + Main.VolumeText, 8);
}

void FillDriveCombo(ComboView& combo)
{
    Main.NetDriveCount = 0;
    combo.ClearItems();
    const uint32_t mask = GetLogicalDrives();
    for (int bit = 0; bit < 26; ++bit) {
        if (!(mask & (1u << bit))) continue;
        const char letter = char('A' + bit);
        const std::string root { letter, ':', '\\' };
        const uint32_t type = GetDriveType(root);
        if (type == kDriveRemote) {
            // NetDrives has room for ten: further network drives are still listed, but only
            // the first ten are remembered (and disconnected at exit).
            if (Main.NetDriveCount < int(Main.NetDrives.size())) Main.NetDrives[Main.NetDriveCount++] = root;
            std::string name;
            if (!GetUniversalName(root, name)) name.clear();
            Main.VolumeText = name;
            combo.AddItem(std::string { letter, ':' } + name);
            continue;
        }
        combo.AddItem(root + itemAfterRoot(letter, type));
    }
}

std::string ComputeStartPath()
{
    const std::string module = GetModuleFileName();
    if (!module.empty() && module[0] == '\\') return GetWindowsDirectory().substr(0, 3);
    return module.substr(0, 3);
}

int ComputeDriveFlags(ComboView& combo)
{
    int selected = -1;
    bool seen = false;
    for (int index = 0; index < kScannedItems; ++index) {
        const std::string text = index < combo.Count() ? combo.Item(index) : std::string();
        if (index < combo.Count() && containsNoCase(text, Main.StartPath)) selected = index;
        if (text.find('[') != std::string::npos) {
            Main.DriveFlags[index] = 255;
            seen = true;
        } else if (seen) {
            break;
        }
    }
    if (selected >= 0) combo.SetSelectedIndex(selected);
    return selected;
}

int FindStartDriveItem(const ComboView& combo, const std::string& startPath)
{
    int found = -1;
    for (int index = 0; index < combo.Count(); ++index)
        if (containsNoCase(combo.Item(index), startPath)) found = index;
    return found;
}

} // namespace zelo
