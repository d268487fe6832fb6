// The setup dialog without widgets: what it shows of the settings, the checks and writes
// of its OK, and the rearrangement of a Thief 1 installation's resource files.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/Operations.h"
#include "dialogs/SetupLogic.h"
#include "game/MissionFolders.h"
#include "platform/FileSystem.h"
#include "state/LanguageTable.h"
#include "support/PeImage.h"
#include "support/TestSupport.h"

namespace {

const char kLanguageFile[] =
    "[languages]\n1=English\n2=German\n"
    "[English]\n2=Move?\n3=Really?\n17=No convict\n62=\"Cannot find \"\n"
    "63=\" in the directory given for Thief\"\n64=- please check.\n65=No game\n66=No missions\n"
    "123=Not found: %s\n151=Engine version: %s\n152=unknown\n153=NewDark %s\n"
    "[German]\n66=Keine Missionen\n";

class Setup : public ::testing::Test {
  protected:
    // The default start command is found whether or not the machine has Wine.
    StandInPrograms wine{{"wine"}};
    void SetUp() override {
        dir.write("Tallowmere.dat", kLanguageFile);
        openAppFiles(dir.path());
    }
    void TearDown() override {
        closeAppFiles();
        app() = AppState{};
    }

    IniFile& ini() { return *app().settings; }
    // A Thief 1 directory: the executable, install.cfg and, unless told, convict.osm.
    std::string thief1(const std::string& name, bool convict = true) {
        dir.write(name + "/thief.exe", "MZ");
        dir.write(name + "/install.cfg", kInstallCfg);
        if (convict) dir.write(name + "/convict.osm", "");
        return dir.path() + name;
    }
    std::string thief2(const std::string& name) {
        dir.write(name + "/thief2.exe", "MZ");
        dir.write(name + "/install.cfg", "language english\r\n");
        return dir.path() + name;
    }
    SetupState valid() {
        SetupState s = LoadSetupState(programSetupFiles());
        s.missionDirs = {dir.path() + "missions"};
        s.games[1].dir = thief1("t1");
        return s;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> t;
        for (const auto& m : prompts.messages) t.push_back(m.text);
        return t;
    }

    static constexpr const char* kInstallCfg =
        "cd_path d:\\\r\nresname_base c:\\thief\\res+d:\\thief\\res\r\nlanguage english\r\n";

