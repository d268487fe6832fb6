// A game started the way its launcher starts it, through stand-in launchers (Steam, Flatpak,
// Wine builds, Proton) that record how they were called.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <optional>
#include <thread>

#include "app/AppState.h"
#include "install/GameStart.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

using gamesources::GameRunner;
using gamesources::Source;
using launcher::StartFailure;

// Sets an environment variable (unset when `value` is null) for the life of the object.
struct EnvGuard {
    std::string name, saved;
    bool was;
    EnvGuard(const char* n, const char* value) : name(n), was(getenv(n) != nullptr) {
        if (was) saved = getenv(n);
        value ? setenv(n, value, 1) : unsetenv(n);
    }
    ~EnvGuard() { was ? setenv(name.c_str(), saved.c_str(), 1) : unsetenv(name.c_str()); }
};

struct GameStart : ::testing::Test {
    TempDir t;
    const std::string T = t.path();
    const std::string G = T + "pfx/drive_c/Games/Thief2/", record = T + "record";
    EnvGuard prefix{"WINEPREFIX", nullptr}, compat{"STEAM_COMPAT_DATA_PATH", nullptr},
        client{"STEAM_COMPAT_CLIENT_INSTALL_PATH", nullptr};
    EnvGuard home{"HOME", (T + "home").c_str()};
    // Only stand-ins are on the PATH, so that a launcher installed on the machine never
    // answers for a missing one.
    std::optional<EnvGuard> path;

    void SetUp() override {
        t.write("pfx/system.reg", "");
        std::string pe(0x100, '\0');
        pe.replace(0, 2, "MZ");
        pe[0x3C] = char(0x80);
        pe.replace(0x80, 4, std::string("PE\0\0", 4));
        t.write("pfx/drive_c/Games/Thief2/thief2.exe", pe);
        t.write("pfx/drive_c/Games/Thief2/dromed.exe", pe);
        // Each stand-in records the program, each argument followed by "|", the working
        // directory and the prefix variables, one a line.
        const std::string recorder =
            "#!/bin/sh\n{ echo \"$0\"; for a in \"$@\"; do printf '%s|' \"$a\"; done; echo; pwd; "
            "echo \"$WINEPREFIX\"; echo \"$STEAM_COMPAT_DATA_PATH\"; "
            "echo \"$STEAM_COMPAT_CLIENT_INSTALL_PATH\"; } > '" +
            record + ".new' && /bin/mv '" + record + ".new' '" + record + "'\n";
        for (const char* tool : {"bin/wine", "flatpakbin/flatpak", "steambin/steam",
                                 "Steam/steam.sh", "my tools/umu-run", "heroic/wine/bin/wine",
                                 "heroic/proton/proton", "lutris/wine-ge/bin/wine",
                                 "native/thief2.exe", "Steam/steamapps/common/Proton 8.0/proton"})
            ::chmod(t.write(tool, recorder).c_str(), 0755);
        t.write("home/.local/share/Steam/steamapps/x", "");
        openAppFiles(T);
        app().thiefdata[2] = GameRecord{};
        app().thiefdata[2].gameDir = G;
    }
    void TearDown() override { closeAppFiles(); }

