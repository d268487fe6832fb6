#include "install/GameStart.h"

#include "game/GameDir.h"
#include "platform/FileSystem.h"
#include "platform/TextUtil.h"
#include "state/AppState.h"

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

constexpr const char* kSteamFlatpakId = "com.valvesoftware.Steam";

// The game (1 or 2) whose record names `gameDir`; 0 when neither does.
int gameOf(const std::string& gameDir) {
    for (int game = 1; game <= 2; ++game)
        if (!gameDir.empty() && app().thiefdata[static_cast<size_t>(game)].gameDir == gameDir)
            return game;
    return 0;
}

std::string globalStartCommand() {
    return launcher::startCommandSetting(app().settings.get());
}

// The words `head`, then `tail`.
std::vector<std::string> command(std::vector<std::string> head,
                                 const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The start command of Windows programs, `exe` and `arguments`, with WINEPREFIX `prefix`.
StartResult startInPrefix(const std::string& prefix, const std::string& exe,
                          const std::string& gameDir, const std::vector<std::string>& arguments) {
    std::vector<std::string> words = launcher::splitStartCommand(globalStartCommand());
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

// Heroic and Lutris: their Wine build, or Heroic's Proton, in their prefix.
StartResult startWithWineBuild(const GameRunner& runner, const std::string& exe,
                               const std::string& gameDir,
                               const std::vector<std::string>& arguments) {
    const std::string prefix =
        runner.prefix.empty() ? launcher::findWinePrefix(gameDir) : runner.prefix;
    if (runner.wine.empty()) {
        // The launcher uses the system's Wine: the start command of Windows programs.
        if (prefix.empty())
            return launcher::startProgram(exe, gameDir, globalStartCommand(), arguments);
        return startInPrefix(prefix, exe, gameDir, arguments);
    }
    const std::string wine = launcher::findProgram(runner.wine);
    if (wine.empty()) return {StartFailure::wineBuildMissing, runner.wine};
    if (!runner.proton) {
        launcher::Environment environment;
        if (!prefix.empty()) environment.emplace_back("WINEPREFIX", prefix);
        return launcher::startCommandWords(command({wine, exe}, arguments), gameDir, environment);
    }
    // Proton takes the folder holding "pfx" and wants to know a Steam folder.
    launcher::Environment environment;
    if (!runner.prefix.empty())
        environment = {{"STEAM_COMPAT_DATA_PATH", runner.prefix},
                       {"STEAM_COMPAT_CLIENT_INSTALL_PATH", steamRootFor(runner, runner.prefix)},
                       {"WINEPREFIX", runner.prefix + "/pfx"}};
    return launcher::startCommandWords(command({wine, "run", exe}, arguments), gameDir,
                                       environment);
}

std::string withText(int slotNumber, const std::string& text) {
    std::string message = slot(slotNumber);
    const size_t at = message.find("%s");
    if (at != std::string::npos) message.replace(at, 2, text);
    return message;
}

}  // namespace

StartResult startWithRunner(const GameRunner& runner, const std::string& gameDir,
                            const std::string& exeName, const std::vector<std::string>& arguments,
                            const std::string& customCommand) {
    const std::string exe = gamedir::path(gameDir, exeName);
    if (!launcher::isWindowsProgram(exe)) {
        // A native program (or none): started by itself, or the reason it cannot be.
        return launcher::startProgram(exe, gameDir, globalStartCommand(), arguments);
    }
    std::vector<std::string> windowsArguments;
    for (const std::string& argument : arguments)
        windowsArguments.push_back(launcher::windowsPath(argument));
    if (!launcher::splitStartCommand(customCommand).empty())
        return launcher::startProgram(exe, gameDir, customCommand, windowsArguments);

    switch (runner.source) {
        case Source::steam:
        case Source::steamFlatpak:
            // Steam starts only the game's own program, by its app id. DromEd starts with the
            // start command of Windows programs in the game's Proton prefix: the Proton build
            // Steam chose for the game is named only in Steam's own configuration, and Wine
            // serves the editor.
            if (text::lowerAscii(exeName) != gamedir::kDromedExe && !runner.appId.empty())
                return startThroughSteam(runner, gameDir, windowsArguments);
            if (!runner.prefix.empty())
                return startInPrefix(runner.prefix + "/pfx", exe, gameDir, windowsArguments);
            break;
        case Source::heroic:
        case Source::heroicFlatpak:
        case Source::lutris:
            return startWithWineBuild(runner, exe, gameDir, windowsArguments);
        case Source::winePrefix:
            break;
    }
    return launcher::startProgram(exe, gameDir, globalStartCommand(), windowsArguments);
}

StartResult startFromGameDir(const std::string& gameDir, const std::string& exeName,
                             const std::vector<std::string>& arguments) {
    const int game = gameOf(gameDir);
    const std::string custom =
        game ? launcher::gameStartCommandSetting(app().settings.get(), game) : std::string();
    return startWithRunner(gamesources::runnerFor(gameDir, gamesources::homeFolder()), gameDir,
                           exeName, arguments, custom);
}

std::string startFailureMessage(const std::string& failed, const StartResult& result) {
    switch (result.failure) {
        case StartFailure::startCommandMissing:
            return failed + "\n\n" + withText(kStartCommandMissingSlot, result.startCommand);
        case StartFailure::steamMissing:
            return failed + "\n\n" + withText(kSteamMissingSlot, result.startCommand);
        case StartFailure::flatpakMissing:
            return failed + "\n\n" + withText(kFlatpakMissingSlot, result.startCommand);
        case StartFailure::wineBuildMissing:
            return failed + "\n\n" + withText(kWineBuildMissingSlot, result.startCommand);
        default:
            return failed;
    }
}
