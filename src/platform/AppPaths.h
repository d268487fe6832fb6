#pragma once
// Where the program's own files live: the settings, the language file, the engines and the
// sound plug-in, and the cache. A copy run from a folder of its own (a build folder, an
// unpacked portable copy) keeps everything beside the executable; an installed program
// (bin/ with share/tallowmere/ and lib/tallowmere/ beside it) follows the desktop's base
// directories. Every directory returned ends in the separator.

#include <string>

namespace apppaths {

inline constexpr const char* kSettingsName = "Tallowmere.ini";
inline constexpr const char* kLanguageName = "Tallowmere.dat";
inline constexpr const char* kPluginName = "mp3dec.plg";
inline constexpr const char* kFolderName = "tallowmere";

// True when the executable in `exeDir` is an installed one: no language file beside it, one
// in ../share/tallowmere/.
bool isInstalled(const std::string& exeDir);

// The folder of the settings file: `exeDir` when a settings file lies there already, or when
// the folder is writable and the program is not installed; otherwise the user's
// configuration folder ($XDG_CONFIG_HOME, default ~/.config) + "tallowmere/".
std::string settingsDir(const std::string& exeDir);
std::string settingsFile(const std::string& exeDir);

// The language file: beside the executable, else ../share/tallowmere/; the path beside the
// executable when neither exists (a missing file reads as empty).
std::string languageFile(const std::string& exeDir);

// The folder of the engines and the sound plug-in: `exeDir` when the plug-in or an engine
// lies there, else ../lib/tallowmere/ when that exists, else `exeDir`.
std::string libraryDir(const std::string& exeDir);

// The user's cache folder for this program: $XDG_CACHE_HOME (default ~/.cache) +
// "tallowmere/". Not created here.
std::string cacheDir();

}  // namespace apppaths
