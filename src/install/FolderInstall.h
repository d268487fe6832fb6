#pragma once
// Missions in folders of their own, as the NewDark engine plays them: each extracted once
// into "<mission path>/<name>/" and started with "-fm=<name>"; no game file is touched.
// Installed missions stay until the player removes one; their saved games and screenshots
// stay in their folder and go into the mission's saves archive when it is removed.

#include <cstdint>
#include <string>
#include <vector>

#include "install/InstallLaunch.h"

struct GameContext;
class ProgressSink;
class TZipArchiver;

// True when missions of game `game` (1 or 2) are installed into mission folders.
bool UsesMissionFolders(const GameContext& context, uint8_t game);

// The folder a mission lives in or will live in.
struct MissionFolder {
    std::string root;        // the mission path, ending in the separator
    std::string name;        // the folder name the game is started with; empty when none is known
    bool installed = false;  // the folder is there and holds the mission
    std::string path() const { return name.empty() ? std::string() : root + name; }
};

// Where the mission of the request is installed, without opening its archive: the folder
// its record keeps, installed when that folder holds its mission file.
MissionFolder RecordedMissionFolder(const GameContext& context, const InstallRequest& request);

// The install-and-launch operation for a game that uses mission folders: the mission
// installed already starts at once; else it is extracted into its folder (a folder of the
// same name holding the same mission, from another loader, is used as it is) and started.
// A classic install still in the game directory is taken out first. `outcome` follows as it
// goes; what stops it is thrown (OperationFailed when the player is told why and nothing
// more is done).
void InstallIntoMissionFolder(GameContext& context, const InstallRequest& request,
                              TZipArchiver& work, ProgressSink& progress, InstallOutcome& outcome);

// Removes the installed mission of the request on the player's command: its saved games and
// screenshots go into its saves archive, which is read back (every file found with its size
// and CRC) before the folder is deleted. Throws OperationFailed, saying why, when nothing
// was removed.
void RemoveMissionFolder(GameContext& context, const InstallRequest& request, TZipArchiver& work,
                         ProgressSink& progress);

// At start-up: in each game's mission path, the folders an interrupted install or removal
// left are cleared up: an install's half folder goes, and so does a folder renamed for
// removal (it is renamed only after its saves archive was checked). True when anything
// was done.
bool RecoverMissionFolders(GameContext& context);

// The older versions of saved games the request's mission keeps in its saves archive (kept
// when a newer one took their name), newest first.
std::vector<std::string> OlderSavedGames(const GameContext& context, const InstallRequest& request,
                                         TZipArchiver& work);

// Brings the kept version `version` back in a free save slot: among the mission's saved
// games when it is installed (in its folder, or in the game directory), else into its saves
// archive for the next install. Returns the slot's file name; empty when nothing was done.
// Throws OperationFailed while the game still runs, EInOutError when it could not be done.
std::string BringBackSavedGame(GameContext& context, const InstallRequest& request,
                               const std::string& version, TZipArchiver& work,
                               ProgressSink& progress);
