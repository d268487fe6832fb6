#pragma once
// What a first selection of a .7z or .rar mission read (its member list, read-me and titles
// members), kept on disk per mission and keyed like its record, so that a later selection
// decodes nothing. The title and the game live in the record itself.

#include <map>
#include <memory>
#include <string>

#include "archive/MissionArchive.h"

struct GameContext;

// The folder of the caches, ending in the separator: "cache" beside the settings of a copy
// that keeps its settings beside itself (`settingsFile` in the program's folder `exeDir`),
// else the user's cache folder for the program.
std::string missionCacheDir(const std::string& settingsFile, const std::string& exeDir);
// The same for the settings and the program's folder of `context`.
std::string missionCacheDir(const GameContext& context);

// Keeps `archive`'s member list and the member data in `kept` under `recordKey`, in the
// folder `cacheDir`. Failures are ignored: the cache only saves time.
void storeMissionCache(const std::string& cacheDir, const std::string& recordKey,
                       const MissionArchive& archive,
                       const std::map<std::string, std::string>& kept);

// The mission at `path` for record `recordKey`: served from its cache in `cacheDir` when one
// was kept for this very file; otherwise the archive itself.
std::unique_ptr<MissionArchive> openAnalysedMission(const std::string& cacheDir,
                                                    const std::string& path,
                                                    const std::string& recordKey);

// True when a cache file is kept in `cacheDir` for the .7z or .rar mission at `path`
// (whether it still fits the archive is told only by reading it).
bool missionCacheKept(const std::string& cacheDir, const std::string& path,
                      const std::string& recordKey);
