#pragma once
// The saved games stored in a saves archive, by name, as `unzip -p` gives them back. For the
// install tests, which link the archive component.

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
        runCommand("unzip -p '" + zipPath + "' '" + e.FileName + "'", &text);
        out[e.FileName] = text;
    }
    return out;
}
