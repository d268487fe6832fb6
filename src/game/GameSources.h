#pragma once
// Where Linux players keep their Thief games and how each is started: through Steam (its
// Proton prefix belongs to Steam), with the Wine build and prefix Heroic or Lutris keep for
// it, or in a plain Wine prefix. The launchers' own files are read, never written; any of
// them that is missing, unreadable or malformed is skipped and named in `skipped`.

#include <string>
#include <vector>

namespace gamesources {

// The launcher a game directory belongs to.
enum class Source {
    winePrefix,     // a plain Wine prefix (or none): the start command of Windows programs
    steam,          // Steam, native package
    steamFlatpak,   // Steam, Flatpak com.valvesoftware.Steam
    heroic,         // Heroic Games Launcher (GOG), native
    heroicFlatpak,  // Heroic, Flatpak com.heroicgameslauncher.hgl
    lutris,         // Lutris
};

// How a game directory is started.
struct GameRunner {
    Source source = Source::winePrefix;
    std::string label;      // shown to the player: "Steam", "Steam (Flatpak)", "Heroic",
                            // "Heroic (Flatpak)", "Lutris", "Wine prefix ~/.wine"
    std::string appId;      // Steam: the app id ("211600" Thief Gold, "211740" Thief II)
    std::string steamRoot;  // Steam: the Steam folder the game's library belongs to
    std::string wine;       // Heroic, Lutris: the Wine build's program (".../bin/wine"), or
                            // Heroic's Proton script (".../proton"); empty: the start command
    bool proton = false;    // `wine` is a Proton script (started "proton run <exe>")
    std::string prefix;     // the Wine prefix (WINEPREFIX; for Proton, the compat data
                            // folder holding "pfx"); empty: found above the game directory
};

// A game directory (Thief 1, Thief 2, System Shock 2) found in a launcher's files or a prefix.
struct FoundGame {
    int game = 0;     // 1 or 2
    std::string dir;  // the game directory, ending in the separator
    GameRunner runner;
};

struct Discovery {
    std::vector<FoundGame> games;      // each directory once, in the order the sources are read
    std::vector<std::string> skipped;  // "<file>: <why>" for each launcher file not read
};

// Every Thief directory (a folder holding a game's program (game/Games.h) and "install.cfg",
// names in any case) that Steam (native and Flatpak, every library), Heroic (native and
// Flatpak), Lutris and the plain prefixes ("~/.wine", "~/Games/*/" holding "drive_c") under
// the home folder `home` know of. Never throws.
Discovery findGames(const std::string& home);

// How the game directory `gameDir` is started, recognised from the directory itself whether
// it was found or typed: a directory under "<library>/steamapps/common/" whose app manifest
// names it is a Steam game; one listed by Heroic or Lutris is theirs; any other starts in
// its prefix. Never throws.
GameRunner runnerFor(const std::string& gameDir, const std::string& home);

// The home folder ($HOME).
std::string homeFolder();

}  // namespace gamesources
