#pragma once
// Where a NewDark game keeps its fan missions: a folder of their own for each under the
// game's mission path ("fm_path" in "cam_mod.ini", "FMs" in the game directory unless set),
// each named by the folder name the game is started with ("-fm=<name>").

#include <cstdint>
#include <string>
#include <vector>

class IniFile;

namespace missionfolders {

// The engine takes mission folder names of at most this many bytes.
inline constexpr size_t kMaxFolderName = 30;

// True when the game directory holds NewDark's "cam_mod.ini" (name in any case).
bool supportsMissionFolders(const std::string& gameDir);

// The value of the first "fm_path" line of "cam_mod.ini" in the game directory (key in any
// case, ";" lines left out, blanks and quotes around the value removed); empty when the
// file sets none. Throws EInOutError when the file exists but cannot be read.
std::string fmPathSetting(const std::string& gameDir);

// A path as the game wrote it, on disk: a Windows path with a drive ("C:\Games\FMs") through
// the Wine prefix `prefix` (its "dosdevices" links, else "drive_c" for C: and "/" for Z:),
// a relative path against `gameDir`; "\" becomes "/". Empty when a drive cannot be mapped.
std::string pathOnDisk(const std::string& gamePath, const std::string& gameDir,
                       const std::string& prefix);

// The folder that holds the game's mission folders, ending in the separator: fm_path on
// disk, "FMs" in the game directory when the file sets none. The Wine prefix is the one
// holding the game directory.
std::string missionRoot(const std::string& gameDir);

// The folder name of a mission archive: its file name without the mission archive
// extension, every character but ASCII letters, digits, ".", "_" and "-" made "_", dots
// at its start and end left out (a leading dot would hide the folder), cut to kMaxFolderName bytes,
// and made unique among `taken` without regard to case by a "_2", "_3", ... at its end. Never
// empty, "." or "..".
std::string folderNameFor(const std::string& archivePath, const std::vector<std::string>& taken);

// The names of the folders in `root` (the mission folders there, whoever made them); none
// when it does not exist.
std::vector<std::string> folderNamesIn(const std::string& root);

// True when `folder` already holds the mission whose mission file is the archive member
// `missionFile` of `size` bytes: that file (names compared as the disk's look-up compares
// them) with that size. A folder another loader installed counts, and is used as it is.
bool holdsMission(const std::string& folder, const std::string& missionFile, uint64_t size);

// Whether missions of game `game` go into mission folders: always for a game that plays
// them only from there (games::Game::foldersOnly); else the player's choice
// ("options"/"mission folders <game>"), else whether the game directory supports them.
bool enabled(const IniFile* settings, int game, const std::string& gameDir);
void storeEnabled(IniFile& settings, int game, bool on);
// True when the player made a choice for the game.
bool chosen(const IniFile& settings, int game);

// A name the program uses as a mission folder: 1 to kMaxFolderName bytes of ASCII letters,
// digits, ".", "_" and "-", neither "." nor "..", not starting with a dot. Anything else
// (from a settings file edited by hand, say) could lead out of the mission path.
bool validFolderName(const std::string& name);

// The mission folder a mission's record keeps ("fm folder"); empty when it has none.
std::string recordedFolder(const IniFile& settings, const std::string& recordKey);
// The record no longer keeps a folder (a later version of the archive took it over).
void forgetRecordedFolder(IniFile& settings, const std::string& recordKey);
// The record key of the mission that owns folder `name` of game `game`; empty when none.
std::string folderOwner(const IniFile& settings, int game, const std::string& name);
// What a mission's record keeps of the mission in its folder: the archive's file name and
// the mission file with its size in the archive. A folder is the mission's only while it
// holds that file with that size. Empty for records of earlier versions.
struct FolderMission {
    std::string archiveName;
    std::string missionFile;
    uint64_t missionSize = 0;
};
FolderMission recordedMission(const IniFile& settings, const std::string& recordKey);
// True when `folder` holds the recorded mission; a record without one counts the folder
// as the mission's while it exists.
bool holdsRecordedMission(const std::string& folder, const FolderMission& mission);

// Keeps `name` as the mission's folder, in its record and in the game's list of owners,
// with what the folder holds.
void claimFolder(IniFile& settings, int game, const std::string& name, const std::string& recordKey,
                 const FolderMission& mission);
// The folder names game `game` has given out (its list of owners).
std::vector<std::string> claimedFolders(const IniFile& settings, int game);

// The record keys of the missions of game `game` installed in their folders: the owners of
// the claimed names present in the mission path of `gameDir` (one listing of it) that hold
// their recorded missions.
std::vector<std::string> installedRecords(const IniFile& settings, int game,
                                          const std::string& gameDir);

}  // namespace missionfolders