    TempDir dir;
    ScriptedPrompter prompts;
    int scans = 0, maximised = 0, geometrySaves = 0;
    SetupHooks hooks{[this] { ++maximised; }, [this] { ++geometrySaves; }, [this] { ++scans; }};
};

TEST_F(Setup, GameBesideTheProgramIsOfferedOnlyWhenNoneIsStored) {
    dir.write("THIEF.EXE", "MZ");
    EXPECT_EQ(LoadSetupState(programSetupFiles()).games[1].dir, dir.path());
    EXPECT_EQ(LoadSetupState(programSetupFiles()).games[2].dir, "");
    ini().WriteString("options", "thief1dir", "/games/t1");
    EXPECT_EQ(LoadSetupState(programSetupFiles()).games[1].dir, "/games/t1");
}

TEST_F(Setup, LoadsStoredValues) {
    dir.write("Tallowmere.ini",
              "[options]\nlanguage=2\ncompression level=8\n[window]\ntop=5\n"
              "[Mission Directories]\n/b=1\n/C=1\n/a=1\n");
    SetupState s = LoadSetupState(programSetupFiles());
    EXPECT_EQ(s.languages, (std::vector<std::string>{"English", "German"}));
    EXPECT_EQ(s.missionDirs, (std::vector<std::string>{"/a", "/b", "/C"}));
    EXPECT_EQ(s.languageIndex, 1);
    EXPECT_EQ(s.compressLevel, 8);
    EXPECT_EQ(s.windowMode, 1);

    // Values outside the spin edit's range show as its nearer end.
    const std::pair<int, int> levels[] = {{9999, 9}, {10, 9}, {0, 1}, {-3, 1}};
    for (const auto& [stored, shown] : levels) {
        ini().WriteInteger("options", "compression level", stored);
        EXPECT_EQ(LoadSetupState(programSetupFiles()).compressLevel, shown) << stored;
    }
    ini().WriteInteger("window", "top", 9999);
    EXPECT_EQ(LoadSetupState(programSetupFiles()).windowMode, 0);
}

TEST_F(Setup, LanguageBeyondTheListSelectsNothingAndOkStoresZero) {
    ini().WriteInteger("options", "language", 3);
    SetupState s = LoadSetupState(programSetupFiles());
    EXPECT_EQ(s.languageIndex, -1);
    for (int stored : {0, -5, -2147483647 - 1}) {
        ini().WriteInteger("options", "language", stored);
        EXPECT_EQ(LoadSetupState(programSetupFiles()).languageIndex, -1) << stored;
    }
    EXPECT_FALSE(SetupOk(programSetupFiles(), s, hooks));  // no mission directory
    EXPECT_EQ(ini().ReadString("options", "language", ""), "0");
}

TEST_F(Setup, LanguageListEndsAtTheFirstGap) {
    dir.write("Tallowmere.dat", "[languages]\n1=English\n2=German\n3=French\n5=Spanish\n");
    EXPECT_EQ(LoadSetupState(programSetupFiles()).languages.size(), 3u);
    ini().WriteInteger("options", "language", 3);
    EXPECT_EQ(LoadSetupState(programSetupFiles()).languageIndex, 2);
}

TEST_F(Setup, MissionDirectoriesSortWithoutRegardToCaseAndRepeat) {
    std::vector<std::string> dirs;
    insertMissionDir(dirs, "/b");
    insertMissionDir(dirs, "/A");
    EXPECT_EQ(insertMissionDir(dirs, "/a"), 1u);
    EXPECT_EQ(insertMissionDir(dirs, "/b"), 3u);
    EXPECT_EQ(dirs, (std::vector<std::string>{"/A", "/a", "/b", "/b"}));
}

TEST_F(Setup, NoMissionDirectoryComesFirstAndTheLanguageIsStillTaken) {
    SetupState s = LoadSetupState(programSetupFiles());
    s.languageIndex = 1;
    EXPECT_FALSE(SetupOk(programSetupFiles(), s, hooks));
    EXPECT_EQ(texts(), (std::vector<std::string>{"Keine Missionen"}));
    EXPECT_EQ(prompts.messages[0].icon, PromptIcon::Error);
    EXPECT_EQ(prompts.messages[0].buttons, PromptButtons::Ok);
    EXPECT_EQ(slot(66), "Keine Missionen");  // the table was reloaded
    EXPECT_EQ(ini().ReadInteger("options", "language", 0), 2);
    EXPECT_FALSE(ini().ValueExists("options", "compression level"));
    EXPECT_EQ(scans, 0);
}

TEST_F(Setup, NoGameDirectory) {
    SetupState s = LoadSetupState(programSetupFiles());
    s.missionDirs = {"/m"};
    EXPECT_FALSE(SetupOk(programSetupFiles(), s, hooks));
    EXPECT_EQ(texts(), (std::vector<std::string>{"No game"}));
}

TEST_F(Setup, BothGameChecksRunAndNothingIsWritten) {
    SetupState s = valid();
    s.games[1].dir = dir.path() + "nothing";
    s.games[2].dir = dir.path() + "none/";
    EXPECT_FALSE(SetupOk(programSetupFiles(), s, hooks));
    EXPECT_EQ(texts(),
              (std::vector<std::string>{
                  "Cannot find thief.exe in the directory given for Thief 1 - please check.",
                  "Cannot find thief2.exe in the directory given for Thief 2 - please check."}));

    dir.write("nothing/thief.exe", "MZ");
    dir.write("none/THIEF2.EXE", "MZ");
    prompts.messages.clear();
    EXPECT_FALSE(SetupOk(programSetupFiles(), s, hooks));
    EXPECT_EQ(texts(),
              (std::vector<std::string>{
                  "Cannot find install.cfg in the directory given for Thief 1 - please check.",
                  "Cannot find install.cfg in the directory given for Thief 2 - please check."}));
    EXPECT_FALSE(ini().SectionExists("mission directories"));
    EXPECT_FALSE(ini().ValueExists("options", "thief1dir"));
    EXPECT_EQ(scans, 0);
}

TEST_F(Setup, OkWritesEverythingAndRescans) {
    dir.write("Tallowmere.ini", "[Mission Directories]\n/old=1\n[window]\ntop=1\nleft=2\n");
    SetupState s = valid();
    s.missionDirs = {"/m/b", "/m/a"};
    dir.write("t1/crfs/x", "");  // rearranged before: no question
    s.games[2].dir = thief2("t2");
    s.compressLevel = 7;
    s.windowMode = 0;
    EXPECT_TRUE(SetupOk(programSetupFiles(), s, hooks));
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(ini().ReadSection("mission directories"), (std::vector<std::string>{"/m/b", "/m/a"}));
    EXPECT_EQ(ini().ReadString("options", "thief1dir", ""), s.games[1].dir);  // typed, no separator
    EXPECT_EQ(ini().ReadString("options", "thief2dir", ""), s.games[2].dir);
    EXPECT_EQ(ini().ReadInteger("options", "compression level", 0), 7);
    EXPECT_FALSE(ini().SectionExists("window"));
    EXPECT_EQ(maximised, 1);
    EXPECT_EQ(geometrySaves, 0);
    EXPECT_EQ(scans, 1);

    s.windowMode = 1;
    EXPECT_TRUE(SetupOk(programSetupFiles(), s, hooks));
    EXPECT_EQ(maximised, 1);
    EXPECT_EQ(geometrySaves, 1);
    EXPECT_EQ(scans, 2);
}

TEST_F(Setup, MissingConvictWarnsOnEveryOkButPasses) {
    SetupState s = valid();
    s.games[1].dir = thief1("bare", false);
    dir.write("bare/crfs/x", "");
    for (int round = 1; round <= 2; ++round) {
        EXPECT_TRUE(SetupOk(programSetupFiles(), s, hooks));
        ASSERT_EQ(prompts.messages.size(), static_cast<size_t>(round));
        EXPECT_EQ(prompts.messages.back().text, "No convict");
        EXPECT_EQ(prompts.messages.back().icon, PromptIcon::Warning);
    }
}

TEST_F(Setup, RearrangementMovesResourceFilesAndRewritesInstallCfg) {
    SetupState s = valid();
    dir.write("t1/obj.crf", "o");
    dir.write("t1/MOTIONS.CRF", "m");
    dir.write("t1/keep.txt", "k");
    prompts.answers = {PromptResult::Yes};
    EXPECT_TRUE(SetupOk(programSetupFiles(), s, hooks));
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Move?\nReally?");
    EXPECT_EQ(prompts.messages[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(prompts.messages[0].icon, PromptIcon::Warning);
    EXPECT_EQ(prompts.busyDepth, 0);

    EXPECT_EQ(readFile(dir.file("t1/crfs/obj.crf")), "o");
    EXPECT_EQ(readFile(dir.file("t1/crfs/MOTIONS.CRF")), "m");
    EXPECT_FALSE(fsx::fileExists(dir.file("t1/obj.crf")));
    EXPECT_TRUE(fsx::fileExists(dir.file("t1/keep.txt")));
    EXPECT_EQ(readFile(dir.file("t1/OLDinstall.cfg")), kInstallCfg);
    EXPECT_EQ(readFile(dir.file("t1/install.cfg")), "cd_path d:\\\r\nresname_base " +
                                                        gameConfigPath(dir.file("t1/crfs")) +
                                                        "+d:\\thief\\res\r\nlanguage english\r\n");
    EXPECT_EQ(ini().ReadInteger("options", "compression level", 0), 5);

    // Done once: no second question.
    prompts.messages.clear();
    EXPECT_TRUE(SetupOk(programSetupFiles(), s, hooks));
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(Setup, DeclinedRearrangementIsNotAskedAgainAndOkGoesOn) {
    SetupState s = valid();
    dir.write("t1/obj.crf", "o");
    s.games[2].dir = dir.path() + "no-t2";
    prompts.answers = {PromptResult::No};
    EXPECT_FALSE(SetupOk(programSetupFiles(), s, hooks));  // the Thief 2 check still runs
    ASSERT_EQ(prompts.messages.size(), 2u);
    EXPECT_EQ(prompts.messages[0].text, "Move?\nReally?");
    EXPECT_EQ(prompts.messages[1].text.substr(0, 21), "Cannot find thief2.ex");
    EXPECT_TRUE(fsx::fileExists(dir.file("t1/obj.crf")));
    EXPECT_FALSE(fsx::pathExists(dir.file("t1/crfs")));
    EXPECT_EQ(readFile(dir.file("t1/install.cfg")), kInstallCfg);

    // The No is kept: the next OK does not ask again.
    s.games[2].dir.clear();
    prompts.messages.clear();
    EXPECT_TRUE(SetupOk(programSetupFiles(), s, hooks));
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_FALSE(fsx::pathExists(dir.file("t1/crfs")));
    // Nor is a folder without loose resource files asked about.
    SetupState bare = valid();
    bare.games[1].dir = thief1("bare");
    EXPECT_TRUE(SetupOk(programSetupFiles(), bare, hooks));
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(Setup, Thief2IsNeverRearranged) {
    SetupState s = valid();
    dir.write("t1/crfs/x", "");
    s.games[2].dir = thief2("t2");
    dir.write("t2/obj.crf", "o");
    EXPECT_TRUE(SetupOk(programSetupFiles(), s, hooks));
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_FALSE(fsx::pathExists(dir.file("t2/crfs")));
}

TEST_F(Setup, FailedCopyUndoesTheMovesAndEndsTheOk) {
    SetupState s = valid();
    dir.write("t1/obj.crf", "o");
    dir.write("t1/OLDinstall.cfg/blocker", "");  // a folder: the copy fails
    prompts.answers = {PromptResult::Yes};
    EXPECT_FALSE(SetupOk(programSetupFiles(), s, hooks));
    ASSERT_EQ(prompts.messages.size(), 2u);
    EXPECT_EQ(prompts.messages[1].icon, PromptIcon::Error);
    EXPECT_NE(prompts.messages[1].text.find("OLDinstall.cfg"), std::string::npos);
    EXPECT_EQ(readFile(dir.file("t1/obj.crf")), "o");
    EXPECT_FALSE(fsx::pathExists(dir.file("t1/crfs")));
    EXPECT_EQ(readFile(dir.file("t1/install.cfg")), kInstallCfg);
    EXPECT_FALSE(ini().ValueExists("options", "compression level"));
    EXPECT_EQ(scans, 0);
    EXPECT_EQ(prompts.busyDepth, 0);
}

TEST_F(Setup, ResnameLines) {
    EXPECT_EQ(rearrangedResnameLine("resname_base a+b+c", "P"), "resname_base P+b+c");
    EXPECT_EQ(rearrangedResnameLine("resname_base a", "P"), "resname_base P");
    EXPECT_EQ(rearrangedResnameLine("; old resname_base x", "P"), "resname_base P");
    EXPECT_EQ(rearrangedResnameLine("RESNAME_BASE a+b", "P"), "RESNAME_BASE a+b");
    EXPECT_EQ(rearrangedResnameLine("", "P"), "");
#ifndef _WIN32
    EXPECT_EQ(gameConfigPath("/games/thief/crfs"), "Z:\\games\\thief\\crfs");
#endif
}

TEST_F(Setup, UnwritableSettingsKeepTheDialogOpen) {
    const std::string path = dir.file("Tallowmere.ini");
    writeFile(path, "[options]\nlanguage=1\n");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    SetupState s = valid();
    EXPECT_FALSE(SetupOk(programSetupFiles(), s, hooks));
    EXPECT_EQ(texts(), (std::vector<std::string>{"Unable to write to " + path}));
    EXPECT_EQ(scans, 0);
}

TEST_F(Setup, FailedStoreLeavesTheEarlierSettingsWhole) {
    const std::string path = dir.file("Tallowmere.ini");
    writeFile(path,
              "[options]\ncompression level=3\n[Mission Directories]\n/old=1\n[window]\ntop=4\n");
    SetupState s = valid();
    dir.write("t1/crfs/x", "");
    s.windowMode = 1;
    hooks.saveWindowGeometry = [&] { chmod(path.c_str(), 0444); };
    EXPECT_FALSE(SetupOk(programSetupFiles(), s, hooks));
    EXPECT_EQ(texts(), (std::vector<std::string>{"Unable to write to " + path}));
    chmod(path.c_str(), 0644);
    IniFile fresh(path);
    EXPECT_EQ(fresh.ReadSection("mission directories"), (std::vector<std::string>{"/old"}));
    EXPECT_EQ(fresh.ReadInteger("options", "compression level", 0), 3);
    EXPECT_EQ(scans, 0);
}

}  // namespace

TEST_F(Setup, StartCommandIsStoredAndAMissingOneIsPointedOutOnce) {
    SetupState s = valid();
    dir.write("t1/crfs/x", "");
    EXPECT_EQ(s.startCommand, "wine");
    struct Step {
        std::string command;
        size_t messages;  // after the OK
    };
    const Step steps[] = {
        {"'" + dir.path() + "no such/umu-run' --verbose", 1},
        {"'" + dir.path() + "no such/umu-run' --verbose", 1},  // confirmed before: no warning
        {"sh -c true", 1},                                     // found on PATH
        {"\"" + dir.path() + "no such/umu-run\"", 2},  // quoted as a whole: read back the same
        {"no-such-wine", 3},
    };
    for (const Step& step : steps) {
        s.startCommand = step.command;
        EXPECT_TRUE(SetupOk(programSetupFiles(), s, hooks));
        EXPECT_EQ(LoadSetupState(programSetupFiles()).startCommand, step.command);
        EXPECT_EQ(prompts.messages.size(), step.messages) << step.command;
    }
    const std::string umu = "Not found: " + dir.path() + "no such/umu-run";
    EXPECT_EQ(texts(), (std::vector<std::string>{umu, umu, "Not found: no-such-wine"}));
}

TEST_F(Setup, FolderChoiceFollowsTheGameDirectoryUntilChosenAndOnlyAChoiceIsStored) {
    const std::string newDark = thief2("newdark"), classic = thief2("classic");
    dir.write("newdark/cam_mod.ini", "");
    const std::string typed[] = {newDark, classic, newDark, classic};
    // stored: -1 none, else the choice of an earlier OK; the player clicks the box to
    // `clickOn` right after typed[clickAt]; shown: the box after each directory.
    const struct {
        int stored, clickAt;
        bool clickOn;
        const char* shown;
        int kept;
    } rows[] = {
        {-1, -1, false, "1010", -1}, {-1, 0, false, "0000", 0}, {-1, 1, true, "1111", 1},
        {0, -1, false, "0000", 0},   {1, -1, false, "1111", 1},
    };
    for (const auto& row : rows) {
        ini().EraseSection("options");
        if (row.stored >= 0) missionfolders::storeEnabled(ini(), 2, row.stored == 1);
        SetupState s = valid();
        std::string shown;
        for (size_t i = 0; i < std::size(typed); ++i) {
            s.games[2].dir = typed[i];
            s.games[2].folders.follow(s.games[2].dir);
            if (row.clickAt == int(i)) s.games[2].folders.choose(row.clickOn);
            shown += s.games[2].folders.on ? '1' : '0';
        }
        EXPECT_EQ(shown, row.shown) << row.stored << row.clickAt;
        ASSERT_TRUE(SetupOk(programSetupFiles(), s, hooks));
        const int kept = missionfolders::chosen(ini(), 2)
                             ? int(missionfolders::enabled(&ini(), 2, std::string()))
                             : -1;
        EXPECT_EQ(kept, row.kept) << row.stored << row.clickAt;
        EXPECT_FALSE(missionfolders::chosen(ini(), 1));
    }
}

TEST_F(Setup, EngineVersionOfTheGameProgram) {
    using namespace peimage;
    const Bytes newDark = peFile(versionResource(
        {table(u"040904b0", {str(u"FileVersion", u" 1.27 ")})}, {{0x0409, 0x04B0}}));
    dir.write("nd/thief2.exe", newDark);
    dir.write("nd/cam_mod.ini", "");
    dir.write("old/THIEF.EXE", newDark);
    dir.write("fixed/thief2.exe", peFile(versionResource({}, {})));  // numbers 2.3 only
    dir.write("plain/thief2.exe", "MZ");
    const struct {
        int game;
        std::string gameDir;
        const char* text;
    } rows[] = {
        {2, dir.path() + "nd", "Engine version: NewDark 1.27"},
        {1, dir.path() + "old/", "Engine version: 1.27"},
        {2, dir.path() + "fixed", "Engine version: 2.3"},
        {2, dir.path() + "plain", "Engine version: unknown"},
        {1, dir.path() + "nd", "Engine version: unknown"},
        {2, "", ""},
    };
    LoadLanguageTable();
    for (const auto& row : rows)
        EXPECT_EQ(engineVersionText(row.gameDir, row.game), row.text) << row.gameDir;
}

TEST_F(Setup, FirstStartFillsOnlyGamesFoundOnceAndWhileBothDirectoriesAreEmpty) {
    dir.write("nd/cam_mod.ini", "");
    using gamesources::FoundGame;
    const FoundGame t1{1, dir.path() + "nd/", {}}, t2{2, "/steam/t2/", {}}, t2b{2, "/wine/t2/", {}};
    const struct {
        std::vector<FoundGame> found;
        std::string typed;  // the Thief 1 directory before
        std::string t1, t2;
        bool pick;
    } rows[] = {
        {{t1, t2}, "", t1.dir, t2.dir, false},
        {{t2, t1, t2b}, "", t1.dir, "", true},  // Thief 2 twice: the player picks
        {{t1, t2}, "/typed", "/typed", "", false},
        {{}, "", "", "", false},
    };
    for (const auto& row : rows) {
        SetupState s;
        s.games[1].dir = row.typed;
        EXPECT_EQ(fillFromFoundGames(s, {row.found, {"x.acf: bad"}}), row.pick) << row.t1;
        EXPECT_EQ(s.games[1].dir, row.t1);
        EXPECT_EQ(s.games[2].dir, row.t2);
        EXPECT_EQ(s.games[1].folders.on, row.t1 == t1.dir);  // follows the directory filled in
    }
}

TEST_F(Setup, OwnStartCommandIsStoredOnlyWhileGiven) {
    SetupState s = valid();
    dir.write("t1/crfs/x", "");
    s.games[2].command = "lutris rungame";
    const std::string key = "start command 1";  // as the settings file names it
    for (const std::string command :
         {"steam -applaunch 211600", "  ", "\"/opt/my proton/proton\" \"run\"", ""}) {
        s.games[1].command = command;
        ASSERT_TRUE(SetupOk(programSetupFiles(), s, hooks));
        const bool given = command.find_first_not_of(' ') != std::string::npos;
        EXPECT_EQ(ini().ValueExists("options", key), given) << command;
        EXPECT_EQ(LoadSetupState(programSetupFiles()).games[1].command, given ? command : "");
        EXPECT_EQ(LoadSetupState(programSetupFiles()).games[2].command, "lutris rungame");
    }
}
