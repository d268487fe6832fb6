#include "dialogs/SetupLogic.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

#include "base/DurableWrite.h"
#include "dialogs/FileVersionInfo.h"
#include "game/GameDir.h"
#include "game/GameSources.h"
#include "game/Games.h"
#include "game/MissionFolders.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Launcher.h"
#include "platform/Prompter.h"
#include "platform/Settings.h"
#include "platform/TextFile.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

constexpr int kOwnNameSlot = 214;  // a language's name in that language

const char kResnameBase[] = "resname_base";
// 'The command "%s" cannot be found...'
constexpr int kStartCommandNotFoundSlot = 123;
constexpr int kEngineVersionSlot = 151;  // "Engine version: %s"
constexpr int kUnknownVersionSlot = 152;
constexpr int kNewDarkVersionSlot = 153;  // "NewDark %s"

// An own start command is stored only while there is one.
void storeGameStartCommand(IniFile& settings, int game, const std::string& command) {
    if (text::trim(command).empty()) {
        settings::erase(settings, settings::gameStartCommand(game));
    } else {
        launcher::storeGameStartCommand(settings, game, command);
    }
}

void errorBox(const std::string& text) {
    prompter().message(text, PromptButtons::Ok, PromptIcon::Error);
}

// The game directory text as the checks use it: with the separator appended.
std::string gameDirOf(const std::string& typed) {
    return text::withTrailingDelim(typed);
}

// slot 62 + file + slot 63 + " n " + slot 64
std::string missingFileMessage(const std::string& file, int game) {
    return slot(62) + file + slot(63) + " " + std::to_string(game) + " " + slot(64);
}

// The state of game `number`; an empty one for a game the state does not hold.
const GameSetup& gameOf(const SetupState& state, int number) {
    static const GameSetup none;
    const auto found = state.games.find(number);
    return found == state.games.end() ? none : found->second;
}

// Whole contents of a file; throws EInOutError when it cannot be read.
std::string readAll(const std::string& path) {
    std::ifstream in(fsx::resolve(path), std::ios::binary);
    if (!in) throw EInOutError("Cannot open " + path);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw EInOutError("Cannot read " + path);
    return data;
}

// Replaces `path` with the lines (CR LF ends) in one step: the new contents go to a
// temporary file beside it, reach the disk, and take its place by a rename, so the file
// is never seen half-written.
void replaceLinesAtomically(const std::string& path, const std::vector<std::string>& lines) {
    std::string data;
    for (const std::string& line : lines) {
        data += line;
        data += gamedir::kLineEnd;
    }
    durable::Options options;
    options.keepOwnerAndMode = true;
    options.followLink = true;
    durable::DurableFile file;
    if (!file.open(fsx::resolve(path), options))
        throw EInOutError("Cannot create " + path + ": " + std::strerror(errno));
    if (!file.write(data)) {
        const std::string why = std::strerror(errno);
        file.discard();
        throw EInOutError("Cannot write " + path + ": " + why);
    }
    if (!file.commit() && !file.renamed())
        throw EInOutError("Cannot write " + path + ": " + std::strerror(errno));
}

// The check of the OK for the directory of game `game`. Returns false when it failed;
// `aborted` is set when the rearrangement of Thief 1's resources failed (which ends the OK
// at once).
bool checkGameDir(IniFile* settings, const games::Game& game, const std::string& typed,
                  bool& aborted) {
    const std::string d = gameDirOf(typed);
    for (const std::string& needed : {game.program, std::string(gamedir::kInstallCfg)}) {
        if (!fsx::fileExists(d + needed)) {
            errorBox(missingFileMessage(needed, game.number));
            return false;
        }
    }
    if (!game.resourcesInCrfs) return true;
    if (!fsx::fileExists(d + gamedir::kConvictOsm))
        prompter().message(slot(17), PromptButtons::Ok, PromptIcon::Warning);
    // Asked only while loose resource files lie in the folder (they may be in RES already),
    // and once: the player's No is kept for the folder.
    const bool loose = !fsx::listDirectory(d, "*.crf").empty();
    const bool declined = settings && settings::get(settings, settings::crfsDeclined) == d;
    if (!fsx::directoryExists(d + gamedir::kCrfsDir) && loose && !declined) {
        if (!RearrangeThief1Resources(d))
            aborted = true;
        else if (!fsx::directoryExists(d + gamedir::kCrfsDir) && settings)
            settings::set(*settings, settings::crfsDeclined, d);
    }
    return true;
}

}  // namespace

