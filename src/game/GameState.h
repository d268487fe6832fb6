#pragma once
// The games' installed state as every part of the program reads it: language lines of
// "install.cfg", the installation marker, and the status-line text built from them.

#include <string>

#include <map>

#include "state/GameRecord.h"

class IniFile;

// Where users send an "install.cfg" whose language the program does not know.
inline constexpr const char* kContactAddress = "tallowmere@example.org";

// The message for an unknown "install.cfg" language.
std::string UnknownLanguageMessage(const std::string& value);

// Reads every line of gameDir + "install.cfg" holding "language" (exact case): the text
// from its 10th character on (at most 256 characters), trimmed, names the language; an
// unknown name shows UnknownLanguageMessage and counts as English. The last line wins; a
// file without such a line leaves `game.language` as it was. Throws EInOutError when the
// file exists but cannot be read.
void ReadGameLanguage(GameRecord& game);

// Reads lines 1 and 2 of gameDir + "Tallowmere.Current" into `installed` and
// `installedCheck` (" Original" and "$00000000" when there is no marker; a missing line
// reads as empty).
void ReadInstalledState(GameRecord& game);

// The part of the top status line for game `number`: 26 blanks, the game's name, ": " and
// the installed mission's title as its record in `settings` holds it (else its archive's
// name).
std::string CurrentBarPart(int number, const GameRecord& game, IniFile* settings);

// Refreshes the installed state of every configured game of `games` and returns the whole
// top status line (slot 16 followed by each configured game's part).
std::string RefreshInstalledState(IniFile* settings, std::map<int, GameRecord>& games);
