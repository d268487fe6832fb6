#pragma once
// Mission type detection: whether a ZIP archive is a mission archive, and which game a
// mission is for. Both answers are kept in the archive's record under "type" (0 = mission,
// game unknown; else the game's number, game/Games.h).

#include <cstdint>
#include <string>
#include <vector>

class IniFile;
class TZipArchiver;
class TZipStream;
struct ArchiveMember;

// Record section of an archive: file name less its extension (for ".zip" and names of no
// mission archive extension: its last four characters), ".", size in bytes, every "]" removed.
std::string ArchiveRecordKey(const std::string& fileName, int64_t size);

// Whether dir + fileName is a mission archive. A record with a "type" answers at once
// without opening the archive; otherwise its member list is read (ZIP archives by the
// program's own reader, .7z and .rar through libarchive, never with a message on screen)
// and the first member whose lower-cased name contains ".mis" makes it a mission ("type" :=
// 0 is written). One that cannot be read (damaged, cut short, encrypted) counts as a
// mission without a stored "type", so that it is listed with the reason. `dir` ends in the
// separator.
bool IsMissionArchive(IniFile& settings, const std::string& dir, const std::string& fileName);

// The game of the mission in record `section`: a stored game is taken; otherwise
// `missionMember` is extracted into memory through `zip` and searched for the games' markers
// (games::byMarker), unless the member names tell the game (GameByMembers); the result is
// stored. 0, and nothing stored, when the member
// cannot be extracted or is encrypted while zip.Password is empty: a game is never guessed.
uint8_t DecideGame(IniFile& settings, const std::string& section, const std::string& missionMember,
                   TZipArchiver& zip);

// The game the member names of a mission tell, before any mission file is read; 0 when
// they tell none (the markers decide then). A mission holding a numbered mission file
// ("missNN.mis", in any folder) is a Thief mission and tells none: both Thief games need
// one. Otherwise it is the first game with recognisable members (games::Game::gamesysName,
// levelNames) whose game system it holds (a member named so, in any folder, beside at least
// one ".mis"), or one of whose own level names names a ".mis" of it: System Shock 2's
// "shock2.gam", "earth.mis", "medsci1.mis" and so on.
int GameByMembers(const std::vector<std::string>& memberNames);

// The type a newly found mission's record starts with: the game its members tell
// (GameByMembers), else 0 (no game decided yet), so that the list marks such a mission
// before it is ever selected.
int FoundMissionType(const std::vector<ArchiveMember>& members);

// Whether `marker` occurs anywhere in the whole content of `stream` (from its start,
// whatever its position). False without a stream or with an empty marker.
bool ContainsMarker(const std::string& marker, const TZipStream* stream);
// The same search over a block of memory.
bool ContainsMarker(const std::string& marker, const char* data, size_t size);
