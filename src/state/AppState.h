#pragma once
// Process-wide state, created at start-up and living until the end.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/IniFile.h"
#include "platform/Settings.h"
#include "state/LanguageTable.h"

// One record per game, by its number (game/Games.h).
struct GameRecord {
    std::string installed = " Original";       // path of the installed archive
    std::string installedCheck = "$00000000";  // its size text or checksum text
    std::string gameDir;                       // ends in the separator; empty = not configured
    uint8_t language = 0;                      // 1..4, 0 while install.cfg named none
};
using GameRecords = std::map<int, GameRecord>;

inline constexpr std::array<const char*, 5> languageNames = {"", "english", "german", "french",
                                                             "spanish"};

inline constexpr int32_t kNotSet = settings::kNotSet;

struct AppState {
    std::string exeDir;                     // ends in the separator
    std::unique_ptr<IniFile> settings;      // "Tallowmere.ini", apppaths::settingsFile
    std::unique_ptr<IniFile> languageFile;  // "Tallowmere.dat", read only
    std::array<std::string, kLanguageSlotCount + 1> languageSlots;  // 1..kLanguageSlotCount
    // The game language folder of the interface's language ("english", "german", ...).
    std::string interfaceLanguage = "english";
    std::map<int, GameRecord> thiefdata;  // by game number
    std::string applicationTitle;         // product name + " v" + product version
};

AppState& app();
// Opens the settings and the language file of the program in `exeDir` where they live
// (platform/AppPaths.h; a missing file reads as empty).
void openAppFiles(const std::string& exeDir);
void closeAppFiles();

// Language slot n (1..kLanguageSlotCount); empty for other numbers.
const std::string& slot(int n);
