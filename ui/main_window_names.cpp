// TForm1: the commands on names and contents: the six text conversions, renaming one file, a batch
// of files or a directory, and upper/lower case of file and directory names.
#include "ui/main_window.h"

#include "engine/messages.h"
#include "engine/rename.h"
#include "engine/text_convert.h"
#include "model/state.h"
#include "platform/drive_path.h"
#include "platform/drives.h"
#include "platform/ui_services.h"
#include "ui/command_guard.h"
#include "ui/input_dialog.h"
#include "ui/list_boxes.h"
#include "ui/rename_dialog.h"

#include <QLabel>

namespace zelo {

namespace {

void ConvertSelection(TForm1& form, ConversionMode mode)
{
    // The conversion lets the window run between blocks: no second command meanwhile.
    const CommandGuard guard(&form);
    // The names stay as they are: the file pane is not re-read.
    ConvertSelectedFiles(
        Selection::Of(Main.MainTree.CurrentPath(true), form.FileBx1->Names(), form.FileBx1->SelectedFlags()),
        int(mode));
}

// The Linux directory that holds the entry a drive path names; empty when it names no drive.
std::string LinuxParent(const std::string& drivePath)
{
    const auto linuxPath = driveMap().toLinux(drivePath);
    if (!linuxPath) return {};
    const auto slash = linuxPath->find_last_of('/');
    return slash == std::string::npos ? std::string() : linuxPath->substr(0, slash + 1);
}

} // namespace

void TForm1::N25Click()
{
    ConvertSelection(*this, ConversionMode::RemoveCr);
}

void TForm1::N16Click()
{
    ConvertSelection(*this, ConversionMode::RemoveEscapes);
}

void TForm1::N17Click()
{
    ConvertSelection(*this, ConversionMode::ApplyBackspaces);
}

void TForm1::N0AHDAH1Click()
{
    ConvertSelection(*this, ConversionMode::LfToCrLf);
}

void TForm1::UTF8SJis1Click()
{
    ConvertSelection(*this, ConversionMode::Utf8ToShiftJis);
}

void TForm1::SHIFT81Click()
{
    ConvertSelection(*this, ConversionMode::ShiftJisToUtf8);
}

void TForm1::ExecRenameDialog()
{
    if (m_ren)
        m_ren->exec();
    else
        Main.InputMode = 0; // no dialog, no request: nothing is renamed
}

void TForm1::Rename1Click()
{
    const auto refreshFiles = [this] { FileBx1->Reread(); };
    static_assert(kInputOfferFile == kRenNameMode); // one value presets both dialogs
    Main.InputMode = kInputOfferFile; // TForm3: offer the file; TRen: preset to name mode
    if (FileBx1->SelectedCount() < 2) {
        // The rename acts on the selected file under the cursor: anything else would be offered and
        // then fail.
        const std::string oldPath = FileBx1->FocusedPath();
        if (oldPath.empty()) {
            AppMessageBox("Ｆｉｌｅ　を選択して下さい", kCaptionWarning, kMbOk);
            return;
        }
        if (ShowInputDialog) ShowInputDialog();
        if (Main.InputMode == kInputCancelled) return;
        RenameOneFile(oldPath, Main.InputText, refreshFiles);
        return;
    }
    if (ShowRenameDialog) ShowRenameDialog();
    if (Main.InputMode == 0) return;
    BatchRenameRequest request;
    request.mode = Main.InputMode == kRenExtensionMode ? BatchRenameMode::Extension : BatchRenameMode::Name;
    request.startText = Main.RenStartText;
    request.baseName = Main.RenBaseName;
    request.extText = Main.RenExtText;
    const BatchRenameResult result
        = BatchRename(Selection::Of(Main.MainTree.CurrentPath(true), FileBx1->Names(), FileBx1->SelectedFlags()),
            request, refreshFiles);
    Main.RenStartText = result.startText;
}

void TForm1::DirectoryRenamed(const std::string& oldPath, const std::string& newPath, const std::string& name)
{
    Main.InputText = name;
    const int index = DirBx1->SelectedIndex();
    const bool inChain = index <= Main.MainTree.GetLevel();
    const std::string parent = LinuxParent(oldPath);
    if (index >= 0 && !parent.empty() && parent == LinuxParent(newPath)) {
        Main.MainTree.RenameSelected(name);
        if (inChain) {
            // The current directory or one above it has a new name: the file pane and the current
            // path follow it.
            const std::string current = Main.MainTree.CurrentPath(false);
            FileBx1->SetDirectory(current);
            SetPathLabel(Label4, current);
        }
    } else {
        // Moved into another directory: an entry renamed in place would name nothing. A
        // subdirectory leaves the list; when the current directory went, the pane starts again
        // at the drive's root.
        if (inChain) Main.MainTree.SetDrive(Main.MainTree.DriveText(true));
        Main.MainTree.Refill(false);
        SetPathLabel(Label4, Main.MainTree.CurrentPath(false));
        ShowDirCount();
    }
    SetPathLabel(Label9, Main.MainTree.SelectedPath(false));
}

void TForm1::RENDIR1Click()
{
    if (!DirectoryRenameAllowed(DirBx1->SelectedIndex())) return;
    Main.InputMode = kInputOfferSelectedDirectory;
    if (ShowInputDialog) ShowInputDialog();
    if (Main.InputMode == kInputCancelled) return;
    const std::string oldPath = Main.MainTree.SelectedPath(false);
    const std::string newPath = Main.InputText;
    RenameDirectory(oldPath, newPath, [&](const std::string& name) { DirectoryRenamed(oldPath, newPath, name); });
}

void TForm1::N26Click()
{
    ChangeFileNamesCase(0, Selection::Of(Main.MainTree.CurrentPath(true), FileBx1->Names(), FileBx1->SelectedFlags()),
        [this] { FileBx1->Reread(); });
}

void TForm1::N27Click()
{
    ChangeFileNamesCase(1, Selection::Of(Main.MainTree.CurrentPath(true), FileBx1->Names(), FileBx1->SelectedFlags()),
        [this] { FileBx1->Reread(); });
}

void TForm1::ChangeSelectedDirCase(int direction)
{
    const std::string oldPath = Main.MainTree.SelectedPath(false);
    const std::string parentText = ParentWithSeparator(oldPath);
    ChangeDirNameCase(direction, DirBx1->SelectedIndex(), oldPath,
        [&](const std::string& name) { DirectoryRenamed(oldPath, parentText + name, name); });
}

void TForm1::oomozi1Click()
{
    ChangeSelectedDirCase(0);
}

void TForm1::komozi1Click()
{
    ChangeSelectedDirCase(1);
}

} // namespace zelo
