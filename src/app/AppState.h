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
#include "state/GameRecord.h"
#include "state/LanguageTable.h"

inline constexpr int32_t kNotSet = settings::kNotSet;

struct AppState {
    std::string exeDir;                     // ends in the separator
    std::unique_ptr<IniFile> settings;      // "Tallowmere.ini", apppaths::settingsFile
    std::unique_ptr<IniFile> languageFile;  // "Tallowmere.dat", read only
    LanguageTexts languageSlots;            // 1..kLanguageSlotCount, what slot() reads
    // The game language folder of the interface's language ("english", "german", ...).
    std::string interfaceLanguage = "english";
    std::map<int, GameRecord> thiefdata;  // by game number
    std::string applicationTitle;         // product name + " v" + product version
};

// The program's state; its language table is the one slot() reads (state/LanguageTable.h).
AppState& app();
// Opens the settings and the language file of the program in `exeDir` where they live
// (platform/AppPaths.h; a missing file reads as empty).
void openAppFiles(const std::string& exeDir);
void closeAppFiles();
