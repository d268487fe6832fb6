// Games found in made-up home folders holding the launchers' files as Steam, Heroic and
// Lutris write them, and in plain Wine prefixes.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "game/GameSources.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using gamesources::Source;

// A home folder ("home/") with one game in each launcher, and a Steam library on a card
// ("card/") beside it. Names of game files in mixed case, as Windows installers leave them.
struct LauncherHome {
    TempDir tmp;
    const std::string root = fs::canonical(tmp.path()).string() + "/";
    const std::string H = root + "home", card = root + "card";
    const std::string S = H + "/.local/share/Steam";
    const std::string F = H + "/.var/app/com.valvesoftware.Steam/.local/share/Steam";
    const std::string heroicFlatpak = H + "/.var/app/com.heroicgameslauncher.hgl/config/heroic";
    const std::string proton = heroicFlatpak + "/tools/proton/GE-Proton8-25/proton";

    void put(const std::string& path, const std::string& content = "") {
        fs::create_directories(fs::path(path).parent_path());
        writeFile(path, content);
    }
    void thief(const std::string& dir, const std::string& exe) {
        put(dir + "/" + exe, "MZ");
        put(dir + "/install.cfg");
    }

    LauncherHome() {
        put(S + "/steamapps/libraryfolders.vdf",
            "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + S +
                "\"\n\t\t\"apps\" { \"211600\" \"1\" }\n\t}\n\t\"1\" { \"path\" \"" + card +
                "\" } // the card\n}\n");
        put(S + "/steamapps/appmanifest_211600.acf",
            "\"AppState\"\n{\n\t\"name\"\t\"Thief \\\"Gold\\\"\"\n\t\"installdir\"\t\"Thief "
            "Gold\"\n}\n");
        put(S + "/steam.sh");
        thief(S + "/steamapps/common/Thief Gold", "THIEF.EXE");
        fs::create_directories(H + "/.steam");
        fs::create_directory_symlink("../.local/share/Steam", H + "/.steam/root");
        fs::create_directory_symlink(S, H + "/.steam/steam");
        put(card + "/steamapps/appmanifest_211740.acf",
            "\"AppState\" { \"installdir\" \"Thief 2\" }");
        thief(card + "/steamapps/common/Thief 2", "thief2.exe");
        put(F + "/steamapps/appmanifest_211600.acf",
            "\"AppState\" { \"installdir\" \"Thief Gold\" }");
        thief(F + "/steamapps/common/Thief Gold", "Thief.exe");

        put(H + "/.config/heroic/gog_store/installed.json",
            R"({"installed": [{"appName": "1207658930", "install_path": ")" + H +
                R"(/Games/Heroic/Thief Gold", "platform": "windows"},
                {"appName": "1", "install_path": ")" +
                H + R"(/Games/Heroic/Other"}]})");
        put(H + "/.config/heroic/GamesConfig/1207658930.json",
            R"({"1207658930": {"winePrefix": ")" + H +
                R"(/Games/Heroic/Prefixes/Thief Gold", "wineVersion": {"bin": "/usr/bin/wine",
                "name": "Wine - 8.0", "type": "wine"}}, "version": "v0"})");
        thief(H + "/Games/Heroic/Thief Gold", "thief.exe");
        put(H + "/Games/Heroic/Other/game.exe");
        put(heroicFlatpak + "/gog_store/installed.json",
            R"({"installed": [{"appName": "1207658931", "install_path": ")" + H +
                R"(/Games/Heroic/Thief II"}]})");
        put(heroicFlatpak + "/GamesConfig/1207658931.json",
            R"({"1207658931": {"winePrefix": "~/Games/Heroic/Prefixes/Thief II",
                "wineVersion": {"bin": ")" +
                proton + R"(", "type": "proton"}}})");
        thief(H + "/Games/Heroic/Thief II", "THIEF2.EXE");

        put(H + "/.config/lutris/games/thief-gold-1.yml",
            "game:\n  exe: " + H +
                "/Games/thief-gold/drive_c/GOG Games/Thief Gold/THIEF.EXE\n  prefix: " + H +
                "/Games/thief-gold\nwine:\n  version: lutris-7.2-2-x86_64\nsystem: {}\n");
        thief(H + "/Games/thief-gold/drive_c/GOG Games/Thief Gold", "THIEF.EXE");
        put(H + "/.local/share/lutris/games/thief-2-2.yml",
            "game:\n  exe: ~/Games/thief-2/drive_c/Games/Thief 2/thief2.exe\n"
            "  prefix: ~/Games/thief-2\n");
        thief(H + "/Games/thief-2/drive_c/Games/Thief 2", "thief2.exe");

        put(H + "/.wine/system.reg");
        thief(H + "/.wine/drive_c/Program Files (x86)/Eidos/Thief Gold", "thief.exe");
        put(H + "/Games/X/system.reg");
        thief(H + "/Games/X/drive_c/GOG Games/Thief 2", "THIEF2.EXE");
    }
};

