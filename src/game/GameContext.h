#pragma once
// What an operation on the games works with of the program's state, handed to it by the
// application: the settings store, the record of each game and the program's folder.

#include <map>
#include <string>

#include "state/GameRecord.h"

class IniFile;

struct GameContext {
    IniFile& settings;
    std::map<int, GameRecord>& games;  // by game number
    std::string exeDir;                // the program's folder, ending in the separator
};
