#pragma once
// Content analysis of the selected mission archive: one pass over the member names gives
// the content indicators, the game, the title, the read-me text, the languages offered
// and the warnings; a few small members are extracted into memory.

#include <functional>
#include <string>

#include "game/SelectedMission.h"
#include "inspect/InfoPanel.h"
#include "state/GameRecord.h"

struct GameContext;
class MissionArchive;
class ProgressSink;
class TZipArchiver;

// Analyses the archive `zip` holds (its ZipFileName is the row's archive, which exists)
// for the mission row whose record section is `recordKey`, among the games and in the
// settings of `context` (the mission caches lie beside the settings or in the user's cache
// folder, inspect/MissionCache.h). Updates `panel` and `mission`
// (what the install is asked to install), shows its steps through `progress`, sets zip.ExtrBaseDir
// to the game directory, writes counts, type and title into the record. An archive with an
// encrypted member is read no further than its member list until zip.Password is set: the panel
// says so and offers the password (panel.passwordOffered). Returns the game decided, 0 when none
// could be.
int AnalyseArchive(const GameContext& context, TZipArchiver& zip, const std::string& recordKey,
                   InfoPanel& panel, SelectedMission& mission, ProgressSink& progress);

// The same analysis over a mission archive of any format (its path() is the row's archive).
// Archives read front to back get what the analysis needs in one pass and keep it in the
// mission's cache. An archive that cannot be read (its member list, or the mission file
// that decides its game) says why in the notes, disables the commands and has no game: it
// returns 0 and nothing is stored under "type". Returns the game decided.
int AnalyseMission(const GameContext& context, MissionArchive& archive,
                   const std::string& recordKey, InfoPanel& panel, SelectedMission& mission,
                   ProgressSink& progress);

// The mission number a member name gives: a name (lower-cased) beginning with "miss",
// less its first ".mis" and then its first "miss", read as a decimal number 0..255
// (leading zeros allowed).
// Returns false when it does not convert.
bool MissionNumberFromName(const std::string& lowerName, uint8_t& number);
