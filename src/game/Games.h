#pragma once
// The games the program knows, one row of facts each. Whatever asks "which game" asks this
// table; adding a game is adding a row (and its tests).

#include <functional>
#include <string>
#include <vector>

namespace games {

// What the information panel's content boxes tell of a game's missions: Thief's goals, map,
// automap and books, or System Shock 2's texts, level maps, scripts and logs.
enum class ContentTerms { Thief, Shock };

struct Game {
    // The key everywhere a game is stored: a record's "type", the first digit of a type
    // mark ("21"), the setting of its directory, the index of its state.
    int number = 0;
    std::string name;          // "Thief 2", the same in every language
    std::string mark;          // the picture of its mark in the list ("thief2")
    std::string program;       // the game program in its directory
    std::string editor;        // the level editor, whose presence enables it
    std::string editorStart;   // the name the editor is started by
    std::string editorConfig;  // the editor's own settings, which gain the script's line
    std::string dirSetting;    // its directory in the settings' options ("thief2dir")
    // A mission file holding this text is this game's; the game whose marker is empty
    // takes the missions no other marker claims.
    std::string missionMarker;
    std::vector<std::string> steamAppIds;   // its store pages, for finding it
    std::vector<std::string> difficulties;  // as the game names them, easiest first
    // Thief 1 reads its resources from a "crfs" folder, which the setup offers to make.
    bool resourcesInCrfs = false;
    // Its briefing-less first mission in a campaign's flags file: the first line's flags.
    std::string firstMissionFlags;
    // Its missions are expected to have a map; the panel notes one without.
    bool expectsMap = false;
    // Its missions are expected to have goals ("goals.str"); the panel notes them missing.
    bool expectsGoals = true;
    ContentTerms contentTerms = ContentTerms::Thief;
    // Its missions seldom carry a titles file ("strings\titles.str"): one without is titled
    // by its fm.ini or its read-me.
    bool titledByReadme = false;
    // Its missions are recognised by their members before any marker is searched: a mission
    // with no numbered mission file ("missNN.mis") is this game's when it holds the game's
    // own game system (`gamesysName`) or a level file named like one of the game's own
    // (`levelNames`, lower case, without ".mis"). Empty for games known by their markers.
    std::string gamesysName;
    std::vector<std::string> levelNames;
    // Its missions are only ever installed into mission folders (never into the game
    // directory), and without the Thief steps: no flags file, no numbered mission file.
    bool foldersOnly = false;
    // Its saved games are folders in the mission folder: `saveSlotPrefix` and a number below
    // `saveSlotCount` ("save_0" ... "save_14"), and the folders of `saveFolders` ("current").
    // Empty for games that keep saved games as files in a "saves" folder.
    std::string saveSlotPrefix;
    int saveSlotCount = 0;
    std::vector<std::string> saveFolders;
    // The setup dialog's controls of the game: the caption slots of its mission-folder box
    // and of its start command's label, the names of its directory label and browse button.
    int foldersCaptionSlot = 0;
    int commandLabelSlot = 0;
    int startFailureSlot = 0;  // the message when its program does not start
    std::string labelName;
    std::string browseName;
    // The caption of its directory label with its key ("S&ystem Shock 2"); empty: its name
    // with the key on its last word ("Thief &2").
    std::string labelCaption;
};

// Every game, in the order of their numbers.
const std::vector<Game>& all();

// For tests: another table (a throwaway game beside the real ones) for the life of the object.
class ScopedTable {
  public:
    explicit ScopedTable(std::vector<Game> table);
    ~ScopedTable();
    ScopedTable(const ScopedTable&) = delete;
    ScopedTable& operator=(const ScopedTable&) = delete;

  private:
    std::vector<Game> saved_;
};
// The game numbered `number`; nullptr for a number no game has.
const Game* find(int number);
inline bool known(int number) {
    return find(number) != nullptr;
}

// The first game whose program the directory `dir` (ending in the separator) holds;
// nullptr when it holds none.
const Game* withProgramIn(const std::string& dir);
// Whether `exeName` (any case) is the editor of a game.
bool isEditor(const std::string& exeName);
// The games' programs, for a message: "a or b".
std::string programNames();

// The game of a mission file: the first game whose marker `holds` answers true for, else
// the game without a marker.
int byMarker(const std::function<bool(const std::string& marker)>& holds);

// The text of a game's own row in the mission list (" Original (Thief 2)").
std::string originalRowText(int number);

// The name of a game's editor on its button, from the name it is started by: "DromEd",
// "ShockEd". The first game's for a number no game has.
std::string editorCaption(int number);

}  // namespace games