bool missionDirLess(const std::string& a, const std::string& b) {
    const std::string la = text::lowerAscii(a);
    const std::string lb = text::lowerAscii(b);
    if (la != lb) return la < lb;
    return a < b;
}

size_t insertMissionDir(std::vector<std::string>& dirs, const std::string& dir) {
    const auto index =
        std::upper_bound(dirs.begin(), dirs.end(), dir, missionDirLess) - dirs.begin();
    dirs.insert(dirs.begin() + index, dir);
    return static_cast<size_t>(index);
}

SetupState LoadSetupState(const SetupFiles& files) {
    const IniFile* settings = files.settings;
    const IniFile* languageFile = files.languageFile;
    const std::string& exeDir = files.exeDir;
    SetupState s;

    auto gameDir = [&](const std::string& key, const std::string& exe) {
        std::string dir = settings::get(settings, settings::gameDirectory(key));
        if (dir.empty() && !exeDir.empty() && fsx::fileExists(exeDir + exe)) dir = exeDir;
        return dir;
    };
    for (const games::Game& game : games::all()) {
        GameSetup& g = s.games[game.number];
        g.dir = gameDir(game.dirSetting, game.program);
        g.folders = MissionFolderChoice::load(settings, game.number, g.dir);
    }

    if (languageFile) {
        for (int n = 1;; ++n) {
            const std::string section =
                languageFile->ReadString("languages", std::to_string(n), "@");
            if (section == "@") break;
            // Each language in its own words ("Deutsch"), when its section names itself.
            s.languages.push_back(
                languageFile->ReadString(section, std::to_string(kOwnNameSlot), section));
        }
    }
    const int64_t chosen = static_cast<int64_t>(settings::get(settings, settings::language)) - 1;
    s.languageIndex =
        chosen >= 0 && chosen < static_cast<int64_t>(s.languages.size()) ? int(chosen) : -1;

    if (settings) {
        for (const std::string& dir : settings::missionDirectories(*settings))
            insertMissionDir(s.missionDirs, dir);
    }

    // The spin edit holds 1 to 9: a stored value outside shows as the nearer end.
    const int32_t level = settings::get(settings, settings::compressionLevel);
    s.compressLevel = std::clamp(level, kMinCompressLevel, kMaxCompressLevel);

    s.windowMode = settings && settings::get(settings, settings::windowTop, settings::kNotSet) !=
                                   settings::kNotSet
                       ? 1
                       : 0;
    s.startCommand = launcher::startCommandSetting(settings);
    if (settings) {
        for (const games::Game& game : games::all())
            s.games[game.number].command = launcher::gameStartCommandSetting(settings, game.number);
    }
    return s;
}

bool setupNeverConfirmed(const IniFile* settings) {
    return !settings || settings::get(settings, settings::compressionLevel, settings::kNotSet) ==
                            settings::kNotSet;
}

GameLookup launcherGameLookup() {
    return {[] { return gamesources::findGames(gamesources::homeFolder()); },
            [](const std::string& gameDir) {
                return gamesources::runnerFor(gameDir, gamesources::homeFolder());
            }};
}

bool fillFromFoundGames(SetupState& state, const gamesources::Discovery& found) {
    for (const auto& [number, g] : state.games)
        if (!g.dir.empty()) return false;
    bool pick = false;
    for (const games::Game& known : games::all()) {
        const int game = known.number;
        const gamesources::FoundGame* only = nullptr;
        int count = 0;
        for (const gamesources::FoundGame& g : found.games) {
            if (g.game != game) continue;
            only = &g;
            ++count;
        }
        if (count > 1) pick = true;
        if (count != 1) continue;
        state.games[game].dir = only->dir;
        state.games[game].folders.follow(only->dir);
    }
    return pick;
}

MissionFolderChoice MissionFolderChoice::load(const IniFile* settings, int game,
                                              const std::string& gameDir) {
    return {missionfolders::enabled(settings, game, gameDir),
            settings && missionfolders::chosen(*settings, game)};
}

