#pragma once
// The setup dialog: mission directories, game directories with their mission-folder choice
// and engine version, the compression level of the saved-game archives, the window mode and
// the user-interface language.

#include <QDialog>
#include <QGroupBox>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/SetupLogic.h"
#include "platform/Prompter.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;
class THEdit;
class THListBox;
class TSelectDirDlg;

// A group box of radio buttons laid out in columns, filled top to bottom.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
  public:
    explicit TRadioGroup(QWidget* parent = nullptr);

    int Columns = 1;
    std::vector<QRadioButton*> Items;

    // Appends an item (its objectName is the group's followed by its index).
    void AddItem(const QString& caption);
    // The checked item, -1 for none. An index set before its item exists takes effect
    // when the item is added.
    int ItemIndex() const;
    void SetItemIndex(int index);

  protected:
    void resizeEvent(QResizeEvent* e) override;

  private:
    void layoutItems();
    int itemIndex_ = -1;
};

class TSetupDlg : public QDialog, public ModalDialog {
    Q_OBJECT
  public:
    explicit TSetupDlg(QWidget* parent = nullptr);
    ~TSetupDlg() override;

    QGroupBox* MissionBox = nullptr;
    THListBox* missiondirs = nullptr;
    QPushButton* AddBtn = nullptr;
    QPushButton* RemoveBtn = nullptr;
    QGroupBox* ThiefBox = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label2 = nullptr;
    THEdit* t1dir = nullptr;
    THEdit* t2dir = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    // Per game: missions into mission folders, and the engine version of the game program.
    QCheckBox* t1folders = nullptr;
    QCheckBox* t2folders = nullptr;
    QLabel* t1version = nullptr;
    QLabel* t2version = nullptr;
    QGroupBox* OptionBox = nullptr;
    QLabel* CompressLabel = nullptr;
    QSpinBox* compresslevel = nullptr;
    QLabel* compressrates = nullptr;
    TRadioGroup* Window = nullptr;
    QGroupBox* LangBox = nullptr;
    QComboBox* Language = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    // The command that starts Windows programs (games, DromEd).
    QGroupBox* StartBox = nullptr;
    THEdit* startcommand = nullptr;

    // The directory chooser used by Add and the browse buttons (not owned). Without one
    // the dialog makes its own.
    TSelectDirDlg* SelectDirDlg = nullptr;
    // What OK asks of the main window; by default the main window's own actions.
    SetupHooks Hooks;

    // Fills the controls from the settings store.
    void LoadSettings();
    void SetState(const SetupState& state);
    SetupState State() const;

    // Events.
    void AddBtnClick();
    void RemoveBtnClick();
    void Button3Click();
    void Button4Click();
    void OKBtnClick();
    void CancelBtnClick();

    std::string dialogName() const override;
    int execModal() override;

  private:
    void createDirectoryBoxes();
    void createGameDetails();
    // Shows what belongs to the game directory now in the box of game `game` (1 or 2).
    void gameDirChanged(int game);
    void createOptionBoxes();
    void createButtons();
    void placeOnScreen();
    void addStartCommandField();
    TSelectDirDlg& chooser();
    void browse(THEdit* edit, std::string& typed);
    void setPath(THEdit* edit, std::string& typed, const std::string& value);
    std::string pathOf(const THEdit* edit, const std::string& typed) const;

    std::unique_ptr<TSelectDirDlg> ownChooser_;
    // The game directories as last set in program text, so that a name that is not
    // valid UTF-8 survives when it is not edited.
    std::string t1text_;
    std::string t2text_;
    MissionFolderChoice t1folders_;
    MissionFolderChoice t2folders_;
};

// Registers the setup dialog as the one RunSetupDialog shows.
void InstallSetupDialog();
// What each setup dialog made from now on does to the main window (the main window
// registers them; none at first). Returns the previous ones.
SetupHooks setSetupMainWindowHooks(SetupHooks hooks);
