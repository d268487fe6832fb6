#pragma once
// What both ways of installing a mission share: its archive opened, its members extracted
// into a folder with the MP3 tracks converted, its flags file, and the start of the game or
// of DromEd.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/MissionArchive.h"
#include "game/GameContext.h"
#include "install/InstallLaunch.h"
#include "install/InstallPlan.h"
#include "platform/Progress.h"

class TZipArchiver;

// The archive path of a game row: the original game, no mission.
inline constexpr const char* kOriginalArchive = " Original";

// One run of an install operation: the program's games and settings, the request, what it
// works with, the game it concerns and, for a game with mission folders, its mission path.
struct Operation {
    GameContext& context;
    const InstallRequest& request;
    TZipArchiver& work;
    ProgressSink& progress;
    uint8_t game = 0;
    std::string gameDir;
    std::string root;

    GameRecord& record() const { return context.games[game]; }
};

// Throws OperationFailed, naming the program, while a program started from the game
// directory runs: nothing goes in or out then, so that no saved game is lost half-written.
void refuseWhileRunning(const std::string& gameDir);

// The language file's words for why an archive cannot be read.
std::string unreadableText(ArchiveStatus status);

// The mission's archive opened with its member list, a ZIP archive through a component of
// its own set up as `work` is; nothing for the original game. Throws when the list of a
// .7z or .rar archive cannot be read.
std::unique_ptr<MissionArchive> openSelected(const std::string& archive,
                                             const InstallRequest& request,
                                             const TZipArchiver& work);

// Stops an install whose extraction or conversion did not complete.
[[noreturn]] void stopIncomplete(const std::string& archive, const std::string& why);
// Stops an install the player cancelled, as stopIncomplete does.
[[noreturn]] void stopCancelled(const std::string& archive);

// Extracts the planned members into `gameDir` and converts the MP3 files to WAV. Throws
// when not everything was extracted and converted, or when the player cancelled.
// `exeDir` is the program's folder (its sound plug-in).
void extractAndConvert(MissionArchive& archive, ProgressSink& progress, const std::string& gameDir,
                       const std::vector<PlannedMember>& plan, const std::string& exeDir);

// Step 4: the mission number and the flags file the game needs when the mission brings no
// flags file. Neither file is ever written through a link: what lies behind it is not the
// game directory's, and the uninstall would not take it out again.
struct FlagsPlan {
    bool write = false;                   // the mission brings no flags file
    bool linked = false;                  // the flags file's name leads through a link
    std::optional<std::string> replaced;  // the game's flags file the new one replaces
    unsigned number = 0;                  // the mission number the flags file names
    bool numberedCopy = false;            // the mission file is copied to its number
};

FlagsPlan flagsPlan(const SelectedMission& mission, const std::string& gameDir);

// The flags file (when `flagsFile`) and the numbered copy of the mission file.
void writeMissionFlags(const std::string& gameDir, const std::string& missionFile, uint8_t game,
                       const std::vector<PlannedMember>& plan, bool flagsFile,
                       const FlagsPlan& flags);

// Starts DromEd of the operation's game directory with its editor script loading the
// mission's file. Throws OperationFailed when it could not be started.
void startEditor(const Operation& op, const std::vector<std::string>& arguments = {});
// Starts the game of the operation's game directory; the request's record's "date" is
// today then. Throws OperationFailed when it could not be started.
void startGame(const Operation& op, const std::vector<std::string>& arguments = {});

// The busy state for the life of the object; the bar goes when it ends, however it ends.
class BusyScope {
  public:
    explicit BusyScope(ProgressSink& progress) : progress_(progress) { progress_.busy(true); }
    ~BusyScope() {
        progress_.showBar(false);
        progress_.busy(false);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    ProgressSink& progress_;
};
