#pragma once
// The start of a game or of DromEd from the install operation: through the start command
// of Windows programs the settings name, and the message when it fails.

#include <string>
#include <vector>

#include "platform/Launcher.h"

// Starts `exeName` of the game directory `gameDir` (gamedir::start) with the settings'
// start command and `arguments`.
launcher::StartResult startFromGameDir(const std::string& gameDir, const std::string& exeName,
                                       const std::vector<std::string>& arguments = {});

// The message for a failed start: `failed` (the language text naming the program), and
// what to do when the start command of Windows programs could not be found.
std::string startFailureMessage(const std::string& failed, const launcher::StartResult& result);
