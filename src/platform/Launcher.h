#pragma once
// Start request: start a program (or open a document or link) without waiting for it.
//
// A Windows program starts through the start command of Windows programs (default "wine";
// a Proton or umu-run wrapper with its arguments also serves), in the Wine prefix that
// holds it: the nearest folder above its own that holds "drive_c" and "system.reg" is
// passed as WINEPREFIX. Outside any prefix the environment's WINEPREFIX (or Wine's
// default prefix) applies.

#include <string>
#include <utility>
#include <vector>

class IniFile;

namespace launcher {

inline constexpr const char* kDefaultStartCommand = "wine";

// Why a start failed.
enum class StartFailure {
    none,
    programMissing,       // no such file, or not a program
    startCommandMissing,  // a Windows program, and the start command cannot be found
    notStarted,           // the process could not be executed
    steamMissing,         // started through Steam: neither "steam" on the PATH nor "steam.sh"
    flatpakMissing,       // started through Steam's Flatpak: "flatpak" cannot be found
    wineBuildMissing,     // the Wine build or Proton the game's launcher names is gone
    protonUnknown,        // DromEd of a Steam game: the Proton its prefix was made by is not known
};

struct StartResult {
    StartFailure failure = StartFailure::none;
    std::string startCommand;  // the start command's program word, when it was used; what
                               // was looked for when Steam or a Wine build is missing
    explicit operator bool() const { return failure == StartFailure::none; }
};

// Starts `program` with `workingDir` as its working directory and `arguments` (each passed
// as one word, never through a shell), not waited for. A native executable (or a script
// with its run bit) starts directly; a Windows program (a PE image, known by its content)
// starts through `windowsCommand`, the arguments after the program.
StartResult startProgram(const std::string& program, const std::string& workingDir,
                         const std::string& windowsCommand = kDefaultStartCommand,
                         const std::vector<std::string>& arguments = {});

// Extra environment variables of a start: name and value.
using Environment = std::vector<std::pair<std::string, std::string>>;

// Starts the command `words` (its program first, looked up on PATH when it holds no
// separator; each word passed as one, never through a shell) with `workingDir` as its
// working directory and `environment` added to this process's own, not waited for.
// startCommandMissing (the program word in startCommand) when the program cannot be found.
StartResult startCommandWords(const std::vector<std::string>& words, const std::string& workingDir,
                              const Environment& environment = {});

// The executable a program word names: looked up on PATH when it holds no separator, else
// the word itself when it is a file with its run bit; empty when there is none.
std::string findProgram(const std::string& program);

// The path a program under Wine opens for the absolute path `path`: on drive Z:, with
// backslashes ("/home/a/x.txt" -> "Z:\home\a\x.txt"). Any other text comes back as it is.
std::string windowsPath(const std::string& path);

// Hands a link (http:, mailto:, a document path) to the desktop's handler.
bool openLink(const std::string& link);

// True when `path` is a PE image (MZ header pointing at a "PE\0\0" signature).
bool isWindowsProgram(const std::string& path);

// The Wine prefix holding the folder `dir`: the nearest folder above it with a "drive_c"
// folder and a "system.reg" file, without a trailing separator; empty when there is none.
// The folder itself never counts: a game directory lies inside its prefix's "drive_c", so a
// prefix there is only what a mission brought along.
std::string findWinePrefix(const std::string& dir);

// A start command taken apart into words, as a shell would: blanks separate, quotes ('...'
// or "...") and a backslash keep blanks; a leading "~/" stands for the home folder.
std::vector<std::string> splitStartCommand(const std::string& command);

// The executable the start command runs (its first word found on PATH, or its path); empty
// when it cannot be found.
std::string findStartCommand(const std::string& command);

// "options"/"start command" of the settings; the default when unset or empty.
std::string startCommandSetting(const IniFile* settings);
// Stores it so that it reads back the same, also when it is quoted as a whole.
void storeStartCommand(IniFile& settings, const std::string& command);

// "options"/"start command <game>" (game 1 or 2): the command that game is started with
// instead of through its launcher, its program and arguments following; empty when unset.
std::string gameStartCommandSetting(const IniFile* settings, int game);
void storeGameStartCommand(IniFile& settings, int game, const std::string& command);

}  // namespace launcher
