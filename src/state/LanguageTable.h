#pragma once
// The language table: the user-interface texts read from the language file, in the language
// chosen in the settings, with English as the fallback of each text separately.

#include <array>
#include <functional>
#include <string>

class IniFile;

// Slots 1 to 80 are the original table; later texts are numbered from 81 on, in blocks per
// subject: 81-99 install and uninstall, 100-119 mission archives and read-mes, 120-139
// desktop integration and game start, 140-159 catalogue and dialogs, 160-169 starts through
// the game's launcher, 170-179 the games found and the start commands of the setup dialog,
// 180-184 the end of an install: a cancel, the start under way; 185-189 the titles a
// catalogue scan reads in the background; 195-199 the directory chooser; 200-204 the setup
// dialog's captions with keys of their own (OK, Cancel, Thief 2's folder box, the command
// labels); 205 the grid's sort menu; 206-211 saved games kept and brought back; 212 a mission
// without a read-me; 217-259 the player's library (named below), 260-269 screenshots,
// 270-289 the filter panel, 290-309 System Shock 2.
inline constexpr int kLanguageSlotCount = 309;

// The library's texts: column titles (in column order), the finished box without a
// difficulty, the panel, the grid menu's library commands and their messages.
namespace libraryslot {
inline constexpr int kFinishedOn = 217;  // ... 224: the library's column titles
inline constexpr int kUnknown = 225;
inline constexpr int kNotes = 226;
inline constexpr int kMarkFinishedOn = 227;
inline constexpr int kRate = 228;
inline constexpr int kNoRating = 229;
inline constexpr int kAddTag = 230;
inline constexpr int kRemoveTag = 231;
inline constexpr int kTagToAdd = 232;
inline constexpr int kExport = 233;
inline constexpr int kImport = 234;
inline constexpr int kFileType = 235;
inline constexpr int kExported = 236;
inline constexpr int kImported = 237;
inline constexpr int kNotImported = 238;
inline constexpr int kLibrary = 239;
inline constexpr int kNotFinished = 240;
inline constexpr int kRandomMission = 241;
inline constexpr int kScreenshots = 260;
}  // namespace libraryslot

// Slots 1..kLanguageSlotCount; slot 0 is not used.
using LanguageTexts = std::array<std::string, kLanguageSlotCount + 1>;

// Reads the table into `texts` from `languageFile` (every slot empty without one), in the
// language `settings` choose. Returns the game language folder of that language
// ("english", "german", ...).
std::string readLanguageTable(const IniFile* settings, const IniFile* languageFile,
                              LanguageTexts& texts);

// The program's language table as the application keeps it; it installs its own at
// start-up. Nothing of it is owned.
struct LanguageTable {
    LanguageTexts* texts = nullptr;            // what slot() reads
    std::string* interfaceLanguage = nullptr;  // what interfaceLanguage() reads
    std::function<void()> load;                // reads `texts` again from the program's files
};
// Installs `table`; returns the one installed before.
LanguageTable useLanguageTable(LanguageTable table);

// Loads the installed table again and then runs the apply hook, so that the main window
// takes its captions and hints at once.
void LoadLanguageTable();

// The function that applies the table to the main window; empty = none. Returns the
// previous one.
std::function<void()> setLanguageApplyHook(std::function<void()> hook);

// Language slot n (1..kLanguageSlotCount); empty for other numbers and without a table.
const std::string& slot(int n);

// The game language folder of the interface's language ("english", "german", ...).
const std::string& interfaceLanguage();
