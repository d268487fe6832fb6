#include "game/GameState.h"

#include "game/GameDir.h"
#include "game/Games.h"
#include "game/InstallState.h"
#include "game/MissionFolders.h"
#include "game/MissionRecords.h"
#include "game/TypeDetection.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Prompter.h"
#include "platform/TextFile.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

std::string UnknownLanguageMessage(const std::string& value) {
    return "Your language \"" + value +
           "\" is unknown to Tallowmere yet. Please send a copy of your install.cfg to " +
           kContactAddress + " for future implementation.";
}

void ReadGameLanguage(GameRecord& game) {
    const std::string cfg = gamedir::path(game.gameDir, gamedir::kInstallCfg);
    if (!fsx::fileExists(cfg)) return;
    for (const std::string& line : textfile::readLines(cfg)) {
        if (line.find("language") == std::string::npos) continue;
        const std::string value = text::trim(line.size() > 9 ? line.substr(9, 256) : "");
        uint8_t number = 0;
        for (uint8_t l = 1; l <= 4; ++l) {
            if (value == languageNames[l]) number = l;
        }
        if (number == 0) {
            prompter().message(UnknownLanguageMessage(value));
            number = 1;
        }
        game.language = number;
    }
}

void ReadInstalledState(GameRecord& game) {
    const std::vector<std::string> lines = Marker::read(game.gameDir);
    if (lines.empty() && !fsx::fileExists(gamedir::path(game.gameDir, gamedir::kMarker))) {
        game.installed = " Original";
        game.installedCheck = "$00000000";
        return;
    }
    game.installed = lines.empty() ? std::string() : lines[0];
    game.installedCheck = lines.size() > 1 ? lines[1] : std::string();
}

namespace {

constexpr int kInFoldersSlot = 215;  // "missions in their folders:"

// The installed mission by the title its record holds, else by its archive's file name.
std::string installedName(const GameRecord& game, IniFile* settings) {
    const std::string file = text::extractFileName(game.installed);
    const std::string& size = game.installedCheck;
    if (!settings || size.empty() || size.size() > 18 ||
        size.find_first_not_of("0123456789") != std::string::npos)
        return file;
    const std::string title =
        MissionStore(*settings).storedTitle(ArchiveRecordKey(file, std::stoll(size)), "_");
    return title.empty() || title == "_" ? file : title;
}

}  // namespace

std::string CurrentBarPart(int number, const GameRecord& game, IniFile* settings) {
    std::string part =
        std::string(26, ' ') + games::find(number)->name + ": " + installedName(game, settings);
    // An install or uninstall that did not complete: the next Play removes it.
    if (game.installedCheck == kUnfinished) part += " " + slot(90);
    // The game itself stays as it is while missions play from their folders: say how many.
    if (settings && missionfolders::enabled(settings, number, game.gameDir)) {
        const size_t inFolders =
            missionfolders::installedRecords(*settings, number, game.gameDir).size();
        if (inFolders > 0) part += ", " + slot(kInFoldersSlot) + " " + std::to_string(inFolders);
    }
    return part;
}

std::string RefreshInstalledState(IniFile* settings, std::map<int, GameRecord>& games) {
    std::string bar = slot(16);
    for (const games::Game& known : games::all()) {
        GameRecord& game = games[known.number];
        if (game.gameDir.empty()) continue;
        ReadInstalledState(game);
        bar += CurrentBarPart(known.number, game, settings);
    }
    return bar;
}
