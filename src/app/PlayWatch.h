#pragma once
// The play time of a game that outlives the window. When the window closes while the game
// it started still runs, the program starts itself once more as a watcher without a
// window: it waits for the game to end and leaves the seconds it ran in a file of their
// own beside the settings (never in the settings, which a new window may be writing). The
// next start adds such files to the missions' records.

#include <cstdint>
#include <string>

class IniFile;

namespace playwatch {

// The command line of a watcher: kOption GAME_DIR RECORD_KEY SINCE PENDING_DIR, SINCE
// being the Unix time the game was first seen running.
inline constexpr const char* kOption = "--watch-play-time";

// The folder of the pending play times of the settings file `settingsFile`.
std::string pendingDir(const std::string& settingsFile);

// Watches the game of `gameDir` (a program of that folder running, as running::programsFrom
// finds it) until it ends, at most a week, looking every `lookMs`; then writes the seconds
// from `since` to its last sighting into a new file in `pendingDir`. Returns 0 when a time
// was written or the game had already ended with none to count.
int watch(const std::string& gameDir, const std::string& recordKey, int64_t since,
          const std::string& pendingDir, int lookMs = 1000);

// Answers a watcher's command line: the exit code (2 for one with the wrong arguments), or
// -1 when `argv` does not start with kOption.
int answer(int argc, const char* const* argv);

// Adds every pending play time in `pendingDir` to its record in `settings`, then removes
// its file (a file that cannot be read is left for the next start). A file whose time was
// added before its removal was cut short is only removed. Returns how many were added.
int merge(IniFile& settings, const std::string& pendingDir);

}  // namespace playwatch
