#include "install/GameStart.h"

#include <algorithm>

#include "game/GameDir.h"
#include "game/Games.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

using gamesources::GameRunner;
using gamesources::Source;
using launcher::StartFailure;
using launcher::StartResult;

// "The command that starts Windows programs, %s, cannot be found..."
constexpr int kStartCommandMissingSlot = 121;
// "Steam cannot be found, so the game cannot be started through Steam: ... there is no %s."
constexpr int kSteamMissingSlot = 160;
// "Flatpak cannot be found, so the game cannot be started through Steam (Flatpak)..."
constexpr int kFlatpakMissingSlot = 161;
// "The Wine build this game is set up with in its launcher, "%s", is gone..."
constexpr int kWineBuildMissingSlot = 162;
// "DromEd of a Steam game starts with the Proton that last ran the game..."
constexpr int kProtonUnknownSlot = 163;

constexpr const char* kSteamFlatpakId = "com.valvesoftware.Steam";

// The words `head`, then `tail`.
std::vector<std::string> command(std::vector<std::string> head,
                                 const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The start command of Windows programs, `exe` and `arguments`, with WINEPREFIX `prefix`.
StartResult startInPrefix(const std::string& prefix, const std::string& exe,
                          const std::string& gameDir, const std::vector<std::string>& arguments,
                          const std::string& startCommand) {
    std::vector<std::string> words = launcher::splitStartCommand(startCommand);
    if (words.empty()) words = {launcher::kDefaultStartCommand};
    words.push_back(exe);
    return launcher::startCommandWords(command(words, arguments), gameDir,
                                       {{"WINEPREFIX", prefix}});
}

StartResult startThroughSteam(const GameRunner& runner, const std::string& gameDir,
                              const std::vector<std::string>& arguments) {
    std::vector<std::string> words;
    if (runner.source == Source::steamFlatpak) {
        const std::string flatpak = launcher::findProgram("flatpak");
        if (flatpak.empty()) return {StartFailure::flatpakMissing, "flatpak"};
        words = {flatpak, "run", kSteamFlatpakId};
    } else {
        const std::string script =
            runner.steamRoot.empty() ? std::string("steam.sh") : runner.steamRoot + "/steam.sh";
        std::string steam = launcher::findProgram("steam");
        if (steam.empty() && !runner.steamRoot.empty()) steam = launcher::findProgram(script);
        if (steam.empty()) return {StartFailure::steamMissing, script};
        words = {steam};
    }
    words.insert(words.end(), {"-applaunch", runner.appId});
    return launcher::startCommandWords(command(words, arguments), gameDir);
}

// The Steam folder Proton is told about: the runner's own, else the first of the usual
// places that exists, else `fallback`.
std::string steamRootFor(const GameRunner& runner, const std::string& fallback) {
    if (!runner.steamRoot.empty()) return runner.steamRoot;
    const std::string home = gamesources::homeFolder();
    if (!home.empty())
        for (const char* place :
             {"/.steam/root", "/.local/share/Steam", "/.steam/debian-installation"})
            if (fsx::directoryExists(home + place)) return home + place;
    return fallback;
}

// Proton takes the folder holding "pfx" (the runner's prefix) and wants to know a Steam folder.
launcher::Environment protonEnvironment(const GameRunner& runner) {
    return {{"STEAM_COMPAT_DATA_PATH", runner.prefix},
            {"STEAM_COMPAT_CLIENT_INSTALL_PATH", steamRootFor(runner, runner.prefix)},
            {"WINEPREFIX", runner.prefix + "/pfx"}};
}

// The Proton script that made the Steam prefix `compatFolder` (the folder holding "pfx"):
// Proton notes its own files, one path per line, in "config_info" there; the script lies a
// few folders above them. Empty when it cannot be told.
std::string protonOfPrefix(const std::string& compatFolder) {
    std::vector<std::string> lines;
    try {
        lines = textfile::readLines(compatFolder + "/config_info");
    } catch (const std::exception&) {
        return "";
    }
    for (std::string dir : lines) {
        if (dir.empty() || dir[0] != '/') continue;
        for (int up = 0; up < 5 && dir.size() > 1; ++up) {
            while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
            if (fsx::fileExists(dir + "/proton")) return dir + "/proton";
            dir.erase(std::max<size_t>(dir.rfind('/'), 1));
        }
    }
    return "";
}

// DromEd of a Steam game: Steam starts only the game's own program, so the editor starts
// with the Proton that made the game's prefix. Any other Wine would upgrade the prefix for
// itself and could break the game for Steam.
StartResult startEditorInSteamPrefix(const GameRunner& runner, const std::string& exe,
                                     const std::string& gameDir,
                                     const std::vector<std::string>& arguments) {
    const std::string proton = runner.prefix.empty() ? "" : protonOfPrefix(runner.prefix);
    if (proton.empty()) return {StartFailure::protonUnknown, runner.prefix};
    return launcher::startCommandWords(command({proton, "run", exe}, arguments), gameDir,
                                       protonEnvironment(runner));
}

// Heroic and Lutris: their Wine build, or Heroic's Proton, in their prefix.
StartResult startWithWineBuild(const GameRunner& runner, const std::string& exe,
                               const std::string& gameDir,
                               const std::vector<std::string>& arguments,
                               const std::string& startCommand) {
    const std::string prefix =
        runner.prefix.empty() ? launcher::findWinePrefix(gameDir) : runner.prefix;
    if (runner.wine.empty()) {
        // The launcher uses the system's Wine: the start command of Windows programs.
        if (prefix.empty()) return launcher::startProgram(exe, gameDir, startCommand, arguments);
        return startInPrefix(prefix, exe, gameDir, arguments, startCommand);
    }
    const std::string wine = launcher::findProgram(runner.wine);
    if (wine.empty()) return {StartFailure::wineBuildMissing, runner.wine};
    if (!runner.proton) {
        launcher::Environment environment;
        if (!prefix.empty()) environment.emplace_back("WINEPREFIX", prefix);
        return launcher::startCommandWords(command({wine, exe}, arguments), gameDir, environment);
    }
    return launcher::startCommandWords(
        command({wine, "run", exe}, arguments), gameDir,
        runner.prefix.empty() ? launcher::Environment() : protonEnvironment(runner));
}

}  // namespace

