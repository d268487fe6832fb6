#pragma once
// What the program relies on in a game directory. Names are relative to the game
// directory, which ends in the platform separator; "\" in a name below becomes the
// separator when the name is joined to the directory (fsx::joinMember).

#include <string>
#include <vector>

#include "platform/Launcher.h"

namespace gamedir {

// The game programs and editors: game/Games.h.
inline constexpr const char* kInstallCfg = "install.cfg";
inline constexpr const char* kOldInstallCfg = "OLDinstall.cfg";
inline constexpr const char* kDromedCfg = "dromed.cfg";
inline constexpr const char* kMissFlagStr = "strings\\missflag.str";
inline constexpr const char* kSavesDir = "SAVES";
inline constexpr const char* kSavesPattern = "*.sav";
inline constexpr const char* kMarker = "Tallowmere.Current";
inline constexpr const char* kBackupZip = "tallowmere_backup.zip";
inline constexpr const char* kAllSavesDir = "allsaves";
inline constexpr const char* kEditorScript = "tallowmere.dromed";
inline constexpr const char* kEditorScriptLine = "edit_script_tallowmere tallowmere.dromed";
inline constexpr const char* kCrfsDir = "crfs";
inline constexpr const char* kConvictOsm = "convict.osm";

// Lines the program writes end with CR LF.
inline constexpr const char* kLineEnd = "\r\n";

// "miss" + number + ".mis"
std::string missionFileName(int number);

// Path of a file in a game directory (gameDir ends in the separator).
std::string path(const std::string& gameDir, const std::string& relative);

// Starts a game or editor executable with the game directory as working directory and
// `arguments`; a Windows program through `windowsCommand`, in the game's Wine prefix.
launcher::StartResult start(const std::string& gameDir, const std::string& exeName,
                            const std::string& windowsCommand = launcher::kDefaultStartCommand,
                            const std::vector<std::string>& arguments = {});

}  // namespace gamedir
