#pragma once
// The program's command line. --help and --version are answered before any window system
// is needed; Qt's own options (-platform, -style, -reverse ...) are left for QApplication;
// anything else is refused.

#include <optional>
#include <string>

namespace commandline {

// Answers the command line `argv` of the program in `exeDir` (ending in the separator):
// prints the usage or the version on standard output (exit code 0), or the refusal of an
// unknown argument on standard error (exit code 2). Empty when the program is to start.
std::optional<int> answer(int argc, const char* const* argv, const std::string& exeDir);

// The text of --help for the program invoked as `programName`.
std::string usage(const std::string& programName, const std::string& exeDir);

}  // namespace commandline
