// TForm1: the drive selector, the filter, the "Hidden" boxes and the file pane of the main window.
#include "ui/main_window.h"

#include "engine/messages.h"
#include "model/drive_list.h"
#include "model/file_list.h"
#include "model/state.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/ui_services.h"
#include "ui/application.h"
#include "ui/drive_combo_box.h"
#include "ui/list_boxes.h"
#include "ui/save_list_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QSaveFile>

namespace zelo {

namespace {

// The extension of a path's last component, from its last ".", in lower case ("" when it has none).
std::string LowerExtension(const std::string& path)
{
    const size_t nameStart = path.find_last_of('\\') == std::string::npos ? 0 : path.find_last_of('\\') + 1;
    const size_t point = path.find_last_of('.');
    if (point == std::string::npos || point < nameStart) return {};
    std::string extension = path.substr(point);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return extension;
}

// The frame of an icon file closest to the standard icon size, scaled to it.
QImage ReadIcon(const QString& linuxPath)
{
    constexpr int kIconSize = 32;
    QImageReader reader(linuxPath);
    QImage best;
    int bestDistance = 0;
    do {
        QImage frame = reader.read();
        if (frame.isNull()) break;
        const int distance = std::abs(frame.width() - kIconSize) + std::abs(frame.height() - kIconSize);
        if (best.isNull() || distance < bestDistance) {
            best = frame;
            bestDistance = distance;
        }
    } while (reader.jumpToNextImage());
    if (best.isNull()) return best;
    return best.scaled(kIconSize, kIconSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace

void TForm1::SelectStartItem()
{
    CBox1->SetSelectedIndex(FindStartDriveItem(*CBox1, Main.StartPath));
}

void TForm1::CBox1Change()
{
    const std::string text = CBox1->EditText();
    // A typed lower-case letter names the same drive.
    const char letter = text.empty() ? '\0' : char(std::toupper(static_cast<unsigned char>(text[0])));
    std::string root = text.substr(0, std::min<size_t>(2, text.size())) + "\\";
    if (!root.empty() && root[0] != '\\') root[0] = letter;

    CheckDrive(letter);
    if (Main.DriveReady == 1) {
        // A typed letter moves the selected item too: the root's double click reads its flag.
        CBox1->SelectDriveKeepingText(letter);
        Main.MainTree.SetDrive(root);
        Main.MainTree.Refill(false);
    } else {
        AppMessageBox("メディアが挿入されておりません", kCaptionWarning, kMbOk);
        SelectStartItem();
        Main.MainTree.SetDrive(Main.StartPath);
        Main.MainTree.Refill(false);
    }
    const std::string current = Main.MainTree.CurrentPath(false);
    SetPathLabel(Label4, current);
    SetPathLabel(Label9, current);
    ShowDirCount();
    UpdateWriteCommands();
}

void TForm1::CBox1DropDown()
{
    FillDriveCombo(*CBox1);
}

void TForm1::CBox1DblClick()
{
    FillDriveCombo(*CBox1);
}

void TForm1::FBox1Change()
{
    const QByteArray mask = FBox1->currentText().toUtf8();
    FileBx1->SetMask(std::string(mask.constData(), size_t(mask.size())));
}

void TForm1::Check1Click()
{
    const bool on = Check1->isChecked();
    const FileTypeState state = on ? FileTypeState::All : FileTypeState::OrdinaryOnly;
    Main.MainTree.SetShowHidden(on ? 1 : 0);
    Main.DialogTree.SetShowHidden(on ? 1 : 0);
    Check2->setEnabled(on);
    Main.MainTree.Refill(false);
    Check2->setChecked(false);
    FileBx1->SetFileType(state);
    ShowDirCount();
}

void TForm1::Check2Click()
{
    if (!Check1->isChecked()) return;
    FileBx1->SetFileType(Check2->isChecked() ? FileTypeState::HiddenOrSystemOnly : FileTypeState::All);
}

void TForm1::FileBx1Change()
{
    Label2->setText(QString::number(FileBx1->Count()));
    Label2->adjustSize();
}

void TForm1::FileBx1Click()
{
    const std::string path = FileBx1->FocusedPath();
    if (LowerExtension(path) == ".ico")
        ShowIconPreview(path);
    else
        Image1->hide();
}

void TForm1::ShowIconPreview(const std::string& path)
{
    Image1->show();
    Image1->resize(70, 70);
    const auto linuxPath = driveMap().toLinux(path);
    const QImage icon = linuxPath ? ReadIcon(QFile::decodeName(QByteArray::fromStdString(*linuxPath))) : QImage();
    if (icon.isNull()) {
        // Not a readable icon: the preview, already open, stays empty, and the failure is reported as
        // any other error of a handler is.
        Image1->clear();
        ShowExceptionMessage(("Icon image is not valid: " + path).c_str());
        return;
    }
    // The icon goes into a 50 x 50 work picture at its top-left corner, and that picture is stretched
    // over (1, 1)-(100, 100) of the 70 x 70 preview, which cuts off what falls outside.
    QImage work(50, 50, QImage::Format_ARGB32_Premultiplied);
    work.fill(Qt::white);
    {
        QPainter painter(&work);
        painter.drawImage(0, 0, icon);
    }
    QPixmap preview(70, 70);
    preview.fill(Qt::white);
    {
        QPainter painter(&preview);
        painter.drawImage(QRect(1, 1, 99, 99), work);
    }
    Image1->setPixmap(preview);
}

void TForm1::FileBx1DblClick()
{
    const std::string path = FileBx1->FocusedPath();
    if (path.empty()) return; // no selected item under the focus: nothing to open
    if (LowerExtension(path) != ".ico") RunFile(path);
}

void TForm1::RunFile(const std::string& path)
{
    // The whole path, however long: a shortened one would name another file.
    if (OpenWithShell) OpenWithShell(path);
}

void TForm1::N12Click()
{
    FileBx1->SetAllSelected(true);
}

void TForm1::N14Click()
{
    FileBx1->SetAllSelected(false);
}

void TForm1::FileList1Click()
{
    for (const std::string& name : FileBx1->Names())
        FileListBuffer.push_back(name);
    SaveFileList();
}

QString SaveDialogTarget(const QString& dialogDirectory, const QString& selected)
{
    const QString folder = dialogDirectory.endsWith(QLatin1Char('/')) ? dialogDirectory : dialogDirectory + '/';
    if (!selected.startsWith(folder)) return selected; // picked in the list: a Linux path
    const QString typed = selected.mid(folder.size());
    const bool hasDrive = typed.size() >= 2 && typed[1] == QLatin1Char(':') && typed[0].isLetter();
    if (!hasDrive && !typed.contains(QLatin1Char('\\'))) return selected;
    // No name the program shows holds "\\": such a text is a drive path the user typed.
    const auto folderDrive = driveMap().fromLinux(QFile::encodeName(dialogDirectory).toStdString());
    const std::string text = typed.toUtf8().toStdString();
    std::string drivePath = text;
    if (!hasDrive) {
        if (!folderDrive) return {};
        drivePath = text[0] == '\\' ? folderDrive->substr(0, 2) + text : JoinPath(*folderDrive, text);
    }
    const auto linuxPath = driveMap().toLinux(drivePath);
    return linuxPath ? QFile::decodeName(QByteArray::fromStdString(*linuxPath)) : QString();
}

QString TForm1::RunSaveDialog()
{
    // The program's own dialog: drive paths, the "Hidden" boxes and Japanese, as everywhere else. An
    // existing file is replaced, as always.
    SaveListDialog dialog(this, *CBox1);
    dialog.Open(FileBx1->Directory(), FileBx1->FileType(), Check1->isChecked());
    const bool accepted = dialog.exec() == QDialog::Accepted;
    fs().SetCurrentDirectory(FileBx1->Directory()); // the dialog's file list moved it
    return accepted ? dialog.Target() : QString();
}

void TForm1::SaveFileList()
{
    const QString fileName = AskSaveFileName ? AskSaveFileName() : QString();
    if (fileName.isEmpty()) return;
    // Only a regular file or a new name is written: a FIFO or a device would hold the window.
    const QFileInfo target(fileName);
    if (target.exists() && !target.isFile()) return;
    std::string text;
    for (const std::string& line : FileListBuffer) {
        text += line;
        text += "\r\n";
    }
    // Written beside the earlier list and put in its place whole: a save that fails leaves it as it was.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) return; // nothing is reported when the list cannot be saved
    file.write(text.data(), qint64(text.size()));
    file.commit();
}

} // namespace zelo
