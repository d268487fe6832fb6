#pragma once
// One line of the catalogue: a game's own row (the original game) or a mission archive of
// a mission directory, with what its record and the games' state say of it.

#include <cstdint>
#include <string>
#include <vector>

struct Mission {
    // A game's own row: `game` is its game, `name` its row text (games::originalRowText).
    bool gameRow = false;
    int game = 0;
    // The archive: its name as listed (without its extension, or with it when it shares name
    // and size with an archive of another format), its folder (ending in the separator),
    // the whole path, the extension (".zip", ".7z", ".rar") and the size in bytes as text.
    std::string name;
    std::string dir;
    std::string archivePath;
    std::string format;
    std::string sizeText;
    // The section of its record (recordKeyOf).
    std::string recordKey;

    // From the record: "type" as stored ("" = never decided), the title as shown, the
    // finished box, the day number of the last start ("date").
    std::string type;
    std::string title;
    bool finished = false;
    std::string lastStart;

    // The player's library, kept in the record as well: the difficulties finished on (the
    // game's difficulty names; "Unknown" for a finished box without one), the rating (0..10,
    // half stars; -1 = none), tags ("category:tag"), notes, author and release date
    // ("YYYY-MM-DD", or as much of it as is known), the day number the archive was first
    // seen (0 = not known) and the seconds the game ran with it.
    std::vector<std::string> finishedOn;
    int rating = -1;
    std::vector<std::string> tags;
    std::string comment;
    std::string author;
    std::string releaseDate;
    int32_t dateAdded = 0;
    int64_t playSeconds = 0;

    // From the games' state: installed in its mission folder; what a game directory holds.
    bool inFolder = false;
    bool held = false;

    // The game its mark shows: a game row's own; a mission's stored type when that names a
    // known game; 0 (no mark) for a mission not yet decided or unreadable.
    int markedGame() const;
    // The title, or the name for a mission whose record holds none: what names it on screen.
    const std::string& shownName() const { return title.empty() ? name : title; }
    // The mission's identity as the selection keeps it: folder and name.
    std::string place() const { return dir + name; }
};

// True when the mission carries anything of the player's library (the finished box, the
// last start and the library's fields).
bool holdsLibrary(const Mission& mission);

// The record section of an archive listed as `name` with size `sizeText`: name + "." +
// size with every "]" removed; a game row's text from its second character, at most 30.
std::string recordKeyOf(const std::string& name, const std::string& sizeText);

// The mission of archive `fileName` (its extension `format`) in `dir`, listed under its name
// without the extension, or with it when `withExtension`; the record is not read yet.
Mission missionOfArchive(const std::string& dir, const std::string& fileName,
                         const std::string& format, int64_t size, bool withExtension);
// The own row of game `number`.
Mission missionOfGame(int number);
