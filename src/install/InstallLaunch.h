#pragma once
// The install-and-launch operation behind the play, DromEd and install-only buttons: makes
// sure the selected mission is the one installed in its game directory (removing the one
// installed before), brings back its saved games and starts the game or the editor.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "game/SelectedMission.h"
#include "platform/Errors.h"

struct GameContext;
class ProgressSink;
class TZipArchiver;

// What the player asked for with the mission: play it, open it in DromEd, or only install it.
enum class InstallAction { Play, Editor, InstallOnly };

// One run of the operation: the selected mission as the analysis found it, and what to do.
struct InstallRequest {
    SelectedMission mission;
    InstallAction action = InstallAction::Play;
    // The selected row's record section (its "date" is set when the game starts) and its
    // name, remembered as the last selection.
    std::string recordKey;
    std::string selectionName;
    // The languages the mission offers and the one chosen (none offered: the game's own).
    std::vector<std::string> languageItems;
    std::string selectedLanguage;
    // The password given for an encrypted ZIP mission.
    std::string password;
};

// How the operation ended, for the window to show.
struct InstallOutcome {
    bool ran = false;        // false: nothing was done (no game, or the game still runs)
    bool refreshed = false;  // what is installed may have changed: the row and the top bar
                             // are to be read again
    bool started = false;    // the game or DromEd was started
    // What stopped the operation short of what was asked (the game still runs, a start
    // failed, the game's own files could not all be brought back), for the player to be told.
    std::optional<OperationFailed> failure;
};

// Thrown when the player stopped the install (Escape): what it had put in place so far is
// taken out as after any other failure.
class InstallCancelled : public TmError {
  public:
    using TmError::TmError;
};

// Runs the request on the games and settings of `context`. `work` is a component of the
// caller's, set up for the program (engine folder, messages), used for the backup and saves
// archives; the mission's own archive is opened from its path. Steps, the bar, notices and
// the player's cancel go through `progress`. An OperationFailed ends it in the outcome's
// failure; any other error is thrown, having saved what the marker gathered. However it
// ends, the status line no longer shows a step; after a start it says that the game or
// DromEd is starting.
InstallOutcome InstallAndLaunch(GameContext& context, const InstallRequest& request,
                                TZipArchiver& work, ProgressSink& progress);

// At start-up: in each configured game directory where an install or uninstall was
// interrupted, finishes the removal of the mission and brings back the game's own files
// and saved games, as a return to the original game does. A game left as it is (one of its
// programs runs, its files could not all be brought back) is a notice of `progress`, and
// the others go on. True when anything was done.
bool RecoverInterruptedOperations(GameContext& context, TZipArchiver& work, ProgressSink& progress);

// Day number of a date: days since 30 December 1899.
int32_t DayNumber(int year, unsigned month, unsigned day);
// Today's day number (local time).
int32_t TodayDayNumber();
