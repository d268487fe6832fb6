#pragma once
// What is installed in a game directory, as its installation marker tells, and the checks
// made before the program works there: an operation that was interrupted, the program's
// own file names, temporary files left by a crash.

#include <functional>
#include <string>
#include <vector>

struct GameRecord;

// Line 2 of a marker whose installation or removal has not been finished. It never equals
// an identity value, so such a mission never counts as installed.
inline constexpr const char* kUnfinished = "unfinished";

// The installation marker of one game. Every save replaces the file atomically and makes
// the game record show what the file now says.
class Marker {
  public:
    explicit Marker(GameRecord& game);

    // The marker's lines; empty when there is no marker.
    static std::vector<std::string> read(const std::string& gameDir);

    // Starts a marker for `archive`, not finished yet, and saves it.
    void begin(const std::string& archive);
    void add(const std::string& line) { lines_.push_back(line); }
    // Writes the lines; throws EInOutError when the file cannot be written.
    void save();
    // Saves the marker with the archive's identity value: the installation is complete.
    void finish(const std::string& identity);
    bool pending() const { return saved_ != lines_.size(); }

  private:
    GameRecord& game_;
    std::vector<std::string> lines_;
    size_t saved_ = 0;
};

// Writes marker lines for a game and makes its record follow them. Throws EInOutError,
// writing nothing, when a line holds a carriage return or a line feed.
void SaveMarkerLines(GameRecord& game, const std::vector<std::string>& lines);

// True when the archive named by `zipFileName` is the one installed in `game`: same file
// name (exact case) and either the same size text or, tried only when the size text
// differs, the same checksum text.
bool IsAlreadyInstalled(const std::string& zipFileName, const GameRecord& game);

// The checksum function the already-installed test uses (replaceable, so that a test can
// see whether it ran).
std::function<std::string(const std::string&)>& ArchiveChecksum();

// True when an install or uninstall in the game directory was interrupted: the marker says
// so, or there is no marker but a backup archive.
bool InterruptedOperation(const std::string& gameDir);

// True when a name relative to the game directory ("\" or "/" separators) names one of the
// program's own files there: the marker, the backup archive, the editor script, or anything
// in the folder of the saves archives. Names are compared as the look-up on disk compares
// them (fsx::foldKey): whatever would land on one of these files counts as one.
bool IsOwnFile(const std::string& relative);

// True for a direct member of SAVES with the extension ".sav", compared as IsOwnFile does.
bool IsSavedGame(const std::string& relative);

// The parts of a name relative to a folder ("\" or "/" separators): empty parts and "."
// left out, ".." kept. Every check of a member's name walks these.
std::vector<std::string> NameParts(const std::string& relative);

// True when a name holds a control character (below 0x20, or 0x7F): such a name can be
// neither a line of the marker nor one of the editor script.
bool HasControlCharacter(const std::string& name);

// Removes the temporary files that the program's writers leave behind when they are
// killed, in the game directory, SAVES, allsaves and the folders given (only names of the
// program's own patterns).
void RemoveTemporaryFiles(const std::string& gameDir, const std::vector<std::string>& folders);
