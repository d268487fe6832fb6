#pragma once
// Mission records: one settings section per mission archive (and one per game's own row),
// named by the mission's record key (recordKeyOf), holding "type", "title", "finished",
// "date" and the content counts. MissionStore reads and writes them.

#include <cstdint>
#include <string>
#include <vector>

#include "game/Mission.h"

class IniFile;

// The record key of a row of the catalogue's seven texts (type, title, name, folder, size,
// finished, last start): recordKeyOf(name, size). Missing texts read empty.
std::string RecordKey(const std::vector<std::string>& row);

// A title as a record holds it, as shown: titles are stored as UTF-8, but earlier versions
// stored them as the 8-bit text of the mission, which is decoded as mission texts are.
std::string ShownTitle(const std::string& stored);

class MissionStore {
  public:
    explicit MissionStore(IniFile& settings) : settings_(settings) {}

    // Copies the mission's record into its type, title, finished box and last start. A game
    // row keeps its own text as its title, whatever its record holds.
    void load(Mission& mission) const;
    // Writes the finished box into the record, then into `mission`; a failed write throws and
    // leaves `mission` as it was.
    void setFinished(Mission& mission, bool finished);
    // Stores `title` as the record's title and shows it in `mission` as it reads back.
    void setTitle(Mission& mission, const std::string& title);

    // The record holds a title (an empty one included): the title need not be read again.
    bool hasTitle(const std::string& key) const;
    // The title as stored, `absent` when none; stores one as it is.
    std::string storedTitle(const std::string& key, const std::string& absent) const;
    void storeTitle(const std::string& key, const std::string& title);
    // A content count ("books", "meshes", ...); a record that holds it already is left as
    // it is, so that an analysis repeated stores nothing.
    void setCount(const std::string& key, const char* name, int count);
    // The stored type (0 = a mission of no decided game, else the game), `absent` when none.
    int type(const std::string& key, int absent) const;
    void setType(const std::string& key, int type);
    // Forgets the stored type; true when there was one.
    bool forgetType(const std::string& key);
    // The day the mission was last started, as a day number (0: never).
    void setLastStart(const std::string& key, int32_t dayNumber);
    int32_t lastStartDay(const std::string& key) const;

    // The player's library. Each writes the record, then `mission`; a failed write throws
    // and leaves `mission` as it was. A rating below 0 or an empty text removes the key.
    void setRating(Mission& mission, int rating);
    void setTags(Mission& mission, std::vector<std::string> tags);
    void setComment(Mission& mission, const std::string& comment);
    void setAuthor(Mission& mission, const std::string& author);
    void setReleaseDate(Mission& mission, const std::string& date);
    // The difficulties finished on; any makes the mission finished, none leaves the
    // finished box as it is.
    void setFinishedOn(Mission& mission, std::vector<std::string> difficulties);
    // What the mission says of itself (found, not typed): each fills only a field the record
    // does not hold yet, so that the player's correction stays.
    void fillFound(Mission& mission, const std::string& author, const std::string& date);
    // The day the first scan saw the archive.
    void setDateAdded(const std::string& key, int32_t day);
    // Adds `seconds` of play to the record's play time.
    void addPlayTime(const std::string& key, int64_t seconds);

    // True when the record holds anything of the player's library (::holdsLibrary).
    bool holdsLibrary(const std::string& key) const;
    // A newer version of an archive (same name, another size, the old one gone) carries on
    // the library of the old one's record `from`: copied into `mission`'s record, which is
    // read again. The old record stays as it is.
    void carryLibrary(Mission& mission, const std::string& from);

    // The library of every record, in a file of its own at `path` (written whole, or not
    // at all), keyed as the records are: by archive name and size. Returns the number of
    // missions written.
    size_t exportLibrary(const std::string& path) const;
    // Merges the library file at `path` into the records without losing either side: the
    // finished box, difficulties and tags of both, the later last start, the earlier day
    // added, the longer play time, both notes, and a rating, author or release date of the
    // file where the record has none. A file that is not such a library, or is damaged, is
    // refused with EInOutError (its text says why) and changes nothing. Returns the number
    // of missions merged.
    size_t importLibrary(const std::string& path);

    IniFile& settings() const { return settings_; }

  private:
    void setText(const std::string& key, const char* name, const std::string& value);

    IniFile& settings_;
};
