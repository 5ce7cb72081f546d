// SaveListDialog: the save dialog of the file list (SaveDialog1): the drives as their letters, a
// directory pane and the files of the chosen directory, and the name typed or picked, all as drive
// paths; hidden entries shown as the main window's "Hidden" boxes show them.
#pragma once

#include "model/file_list.h"
#include "model/path_tree.h"
#include "ui_save_list_dialog.h"

#include <QDialog>
#include <QString>

#include <string>

namespace zelo {

class DirListBox;
class DriveComboBox;
class FileListBox;

class SaveListDialog : public QDialog, public Ui::SaveDialog1 {
    Q_OBJECT
public:
    // drives: the main window's drive selector, whose entries the dialog lists.
    SaveListDialog(QWidget* parent, const DriveComboBox& drives);

    // Opens in directory (a drive path) with hidden entries shown as fileType and showHidden say.
    void Open(const std::string& directory, FileTypeState fileType, bool showHidden);
    // The Linux file the answer names (empty: cancelled, or a path on no drive).
    QString Target() const { return m_target; }

    void CBox1Change();
    void DirBx1DblClick();
    void FileBx1Click();
    void SaveClick();

    // The controls are the layout's (save_list_dialog.ui).
    DirListBox* DirBx1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ShowDirectory();

    PathTree m_tree;
    QString m_target;
};

} // namespace zelo
