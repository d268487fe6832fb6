#include "app/PlayWatch.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "base/DurableWrite.h"
#include "game/MissionRecords.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/RunningPrograms.h"
#include "platform/TextUtil.h"

namespace playwatch {
namespace {

constexpr int64_t kMaxWatchSeconds = 7 * 24 * 3600;
constexpr const char* kExtension = ".playtime";
// The pending files whose time the records hold already: a file is removed only after its
// time is written, and the program may stop (or the power fail) in between. A name stays
// here until a later start finds its file gone (names are never reused).
constexpr const char* kMergedSection = "play time merged";

int64_t now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::string pendingDir(const std::string& settingsFile) {
    const size_t cut = settingsFile.find_last_of("/\\");
    return text::withTrailingDelim(
        (cut == std::string::npos ? std::string() : settingsFile.substr(0, cut + 1)) + "playtime");
}

int watch(const std::string& gameDir, const std::string& recordKey, int64_t since,
          const std::string& pendingDir, int lookMs) {
    int64_t lastSeen = 0;
    while (!running::programsFrom(gameDir).empty() && now() - since < kMaxWatchSeconds) {
        lastSeen = now();
        std::this_thread::sleep_for(std::chrono::milliseconds(lookMs));
    }
    if (lastSeen <= since) return 0;
    if (!fsx::forceDirectories(pendingDir)) return 1;
    // One file per watcher: its name holds the time and the process, never reused.
    const std::string file =
        pendingDir + std::to_string(now()) + "-" +
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + kExtension;
    const std::string text = recordKey + "\n" + std::to_string(lastSeen - since) + "\n";
    return durable::durableWrite(file, text) ? 0 : 1;
}

int answer(int argc, const char* const* argv) {
    if (argc < 2 || std::string(argv[1]) != kOption) return -1;
    if (argc != 6) return 2;  // a watcher's command line, damaged: never a window
    char* end = nullptr;
    const long long since = std::strtoll(argv[4], &end, 10);
    if (end == argv[4] || *end != '\0') return 2;
    return watch(argv[2], argv[3], since, text::withTrailingDelim(argv[5]));
}

int merge(IniFile& settings, const std::string& pendingDir) {
    for (const std::string& name : settings.ReadSection(kMergedSection))
        if (!fsx::fileExists(pendingDir + name)) settings.DeleteKey(kMergedSection, name);
    int merged = 0;
    for (const fsx::DirEntry& entry :
         fsx::listDirectory(pendingDir, std::string("*") + kExtension)) {
        const std::string& name = entry.name;
        if (entry.isDirectory) continue;
        if (settings.ValueExists(kMergedSection, name)) {
            fsx::deleteFile(pendingDir + name);
            continue;
        }
        std::ifstream in(fsx::resolve(pendingDir + name));
        std::string key, seconds;
        if (!std::getline(in, key) || !std::getline(in, seconds) || key.empty()) continue;
        char* end = nullptr;
        const long long added = std::strtoll(seconds.c_str(), &end, 10);
        if (end == seconds.c_str() || *end != '\0' || added <= 0) continue;
        // The record holds the time, and that it holds it, before the file goes.
        IniBatch batch(settings);
        MissionStore(settings).addPlayTime(key, added);
        settings.WriteString(kMergedSection, name, "1");
        batch.Commit();
        fsx::deleteFile(pendingDir + name);
        ++merged;
    }
    return merged;
}

}  // namespace playwatch
