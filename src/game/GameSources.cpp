#include "game/GameSources.h"

#include <yaml-cpp/yaml.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QString>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <system_error>

#include "game/GameDir.h"
#include "game/Games.h"
#include "game/KeyValues.h"
#include "platform/FileSystem.h"
#include "platform/Launcher.h"

namespace gamesources {

namespace {

namespace fs = std::filesystem;

constexpr uintmax_t kMaxLauncherFile = 16u << 20;  // larger is no launcher's settings file
constexpr size_t kMaxFolderEntries = 2000;         // entries looked at in one folder
constexpr const char* kSteamFlatpakHome = "/.var/app/com.valvesoftware.Steam";
constexpr const char* kHeroicFlatpakHome = "/.var/app/com.heroicgameslauncher.hgl";

// ---------------------------------------------------------------------------------------
// Paths

std::string withoutSeparator(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string parentOf(const std::string& path) {
    const size_t cut = path.rfind('/');
    if (cut == std::string::npos) return std::string();
    return cut == 0 ? std::string("/") : path.substr(0, cut);
}

std::string nameOf(const std::string& path) {
    const size_t cut = path.rfind('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The path with links and "." / ".." resolved and names matched without regard to case, as
// far as it exists; two spellings of one folder give the same text.
std::string canonical(const std::string& path) {
    if (path.empty()) return path;
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(fsx::resolve(path), ec);
    return withoutSeparator(ec ? path : resolved.string());
}

std::string expandHome(const std::string& path, const std::string& home) {
    if (path == "~") return home;
    if (path.rfind("~/", 0) == 0) return home + path.substr(1);
    return path;
}

bool isUnder(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

// A path as the player knows it: the home folder shown as "~".
std::string shownPath(const std::string& path, const std::string& home) {
    for (const std::string& base : {withoutSeparator(home), canonical(home)}) {
        if (base.empty() || base == "/") continue;
        if (path == base) return "~";
        if (isUnder(path, base)) return "~" + path.substr(base.size());
    }
    return path;
}

// One name, no way out of the folder it is joined to.
bool plainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::vector<std::string> subfolders(const std::string& dir, const std::string& pattern = "*") {
    std::vector<std::string> names;
    for (const fsx::DirEntry& entry : fsx::listDirectory(dir, pattern)) {
        if (names.size() >= kMaxFolderEntries) break;
        if (entry.isDirectory) names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The Steam app ids of every game, in the table's order.
std::vector<std::string> steamAppIds() {
    std::vector<std::string> ids;
    for (const games::Game& game : games::all())
        ids.insert(ids.end(), game.steamAppIds.begin(), game.steamAppIds.end());
    return ids;
}

// The game of a game directory, else 0; `why` then says what is missing.
int thiefGame(const std::string& dir, std::string* why = nullptr) {
    const std::string base = dir + "/";
    const games::Game* found = games::withProgramIn(base);
    const int game = found ? found->number : 0;
    const bool config = fsx::fileExists(base + gamedir::kInstallCfg);
    if (why) *why = game == 0 ? "no " + games::programNames() : !config ? "no install.cfg" : "";
    return config ? game : 0;
}

// ---------------------------------------------------------------------------------------
// Launcher files: a missing one is nothing to report, any other that cannot be used is
// named in `skipped`.

std::optional<std::string> readLauncherFile(const std::string& path,
                                            std::vector<std::string>& skipped) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found || ec == std::errc::no_such_file_or_directory ||
        ec == std::errc::not_a_directory)
        return std::nullopt;
    if (ec || !fs::is_regular_file(status)) {
        skipped.push_back(path + ": cannot be read");
        return std::nullopt;
    }
    const uintmax_t size = fs::file_size(path, ec);
    if (ec || size > kMaxLauncherFile) {
        skipped.push_back(path + (ec ? ": cannot be read" : ": too large"));
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        skipped.push_back(path + ": cannot be read");
        return std::nullopt;
    }
    return text;
}

std::optional<keyvalues::Node> readKeyValues(const std::string& path,
                                             std::vector<std::string>& skipped) {
    const std::optional<std::string> text = readLauncherFile(path, skipped);
    if (!text) return std::nullopt;
    std::string error;
    std::optional<keyvalues::Node> doc = keyvalues::parse(*text, error);
    if (!doc) skipped.push_back(path + ": malformed (" + error + ")");
    return doc;
}

std::optional<QJsonDocument> readJson(const std::string& path, std::vector<std::string>& skipped) {
    const std::optional<std::string> text = readLauncherFile(path, skipped);
    if (!text) return std::nullopt;
    QJsonParseError error;
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(*text), &error);
    if (error.error != QJsonParseError::NoError) {
        skipped.push_back(path + ": malformed JSON (" + error.errorString().toStdString() +
                          " at byte " + std::to_string(error.offset) + ")");
        return std::nullopt;
    }
    return doc;
}

std::optional<YAML::Node> readYaml(const std::string& path, std::vector<std::string>& skipped) {
    const std::optional<std::string> text = readLauncherFile(path, skipped);
    if (!text) return std::nullopt;
    try {
        return YAML::Load(*text);
    } catch (const YAML::Exception& e) {
        skipped.push_back(path + ": malformed YAML (line " + std::to_string(e.mark.line + 1) +
                          ": " + e.msg + ")");
    } catch (const std::exception&) {
        skipped.push_back(path + ": malformed YAML");
    }
    return std::nullopt;
}

std::string jsonText(const QJsonObject& object, const char* key) {
    return object.value(QLatin1String(key)).toString().toStdString();
}

// A text value below a YAML map ("game" / "exe"); empty when any step is missing. (A
// missing key gives a node that throws when asked its type, so validity is asked first.)
std::string yamlText(const YAML::Node& doc, const char* section, const char* key) {
    if (!doc || !doc.IsMap()) return std::string();
    const YAML::Node map = doc[section];
    if (!map || !map.IsMap()) return std::string();
    const YAML::Node value = map[key];
    return value && value.IsScalar() ? value.Scalar() : std::string();
}

// ---------------------------------------------------------------------------------------
// Steam

struct SteamInstall {
    std::string root;  // canonical
    bool flatpak = false;
    std::vector<std::string> libraries;  // canonical, the root first
};

// The paths libraryfolders.vdf lists: "libraryfolders" { "0" { "path" "..." } ... }, or in
// the older form "LibraryFolders" { "1" "..." }.
std::vector<std::string> libraryPaths(const std::string& vdfPath,
                                      std::vector<std::string>& skipped) {
    std::vector<std::string> paths;
    const std::optional<keyvalues::Node> doc = readKeyValues(vdfPath, skipped);
    if (!doc) return paths;
    const keyvalues::Node* list = doc->child("libraryfolders");
    if (!list || !list->block) {
        skipped.push_back(vdfPath + ": no library list");
        return paths;
    }
    for (const keyvalues::Node& entry : list->children) {
        const bool numbered =
            !entry.key.empty() && entry.key.find_first_not_of("0123456789") == std::string::npos;
        const std::string path = entry.block ? entry.text("path") : numbered ? entry.value : "";
        if (!path.empty()) paths.push_back(path);
    }
    return paths;
}

// Flatpak Steam sees its own data folder as the home's: a listed path under the home that
// is only there in the Flatpak's folder is taken from it.
std::string flatpakLibrary(const std::string& path, const std::string& home) {
    const std::string base = withoutSeparator(home);
    if (!isUnder(path, base) || fsx::directoryExists(path + "/steamapps")) return path;
    const std::string inside = base + kSteamFlatpakHome + path.substr(base.size());
    return fsx::directoryExists(inside + "/steamapps") ? inside : path;
}

std::vector<SteamInstall> steamInstalls(const std::string& home,
                                        std::vector<std::string>& skipped) {
    const std::string base = withoutSeparator(home);
    const std::pair<std::string, bool> candidates[] = {
        {base + "/.steam/root", false},
        {base + "/.steam/steam", false},
        {base + "/.local/share/Steam", false},
        {base + "/.steam/debian-installation", false},
        {base + kSteamFlatpakHome + "/.local/share/Steam", true},
    };
    std::vector<SteamInstall> installs;
    std::set<std::string> roots;
    for (const auto& [candidate, flatpak] : candidates) {
        if (!fsx::directoryExists(candidate + "/steamapps")) continue;
        SteamInstall install{canonical(candidate), flatpak, {}};
        if (!roots.insert(install.root).second) continue;
        install.libraries.push_back(install.root);
        for (std::string path :
             libraryPaths(install.root + "/steamapps/libraryfolders.vdf", skipped)) {
            if (flatpak) path = flatpakLibrary(withoutSeparator(path), home);
            path = canonical(path);
            if (std::find(install.libraries.begin(), install.libraries.end(), path) ==
                install.libraries.end())
                install.libraries.push_back(path);
        }
        installs.push_back(std::move(install));
    }
    return installs;
}

// The folder name appmanifest_<id>.acf gives the game in "<library>/steamapps/common/";
// empty when there is no manifest or it names none.
std::string manifestInstallDir(const std::string& library, const std::string& appId,
                               std::vector<std::string>& skipped) {
    const std::string path = library + "/steamapps/appmanifest_" + appId + ".acf";
    const std::optional<keyvalues::Node> doc = readKeyValues(path, skipped);
    if (!doc) return std::string();
    const keyvalues::Node* state = doc->child("AppState");
    const std::string installDir = state ? state->text("installdir") : std::string();
    if (installDir.empty()) {
        skipped.push_back(path + ": no installdir");
    } else if (!plainName(installDir)) {
        skipped.push_back(path + ": installdir is not a folder name");
        return std::string();
    }
    return installDir;
}

GameRunner steamRunner(const std::string& root, bool flatpak, const std::string& library,
                       const std::string& appId) {
    GameRunner runner;
    runner.source = flatpak ? Source::steamFlatpak : Source::steam;
    runner.label = flatpak ? "Steam (Flatpak)" : "Steam";
    runner.appId = appId;
    runner.steamRoot = root;
    runner.prefix = library + "/steamapps/compatdata/" + appId;
    return runner;
}

// ---------------------------------------------------------------------------------------
// Heroic

struct HeroicConfig {
    std::string dir;
    Source source;
    const char* label;
};

std::vector<HeroicConfig> heroicConfigs(const std::string& home) {
    const std::string base = withoutSeparator(home);
    return {
        {base + "/.config/heroic", Source::heroic, "Heroic"},
        {base + kHeroicFlatpakHome + "/config/heroic", Source::heroicFlatpak, "Heroic (Flatpak)"}};
}

struct HeroicGame {
    std::string appName, installPath;
};

// The GOG games gog_store/installed.json lists: { "installed": [ { "appName", "install_path" } ] }.
std::vector<HeroicGame> heroicGames(const HeroicConfig& config, std::vector<std::string>& skipped) {
    std::vector<HeroicGame> games;
    const std::string path = config.dir + "/gog_store/installed.json";
    const std::optional<QJsonDocument> doc = readJson(path, skipped);
    if (!doc) return games;
    const QJsonValue list = doc->object().value(QLatin1String("installed"));
    if (!list.isArray()) {
        skipped.push_back(path + ": no \"installed\" list");
        return games;
    }
    for (const QJsonValue& entry : list.toArray()) {
        const QJsonObject game = entry.toObject();
        HeroicGame found{jsonText(game, "appName"), jsonText(game, "install_path")};
        if (!found.installPath.empty()) games.push_back(std::move(found));
    }
    return games;
}

// The Wine build and prefix GamesConfig/<appName>.json keeps for the game:
// { "<appName>": { "winePrefix": ..., "wineVersion": { "bin": ..., "type": "wine"|"proton" } } }.
GameRunner heroicRunner(const HeroicConfig& config, const std::string& appName,
                        const std::string& home, std::vector<std::string>& skipped) {
    GameRunner runner;
    runner.source = config.source;
    runner.label = config.label;
    if (!plainName(appName)) return runner;
    const std::optional<QJsonDocument> doc =
        readJson(config.dir + "/GamesConfig/" + appName + ".json", skipped);
    if (!doc) return runner;
    const QJsonObject all = doc->object();
    const QJsonValue own = all.value(QString::fromStdString(appName));
    const QJsonObject settings = own.isObject() ? own.toObject() : all;
    const QJsonObject wine = settings.value(QLatin1String("wineVersion")).toObject();
    runner.wine = expandHome(jsonText(wine, "bin"), home);
    runner.proton = jsonText(wine, "type") == "proton";
    runner.prefix = expandHome(jsonText(settings, "winePrefix"), home);
    return runner;
}

// ---------------------------------------------------------------------------------------
// Lutris

struct LutrisGame {
    std::string dir;  // the folder of the game's program
    GameRunner runner;
};

// The game one of Lutris's games/*.yml describes: "game: exe" (a relative one below
// "game: prefix"), "game: prefix", "wine: version"; nothing when it names no program.
std::optional<LutrisGame> lutrisGame(const YAML::Node& doc, const std::string& home) {
    LutrisGame game;
    game.runner.source = Source::lutris;
    game.runner.label = "Lutris";
    game.runner.prefix = expandHome(yamlText(doc, "game", "prefix"), home);
    std::string exe = expandHome(yamlText(doc, "game", "exe"), home);
    if (!exe.empty() && exe[0] != '/' && !game.runner.prefix.empty())
        exe = game.runner.prefix + "/" + exe;
    if (exe.empty() || exe[0] != '/') return std::nullopt;
    game.dir = parentOf(exe);
    const std::string version = yamlText(doc, "wine", "version");
    if (plainName(version) && version != "system")
        game.runner.wine =
            withoutSeparator(home) + "/.local/share/lutris/runners/wine/" + version + "/bin/wine";
    return game;
}

std::vector<LutrisGame> lutrisGames(const std::string& home, std::vector<std::string>& skipped) {
    const std::string base = withoutSeparator(home);
    std::vector<LutrisGame> games;
    for (const std::string& folder :
         {base + "/.config/lutris/games", base + "/.local/share/lutris/games"}) {
        std::vector<std::string> files;
        for (const fsx::DirEntry& entry : fsx::listDirectory(folder, "*.yml"))
            if (files.size() < kMaxFolderEntries) files.push_back(entry.name);
        std::sort(files.begin(), files.end());
        for (const std::string& file : files) {
            const std::optional<YAML::Node> doc = readYaml(folder + "/" + file, skipped);
            if (!doc) continue;
            try {
                if (std::optional<LutrisGame> game = lutrisGame(*doc, home))
                    games.push_back(std::move(*game));
            } catch (const std::exception& e) {
                skipped.push_back(folder + "/" + file + ": " + e.what());
            }
        }
    }
    return games;
}

// ---------------------------------------------------------------------------------------
// Plain Wine prefixes

std::vector<std::string> plainPrefixes(const std::string& home) {
    const std::string base = withoutSeparator(home);
    std::vector<std::string> prefixes;
    if (fsx::directoryExists(base + "/.wine/drive_c")) prefixes.push_back(base + "/.wine");
    for (const std::string& name : subfolders(base + "/Games"))
        if (fsx::directoryExists(base + "/Games/" + name + "/drive_c"))
            prefixes.push_back(base + "/Games/" + name);
    return prefixes;
}

bool usualGamesFolder(const std::string& name) {
    const std::string key = fsx::foldKey(name);
    return key.rfind("program files", 0) == 0 || key == "gog games" || key == "games";
}

// The folders of a prefix where games are installed: each folder of drive_c and, below
// "Program Files*", "GOG Games" and "Games", two levels ("Games/Thief Gold",
// "Program Files/Eidos/Thief Gold"). Never deeper.
std::vector<std::string> gameFolderCandidates(const std::string& prefix) {
    const std::string driveC = prefix + "/drive_c";
    std::vector<std::string> candidates;
    for (const std::string& top : subfolders(driveC)) {
        const std::string topDir = driveC + "/" + top;
        candidates.push_back(topDir);
        if (!usualGamesFolder(top)) continue;
        for (const std::string& name : subfolders(topDir)) {
            candidates.push_back(topDir + "/" + name);
            for (const std::string& inner : subfolders(topDir + "/" + name))
                candidates.push_back(topDir + "/" + name + "/" + inner);
        }
    }
    return candidates;
}

GameRunner prefixRunner(const std::string& prefix, const std::string& home) {
    GameRunner runner;
    runner.source = Source::winePrefix;
    runner.label = prefix.empty() ? "Wine prefix" : "Wine prefix " + shownPath(prefix, home);
    runner.prefix = prefix;
    return runner;
}

// ---------------------------------------------------------------------------------------
// Finding

class Finder {
  public:
    explicit Finder(const std::string& home) : home_(home) {}

    Discovery result;

    // Lists `dir` with `runner` when it is a Thief directory not listed yet. A folder a
    // launcher names for Thief (`named`) that is something else is noted.
    void add(const std::string& dir, GameRunner runner, bool named) {
        const std::string path = canonical(dir);
        if (path.empty() || seen_.count(path)) return;
        std::string why;
        const int game = thiefGame(path, &why);
        if (game == 0) {
            if (named && fsx::directoryExists(path)) result.skipped.push_back(path + ": " + why);
            return;
        }
        seen_.insert(path);
        result.games.push_back({game, path + "/", std::move(runner)});
    }

    void steam() {
        std::set<std::string> libraries;
        for (const SteamInstall& install : steamInstalls(home_, result.skipped))
            for (const std::string& library : install.libraries) {
                if (!libraries.insert(library).second) continue;
                for (const std::string& appId : steamAppIds()) {
                    const std::string dir = manifestInstallDir(library, appId, result.skipped);
                    if (dir.empty()) continue;
                    add(library + "/steamapps/common/" + dir,
                        steamRunner(install.root, install.flatpak, library, appId), true);
                }
            }
    }

    void heroic() {
        for (const HeroicConfig& config : heroicConfigs(home_))
            for (const HeroicGame& game : heroicGames(config, result.skipped)) {
                if (thiefGame(canonical(game.installPath)) == 0) continue;
                add(game.installPath, heroicRunner(config, game.appName, home_, result.skipped),
                    false);
            }
    }

    void lutris() {
        for (LutrisGame& game : lutrisGames(home_, result.skipped))
            add(game.dir, std::move(game.runner), false);
    }

    void prefixes() {
        for (const std::string& prefix : plainPrefixes(home_)) {
            const GameRunner runner = prefixRunner(prefix, home_);
            for (const std::string& dir : gameFolderCandidates(prefix)) add(dir, runner, false);
        }
    }

  private:
    std::string home_;
    std::set<std::string> seen_;
};

// ---------------------------------------------------------------------------------------
// Recognising a typed directory (`dir` canonical)

std::optional<GameRunner> steamRunnerFor(const std::string& dir, const std::string& home) {
    const std::string common = parentOf(dir), steamapps = parentOf(common);
    if (!fsx::sameName(nameOf(common), "common") || !fsx::sameName(nameOf(steamapps), "steamapps"))
        return std::nullopt;
    const std::string library = parentOf(steamapps);
    std::vector<std::string> ignored;
    std::string appId;
    for (const std::string& id : steamAppIds()) {
        const std::string installDir = manifestInstallDir(library, id, ignored);
        if (!installDir.empty() && canonical(common + "/" + installDir) == dir) appId = id;
    }
    if (appId.empty()) return std::nullopt;

    const std::vector<SteamInstall> installs = steamInstalls(home, ignored);
    for (const SteamInstall& install : installs)
        for (const std::string& listed : install.libraries)
            if (listed == library)
                return steamRunner(install.root, install.flatpak, library, appId);
    const bool inFlatpak = isUnder(dir, canonical(withoutSeparator(home) + kSteamFlatpakHome));
    if (fsx::fileExists(library + "/steam.sh") || fsx::directoryExists(library + "/ubuntu12_32"))
        return steamRunner(library, inFlatpak, library, appId);
    if (!installs.empty())
        return steamRunner(installs.front().root, installs.front().flatpak, library, appId);
    return steamRunner(std::string(), inFlatpak, library, appId);
}

std::optional<GameRunner> heroicRunnerFor(const std::string& dir, const std::string& home) {
    std::vector<std::string> ignored;
    for (const HeroicConfig& config : heroicConfigs(home))
        for (const HeroicGame& game : heroicGames(config, ignored))
            if (canonical(game.installPath) == dir)
                return heroicRunner(config, game.appName, home, ignored);
    return std::nullopt;
}

std::optional<GameRunner> lutrisRunnerFor(const std::string& dir, const std::string& home) {
    std::vector<std::string> ignored;
    for (LutrisGame& game : lutrisGames(home, ignored))
        if (canonical(game.dir) == dir) return std::move(game.runner);
    return std::nullopt;
}

}  // namespace

Discovery findGames(const std::string& home) {
    Finder finder(home);
    // Each source on its own: one that fails (out of memory, say) leaves the others.
    const std::pair<const char*, void (Finder::*)()> sources[] = {
        {"Steam", &Finder::steam},
        {"Heroic", &Finder::heroic},
        {"Lutris", &Finder::lutris},
        {"Wine prefixes", &Finder::prefixes},
    };
    for (const auto& [name, step] : sources) {
        try {
            (finder.*step)();
        } catch (const std::exception& e) {
            finder.result.skipped.push_back(std::string(name) + ": " + e.what());
        }
    }
    return std::move(finder.result);
}

GameRunner runnerFor(const std::string& gameDir, const std::string& home) {
    try {
        const std::string dir = canonical(gameDir);
        if (std::optional<GameRunner> runner = steamRunnerFor(dir, home)) return *runner;
        if (std::optional<GameRunner> runner = heroicRunnerFor(dir, home)) return *runner;
        if (std::optional<GameRunner> runner = lutrisRunnerFor(dir, home)) return *runner;
        return prefixRunner(launcher::findWinePrefix(dir + "/"), home);
    } catch (const std::exception&) {
        return prefixRunner(std::string(), home);
    }
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    return home ? home : "";
}

}  // namespace gamesources