void MissionFolderChoice::follow(const std::string& gameDir) {
    if (!chosen) on = missionfolders::supportsMissionFolders(gameDir);
}

void MissionFolderChoice::choose(bool value) {
    on = value;
    chosen = true;
}

std::string engineVersionText(const std::string& gameDir, int game) {
    if (gameDir.empty()) return {};
    const games::Game* known = games::find(game);
    if (!known) return {};
    const TFileVersionInfo info(gamedir::path(gameDir, known->program));
    std::string version = text::trim(info.Entry(viFileVersion));
    // A resource without a string table still has the fixed block's numbers.
    const TFixedFileInfo& fixed = info.FixedInfo();
    if (version.empty() && fixed.dwSignature == kFixedInfoSignature)
        version = std::to_string(fixed.dwFileVersionMS >> 16) + "." +
                  std::to_string(fixed.dwFileVersionMS & 0xFFFF);
    if (version.empty())
        return text::withArgument(slot(kEngineVersionSlot), slot(kUnknownVersionSlot));
    if (missionfolders::supportsMissionFolders(gameDir))
        version = text::withArgument(slot(kNewDarkVersionSlot), version);
    return text::withArgument(slot(kEngineVersionSlot), version);
}

std::string gameConfigPath(const std::string& dir) {
#ifdef _WIN32
    return dir;
#else
    std::string p = dir;
    if (p.empty() || p[0] != '/') return p;
    std::replace(p.begin(), p.end(), '/', '\\');
    return "Z:" + p;
#endif
}

std::string rearrangedResnameLine(const std::string& line, const std::string& crfsPath) {
    if (line.find(kResnameBase) == std::string::npos) return line;
    const size_t plus = line.find('+');
    return std::string(kResnameBase) + " " + crfsPath +
           (plus == std::string::npos ? std::string() : line.substr(plus));
}

bool RearrangeThief1Resources(const std::string& dir) {
    if (prompter().message(slot(2) + "\n" + slot(3), PromptButtons::YesNo, PromptIcon::Warning,
                           std::string(), PromptResult::No) != PromptResult::Yes)
        return true;

    BusyCursor busy;
    const std::string crfs = dir + gamedir::kCrfsDir;
    const std::string cfg = dir + gamedir::kInstallCfg;
    const std::string oldCfg = dir + gamedir::kOldInstallCfg;
    bool createdDir = false;
    std::vector<std::pair<std::string, std::string>> moved;  // (from, to)
    try {
        if (!fsx::createDirectory(crfs)) throw EInOutError("Cannot create the folder " + crfs);
        createdDir = true;
        // A file that cannot be moved stays where it is; the others go on.
        for (const fsx::DirEntry& e : fsx::listDirectory(dir, "*.crf")) {
            if (e.isDirectory) continue;
            std::string from = dir + e.name;
            std::string to = crfs + fsx::kPathDelim + e.name;
            if (fsx::moveFile(from, to)) moved.emplace_back(std::move(from), std::move(to));
        }

        // The copy must be complete before the file it keeps is rewritten.
        const std::string original = readAll(cfg);
        if (!fsx::copyFile(cfg, oldCfg) || readAll(oldCfg) != original)
            throw EInOutError("Cannot copy " + cfg + " to " + oldCfg);

        std::vector<std::string> lines = textfile::readLines(oldCfg);
        const std::string crfsPath = gameConfigPath(crfs);
        for (std::string& line : lines) line = rearrangedResnameLine(line, crfsPath);
        replaceLinesAtomically(cfg, lines);
    } catch (const EInOutError& e) {
        // The game must find its resource files where install.cfg says: the files go
        // back and the folder goes, so the question comes again at the next OK.
        for (auto it = moved.rbegin(); it != moved.rend(); ++it)
            fsx::moveFile(it->second, it->first);
        if (createdDir) fsx::removeDirectory(crfs);
        errorBox(e.what());
        return false;
    }
    return true;
}