StartResult startWithRunner(const GameRunner& runner, const std::string& gameDir,
                            const std::string& exeName, const std::vector<std::string>& arguments,
                            const std::string& customCommand, const std::string& startCommand) {
    const std::string exe = gamedir::path(gameDir, exeName);
    if (!launcher::isWindowsProgram(exe)) {
        // A native program (or none): started by itself, or the reason it cannot be.
        return launcher::startProgram(exe, gameDir, startCommand, arguments);
    }
    std::vector<std::string> windowsArguments;
    for (const std::string& argument : arguments)
        windowsArguments.push_back(launcher::windowsPath(argument));
    if (!launcher::splitStartCommand(customCommand).empty())
        return launcher::startProgram(exe, gameDir, customCommand, windowsArguments);

    switch (runner.source) {
        case Source::steam:
        case Source::steamFlatpak:
            // Steam starts only the game's own program, by its app id.
            if (!games::isEditor(exeName) && !runner.appId.empty())
                return startThroughSteam(runner, gameDir, windowsArguments);
            return startEditorInSteamPrefix(runner, exe, gameDir, windowsArguments);
        case Source::heroic:
        case Source::heroicFlatpak:
        case Source::lutris:
            return startWithWineBuild(runner, exe, gameDir, windowsArguments, startCommand);
        case Source::winePrefix:
            break;
    }
    return launcher::startProgram(exe, gameDir, startCommand, windowsArguments);
}

StartResult startFromGameDir(const IniFile* settings, int game, const std::string& gameDir,
                             const std::string& exeName,
                             const std::vector<std::string>& arguments) {
    return startWithRunner(gamesources::runnerFor(gameDir, gamesources::homeFolder()), gameDir,
                           exeName, arguments, launcher::gameStartCommandSetting(settings, game),
                           launcher::startCommandSetting(settings));
}

std::string startFailureMessage(const std::string& failed, const StartResult& result) {
    int why = 0;  // the language text saying what is missing
    switch (result.failure) {
        case StartFailure::startCommandMissing:
            why = kStartCommandMissingSlot;
            break;
        case StartFailure::steamMissing:
            why = kSteamMissingSlot;
            break;
        case StartFailure::flatpakMissing:
            why = kFlatpakMissingSlot;
            break;
        case StartFailure::wineBuildMissing:
            why = kWineBuildMissingSlot;
            break;
        case StartFailure::protonUnknown:
            why = kProtonUnknownSlot;
            break;
        default:
            return failed;
    }
    return failed + "\n\n" + text::withArgument(slot(why), result.startCommand);
}
