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

// A game that keeps each saved game as a folder in the mission folder (System Shock 2:
// "save_0" ... "save_14", and "current" for the game under way). A slot folder is one saved
// game: it is stored, replaced, kept as an older version and brought back whole, never as a
// mix of files from different times.
struct SlotFolders {
    std::string prefix;               // "save_"; empty when the game has none
    int count = 0;                    // the slots' numbers are 0 ... count - 1
    std::vector<std::string> others;  // folders kept the same way ("current")
};

// The slot folder of a name in a saves archive or a mission folder: its first folder
// ("save_3" of "save_3\earth.mis", as spelt there) when that is one of `layout`; else "".
std::string slotFolderOf(const std::string& name, const SlotFolders& layout);

// The files of a mission folder that go into its saves archive: every file below its
// "saves" and "screenshots" folders and its slot folders (names in any case, any depth). A
// file right in the folder named "saves" keeps its bare name, as the game's SAVES folder
// stores them; every other file is named by its path in the mission folder
// ("screenshots\dump000.png", "saves\old\game0000.sav", "save_3\earth.mis"). Throws
// EInOutError naming the entries that are no regular file (a link, a device) and so cannot
// be stored.
std::vector<SaveFile> missionFolderSaves(const std::string& folder, const SlotFolders& layout = {});

// The saved games of the game's SAVES folder ("*.sav" right in it), by their bare names.
std::vector<SaveFile> savesFolderSaves(const std::string& savesDir);

// Stores `files` (below `root`) in the saves archive `savesZip` by the rule above, the
// archive rewritten whole and renamed into place each time, then synced with its folder,
// and reads it back: every file must be there with its size and CRC, and so must every
// version it replaced. Files of one name (without regard to case) are versions of each
// other: the newest takes the name. A slot folder of `layout` is one saved game: when the
// archive holds that slot with other contents (a file changed, added or gone), the whole
// set it holds is kept as "older\<date and time>\save_3\..." (the time of its newest
// file) and the slot's names then hold exactly the files given, the archive written anew
// when a name must go. Throws EInOutError naming what could not be stored; the files on
// disk are never touched.
void store(TZipArchiver& work, const std::string& savesZip, const std::string& root,
           std::vector<SaveFile> files, int compressionLevel, ProgressSink& progress,
           const SlotFolders& layout = {});

// The kept versions of saved games in the saves archive, newest first: the saved-game files
// ("older\...\*.sav") and, for `layout`, each kept slot folder once
// ("older\2026-12-10 18.04.31\save_3").
std::vector<std::string> olderSavedGames(TZipArchiver& work, const std::string& savesZip,
                                         const SlotFolders& layout = {});

// Brings the kept version `olderMember` back as a saved game in the first free slot
// ("game0003.sav"), so that the game offers it beside the others: into `savesDir` when the
// mission's saved games are on disk there (it is installed), else into the saves archive,
// from where the next install brings it back. A kept slot folder of `layout` comes back
// whole as the first slot folder free in `savesDir` (then the mission folder) and in the
// archive ("save_5"), made beside it under another name and renamed into place once it is
// complete and synced. Nothing is replaced. Returns the slot's name; throws EInOutError when
// it cannot be done (every slot folder is taken, say).
std::string bringBack(TZipArchiver& work, const std::string& savesZip,
                      const std::string& olderMember, const std::string& savesDir,
                      int compressionLevel, ProgressSink& progress, const SlotFolders& layout = {});

}  // namespace savedgames