namespace {

// True when the game in `dir` starts through the start command of Windows programs: it has
// no start command of its own, and no launcher of its own with a Wine build (Steam starts
// its games itself).
bool usesStartCommand(const std::string& dir, const std::string& ownCommand) {
    if (dir.empty() || !launcher::splitStartCommand(ownCommand).empty()) return false;
    const gamesources::GameRunner runner =
        gamesources::runnerFor(text::withTrailingDelim(dir), gamesources::homeFolder());
    switch (runner.source) {
        case gamesources::Source::steam:
        case gamesources::Source::steamFlatpak:
            return false;
        case gamesources::Source::heroic:
        case gamesources::Source::heroicFlatpak:
        case gamesources::Source::lutris:
            return runner.wine.empty();
        case gamesources::Source::winePrefix:
            break;
    }
    return true;
}

// A start command that was changed (or confirmed the first time) and cannot be found is
// pointed out when a game starts through it; it is kept all the same, so that Wine can be
// installed later.
void warnOfMissingStartCommand(const SetupState& state, const IniFile* settings) {
    const std::string& command = state.startCommand;
    bool used = false;
    for (const auto& [number, g] : state.games) used = used || usesStartCommand(g.dir, g.command);
    if (!used) return;
    const bool confirmed = settings && settings::has(settings, settings::startCommand) &&
                           launcher::startCommandSetting(settings) == command;
    if (confirmed || !launcher::findStartCommand(command).empty()) return;
    const std::vector<std::string> words = launcher::splitStartCommand(command);
    prompter().message(
        text::withArgument(
            slot(kStartCommandNotFoundSlot),
            words.empty() ? std::string(launcher::kDefaultStartCommand) : words.front()),
        PromptButtons::Ok, PromptIcon::Warning);
}

}  // namespace

bool SetupOk(const SetupFiles& files, const SetupState& state, const SetupHooks& hooks) {
    IniFile* settings = files.settings;
    try {
        // The language first, so that a change takes effect even when a check fails.
        if (settings) settings::set(*settings, settings::language, state.languageIndex + 1);
        LoadLanguageTable();

        if (state.missionDirs.empty()) {
            errorBox(slot(66));
            return false;
        }
        bool anyGame = false;
        for (const auto& [number, g] : state.games) anyGame = anyGame || !g.dir.empty();
        if (!anyGame) {
            errorBox(slot(65));
            return false;
        }
        bool passed = true;
        for (const games::Game& game : games::all()) {
            const auto g = state.games.find(game.number);
            if (g == state.games.end() || g->second.dir.empty()) continue;
            bool aborted = false;
            if (!checkGameDir(settings, game, g->second.dir, aborted)) passed = false;
            if (aborted) return false;
        }
        if (!passed) return false;
        warnOfMissingStartCommand(state, settings);

        if (settings) {
            // One atomic store: a failure leaves the earlier settings whole.
            IniBatch batch(*settings);
            settings::setMissionDirectories(*settings, state.missionDirs);
            for (const games::Game& game : games::all()) {
                const GameSetup& g = gameOf(state, game.number);
                settings::set(*settings, settings::gameDirectory(game.dirSetting), g.dir);
            }
            settings::set(*settings, settings::compressionLevel, state.compressLevel);
            launcher::storeStartCommand(*settings, state.startCommand);
            for (const games::Game& game : games::all())
                storeGameStartCommand(*settings, game.number, gameOf(state, game.number).command);
            for (const games::Game& game : games::all()) {
                const GameSetup& g = gameOf(state, game.number);
                if (g.folders.chosen)
                    missionfolders::storeEnabled(*settings, game.number, g.folders.on);
            }
            if (state.windowMode == 0) {
                settings::forgetWindow(*settings);
            } else if (hooks.saveWindowGeometry) {
                hooks.saveWindowGeometry();
            }
            batch.Commit();
        }
    } catch (const ESettingsWriteError& e) {
        errorBox(e.what());
        return false;
    }
    if (state.windowMode == 0 && hooks.maximiseMainWindow) hooks.maximiseMainWindow();
    if (hooks.scanCatalogue) hooks.scanCatalogue();
    return true;
}

namespace {

std::function<void()>& setupHook() {
    static std::function<void()> hook;
    return hook;
}

}  // namespace

void RunSetupDialog() {
    if (setupHook()) setupHook()();
}

std::function<void()> setSetupDialogHook(std::function<void()> hook) {
    return std::exchange(setupHook(), std::move(hook));
}
