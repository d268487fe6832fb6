#pragma once
// The saved games stored in a saves archive, by name, as `unzip -p` gives them back, and
// what they lack. For the install tests, which link the archive component.

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/ZipArchiver.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

inline std::map<std::string, std::string> storedSaves(const std::string& zipPath) {
    std::map<std::string, std::string> out;
    if (!fsx::fileExists(zipPath)) return out;
    TZipArchiver z;
    z.Unattended = true;
    z.SetZipFileName(zipPath);
    for (const ZipDirEntry& e : z.Entries()) {
        std::string text;
        std::string name = e.FileName;  // as the archive stores it, with "/"
        std::replace(name.begin(), name.end(), '\\', '/');
        runCommand("unzip -p '" + zipPath + "' '" + name + "'", &text);
        out[e.FileName] = text;
    }
    return out;
}

// What a saves archive holding `stored` (name -> content) lacks against the saved games
// `want` (name -> content): a saved game is kept when some member holds its content, under
// its own name or another (the archive may keep older versions under further names), and a
// member with its name holds nothing else; a member whose content is none of them is left
// over.
inline std::vector<std::string> savesProblems(const std::map<std::string, std::string>& stored,
                                              const std::map<std::string, std::string>& want) {
    std::vector<std::string> found;
    std::set<std::string> contents;
    for (const auto& [name, content] : want) contents.insert(content);
    std::set<std::string> kept;
    for (const auto& [name, content] : stored) kept.insert(content);
    for (const auto& [name, content] : want) {
        if (!kept.count(content)) found.push_back("lost " + name);
        const auto same = stored.find(name);
        if (same != stored.end() && same->second != content) found.push_back("changed " + name);
    }
    for (const auto& [name, content] : stored)
        if (!contents.count(content)) found.push_back("left over " + name);
    return found;
}
