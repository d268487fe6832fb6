#pragma once
// What the program keeps of each game while it runs: its directory, the mission installed
// there and the game's language.

#include <array>
#include <cstdint>
#include <map>
#include <string>

// One record per game, by its number (game/Games.h).
struct GameRecord {
    std::string installed = " Original";       // path of the installed archive
    std::string installedCheck = "$00000000";  // its size text or checksum text
    std::string gameDir;                       // ends in the separator; empty = not configured
    uint8_t language = 0;                      // 1..4, 0 while install.cfg named none
};
using GameRecords = std::map<int, GameRecord>;

inline constexpr std::array<const char*, 5> languageNames = {"", "english", "german", "french",
                                                             "spanish"};
