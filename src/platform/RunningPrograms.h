#pragma once
// The programs running from a folder: a game or DromEd started from a game directory, run
// as a native program, as a script or under Wine or Proton (where the process names its
// program by its Windows path). Read from /proc on Linux, skipping the entries that cannot
// be read (processes of other users); from a process snapshot on Windows.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace running {

inline constexpr const char* kProcRoot = "/proc";
// How long a program found running may take to end before it counts as running: a game
// that has just been closed takes a moment to go.
inline constexpr std::chrono::milliseconds kGrace{1500};

struct Program {
    long pid = 0;
    std::string path;  // its program as the process names it (a Windows path under Wine)
};

// Every process but this one whose program lies in the folder `dir` or below it:
// - its executable (/proc/<pid>/exe) lies there;
// - its second or third command word (options left out) names a program file there, one
//   with a run bit or a ".exe" name: a script, which the kernel runs as "interpreter
//   [option] script", or a Windows program handed to Wine by its Unix path;
// - its command's first word is a Windows path there (compared without regard to case):
//   "Z:\" is the root folder, another drive the "dosdevices/<x>:" link (or "drive_c") of the
//   game's Wine prefix or of the process's own (WINEPREFIX, else ~/.wine); a drive that
//   none of them maps counts when the process's working folder lies in `dir`.
// `procRoot` stands for /proc (tests pass a folder laid out like it). Empty for an empty
// `dir`.
std::vector<Program> programsFrom(const std::string& dir, const std::string& procRoot = kProcRoot);

// A program running from `dir` that has not ended within `grace`; nothing when none runs.
std::optional<Program> stillRunningFrom(const std::string& dir,
                                        std::chrono::milliseconds grace = kGrace,
                                        const std::string& procRoot = kProcRoot);

// `text` with its "%s" replaced by the program's path (appended after a blank when `text`
// holds no "%s").
std::string describe(const std::string& text, const Program& program);

}  // namespace running
