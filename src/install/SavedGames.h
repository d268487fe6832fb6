#pragma once
// The one rule by which saved games and screenshots go into a mission's saves archive, from
// the game's SAVES folder or from a mission folder: a saved game is never replaced by
// another. A file whose name the archive holds already with other contents takes the name,
// and what the archive held stays in it under "older\<date and time>\<name>", from where
// the player can bring it back. Nothing is taken out of a saves archive, ever; a caller
// deletes a file only after store() has read it back from the archive.

#include <cstdint>
#include <string>
#include <vector>

class ProgressSink;
class TZipArchiver;

namespace savedgames {

// A file to keep: its name in the saves archive ("game0000.sav", "screenshots\dump000.png")
// and its path below the folder it is stored from ("/" separators).
struct SaveFile {
    std::string name;
    std::string relativePath;
};

// The folder in the saves archive that keeps the versions a newer file took the name of.
inline constexpr const char* kOlderFolder = "older";

// True for a member that keeps an older version ("older\...").
bool isOlderVersion(const std::string& memberName);

// The name of the version of `name` last written at `dosTime`, in kOlderFolder:
// "older\2026-12-10 18.04.31\game0000.sav".
std::string olderVersionName(const std::string& name, uint32_t dosTime);

// The files of a mission folder that go into its saves archive: every file below its
// "saves" and "screenshots" folders (names in any case, any depth). A file right in the
// folder named "saves" keeps its bare name, as the game's SAVES folder stores them; every
// other file is named by its path in the mission folder ("screenshots\dump000.png",
// "saves\old\game0000.sav"). Throws EInOutError naming the entries that are no regular
// file (a link, a device) and so cannot be stored.
std::vector<SaveFile> missionFolderSaves(const std::string& folder);

// The saved games of the game's SAVES folder ("*.sav" right in it), by their bare names.
std::vector<SaveFile> savesFolderSaves(const std::string& savesDir);

// Stores `files` (below `root`) in the saves archive `savesZip` by the rule above, the
// archive rewritten whole and renamed into place each time, then synced with its folder,
// and reads it back: every file must be there with its size and CRC, and so must every
// version it replaced. Files of one name (without regard to case) are versions of each
// other: the newest takes the name. Throws EInOutError naming what could not be stored;
// the files on disk are never touched.
void store(TZipArchiver& work, const std::string& savesZip, const std::string& root,
           std::vector<SaveFile> files, int compressionLevel, ProgressSink& progress);

// The kept versions of saved games in the saves archive ("older\...\*.sav"), newest first.
std::vector<std::string> olderSavedGames(TZipArchiver& work, const std::string& savesZip);

// Brings the kept version `olderMember` back as a saved game in the first free slot
// ("game0003.sav"), so that the game offers it beside the others: into `savesDir` when the
// mission's saved games are on disk there (it is installed), else into the saves archive,
// from where the next install brings it back. Nothing is replaced. Returns the slot's file
// name; throws EInOutError when it cannot be done.
std::string bringBack(TZipArchiver& work, const std::string& savesZip,
                      const std::string& olderMember, const std::string& savesDir,
                      int compressionLevel, ProgressSink& progress);

}  // namespace savedgames
