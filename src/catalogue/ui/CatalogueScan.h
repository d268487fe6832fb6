#pragma once
// The catalogue scan: builds the mission grid from scratch (one row per configured game and
// one per mission archive in the mission directories) and reads the games' installed
// state, or in its refresh form only re-reads the installed state. Either form marks the
// missions installed in mission folders (Mission::inFolder).

#include <functional>
#include <string>
#include <vector>

#include "state/GameRecord.h"

class IniFile;
class TMissionGrid;

// A mission row whose record holds no title yet, at its row before the grid is sorted.
struct TitleRead {
    std::string recordKey;
    std::string path;  // its archive
    int row = 0;
};

struct ScanEnv {
    TMissionGrid* grid = nullptr;
    IniFile* settings = nullptr;   // the program's settings, the mission records among them
    GameRecords* games = nullptr;  // each game's state, by number: the scan sets its directory
    std::string applicationTitle;  // the caption's beginning
    std::function<void(const std::string&)> setCurrentBar;
    std::function<void(const std::string&)> setCaption;
    std::function<void()> runSetupDialog;
    std::function<void(int col, int row)> selectCell;  // the grid's selection handler
    // Reads the titles of the rows that have none yet: those that read quickly into their
    // rows at once (the scan has not sorted them yet), the others later on.
    std::function<void(std::vector<TitleRead>)> readTitles;
    // Reads what the archives seen for the first time say of themselves (author, release
    // date, tags), in the background.
    std::function<void(std::vector<TitleRead>)> readFacts;
    int32_t today = 0;  // the day number a newly seen archive is added on
};

void ScanCatalogue(bool refreshOnly, const ScanEnv& env);

// Number of full scans started so far. A scan that opened the setup dialog and finds that
// the dialog ran a full scan of its own abandons itself.
unsigned FullScanCount();

// The existing mission directories, and what they hold now as one text (every mission
// archive's folder, name and size). A full scan keeps what it saw; the list is out
// of date when the two differ.
std::vector<std::string> MissionDirectories(const IniFile& settings);
std::string MissionArchivesNow(const IniFile& settings);
const std::string& ScannedMissionArchives();
