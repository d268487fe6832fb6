#pragma once
// What the setup dialog does, without its widgets: the settings it shows, each game's
// mission-folder choice, engine version and own start command, the games it finds on the
// first start, the checks and writes of its OK, and the one-time rearrangement of a Thief 1
// installation's resource files into a "crfs" folder.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "game/GameSources.h"
#include "platform/Launcher.h"

class IniFile;

// Whether one game's missions go into mission folders, as the setup dialog shows it. Until
// the player sets it (in this dialog or at an earlier OK) it follows what the game directory
// in the box supports; a choice not made is not stored, so that the directory keeps deciding.
struct MissionFolderChoice {
    bool on = false;
    bool chosen = false;

    // The stored choice of game `game` (1 or 2), else what `gameDir` supports.
    static MissionFolderChoice load(const IniFile* settings, int game, const std::string& gameDir);
    // The game directory in the box is now `gameDir`.
    void follow(const std::string& gameDir);
    // The player set the box.
    void choose(bool value);
};

// What the setup dialog holds of one game.
struct GameSetup {
    std::string dir;
    MissionFolderChoice folders;
    std::string command;  // its own start command; empty: it starts the way its launcher does
};

// The contents of the setup dialog's controls.
struct SetupState {
    std::vector<std::string> missionDirs;  // kept sorted (missionDirLess)
    std::map<int, GameSetup> games;        // by game number: every game of the table
    std::vector<std::string> languages;    // the language file's languages, in their own words
    int languageIndex = -1;                // selected entry of `languages`; -1 = none
    int compressLevel = 5;                 // 1..9
    int windowMode = 0;                    // 0 = start maximised, 1 = remember place and size
    std::string startCommand = launcher::kDefaultStartCommand;  // starts Windows programs
};

// True while the setup has never been confirmed: "options"/"compression level" unset or
// 9999 (what the first OK writes).
bool setupNeverConfirmed(const IniFile* settings);

// Where the setup dialog finds games and learns how a game directory is started: by
// default the launchers' files under the home folder.
struct GameLookup {
    std::function<gamesources::Discovery()> find;
    std::function<gamesources::GameRunner(const std::string& gameDir)> runner;
};
GameLookup launcherGameLookup();

// Fills the empty game directories of a first start from the games found: a game found
// exactly once goes into its directory, one found more than once is left for the player
// to pick. Nothing is filled unless both directories are empty. Returns whether a game
// was found more than once.
bool fillFromFoundGames(SetupState& state, const gamesources::Discovery& found);

inline constexpr int kMinCompressLevel = 1;
inline constexpr int kMaxCompressLevel = 9;

// The order of the mission directory list: without regard to case, ties by bytes.
bool missionDirLess(const std::string& a, const std::string& b);
// Inserts `dir` at its sorted place; a directory already listed is added once more.
// Returns its index.
size_t insertMissionDir(std::vector<std::string>& dirs, const std::string& dir);

// What the setup reads and writes: the program's settings store, its language file and its
// folder. A store or file that is not open is read as empty and nothing is written to it.
struct SetupFiles {
    IniFile* settings = nullptr;
    const IniFile* languageFile = nullptr;
    std::string exeDir;  // ends in the separator
};

// Reads the settings store, the language file and the program's directory into a state.
SetupState LoadSetupState(const SetupFiles& files);

// What the OK needs of the main window. Each one not set is skipped.
struct SetupHooks {
    std::function<void()> maximiseMainWindow;
    std::function<void()> saveWindowGeometry;  // writes section "window"
    std::function<void()> scanCatalogue;       // a full scan
};

// Opens the setup dialog modally with its captions and settings; whatever it stores is in
// the settings store afterwards. Does nothing until a dialog is registered.
void RunSetupDialog();
std::function<void()> setSetupDialogHook(std::function<void()> hook);

// The OK of the setup dialog. Returns true when the dialog may close; false when a check
// failed, the rearrangement failed or a setting could not be written (each shown to the
// user through the prompter). Errors of the scan are thrown.
bool SetupOk(const SetupFiles& files, const SetupState& state, const SetupHooks& hooks);

// The engine version line for the game program of game `game` (1 or 2) in `gameDir`: the
// file version of its version resource, named NewDark where the directory holds NewDark's
// settings; "unknown" when it cannot be read; empty without a directory.
std::string engineVersionText(const std::string& gameDir, int game);

// The path a game started from `dir` sees for it in its configuration files. The games
// run under Wine on Linux, where the whole file system is drive Z:.
std::string gameConfigPath(const std::string& dir);

// The "install.cfg" line for resource files kept in `crfsPath` (as written in the file):
// a line without "resname_base" unchanged, one with it as "resname_base " + `crfsPath`
// followed by the old line's text from its first "+" on.
std::string rearrangedResnameLine(const std::string& line, const std::string& crfsPath);

// Asks whether to rearrange the Thief 1 installation in `dir` (ending in the separator)
// and does so when the answer is Yes. Returns false when the rearrangement failed (the
// error has been shown and the installation is as it was before).
bool RearrangeThief1Resources(const std::string& dir);