std::string describe(const gamesources::GameRunner& r) {
    return std::to_string(int(r.source)) + " | " + r.label + " | " + r.appId + " | " + r.steamRoot +
           " | " + r.prefix + " | " + r.wine + (r.proton ? " | proton" : "");
}

std::string describe(const gamesources::FoundGame& g) {
    return g.dir + " | " + std::to_string(g.game) + " | " + describe(g.runner);
}

std::string runner(Source source, const std::string& label, const std::string& appId,
                   const std::string& steamRoot, const std::string& prefix,
                   const std::string& wine = "", bool proton = false) {
    gamesources::GameRunner r{source, label, appId, steamRoot, wine, proton, prefix};
    return describe(r);
}

TEST(GameSources, EachLauncherGivesItsGamesOnceWithTheirRunners) {
    LauncherHome h;
    const std::string& H = h.H;
    const std::string steamTg =
        runner(Source::steam, "Steam", "211600", h.S, h.S + "/steamapps/compatdata/211600");
    const std::vector<std::string> expected = {
        h.S + "/steamapps/common/Thief Gold/ | 1 | " + steamTg,
        h.card + "/steamapps/common/Thief 2/ | 2 | " +
            runner(Source::steam, "Steam", "211740", h.S, h.card + "/steamapps/compatdata/211740"),
        h.F + "/steamapps/common/Thief Gold/ | 1 | " +
            runner(Source::steamFlatpak, "Steam (Flatpak)", "211600", h.F,
                   h.F + "/steamapps/compatdata/211600"),
        H + "/Games/Heroic/Thief Gold/ | 1 | " +
            runner(Source::heroic, "Heroic", "", "", H + "/Games/Heroic/Prefixes/Thief Gold",
                   "/usr/bin/wine"),
        H + "/Games/Heroic/Thief II/ | 2 | " +
            runner(Source::heroicFlatpak, "Heroic (Flatpak)", "", "",
                   H + "/Games/Heroic/Prefixes/Thief II", h.proton, true),
        H + "/Games/thief-gold/drive_c/GOG Games/Thief Gold/ | 1 | " +
            runner(Source::lutris, "Lutris", "", "", H + "/Games/thief-gold",
                   H + "/.local/share/lutris/runners/wine/lutris-7.2-2-x86_64/bin/wine"),
        H + "/Games/thief-2/drive_c/Games/Thief 2/ | 2 | " +
            runner(Source::lutris, "Lutris", "", "", H + "/Games/thief-2"),
        H + "/.wine/drive_c/Program Files (x86)/Eidos/Thief Gold/ | 1 | " +
            runner(Source::winePrefix, "Wine prefix ~/.wine", "", "", H + "/.wine"),
        H + "/Games/X/drive_c/GOG Games/Thief 2/ | 2 | " +
            runner(Source::winePrefix, "Wine prefix ~/Games/X", "", "", H + "/Games/X"),
    };
    const gamesources::Discovery found = gamesources::findGames(H);
    std::vector<std::string> got;
    for (const auto& game : found.games) got.push_back(describe(game));
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(found.skipped.empty()) << found.skipped.front();
}

TEST(GameSources, BrokenLauncherFilesAreNotedAndTheRestIsFound) {
    struct Row {
        const char* what;
        std::function<std::string(LauncherHome&)> damage;  // returns the noted file
        const char* why;
        size_t games;
    };
    const auto write = [](const std::string& sub, const std::string& text) {
        return [sub, text](LauncherHome& h) {
            const std::string path = h.root + sub;
            h.put(path, text);
            return path;
        };
    };
    std::string deep;
    for (int i = 0; i < 100; ++i) deep += "\"a\" {";
    const Row rows[] = {
        {"bad VDF",
         write("home/.local/share/Steam/steamapps/libraryfolders.vdf",
               "\"libraryfolders\" { \"0\" { \"path\" \"x\" }"),
         ": malformed (line 1: missing '}')", 8},
        {"deep VDF", write("home/.local/share/Steam/steamapps/libraryfolders.vdf", deep),
         ": malformed (line 1: nested too deeply)", 8},
        {"bad escape",
         write("home/.local/share/Steam/steamapps/appmanifest_211600.acf",
               "\"AppState\"\n{ \"installdir\" \"a\\q\" }"),
         ": malformed (line 2: unknown escape)", 8},
        {"bad JSON", write("home/.config/heroic/gog_store/installed.json", "{\"installed\": ["),
         ": malformed JSON", 8},
        {"bad YAML", write("home/.config/lutris/games/thief-gold-1.yml", "game: [exe: }\n"),
         ": malformed YAML", 9},  // its prefix still gives the game
        {"unreadable file",
         [](LauncherHome& h) {
             const std::string path = h.card + "/steamapps/appmanifest_211740.acf";
             fs::remove(path);
             fs::create_directory(path);
             return path;
         },
         ": cannot be read", 8},
        {"no installdir", write("card/steamapps/appmanifest_211740.acf", "\"AppState\" {}"),
         ": no installdir", 8},
        {"no install.cfg",
         [](LauncherHome& h) {
             const std::string dir = h.card + "/steamapps/common/Thief 2";
             fs::remove(dir + "/install.cfg");
             return dir;
         },
         ": no install.cfg", 8},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        LauncherHome h;
        const std::string noted = row.damage(h) + row.why;
        gamesources::Discovery found;
        EXPECT_NO_THROW(found = gamesources::findGames(h.H));
        ASSERT_EQ(found.skipped.size(), 1u);
        EXPECT_EQ(found.skipped[0].substr(0, noted.size()), noted) << found.skipped[0];
        EXPECT_EQ(found.games.size(), row.games);
    }
}

