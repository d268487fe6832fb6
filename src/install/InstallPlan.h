#pragma once
// What each member of a mission archive becomes in the game directory: its target name,
// the game files it replaces, its language folder and MP3 conversion, and the checks of
// every name before anything is planned.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/MissionArchive.h"

class ProgressSink;

// One member the installation puts into the game directory.
struct PlannedMember {
    std::string member;                 // as listed
    std::string target;                 // where it ends up ("\" separators)
    uint64_t size = 0;                  // uncompressed
    std::string moveTarget;             // language-specific: where the extracted file is moved
    std::string mp3;                    // lower-case name of the .mp3 file to decode
    std::vector<std::string> replaces;  // existing game files it replaces (backup names)
    bool savedGame = false;             // a saved game of its own, put only into a free slot
};

// Step 3: what each member becomes. Left out, and reported once: members whose names hold
// a control character (they could not be listed in the marker), members that would land
// on the program's own files, and members whose names meet several entries on disk that
// differ only in case, or meet one only by a folding the engines do not share (the backup
// and its restore could then reach another file than the one replaced). The members left
// out are a notice of `progress`.
std::vector<PlannedMember> planMembers(const std::vector<ArchiveMember>& members,
                                       const std::string& gameDir, const std::string& language,
                                       bool languageChoice, ProgressSink& progress);

// The name of an existing file of the game directory as stored on disk, relative to the
// game directory; nothing when there is no such file.
std::optional<std::string> existingRelative(const std::string& gameDir,
                                            const std::string& relative);

// True when a name relative to the game directory passes through a symbolic link on disk
// (a folder or the file itself): whatever lies behind a link is not the game directory's.
bool throughLink(const std::string& gameDir, const std::string& relative);

// A name as a message shows it: each control character as "?".
std::string shownName(std::string name);

// True when a member name (or a name derived from it) stays inside the folder it is
// joined to: not absolute, no drive, no ".." leading out.
bool StaysInside(const std::string& relative);
