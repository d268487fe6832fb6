#pragma once
// The mission flags file "strings\missflag.str" written for a mission that brings none.

#include <cstdint>
#include <string>

// Creates (or empties) `path` and writes the flags lines for mission number `n` of game
// `game` (1 or 2). Throws EInOutError when the file cannot be written.
void WriteMissionFlags(const std::string& path, uint8_t n, uint8_t game);