// System Shock 2 is found wherever Thief is: beside Thief in each launcher and prefix, the
// game's own program and install.cfg telling it, its store id starting it through Steam.
TEST(GameSources, SystemShock2IsFoundWhereverThiefIs) {
    LauncherHome h;
    const std::string& H = h.H;
    const auto shock2 = [&h](const std::string& dir) { h.thief(dir, "SHOCK2.EXE"); };
    h.put(h.card + "/steamapps/appmanifest_238210.acf", "\"AppState\" { \"installdir\" \"SS2\" }");
    shock2(h.card + "/steamapps/common/SS2");
    h.put(h.F + "/steamapps/appmanifest_238210.acf", "\"AppState\" { \"installdir\" \"SS2\" }");
    shock2(h.F + "/steamapps/common/SS2");
    h.put(H + "/.config/heroic/gog_store/installed.json",
          R"({"installed": [{"appName": "1207658930", "install_path": ")" + H +
              R"(/Games/Heroic/Thief Gold"}, {"appName": "1207659242", "install_path": ")" + H +
              R"(/Games/Heroic/SS2"}]})");
    shock2(H + "/Games/Heroic/SS2");
    h.put(H + "/.config/lutris/games/ss2.yml",
          "game:\n  exe: ~/Games/ss2/drive_c/SS2/shock2.exe\n  prefix: ~/Games/ss2\n");
    shock2(H + "/Games/ss2/drive_c/SS2");
    shock2(H + "/Games/X/drive_c/GOG Games/System Shock 2");
    const std::vector<std::string> expected = {
        h.card + "/steamapps/common/SS2/ | 3 | " +
            runner(Source::steam, "Steam", "238210", h.S, h.card + "/steamapps/compatdata/238210"),
        h.F + "/steamapps/common/SS2/ | 3 | " +
            runner(Source::steamFlatpak, "Steam (Flatpak)", "238210", h.F,
                   h.F + "/steamapps/compatdata/238210"),
        H + "/Games/Heroic/SS2/ | 3 | " + runner(Source::heroic, "Heroic", "", "", ""),
        H + "/Games/ss2/drive_c/SS2/ | 3 | " +
            runner(Source::lutris, "Lutris", "", "", H + "/Games/ss2"),
        H + "/Games/X/drive_c/GOG Games/System Shock 2/ | 3 | " +
            runner(Source::winePrefix, "Wine prefix ~/Games/X", "", "", H + "/Games/X"),
    };
    const gamesources::Discovery found = gamesources::findGames(H);
    std::vector<std::string> got;
    for (const auto& game : found.games)
        if (game.game == 3) got.push_back(describe(game));
    EXPECT_EQ(got, expected);
    EXPECT_EQ(
        describe(gamesources::runnerFor(h.card + "/steamapps/common/ss2", H)),
        runner(Source::steam, "Steam", "238210", h.S, h.card + "/steamapps/compatdata/238210"));
}

TEST(GameSources, ATypedDirectoryIsRecognisedByTheLauncherThatHasIt) {
    LauncherHome h;
    const std::string& H = h.H;
    const std::pair<std::string, std::string> rows[] = {
        {h.card + "/steamapps/common/thief 2",
         runner(Source::steam, "Steam", "211740", h.S, h.card + "/steamapps/compatdata/211740")},
        {H + "/.steam/root/steamapps/common/THIEF GOLD/",
         runner(Source::steam, "Steam", "211600", h.S, h.S + "/steamapps/compatdata/211600")},
        {h.F + "/steamapps/common/Thief Gold",
         runner(Source::steamFlatpak, "Steam (Flatpak)", "211600", h.F,
                h.F + "/steamapps/compatdata/211600")},
        {H + "/Games/Heroic/Thief II/",
         runner(Source::heroicFlatpak, "Heroic (Flatpak)", "", "",
                H + "/Games/Heroic/Prefixes/Thief II", h.proton, true)},
        {H + "/Games/thief-2/drive_c/Games/Thief 2",
         runner(Source::lutris, "Lutris", "", "", H + "/Games/thief-2")},
        {H + "/.wine/drive_c/program files (x86)/Eidos/Thief Gold",
         runner(Source::winePrefix, "Wine prefix ~/.wine", "", "", H + "/.wine")},
        {h.root + "elsewhere/Thief", runner(Source::winePrefix, "Wine prefix", "", "", "")},
    };
    for (const auto& [typed, expected] : rows)
        EXPECT_EQ(describe(gamesources::runnerFor(typed, H)), expected) << typed;
}

}  // namespace
