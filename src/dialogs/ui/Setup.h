#pragma once
// The setup dialog: mission directories, game directories with their mission-folder choice,
// engine version and launcher, the games found in the launchers' files, the compression
// level of the saved-game archives, the window mode, the user-interface language and the
// start commands.

#include <QDialog>
#include <QGroupBox>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/SetupLogic.h"
#include "game/Games.h"
#include "platform/Prompter.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
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
    QLabel* missionshelp = nullptr;  // what the mission directories are
    QPushButton* AddBtn = nullptr;
    QPushButton* RemoveBtn = nullptr;
    QGroupBox* ThiefBox = nullptr;
    // The controls of one game, in the games box and in the start commands' box.
    struct GameControls {
        QLabel* label = nullptr;  // "Thief &1", the directory's label
        THEdit* dir = nullptr;
        QPushButton* browse = nullptr;
        QCheckBox* folders = nullptr;  // missions into mission folders
        QLabel* version = nullptr;     // the engine version of the game program
        QLabel* runner = nullptr;      // the launcher it starts through ("Starts through: Steam")
        QLabel* commandLabel = nullptr;
        THEdit* command = nullptr;  // its own start command
    };
    // The controls of game `number`, one set for every game of the table.
    GameControls& game(int number) { return games_.at(number); }
    // The games found in the launchers' files; one picked goes into its directory box.
    QPushButton* findgames = nullptr;
    THListBox* foundgames = nullptr;
    QPushButton* usegame = nullptr;
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
    // The files it reads and writes (those setSetupFiles gives when it is made).
    SetupFiles Files;
    // Where Find games looks; by default the launchers' files (setSetupGameLookup).
    GameLookup Games;

    // Fills the controls from the settings store. Before the first confirmed setup, with
    // every game directory empty, the games found fill them (see fillFromFoundGames).
    void LoadSettings();
    void SetState(const SetupState& state);
    SetupState State() const;

    // Events.
    void AddBtnClick();
    void RemoveBtnClick();
    void FindGamesClick();
    void UseGameClick();
    void OKBtnClick();
    void CancelBtnClick();

    std::string dialogName() const override;
    int execModal() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    void showEvent(QShowEvent* e) override;

  private:
    void arrange();
    void orderTabs();
    void createDirectoryBoxes();
    void addGameRows(const games::Game& game);
    // Shows what belongs to the game directory now in the box of game `game`.
    void gameDirChanged(int game);
    void createOptionBoxes();
    void createButtons();
    void createGameSearch();
    void createStartCommands();
    // Lists the games of `found`; the list's hint names the launcher files not read.
    void showFoundGames(gamesources::Discovery found);
    void useFoundGame(int row);
    void findOnFirstStart();
    TSelectDirDlg& chooser();
    void browse(THEdit* edit, std::string& typed);
    void setPath(THEdit* edit, std::string& typed, const std::string& value);
    std::string pathOf(const THEdit* edit, const std::string& typed) const;

    std::unique_ptr<TSelectDirDlg> ownChooser_;
    std::map<int, GameControls> games_;
    // The game directories as last set in program text, so that a name that is not
    // valid UTF-8 survives when it is not edited; the mission-folder choices.
    std::map<int, std::string> typed_;
    std::map<int, MissionFolderChoice> folderChoices_;
    gamesources::Discovery found_;     // what the list shows
    QGridLayout* gameRows_ = nullptr;  // the games box's rows
};

// Registers the setup dialog as the one RunSetupDialog shows.
void InstallSetupDialog(std::function<SetupFiles()> files);
// What each setup dialog made from now on does to the main window (the main window
// registers them; none at first). Returns the previous ones.
SetupHooks setSetupMainWindowHooks(SetupHooks hooks);
// Where each setup dialog made from now on finds the files it reads and writes.
void setSetupFiles(std::function<SetupFiles()> files);
// Where each setup dialog made from now on finds games (launcherGameLookup at first).
// Returns the previous one.
GameLookup setSetupGameLookup(GameLookup lookup);
