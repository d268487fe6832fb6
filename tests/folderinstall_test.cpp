// Missions in folders of their own, through the install operation the window runs, in a
// stand-in NewDark game directory whose game program records how it was started.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "app/AppState.h"
#include "app/Operations.h"
#include "archive/ZipArchiver.h"
#include "game/MissionFolders.h"
#include "game/MissionRecords.h"
#include "install/FolderInstall.h"
#include "install/InstallLaunch.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextUtil.h"
#include "support/StoredSaves.h"
#include "support/TestSupport.h"

namespace {

using Files = std::map<std::string, std::string>;
using Members = std::vector<std::pair<std::string, std::string>>;

struct FolderTest : ::testing::Test {
    TempDir dir;
    ScriptedPrompter prompts;
    TZipArchiver work;
    RecordingProgress progress;
    std::string G, started;

    void SetUp() override {
        if (!fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL") ||
            !fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/ZIPENG.DLL"))
            GTEST_SKIP() << "engines not built";
        fsx::setCurrentDirectory(dir.path());
        openAppFiles(dir.path());
        G = dir.path() + "Thief2/";
        started = dir.path() + "started";
        dir.write("Thief2/cam_mod.ini", "; NewDark\n;fm_path .\\FMs\n");
        dir.write("Thief2/strings/default.str", "game");
        dir.write("Thief2/fam/sky.pcx", "original sky");
        // The stand-in game: its arguments and working directory, written aside and renamed.
        const std::string exe = dir.write(
            "Thief2/thief2.exe", "#!/bin/sh\n{ echo \"$*\"; pwd; } > '" + started +
                                     ".new' && mv '" + started + ".new' '" + started + "'\n");
        ::chmod(exe.c_str(), 0755);
        app().thiefdata[2] = GameRecord{};
        app().thiefdata[2].gameDir = G;
        app().thiefdata[2].language = 1;
        work.Unattended = true;
        work.SetDLLDirectory(TM_TEST_BIN_DIR);
        work.ExtrOptions = {ExtrOptsEnum::ExtrDirNames, ExtrOptsEnum::ExtrOverWrite};
    }
    void TearDown() override { closeAppFiles(); }

    std::string archive(const std::string& name, const Members& members) {
        const std::string path = dir.path() + "missions/" + name;
        fsx::forceDirectories(dir.path() + "missions");
        EXPECT_TRUE(makeZip(path, members));
        return path;
    }
    InstallRequest request(const std::string& path, InstallAction action = InstallAction::Play,
                           bool flags = false) {
        InstallRequest r;
        r.mission.missionFlagsPresent = flags;
        r.mission.currentGame = 2;
        r.mission.archivePath = path;
        r.mission.missionFileMember = "miss20.mis";
        r.mission.missionNumber = 20;
        r.action = action;
        const std::string file = text::extractFileName(path);
        const std::string size = std::to_string(fsx::fileSize(path));
        r.recordKey = RecordKey({"", "", file.substr(0, file.find('.')), "", size});
        r.selectionName = file;
        return r;
    }
    // Runs the operation; the start the stand-in recorded ("" when none was awaited).
    std::string run(const InstallRequest& r, bool starts = true) {
        std::remove(started.c_str());
        operations::install(r, work, progress);
        if (!starts || r.action != InstallAction::Play) return "";
        for (int i = 0; i < 250 && !fsx::fileExists(started); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return fsx::fileExists(started) ? readFile(started) : "";
    }
    Files gameFiles() const {
        Files files;
        snapshot(G, "", files, {"FMs", "allsaves"});
        return files;
    }
    Files folder(const std::string& name) const {
        Files files;
        snapshot(G + "FMs/" + name + "/", "", files);
        return files;
    }
};

const Members kA = {{"miss20.mis", "A mission"},
                    {"strings/goals.str", "A goals"},
                    {"fam/sky.pcx", "A sky"},
                    {"readme.txt", "read me"},
                    {"setup.exe", "MZ"}};
const Members kB = {{"miss20.mis", "B mission"}, {"strings/missflag.str", "B flags"}};

// Install, play, switch and back, remove and reinstall: the game's files stay as they were,
// the second play extracts nothing, the saved games and screenshots survive the removal.
TEST_F(FolderTest, InstallPlaySwitchRemoveLeavesGameFilesAlone) {
    const Files game = gameFiles();
    const std::string a = archive("Alpha Mission!.zip", kA), b = archive("b.zip", kB);
    EXPECT_EQ(run(request(a)), "-fm=Alpha_Mission_\n" + G.substr(0, G.size() - 1) + "\n");
    Files installed = folder("Alpha_Mission_");
    EXPECT_EQ(installed.count("setup.exe"), 0u);  // programs stay out, as ever
    EXPECT_EQ(installed["fam/sky.pcx"], "A sky");
    EXPECT_EQ(installed.count("strings/missflag.str"), 1u);  // written, as the game needs one
    EXPECT_EQ(missionfolders::recordedFolder(*app().settings, request(a).recordKey),
              "Alpha_Mission_");

    dir.write("Thief2/FMs/Alpha_Mission_/saves/game0000.sav", "A save");
    dir.write("Thief2/FMs/Alpha_Mission_/screenshots/dump000.png", "A shot");
    EXPECT_EQ(run(request(b, InstallAction::Play, true)).substr(0, 6), "-fm=b\n");
    EXPECT_EQ(folder("b")["strings/missflag.str"], "B flags");

    // Back to A: nothing extracted, no archive needed; the saves are where the game left them.
    const InstallRequest backToA = request(a);
    std::rename(a.c_str(), (a + ".away").c_str());
    EXPECT_EQ(run(backToA).substr(0, 19), "-fm=Alpha_Mission_\n");
    std::rename((a + ".away").c_str(), a.c_str());
    EXPECT_EQ(folder("Alpha_Mission_"), [&] {
        Files f = installed;
        f["saves/game0000.sav"] = "A save";
        f["screenshots/dump000.png"] = "A shot";
        return f;
    }());

    // Removed: saves archive checked and holding both, folder gone; back on reinstall.
    ASSERT_TRUE(operations::removeMissionFolder(request(a), work, progress));
    EXPECT_FALSE(fsx::directoryExists(G + "FMs/Alpha_Mission_"));
    EXPECT_EQ(runCommand("unzip -tqq '" + G + "allsaves/Alpha Mission!_saves.zip'"), 0);
    run(request(a, InstallAction::InstallOnly));
    EXPECT_EQ(folder("Alpha_Mission_")["saves/game0000.sav"], "A save");
    EXPECT_EQ(folder("Alpha_Mission_")["screenshots/dump000.png"], "A shot");
    EXPECT_EQ(gameFiles(), game);
    Files left;
    snapshot(G + "FMs/", "", left);
    for (const auto& [name, content] : left) EXPECT_NE(name[0], '.') << name;
}

// Where the mission path is, from cam_mod.ini; a path that cannot be used is reported and
// nothing is installed.
TEST_F(FolderTest, MissionPathFromCamModIni) {
    dir.write("prefix/system.reg", "");
    fsx::forceDirectories(dir.path() + "prefix/drive_c/Games/FMs");
    fsx::forceDirectories(dir.path() + "elsewhere");
    struct Case {
        std::string camMod, expectedRoot;  // "" = refused
    } cases[] = {
        {"fm_path Missions\n", "prefix/drive_c/Thief2/Missions"},
        {"; fm_path nowhere\nfm_path \"" + dir.path() + "elsewhere\"\n", "elsewhere"},
        {"fm_path C:\\Games\\FMs\n", "prefix/drive_c/Games/FMs"},
        {"fm_path D:\\FMs\n", ""},
        {"fm_path " + dir.path() + "missing\n", ""},
    };
    // The game directory inside the stand-in prefix, so that C: is found.
    const std::string inPrefix = dir.path() + "prefix/drive_c/Thief2/";
    runCommand("mkdir -p '" + inPrefix + "' && cp -a '" + G + ".' '" + inPrefix + "'");
    app().thiefdata[2].gameDir = G = inPrefix;
    fsx::forceDirectories(G + "Missions");
    const std::string a = archive("a.zip", kA);
    for (const Case& c : cases) {
        writeFile(G + "cam_mod.ini", c.camMod);
        prompts.messages.clear();
        app().settings->EraseSection("mission folders 2");
        app().settings->EraseSection(request(a).recordKey);
        run(request(a, InstallAction::InstallOnly));
        const std::string where = c.expectedRoot.empty() ? "" : dir.path() + c.expectedRoot + "/a";
        if (where.empty()) {
            EXPECT_EQ(prompts.messages.size(), 1u) << c.camMod;
        } else {
            EXPECT_TRUE(fsx::fileExists(where + "/miss20.mis")) << c.camMod;
            runCommand("rm -rf '" + where + "'");
        }
    }
}

// Another loader's folder of the same mission is used as it is, saves and all; names that
// are not safe, a folder two records claim, and a changed archive are each asked or refused.
TEST_F(FolderTest, AdoptsOtherFoldersAndRefusesBadInput) {
    const std::string a = archive("a.zip", kA);
    dir.write("Thief2/FMs/a/miss20.mis", "A mission");  // same name, same size
    dir.write("Thief2/FMs/a/saves/quick.sav", "theirs");
    EXPECT_EQ(run(request(a)).substr(0, 6), "-fm=a\n");
    EXPECT_EQ(folder("a"), (Files{{"miss20.mis", "A mission"}, {"saves/quick.sav", "theirs"}}));

    IniFile& store = *app().settings;
    const std::string b = archive("b.zip", kB);
    struct Case {
        std::string name, recordedFolder, owner;
    } refused[] = {{"unsafe", "../../escape", ""}, {"claimed", "a", "other.5"}};
    for (const Case& c : refused) {
        store.WriteString(request(b).recordKey, "fm folder", c.recordedFolder);
        if (!c.owner.empty()) store.WriteString("mission folders 2", c.recordedFolder, c.owner);
        prompts.messages.clear();
        run(request(b), false);
        EXPECT_FALSE(fsx::fileExists(started)) << c.name;
        EXPECT_EQ(prompts.messages.size(), 1u) << c.name;
        EXPECT_FALSE(fsx::directoryExists(G + "FMs/b")) << c.name;
        EXPECT_FALSE(fsx::pathExists(dir.path() + "escape")) << c.name;
    }
    store.WriteString("mission folders 2", "a", request(a).recordKey);

    // a.zip changed: asked; No changes nothing, Yes replaces it and keeps the saves.
    const std::string changed = archive("a.zip", {{"miss20.mis", "A mission, version 2"}});
    prompts.answers = {PromptResult::No};
    run(request(changed), false);
    EXPECT_FALSE(fsx::fileExists(started));
    EXPECT_EQ(folder("a")["miss20.mis"], "A mission");
    prompts.answers = {PromptResult::Yes};
    EXPECT_EQ(run(request(changed)).substr(0, 6), "-fm=a\n");
    EXPECT_EQ(folder("a")["miss20.mis"], "A mission, version 2");
    EXPECT_EQ(folder("a")["saves/quick.sav"], "theirs");
}

// A classic install in place is taken out before the first folder install.
TEST_F(FolderTest, ClassicInstallGoesBeforeTheFirstFolder) {
    const Files game = gameFiles();
    const std::string a = archive("a.zip", kA), b = archive("b.zip", kB);
    missionfolders::storeEnabled(*app().settings, 2, false);
    run(request(a, InstallAction::InstallOnly));
    EXPECT_EQ(readFile(G + "fam/sky.pcx"), "A sky");
    missionfolders::storeEnabled(*app().settings, 2, true);
    run(request(b, InstallAction::InstallOnly));
    Files now = gameFiles();
    now.erase("Tallowmere.Current");
    EXPECT_EQ(now, game);
    EXPECT_EQ(folder("b")["miss20.mis"], "B mission");

    // The game row starts the game itself, no mission.
    InstallRequest original = request(a);
    original.mission.archivePath = " Original";
    original.recordKey = "Original (Thief 2)";
    EXPECT_EQ(run(original), "\n" + G.substr(0, G.size() - 1) + "\n");
}

// Every content a saved game or screenshot had: on disk (mission folders, SAVES) or in any
// saves archive, under any name.
std::multiset<std::string> keptAnywhere(const std::string& G) {
    std::multiset<std::string> found;
    Files files;
    snapshot(G, "", files, {"allsaves"});
    for (const auto& [name, content] : files) found.insert(content);
    for (const fsx::DirEntry& e : fsx::listDirectory(G + "allsaves", "*.zip"))
        for (const auto& [member, content] : storedSaves(G + "allsaves/" + e.name))
            found.insert(content);
    return found;
}

// Saves that meet other saves: a mode switch, a folder another loader left, two formats of
// one name, files deep below saves/ and screenshots/, a saved game written over in SAVES.
// Every one of them is found afterwards, no question is asked, and the process's current
// folder is where it was.
TEST_F(FolderTest, ASavedGameIsNeverReplacedByAnother) {
    const std::string cwd = fsx::currentDirectory();
    const auto mode = [&](bool folders) {
        missionfolders::storeEnabled(*app().settings, 2, folders);
    };
    const auto save = [&](const std::string& file, const std::string& content) {
        dir.write("Thief2/" + file, content);
    };
    const auto make7z = [&](const std::string& name, const Members& members) {
        const std::string src = dir.path() + "src7z/";
        runCommand("rm -rf '" + src + "'");
        for (const auto& [member, content] : members) dir.write("src7z/" + member, content);
        const std::string path = dir.path() + "missions/" + name;
        runCommand("cd '" + src + "' && 7z a -bd -bso0 '" + path + "' . >/dev/null");
        return path;
    };
    struct Case {
        const char* name;
        std::function<void()> play;
        std::vector<std::string> kept;
    } cases[] = {
        {"mode switch",
         [&] {
             const std::string a = archive("a.zip", kA);
             run(request(a, InstallAction::InstallOnly));
             save("FMs/a/saves/game0001.sav", "folder slot 1");
             mode(false);
             run(request(a, InstallAction::InstallOnly));
             save("SAVES/game0001.sav", "classic slot 1");
             mode(true);
             run(request(a, InstallAction::InstallOnly));
             ASSERT_TRUE(operations::removeMissionFolder(request(a), work, progress));
         },
         {"folder slot 1", "classic slot 1"}},
        {"adopted folder",
         [&] {
             const std::string a = archive("a.zip", kA);
             run(request(a, InstallAction::InstallOnly));
             save("FMs/a/saves/game0000.sav", "T");
             ASSERT_TRUE(operations::removeMissionFolder(request(a), work, progress));
             save("FMs/a/miss20.mis", "A mission");
             save("FMs/a/saves/game0000.sav", "O");
             run(request(a, InstallAction::InstallOnly));
             ASSERT_TRUE(operations::removeMissionFolder(request(a), work, progress));
             // T is kept as an older version, and comes back in a free slot.
             const std::vector<std::string> older = operations::olderSavedGames(request(a), work);
             ASSERT_EQ(older.size(), 1u);
             EXPECT_EQ(operations::bringBackSavedGame(request(a), older[0], work, progress),
                       "game0001.sav");
             EXPECT_EQ(storedSaves(G + "allsaves/a_saves.zip")["game0001.sav"], "T");
         },
         {"T", "O"}},
        {"two formats",
         [&] {
             const std::string zip = archive("Foo.zip", kA);
             const std::string sevenZ = make7z("Foo.7z", {{"miss20.mis", "Foo 7z mission"}});
             for (const char* round : {"1", "2"}) {
                 run(request(zip, InstallAction::InstallOnly));
                 save("FMs/Foo/saves/game0000.sav", std::string("zip ") + round);
                 run(request(sevenZ, InstallAction::InstallOnly));
                 save("FMs/Foo_7z/saves/game0000.sav", std::string("7z ") + round);
             }
             ASSERT_TRUE(operations::removeMissionFolder(request(zip), work, progress));
             ASSERT_TRUE(operations::removeMissionFolder(request(sevenZ), work, progress));
             EXPECT_EQ(storedSaves(G + "allsaves/Foo_saves.zip")["game0000.sav"], "zip 2");
             EXPECT_EQ(storedSaves(G + "allsaves/Foo.7z_saves.zip")["game0000.sav"], "7z 2");
         },
         {"zip 2", "7z 2"}},
        {"deep and odd names",
         [&] {
             const std::string a = archive("a.zip", kA);
             run(request(a, InstallAction::InstallOnly));
             save("FMs/a/SAVES/game0001.sav", "upper-case folder");
             save("FMs/a/saves/old/game0000.sav", "deep");
             save("FMs/a/saves/screenshots\\dump000.png", "backslash");
             save("FMs/a/screenshots/dump000.png", "screenshot");
             ASSERT_TRUE(operations::removeMissionFolder(request(a), work, progress));
             run(request(a, InstallAction::InstallOnly));
             // Found as the game finds them, without regard to case.
             EXPECT_EQ(readFile(fsx::resolve(G + "FMs/a/saves/old/game0000.sav")), "deep");
             EXPECT_EQ(folder("a")["screenshots/dump000.png"], "screenshot");
         },
         {"upper-case folder", "deep", "backslash", "screenshot"}},
        {"classic save written over",
         [&] {
             mode(false);
             const std::string a = archive("a.zip", kA);
             InstallRequest original = request(a, InstallAction::InstallOnly);
             original.mission.archivePath = " Original";
             original.recordKey = "Original (Thief 2)";
             run(request(a, InstallAction::InstallOnly));
             save("SAVES/game0000.sav", "first");
             run(original);
             run(request(a, InstallAction::InstallOnly));
             save("SAVES/game0000.sav", "second");
             run(original);
             EXPECT_EQ(storedSaves(G + "allsaves/a_saves.zip")["game0000.sav"], "second");
         },
         {"first", "second"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        runCommand("rm -rf '" + G + "FMs' '" + G + "allsaves' '" + G + "SAVES' '" + dir.path() +
                   "missions' '" + G + "Tallowmere.Current'");
        app().settings = std::make_unique<IniFile>(dir.path() + c.name + ".ini");
        mode(true);
        prompts.messages.clear();
        c.play();
        const std::multiset<std::string> found = keptAnywhere(G);
        for (const std::string& content : c.kept) EXPECT_GE(found.count(content), 1u) << content;
        EXPECT_TRUE(prompts.messages.empty()) << prompts.messages.front().text;
        EXPECT_EQ(fsx::currentDirectory(), cwd);
    }
}

// System Shock 2 keeps each saved game as a slot folder in the mission folder: it is stored
// whole, a slot stored over another keeps the other's whole set under one older time, and
// such a set comes back whole into a free slot folder, in the saves archive or on disk.
TEST_F(FolderTest, ASlotFolderIsKeptAndBroughtBackWhole) {
    const std::string S = dir.path() + "SS2/";
    dir.write("SS2/shock2.exe", "#!/bin/sh\n");
    dir.write("SS2/cam_mod.ini", "; NewDark\n");
    app().thiefdata[3] = GameRecord{};
    app().thiefdata[3].gameDir = S;
    InstallRequest r = request(archive("s.zip", {{"shock2.gam", "g"}, {"earth.mis", "e"}}),
                               InstallAction::InstallOnly);
    r.mission.currentGame = 3;
    r.mission.missionFileMember = "earth.mis";
    r.mission.missionNumber = 0;
    const auto slotFolders = [&] {
        Files files;
        snapshot(S + "FMs/s/", "", files, {"earth.mis", "shock2.gam"});
        return files;
    };
    const auto play = [&](const Files& written) {
        run(r);
        runCommand("rm -rf '" + S + "FMs/s/save_3'");
        for (const auto& [name, content] : written) dir.write("SS2/FMs/s/" + name, content);
        ASSERT_TRUE(operations::removeMissionFolder(r, work, progress));
    };
    const Files first = {{"save_3/earth.mis", "v1 earth"},
                         {"save_3/medsci1.mis", "v1 medsci"},
                         {"current/earth.mis", "now"}};
    play(first);
    run(r);
    EXPECT_EQ(slotFolders(), first);
    play({{"save_3/earth.mis", "v2 earth"}});  // a new game in slot 3: medsci1 is not in it

    Files stored, older;
    for (const auto& [name, content] : storedSaves(S + "allsaves/s_saves.zip")) {
        std::string slashed = name;
        std::replace(slashed.begin(), slashed.end(), '\\', '/');
        const bool old = slashed.rfind("older/", 0) == 0;
        (old ? older : stored)[old ? slashed.substr(slashed.find("/save_3/") + 1) : slashed] =
            content;
    }
    EXPECT_EQ(stored, (Files{{"save_3/earth.mis", "v2 earth"}, {"current/earth.mis", "now"}}));
    EXPECT_EQ(older,
              (Files{{"save_3/earth.mis", "v1 earth"}, {"save_3/medsci1.mis", "v1 medsci"}}));
    const std::vector<std::string> versions = operations::olderSavedGames(r, work);
    ASSERT_EQ(versions.size(), 1u);
    EXPECT_EQ(versions[0].substr(versions[0].size() - 7), "\\save_3");

    // Into the saves archive while it is not installed, then on disk while it is.
    EXPECT_EQ(operations::bringBackSavedGame(r, versions[0], work, progress), "save_0");
    run(r);
    EXPECT_EQ(operations::bringBackSavedGame(r, versions[0], work, progress), "save_1");
    EXPECT_EQ(slotFolders(), (Files{{"save_0/earth.mis", "v1 earth"},
                                    {"save_0/medsci1.mis", "v1 medsci"},
                                    {"save_1/earth.mis", "v1 earth"},
                                    {"save_1/medsci1.mis", "v1 medsci"},
                                    {"save_3/earth.mis", "v2 earth"},
                                    {"current/earth.mis", "now"}}));
    EXPECT_TRUE(prompts.messages.empty());
}

// A folder is a mission's only while it holds its mission file as the archive has it: one
// another loader filled with another mission is not installed, not removed, and the mission
// goes into a folder of its own.
TEST_F(FolderTest, AFolderIsOursOnlyWhileItsMissionIsThere) {
    const std::string a = archive("a.zip", kA);
    run(request(a, InstallAction::InstallOnly));
    dir.write("Thief2/FMs/a/saves/game0000.sav", "ours");
    InstallRequest analysed = request(a);
    analysed.mission.missionFileSize = std::string("A mission").size();
    ASSERT_TRUE(operations::removeMissionFolder(analysed, work, progress));
    const Files theirs = {{"miss20.mis", "Another loader's mission"},
                          {"saves/game0000.sav", "theirs"}};
    for (const auto& [name, content] : theirs) dir.write("Thief2/FMs/a/" + name, content);

    EXPECT_TRUE(missionfolders::installedRecords(*app().settings, 2, G).empty());
    EXPECT_FALSE(RecordedMissionFolder(programContext(), analysed).installed);
    prompts.messages.clear();
    EXPECT_FALSE(operations::removeMissionFolder(analysed, work, progress));
    EXPECT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(run(analysed).substr(0, 8), "-fm=a_2\n");
    EXPECT_EQ(folder("a"), theirs);
    EXPECT_EQ(folder("a_2")["saves/game0000.sav"], "ours");
    EXPECT_EQ(missionfolders::installedRecords(*app().settings, 2, G),
              std::vector<std::string>{analysed.recordKey});
}

// Run by bench/wine_play_check.sh, which builds a Windows stand-in game (with a version
// resource) and prepares a Wine prefix: Play starts it through Wine with -fm=<name>.
TEST_F(FolderTest, WindowsGameStartedWithItsFolderThroughWine) {
    const char* prefix = std::getenv("TM_WINE_PREFIX");
    const char* standIn = std::getenv("TM_WINE_STANDIN");
    if (!prefix || !standIn) GTEST_SKIP() << "run by bench/wine_play_check.sh";
    G = std::string(prefix) + "/drive_c/Games/NewDark" + dir.path().substr(dir.path().size() - 7);
    runCommand("rm -rf '" + G + "' && mkdir -p '" + G + "' && cp '" + standIn + "' '" + G +
               "thief2.exe' && echo ';fm_path FMs' > '" + G + "cam_mod.ini'");
    app().thiefdata[2].gameDir = G;
    run(request(archive("Wine Test.zip", kB), InstallAction::Play, true), false);
    for (int i = 0; i < 1200 && readFile(G + "started.txt").find('\n') == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_NE(readFile(G + "started.txt").find("-fm=Wine_Test"), std::string::npos);
    runCommand("rm -rf '" + G + "'");
}

}  // namespace
