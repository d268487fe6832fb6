#pragma once
// The directory chooser: a path field, a drive list above a folder list of the current
// drive, and a box for hidden folders. The chosen directory is the folder list's current
// directory.
//
// The "drives" are the volumes of the system: on Windows its logical drives, elsewhere
// the mounted file systems that hold user data (always "/" and the home directory's).
// The folder list shows the current directory with its parents above it and its
// subfolders below; one click on a folder opens it, and so does Enter. Backspace in the
// list (Alt+Up anywhere) goes to the parent; typing a name's first letters moves to it.
// A path typed into the path field is opened with Enter. Only OK accepts the dialog: Enter
// elsewhere opens what it names and never closes the dialog.

#include <QDialog>
#include <map>
#include <string>
#include <vector>

#include "platform/Prompter.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

// The mount points of a mounts table (the format of /proc/self/mounts) that a user picks
// folders on, sorted, with "/" and the volume of `home` always among them.
std::vector<std::string> mountedVolumes(const std::string& mountsTable, const std::string& home);
// The volume of `volumes` that holds `dir` (the longest one containing it); "" for none.
std::string volumeOf(const std::vector<std::string>& volumes, const std::string& dir);
// The directory the chooser opens for `path`: the path itself (resolved without regard to
// case, without trailing separator) when it is a directory, else its nearest existing
// parent, else `fallback`.
std::string existingDirectoryFor(const std::string& path, const std::string& fallback);

class TSelectDirDlg : public QDialog, public ModalDialog {
    Q_OBJECT
  public:
    explicit TSelectDirDlg(QWidget* parent = nullptr);
    ~TSelectDirDlg() override;

    QLabel* PathLabel = nullptr;
    QLineEdit* PathEdit = nullptr;
    QFrame* Bevel1 = nullptr;
    QComboBox* DriveComboBox = nullptr;
    QLabel* FolderLabel = nullptr;
    QListWidget* DirectoryListBox = nullptr;
    QCheckBox* ShowHiddenBox = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

    // The chosen directory: a full path without trailing separator (a root keeps its
    // own). Setting it opens the lists there (see existingDirectoryFor; an empty text
    // keeps the current directory, a leading "~" stands for the home directory).
    std::string Directory() const { return current_; }
    void SetDirectory(const std::string& dir);

    // Reads the drive list again (volumes come and go).
    void RefreshDrives();

    // Events.
    // Enter on the folder list: opens the current folder, and accepts it when nothing lies
    // below it to open.
    void EnterFolder();
    void DirectoryListBoxClick(QListWidgetItem* item);
    void DriveComboBoxChange(int index);
    // Opens the directory the path field names (relative to the current one when it is
    // not absolute). A name that is no directory is refused: the text stays, marked, and
    // the current directory with it. Returns whether the field names a directory.
    bool PathEditEnter();
    void ShowHiddenBoxClick();
    void OKBtnClick();
    // Opens the parent of the current directory, with the folder left selected in it.
    void GoUp();

    // ModalDialog. Cancel leaves the chosen directory as it was when the dialog opened.
    std::string dialogName() const override;
    int execModal() override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void fillFolders();
    void markPath(bool refused);
    void showDriveOf(const std::string& dir);

    std::string current_;
    std::vector<std::string> drives_;
    std::map<std::string, std::string> driveDirs_;  // each drive's current directory
};