    std::string waitForRecord() {
        for (int i = 0; i < 250 && !fsx::fileExists(record); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::string r = readFile(record);
        fsx::deleteFile(record);
        return r;
    }
};

TEST_F(GameStart, EachLauncherStartsTheGameItsOwnWay) {
    const std::string heroicWine = T + "heroic/wine/bin/wine";
    const std::string proton = T + "heroic/proton/proton";
    const std::string lutrisWine = T + "lutris/wine-ge/bin/wine";
    const std::string umu = T + "my tools/umu-run";
    const std::string cwd = G.substr(0, G.size() - 1) + "\n";
    const std::string exe = G + "thief2.exe|";
    // An absolute path reaches a game under Wine as a path on drive Z:.
    const std::string args = "-fm=My Mission|Z:\\home\\p\\a b.txt|\n";
    const GameRunner steam{.source = Source::steam, .appId = "211740", .steamRoot = T + "Steam"};
    struct Case {
        const char* what;
        GameRunner runner;
        std::string dir, exe, custom;
        bool steamOnPath;
        std::string expected;  // program, arguments, working directory, the three variables
    };
    const Case cases[] = {
        {"steam", steam, G, "thief2.exe", "", true,
         T + "steambin/steam\n-applaunch|211740|" + args + cwd + "\n\n\n"},
        {"steam.sh", steam, G, "thief2.exe", "", false,
         T + "Steam/steam.sh\n-applaunch|211740|" + args + cwd + "\n\n\n"},
        {"flatpak",
         {.source = Source::steamFlatpak, .appId = "211740"},
         G,
         "thief2.exe",
         "",
         true,
         T + "flatpakbin/flatpak\nrun|com.valvesoftware.Steam|-applaunch|211740|" + args + cwd +
             "\n\n\n"},
        {"steam dromed",
         {.source = Source::steam,
          .appId = "211740",
          .steamRoot = T + "Steam",
          .prefix = T + "compat"},
         G,
         "dromEd.exe",
         "",
         true,
         T + "Steam/steamapps/common/Proton 8.0/proton\nrun|" + G + "dromed.exe|" + args + cwd + T +
             "compat/pfx\n" + T + "compat\n" + T + "Steam\n"},
        {"heroic wine",
         {.source = Source::heroic, .wine = heroicWine, .prefix = T + "hp"},
         G,
         "thief2.exe",
         "",
         true,
         heroicWine + "\n" + exe + args + cwd + T + "hp\n\n\n"},
        {"heroic proton",
         {.source = Source::heroicFlatpak, .wine = proton, .proton = true, .prefix = T + "hc"},
         G,
         "thief2.exe",
         "",
         true,
         proton + "\nrun|" + exe + args + cwd + T + "hc/pfx\n" + T + "hc\n" + T +
             "home/.local/share/Steam\n"},
        {"lutris",
         {.source = Source::lutris, .wine = lutrisWine},
         G,
         "thief2.exe",
         "",
         true,
         lutrisWine + "\n" + exe + args + cwd + T + "pfx\n\n\n"},
        {"prefix",
         {.source = Source::winePrefix},
         G,
         "thief2.exe",
         "",
         true,
         T + "bin/wine\n" + exe + args + cwd + T + "pfx\n\n\n"},
        {"custom",
         {.source = Source::heroic, .wine = heroicWine, .prefix = T + "hp"},
         G,
         "thief2.exe",
         "'" + umu + "' --no-gui",
         true,
         umu + "\n--no-gui|" + exe + args + cwd + T + "pfx\n\n\n"},
        {"native", steam, T + "native/", "thief2.exe", "", true,
         T + "native/thief2.exe\n-fm=My Mission|/home/p/a b.txt|\n" + T + "native\n\n\n\n"},
    };
    // DromEd of a Steam game: the Proton that made the prefix, as it noted itself.
    t.write("compat/config_info",
            "8.0-5\n" + T + "Steam/steamapps/common/Proton 8.0/files/share/fonts/\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        path.emplace(
            "PATH",
            (T + "bin:" + T + "flatpakbin" + (c.steamOnPath ? ":" + T + "steambin" : "")).c_str());
        ASSERT_TRUE(startWithRunner(c.runner, c.dir, c.exe, {"-fm=My Mission", "/home/p/a b.txt"},
                                    c.custom, launcher::startCommandSetting(app().settings.get())));
        EXPECT_EQ(waitForRecord(), c.expected);
        path.reset();
    }
    // The game's own start command, from the settings, overrides its launcher.
    launcher::storeGameStartCommand(*app().settings, 2, "'" + umu + "' --no-gui");
    path.emplace("PATH", (T + "bin").c_str());
    ASSERT_TRUE(startFromGameDir(app().settings.get(), 2, G, "thief2.exe", {"-fm=x"}));
    EXPECT_EQ(waitForRecord(), umu + "\n--no-gui|" + exe + "-fm=x|\n" + cwd + T + "pfx\n\n\n");
}

TEST_F(GameStart, AMissingLauncherIsNamedAndNothingStarts) {
    for (int n : {160, 161, 162, 163})
        app().languageSlots[size_t(n)] = "<" + std::to_string(n) + " %s>";
    struct Case {
        GameRunner runner;
        StartFailure failure;
        std::string message;
    };
    const Case cases[] = {
        {{.source = Source::steam, .appId = "211740", .steamRoot = T + "nosteam"},
         StartFailure::steamMissing,
         "<22>\n\n<160 " + T + "nosteam/steam.sh>"},
        {{.source = Source::steamFlatpak, .appId = "211740"},
         StartFailure::flatpakMissing,
         "<22>\n\n<161 flatpak>"},
        {{.source = Source::lutris, .wine = T + "gone/bin/wine"},
         StartFailure::wineBuildMissing,
         "<22>\n\n<162 " + T + "gone/bin/wine>"},
        {{.source = Source::heroic, .wine = T + "gone/proton", .proton = true, .prefix = T + "hc"},
         StartFailure::wineBuildMissing,
         "<22>\n\n<162 " + T + "gone/proton>"},
        // DromEd of a Steam game whose Proton is not known: never the system's Wine.
        {{.source = Source::steam, .appId = "211740", .prefix = T + "compat"},
         StartFailure::protonUnknown,
         "<22>\n\n<163 " + T + "compat>"},
    };
    path.emplace("PATH", (T + "bin").c_str());  // "wine" alone
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const std::string exe =
            c.failure == StartFailure::protonUnknown ? "dromed.exe" : "thief2.exe";
        const launcher::StartResult r = startWithRunner(
            c.runner, G, exe, {}, "", launcher::startCommandSetting(app().settings.get()));
        EXPECT_EQ(r.failure, c.failure);
        EXPECT_EQ(startFailureMessage("<22>", r), c.message);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fsx::fileExists(record));
}

}  // namespace
