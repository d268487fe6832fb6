#pragma once
// A mission's title as its record keeps it: the text of the line "title_<n>:" of its
// "strings\titles.str" (n the number of its mission file), quotes included, decoded to
// UTF-8 like every text read from a mission. A mission without that line has the title
// "\"\"".

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/MissionArchive.h"

// The members a title is read from: the titles file of the interface's language
// (`language`, a game language folder such as "german": "strings\german\titles.str"), else
// the game's default one ("strings\titles.str"), else the first member naming "strings\"
// and "titles.str" (empty when none); and the number of the first mission file
// ("miss<n>.mis"): a campaign is named by its first mission. Any folder may hold "strings\".
struct TitleSource {
    std::string titlesMember;
    uint8_t missionNumber = 0;

    // Takes member `name` into account.
    void consider(const std::string& name, const std::string& language);

  private:
    int rank_ = 3;
    bool numbered_ = false;
};
TitleSource titleSourceOf(const std::vector<ArchiveMember>& members, const std::string& language);

// The game language folder whose titles a player of the interface's language reads
// ("english" for the English interface), as the language table says.
std::string titleLanguage();

// The title the titles file `bytes` gives mission `missionNumber`: from the last line
// naming "title_<n>:", its text from the first quote on (the whole line without one), at
// most 256 bytes and never a letter cut in half; "\"\"" when no line names it.
std::string titleFromTitlesFile(const std::string& bytes, uint8_t missionNumber);

// The title, quoted as titles are stored, of a mission without a titles file whose game
// titles such missions by their fm.ini or read-me: the NiceName of `fmIniText`, else the
// title the read-me `readmeText` gives (both UTF-8); "\"\"" when neither gives one.
std::string titleFromFmIniOrReadme(const std::string& fmIniText, const std::string& readmeText);

// The title of the mission archive at `path` whose record is `recordKey`, read through the
// mission's cache in `cacheDir` when it has one; nothing when the archive or its titles file
// cannot be read (the next try may succeed).
std::optional<std::string> readMissionTitle(const std::string& cacheDir, const std::string& path,
                                            const std::string& recordKey);
// The same from an archive opened already, in `language` (any thread: it touches nothing
// but `archive`).
std::optional<std::string> readMissionTitle(MissionArchive& archive, const std::string& language);

// True when the title of the archive at `path` reads quickly: a ZIP archive, or one whose
// cache is kept in `cacheDir`; a .7z or .rar otherwise decodes what lies before its titles
// file.
bool missionTitleReadsQuickly(const std::string& cacheDir, const std::string& path,
                              const std::string& recordKey);
