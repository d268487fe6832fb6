#pragma once
// The saved games stored in a saves archive, by name, as `unzip -p` gives them back. For the
// install tests, which link the archive component.

#include <algorithm>
#include <map>
#include <string>

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
