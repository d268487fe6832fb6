#pragma once
// What a mission says of itself, read from its archive without the user typing it: the
// fm.ini a loader or the author put beside the mission (its name, tags, description and
// release date) and, where that says nothing, the read-me's "Author:" and "Date:" lines and
// the dates of the archive's members.

#include <string>
#include <vector>

#include "archive/MissionArchive.h"

struct MissionFacts {
    std::string title;              // fm.ini's NiceName, else the read-me's; empty when none
    std::string author;             // empty when not found
    std::string releaseDate;        // "YYYY-MM-DD", "YYYY-MM" or "YYYY": as much as is known
    std::vector<std::string> tags;  // "category:tag", from fm.ini Tags
    std::string description;        // fm.ini Descr, its escaped line breaks as real ones
};

// The facts an fm.ini (UTF-8 text) gives: NiceName as the title; Tags as "category:tag"
// items (items separated by ",", a category by ":", categories in lower case, an item
// without one in "misc"), the first "author:" items as the author; Descr with its "\n",
// "\t", "\"" and "\\" escapes read; ReleaseDate as a Unix time (hexadecimal or decimal),
// "YYYYMMDD" or a written date. Keys in any case, in any section or none; a value may be
// quoted; unknown keys, comments and damaged lines are passed over.
MissionFacts factsFromFmIni(const std::string& text);
// The read-me an fm.ini names (InfoFile, "\" separators), empty when none.
std::string infoFileFromFmIni(const std::string& text);

// The author a read-me (UTF-8 text) names in its first lines: an "Author:" line (also
// "Author(s):", "Autor:", "Auteur:"), else a line starting "Created by", "Made by",
// "Designed by", "Mission by" (or "erstellt von", "créé par"), else "by <name>" on one of
// the title lines at the top. The name comes without an e-mail address or what follows
// it in another column, trimmed of trailing punctuation; empty when no line names a
// plausible one (1 to 60 characters, a few words, no sentence).
std::string authorFromReadme(const std::string& text);
// The title a read-me (UTF-8 text) gives its mission in its first lines: a "Title:" line
// (also "Mission title:", "Mission name:", "Titel:", "Titre:", "Título:"), else the first
// line when one of the three below it says what it is ("a fan mission for System Shock 2",
// "by Thomas Green"), without the frame drawn around it ("### Proov ###") and without
// " by <name>" on the same line. Empty when no line reads as a title (a few words, no
// sentence, not the read-me's own name).
std::string titleFromReadme(const std::string& text);
// The release date a read-me's first lines give ("Date:", "Release date:", "Released:",
// their German and French forms, else a "Version ..." line holding a date), normalized to
// "YYYY-MM-DD", "YYYY-MM" or "YYYY". Dates are read as 2003-05-17, 17.05.2003, 17/05/2003
// (day first unless that is impossible), May 17, 2003, 17 May 2003, May 2003, with English,
// German or French month names; only years 1998 to 2030 count. Empty when none is found.
std::string dateFromReadme(const std::string& text);
// The one date a text holds, first in it, normalized as above; empty when none.
std::string dateFromText(const std::string& text);

// The date of the newest member as "YYYY-MM-DD"; invalid DOS dates and dates outside 1998
// to 2030 are passed over. Empty when no member has one.
std::string dateFromMembers(const std::vector<ArchiveMember>& members);

// The facts of an opened mission archive: fm.ini (in any case, at the root or in the
// folder the mission is packed in) and the best few read-mes at the root (the one fm.ini
// names, then names such as "readme", "liesmich", "lisezmoi" or the archive's own name)
// are read in one bounded pass; the fm.ini's title, else the read-me's; its tags and
// description; its author tag, else the read-me's author; its release date, else the
// read-me's, else the members'.
// Reads no other member. A damaged archive gives what could be read; nothing is thrown.
MissionFacts findMissionFacts(MissionArchive& archive);
