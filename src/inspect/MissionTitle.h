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

// The members a title is read from: the last member naming "strings\" and "titles.str"
// (empty when none) and the number of the last mission file ("miss<n>.mis").
struct TitleSource {
    std::string titlesMember;
    uint8_t missionNumber = 0;
};
TitleSource titleSourceOf(const std::vector<ArchiveMember>& members);

// The title the titles file `bytes` gives mission `missionNumber`: from the last line
// naming "title_<n>:", its text from the first quote on (the whole line without one), at
// most 256 bytes and never a letter cut in half; "\"\"" when no line names it.
std::string titleFromTitlesFile(const std::string& bytes, uint8_t missionNumber);

// The title of the mission archive at `path` whose record is `recordKey`, read through the
// mission's cache when it has one; nothing when the archive or its titles file cannot be
// read (the next try may succeed).
std::optional<std::string> readMissionTitle(const std::string& path, const std::string& recordKey);
// The same from an archive opened already (any thread: it touches nothing but `archive`).
std::optional<std::string> readMissionTitle(MissionArchive& archive);

// True when the title of the archive at `path` reads quickly: a ZIP archive, or one whose
// cache is kept; a .7z or .rar otherwise decodes what lies before its titles file.
bool missionTitleReadsQuickly(const std::string& path, const std::string& recordKey);
