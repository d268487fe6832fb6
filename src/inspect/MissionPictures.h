#pragma once
// The pictures of a mission, for the player to look at before and after playing it: those
// its author ships in the archive and the screenshots the player took in it (the game
// writes them into "screenshots" of the mission's folder, or of the game directory for a
// mission installed there; the saves archive keeps those of a removed folder). Everything
// is only read, within a bound, so that it can run on every change of the selection.

#include <cstdint>
#include <string>
#include <vector>

class MissionArchive;

enum class PictureOrigin {
    Shipped,        // a member of the mission archive
    MissionFolder,  // "screenshots" of the mission's own folder
    SavesArchive,   // "screenshots\..." in the mission's saves archive
    GameFolder,     // "screenshots" of the game directory it is installed in
};

struct MissionPicture {
    std::string name;  // the file's name ("dump000.png"; a shipped one with its folder)
    PictureOrigin origin = PictureOrigin::Shipped;
    uint32_t dosTime = 0;  // when it was written (DOS date-time, local time)
    std::string bytes;     // the file as stored (PNG, JPEG, BMP or GIF)
};

// True for a screenshot the player took, false for a picture shipped with the mission.
inline bool takenByPlayer(const MissionPicture& picture) {
    return picture.origin != PictureOrigin::Shipped;
}

// Where a mission's pictures lie; whatever is empty or missing gives none.
struct PictureSources {
    MissionArchive* archive = nullptr;  // the mission archive, opened
    std::string missionFolder;          // the mission's installed folder
    MissionArchive* saves = nullptr;    // its saves archive, opened
    std::string gameDir;                // the game directory it is installed in (not in a folder)
    // Of the game directory's screenshots only those written at or after this time count:
    // the ones taken since the mission was installed there (DOS date-time).
    uint32_t gameDirSince = 0;
};

// At most this many pictures in all, the shipped ones taking at most kMaxShippedPictures
// of them; at most kMaxPictureBytes read in all, no picture larger than kMaxPictureSize.
inline constexpr size_t kMaxPictures = 12;
inline constexpr size_t kMaxShippedPictures = 8;
inline constexpr uint64_t kMaxPictureBytes = uint64_t(16) << 20;
inline constexpr uint64_t kMaxPictureSize = uint64_t(8) << 20;

// The rank of an archive member as a shipped picture (lower comes first), -1 for none.
// A picture is a .png, .jpg, .jpeg, .bmp or .gif file (any case) of at least 1 KB; those
// in a folder named like screenshots ("screenshots", "screens", "shots", "images", "pics",
// "pictures") rank first, then those at the root (below the folder the mission is packed
// in), then .png and .jpg files in any other folder. Nothing in the game's resource
// folders ("fam", "obj", "mesh", "intrface", "book", "bitmap", ...) counts: those are
// textures and pages.
int shippedPictureRank(const std::string& memberName, const std::string& memberRoot, uint64_t size);

// The mission's pictures: the shipped ones first (by rank, then name), then the player's
// screenshots newest first; a screenshot found in two places with the same name and size
// is shown once. Each source is read in one pass; "older\..." members of the saves archive
// (versions a newer file replaced) are never read. Damaged archives and unreadable files
// give what could be read; nothing is thrown.
std::vector<MissionPicture> findMissionPictures(const PictureSources& sources);
