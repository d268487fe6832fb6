#pragma once
// Every setting of the program's settings file outside the mission records, declared once:
// its section, key, type and default. Code reads and writes settings through these
// declarations and the accessors below, never by a section or key of its own.

#include <cstdint>
#include <string>
#include <vector>

class IniFile;

namespace settings {

template <typename T>
struct Setting {
    std::string section;
    std::string key;
    T fallback;
};

using Text = Setting<std::string>;
using Number = Setting<int32_t>;
using Flag = Setting<bool>;

// The sections.
inline const std::string kOptions = "options";
inline const std::string kWindow = "window";
// The mission directories, one key each (the directory) with the value "1". Erased by a
// name of another case, as earlier versions wrote it.
inline const std::string kMissionDirectories = "mission directories";
inline const std::string kMissionDirectoriesErased = "Mission directories";

// "options"/"compression level", and "window"/"top", read with this mean: never set.
inline constexpr int32_t kNotSet = 9999;

// [options]
inline const Number compressionLevel{kOptions, "compression level", 5};
inline const Number language{kOptions, "language", 1};
inline const Text lastSelection{kOptions, "last selection", ""};
inline const Text columns{kOptions, "columns", ""};
inline const Text crfsDeclined{kOptions, "crfs declined", ""};
inline const Text startCommand{kOptions, "start command", ""};
// A game's own entries, by the key the games table gives or by its number.
Text gameDirectory(const std::string& key);
Text gameStartCommand(int game);
Flag missionFolders(int game);

// [window]: the place and size of the main window, the widths the player gave the grid's
// columns and the bars he dragged.
inline const Number windowTop{kWindow, "top", 0};
inline const Number windowLeft{kWindow, "left", 0};
inline const Number windowHeight{kWindow, "height", 460};
inline const Number windowWidth{kWindow, "width", 610};
// The list's height in thousandths of the window's (0: 5/11) and the information panel's
// width (0: its narrowest).
inline const Number listShare{kWindow, "list share", 0};
inline const Number infoPanelWidth{kWindow, "info panel width", 0};
Number columnWidth(int column);  // 0-based column, "column width 1" for the first

// Reads; a missing settings file (nullptr) reads the fallback, or `fallback` where given.
std::string get(const IniFile* file, const Text& setting);
std::string get(const IniFile* file, const Text& setting, const std::string& fallback);
int32_t get(const IniFile* file, const Number& setting);
int32_t get(const IniFile* file, const Number& setting, int32_t fallback);
bool get(const IniFile* file, const Flag& setting);
bool has(const IniFile* file, const Text& setting);
bool has(const IniFile* file, const Number& setting);
bool has(const IniFile* file, const Flag& setting);

void set(IniFile& file, const Text& setting, const std::string& value);
void set(IniFile& file, const Number& setting, int32_t value);
void set(IniFile& file, const Flag& setting, bool value);
void erase(IniFile& file, const Text& setting);
void erase(IniFile& file, const Number& setting);

// The mission directories, and a new list of them.
std::vector<std::string> missionDirectories(const IniFile& file);
void setMissionDirectories(IniFile& file, const std::vector<std::string>& dirs);
// The window's section erased (its place and size are then not remembered).
void forgetWindow(IniFile& file);

}  // namespace settings
