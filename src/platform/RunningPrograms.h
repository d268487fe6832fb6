#pragma once
// The programs running from a folder: a game or DromEd started from a game directory, run
// as a native program, as a script or under Wine or Proton (where the process names its
// program by its Windows path or by the name it was started by). Read from /proc on Linux,
// skipping the entries that cannot be read (processes of other users); from a process
// snapshot on Windows.

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
    std::string path;  // its program: the file's path, or the Windows path Wine names it by
};

// Every process but this one whose program lies in the folder `dir` or below it:
// - its executable (/proc/<pid>/exe) lies there;
// - its first command word is a path there: as the kernel starts a program, or a Windows
//   path as Wine shows one (compared without regard to case): "Z:\" is the root folder,
//   another drive the "dosdevices/<x>:" link (or "drive_c") of the game's Wine prefix or of
//   the process's own (WINEPREFIX, else ~/.wine); a drive that none of them maps counts
//   when the process's working folder (/proc/<pid>/cwd) lies in `dir`;
// - any command word but an option ("-...") names a program file there: one with a run bit
//   or a ".exe", ".bat" or ".cmd" name, found without regard to case, a relative name
//   ("game.exe", "./game.exe", ".\game.exe") from the process's working folder, a
//   Windows path as above. A script run by an interpreter with any number of options
//   ("sh -e -x game.exe") counts so, a Windows program handed to Wine or Proton, and Wine
//   started in the game directory ("wine game.exe" names its process by the bare name).
//   A process that merely works in `dir` (a shell, "ls") or names another kind of file there
//   ("less readme.txt") does not count.
// `procRoot` stands for /proc (tests pass a folder laid out like it). Empty for an empty
// `dir`.
std::vector<Program> programsFrom(const std::string& dir, const std::string& procRoot = kProcRoot);

// A program running from `dir` that has not ended within `grace` (the window's events run
// meanwhile); nothing when none runs.
std::optional<Program> stillRunningFrom(const std::string& dir,
                                        std::chrono::milliseconds grace = kGrace,
                                        const std::string& procRoot = kProcRoot);

// `text` with its "%s" replaced by the program's path (appended after a blank when `text`
// holds no "%s").
std::string describe(const std::string& text, const Program& program);

}  // namespace running
