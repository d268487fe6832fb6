#include "game/Games.h"

#include "platform/FileSystem.h"
#include "platform/TextUtil.h"

namespace games {

namespace {

std::vector<Game> makeTable() {
    Game thief1;
    thief1.number = 1;
    thief1.name = "Thief 1";
    thief1.mark = "thief1";
    thief1.program = "thief.exe";
    thief1.editor = "dromed.exe";
    thief1.editorStart = "dromEd.exe";
    thief1.editorConfig = "dromed.cfg";
    thief1.dirSetting = "thief1dir";
    thief1.steamAppIds = {"211600"};
    thief1.difficulties = {"Normal", "Hard", "Expert"};
    thief1.resourcesInCrfs = true;
    thief1.firstMissionFlags = "no_loadout";
    thief1.expectsMap = true;
    thief1.foldersCaptionSlot = 150;
    thief1.commandLabelSlot = 203;
    thief1.startFailureSlot = 21;
    thief1.labelName = "Label3";
    thief1.browseName = "Button3";

    Game thief2 = thief1;
    thief2.number = 2;
    thief2.name = "Thief 2";
    thief2.mark = "thief2";
    thief2.program = "thief2.exe";
    thief2.dirSetting = "thief2dir";
    thief2.missionMarker = "SKYOBJVAR";
    thief2.steamAppIds = {"211740"};
    thief2.resourcesInCrfs = false;
    thief2.firstMissionFlags = "skip";
    thief2.expectsMap = false;
    thief2.foldersCaptionSlot = 202;
    thief2.commandLabelSlot = 204;
    thief2.startFailureSlot = 22;
    thief2.labelName = "Label2";
    thief2.browseName = "Button4";

    Game shock2;
    shock2.number = 3;
    shock2.name = "System Shock 2";
    shock2.mark = "shock2";
    shock2.program = "shock2.exe";
    shock2.editor = "shocked.exe";
    shock2.editorStart = "shockEd.exe";
    shock2.editorConfig = "shocked.cfg";
    shock2.dirSetting = "shock2dir";
    // Known by its members, not by a marker (byMarker's catch-all is the first game
    // without one, Thief 1).
    shock2.steamAppIds = {"238210"};
    shock2.difficulties = {"Easy", "Normal", "Hard", "Impossible"};
    shock2.gamesysName = "shock2.gam";
    shock2.levelNames = {"earth",  "station", "medsci1", "medsci2", "eng1",     "eng2",
                         "hydro1", "hydro2",  "hydro3",  "ops1",    "ops2",     "ops3",
                         "ops4",   "rec1",    "rec2",    "rec3",    "command1", "command2",
                         "rick1",  "rick2",   "rick3",   "many",    "shodan"};
    shock2.expectsMap = false;
    shock2.expectsGoals = false;  // its objectives live in the level files
    shock2.contentTerms = ContentTerms::Shock;
    shock2.titledByReadme = true;
    shock2.foldersOnly = true;
    shock2.saveSlotPrefix = "save_";
    shock2.saveSlotCount = 15;
    shock2.saveFolders = {"current"};
    shock2.foldersCaptionSlot = 290;
    shock2.commandLabelSlot = 291;
    shock2.startFailureSlot = 292;
    shock2.labelName = "Label11";
    shock2.browseName = "Button11";
    shock2.labelCaption = "S&ystem Shock 2";
    return {thief1, thief2, shock2};
}

std::vector<Game>& table() {
    static std::vector<Game> games = makeTable();
    return games;
}

}  // namespace

const std::vector<Game>& all() {
    return table();
}

ScopedTable::ScopedTable(std::vector<Game> replacement) : saved_(std::move(replacement)) {
    table().swap(saved_);
}

ScopedTable::~ScopedTable() {
    table().swap(saved_);
}

const Game* withProgramIn(const std::string& dir) {
    for (const Game& game : all())
        if (fsx::fileExists(dir + game.program)) return &game;
    return nullptr;
}

bool isEditor(const std::string& exeName) {
    for (const Game& game : all())
        if (text::equalsNoCase(exeName, game.editor)) return true;
    return false;
}

std::string programNames() {
    std::string names;
    for (const Game& game : all()) names += (names.empty() ? "" : " or ") + game.program;
    return names;
}

const Game* find(int number) {
    for (const Game& game : all())
        if (game.number == number) return &game;
    return nullptr;
}

int byMarker(const std::function<bool(const std::string& marker)>& holds) {
    int unmarked = 0;
    for (const Game& game : all()) {
        if (game.missionMarker.empty()) {
            if (unmarked == 0) unmarked = game.number;
        } else if (holds(game.missionMarker)) {
            return game.number;
        }
    }
    return unmarked;
}

std::string editorCaption(int number) {
    const Game* game = find(number);
    if (game == nullptr && !all().empty()) game = &all().front();
    if (game == nullptr) return std::string();
    std::string caption = game->editorStart.substr(0, game->editorStart.rfind('.'));
    if (!caption.empty() && caption[0] >= 'a' && caption[0] <= 'z')
        caption[0] = static_cast<char>(caption[0] - 'a' + 'A');
    return caption;
}

std::string originalRowText(int number) {
    const Game* game = find(number);
    return game ? " Original (" + game->name + ")" : std::string();
}

}  // namespace games
