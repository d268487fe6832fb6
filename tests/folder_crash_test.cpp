// Kills the install of missions into their folders, the removal of one and its reinstall at
// each file-system step (a forked child ends itself with SIGKILL at step N), in a stand-in
// NewDark game directory. From the folders the crash left, a fresh process starts up and
// clears up; then no folder that counts as installed may lack anything of its mission, none
// of the program's half-done folders may be left, every saved game and screenshot must be in
// its mission folder (while installed) or its saves archive, once, and the game's own files
// must be untouched. Then the scenario plays on from there and must end right.
// TALLOWMERE_CRASH_STRIDE picks every how many steps a crash is tried (1 = all; the default
// keeps the run short); bench/crash_injection.sh runs all of them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "archive/ZipArchiver.h"
#include "game/GameState.h"
#include "game/MissionFolders.h"
#include "game/MissionRecords.h"
#include "install/FolderInstall.h"
#include "install/InstallLaunch.h"
#include "install/MissionFlags.h"
#include "install/Uninstall.h"
#include "platform/FileSystem.h"
#include "state/AppState.h"
#include "support/CrashChild.h"
#include "support/TestSupport.h"

namespace {

using Files = std::map<std::string, std::string>;

// The scenario: install A, install B, remove A, install A again; after each operation the
// player leaves what kPlays says in the mission's folder.
struct Step {
    bool remove;
    const char* mission;
};
constexpr Step kScenario[] = {{false, "a"}, {false, "b"}, {true, "a"}, {false, "a"}};
constexpr int kOperations = 4;
struct Play {
    int operation;
    const char* mission;
    const char* file;  // in the mission folder
    const char* content;
};
constexpr Play kPlays[] = {{0, "a", "saves/game0000.sav", "A save 0"},
                           {0, "a", "saves/game0001.sav", "A save 1"},
                           {0, "a", "screenshots/dump000.png", "A shot"},
                           {1, "b", "saves/game0000.sav", "B save 0"}};

// The game's own files.
const Files kGameFiles = {{"cam_mod.ini", "; NewDark\n;fm_path .\\FMs\n"},
                          {"strings/default.str", "game"},
                          {"fam/sky.pcx", "original sky"},
                          {"SAVES/game0000.sav", "original save"}};

struct FolderCrashTest : ::testing::Test {
    TempDir dir;
    ScriptedPrompter prompts;
    std::string state, G, fms, missions;   // state: the game directory and the settings
    std::map<std::string, Files> members;  // each mission's archive, unpacked
    std::string flagsFile;                 // the flags file written for mission number 20
    std::string wav;                       // what the sound plug-in makes of the track

    void SetUp() override {
        keepFolderIndexOutOfParent();
        const std::string bin = std::string(TM_TEST_BIN_DIR) + "/";
        if (!fsx::fileExists(bin + "UNZENG.DLL") || !fsx::fileExists(bin + "ZIPENG.DLL"))
            GTEST_SKIP() << "engines not built";
        if (!haveProgram("unzip")) GTEST_SKIP() << "unzip missing";
        state = dir.path() + "state/";
        G = state + "Thief2/";
        fms = G + "FMs/";
        missions = dir.path() + "missions/";
        fsx::forceDirectories(state);
        fsx::forceDirectories(missions);
        openAppFiles(state);
        app().exeDir = bin;
        std::vector<std::pair<std::string, std::string>> a = {{"miss20.mis", "A mission"},
                                                              {"strings/goals.str", "A goals"},
                                                              {"fam/sky.pcx", "A sky"}};
        if (fsx::fileExists(bin + "mp3dec.plg"))
            a.push_back({"snd/tone.mp3",
                         readFile(std::string(TM_SOURCE_DIR) + "/tests/data/tone_mono22k.mp3")});
        ASSERT_TRUE(makeZip(missions + "a.zip", a));
        ASSERT_TRUE(makeZip(
            missions + "b.zip",
            {{"miss20.mis", "B mission"}, {"strings/missflag.str", "B flags"}, {"b/x.bin", "x"}}));
        for (const char* m : {"a", "b"}) members[m] = unpacked(missions + m + ".zip");
        WriteMissionFlags(dir.path() + "missflag.str", 20, 2);
        flagsFile = readFile(dir.path() + "missflag.str");
    }
    void TearDown() override { closeAppFiles(); }

    // Every file of a ZIP archive as `unzip` unpacks it ("/" separators).
    Files unpacked(const std::string& zip) {
        const std::string scratch = dir.path() + "unpacked";
        runCommand("rm -rf '" + scratch + "' && mkdir -p '" + scratch + "' && unzip -qq -o '" +
                   zip + "' -d '" + scratch + "'");
        Files out;
        snapshot(scratch + "/", "", out);
        runCommand("rm -rf '" + scratch + "'");
        return out;
    }

    void original() {
        fsx::setCurrentDirectory(dir.path());
        runCommand("rm -rf '" + state + "'*");
        for (const auto& [name, content] : kGameFiles) writeFile(mkdirs(G + name), content);
    }
    static std::string mkdirs(const std::string& file) {
        fsx::forceDirectories(file.substr(0, file.rfind('/')));
        return file;
    }
    void keep(const std::string& copy) {
        fsx::setCurrentDirectory(dir.path());
        runCommand("rm -rf '" + copy + "' && cp -a '" + state + "' '" + copy + "'");
    }
    void restore(const std::string& copy) {
        fsx::setCurrentDirectory(dir.path());
        runCommand("rm -rf '" + state + "' && cp -a '" + copy + "' '" + state + "'");
    }

    // What a program start knows: the game directory.
    void startUp() {
        app().thiefdata[2] = GameRecord{};
        app().thiefdata[2].gameDir = G;
        app().thiefdata[2].language = 1;
    }
    static void configure(TZipArchiver& work) {
        work.Unattended = true;
        work.SetDLLDirectory(TM_TEST_BIN_DIR);
        work.ExtrOptions = {ExtrOptsEnum::ExtrDirNames, ExtrOptsEnum::ExtrOverWrite};
    }
    InstallRequest request(const std::string& mission) const {
        InstallRequest r;
        r.mission.currentGame = 2;
        r.mission.archivePath = missions + mission + ".zip";
        r.mission.missionFileMember = "miss20.mis";
        r.mission.missionNumber = 20;
        r.mission.missionFlagsPresent = mission == "b";
        r.action = InstallAction::InstallOnly;
        r.recordKey =
            RecordKey({"", "", mission, "", std::to_string(fsx::fileSize(r.mission.archivePath))});
        r.selectionName = mission;
        return r;
    }
    void operation(int k) {
        TZipArchiver work;
        configure(work);
        ProgressSink progress;
        if (kScenario[k].remove)
            RemoveMissionFolder(request(kScenario[k].mission), work, progress);
        else
            InstallAndLaunch(request(kScenario[k].mission), work, progress);
    }
    void recover() {
        TZipArchiver work;
        configure(work);
        ProgressSink progress;
        RecoverInterruptedOperations(work, progress);
    }
    void play(int k) {
        for (const Play& p : kPlays)
            if (p.operation == k) writeFile(mkdirs(fms + p.mission + "/" + p.file), p.content);
    }

    // The mission's folder counts as installed: its record says so, or it holds the mission
    // file as another loader's folder would.
    bool installed(const std::string& mission) {
        return RecordedMissionFolder(request(mission)).installed ||
               missionfolders::holdsMission(fms + mission, "miss20.mis",
                                            members[mission]["miss20.mis"].size());
    }
    // An installed folder without the player's files: every member with its bytes, the MP3
    // track as WAV, the flags file written for a mission without one.
    Files missionTree(const std::string& mission) {
        Files want;
        for (const auto& [name, content] : members[mission])
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".mp3") == 0)
                want[name.substr(0, name.size() - 4) + ".wav"] = wav;
            else
                want[name] = content;
        if (mission == "a") want["strings/missflag.str"] = flagsFile;
        return want;
    }

    // What the saves archive of a mission holds: its files by name ("/" separators), a name
    // listed twice, or "unreadable".
    std::vector<std::string> storedProblems(const std::string& zip, Files& stored) {
        if (!fsx::fileExists(zip)) return {};
        if (runCommand("unzip -tqq '" + zip + "' >/dev/null") > 1) return {"unreadable"};
        std::string listing;
        runCommand("unzip -Z1 '" + zip + "'", &listing);
        std::vector<std::string> found;
        std::map<std::string, int> listed;
        for (size_t at = 0, end; at < listing.size(); at = end + 1) {
            end = std::min(listing.find('\n', at), listing.size());
            std::string name = listing.substr(at, end - at);
            std::replace(name.begin(), name.end(), '\\', '/');
            if (!name.empty() && ++listed[name] == 2) found.push_back("twice " + name);
        }
        stored = unpacked(zip);
        return found;
    }

    // Everything that is not as it should be after the first `played` operations and their
    // plays: a game file changed, a temporary or half-done folder left, an installed folder
    // lacking anything, a saved game or screenshot missing, changed or doubled.
    std::vector<std::string> losses(int played) {
        std::vector<std::string> found;
        Files all, game;
        snapshot(G, "", all);
        snapshot(G, "", game, {"FMs", "allsaves"});
        if (game != kGameFiles) found.push_back("game files changed");
        for (const auto& [name, content] : all)
            if (name.find(".tm") != std::string::npos) found.push_back("temporary " + name);
        for (const fsx::DirEntry& e : fsx::listDirectory(fms, "*"))
            if ((e.name != "a" && e.name != "b") || !installed(e.name))
                found.push_back("left over " + e.name);
        for (const std::string m : {"a", "b"}) {
            const bool in = installed(m);
            Files folder;
            if (in) snapshot(fms + m + "/", "", folder);
            const Files want = missionTree(m);
            for (const auto& [name, content] : want)
                if (in && folder[name] != content) found.push_back(m + ": incomplete " + name);
            const std::string zip = SavesArchivePath(G, request(m).mission.archivePath);
            Files stored;
            for (const std::string& p : storedProblems(zip, stored)) found.push_back(m + ": " + p);
            for (const Play& p : kPlays) {
                if (p.mission != m || p.operation >= played) continue;
                const std::string name = p.file;
                const std::string stem = name.rfind("saves/", 0) == 0 ? name.substr(6) : name;
                const auto kept = stored.find(stem);
                if (kept != stored.end() && kept->second != p.content)
                    found.push_back(m + ": changed in the saves archive " + name);
                if (in ? folder[name] != p.content : kept == stored.end())
                    found.push_back(m + ": lost " + name);
                folder.erase(name);
                stored.erase(stem);
            }
            for (const auto& [name, content] : folder)
                if (!want.count(name)) found.push_back(m + ": left over " + name);
            for (const auto& [name, content] : stored)
                found.push_back(m + ": left over in the saves archive " + name);
        }
        for (const auto& [name, content] : all)
            if (name.rfind("allsaves/", 0) == 0 && name != "allsaves/a_saves.zip")
                found.push_back("left over " + name);
        return found;
    }
};

TEST_F(FolderCrashTest, KilledAtAnyStepNothingIsLost) {
    const long stride = crashStride(3);
    const std::string why = dir.path() + "why.txt";
    const std::string world = dir.path() + "world/";  // just before the operation

    // Without a crash every check holds; the track converted here is the one expected.
    original();
    startUp();
    for (int k = 0; k < kOperations; ++k) {
        operation(k);
        if (k == 0) wav = readFile(fms + "a/snd/tone.wav");
        EXPECT_EQ(installed(kScenario[k].mission), !kScenario[k].remove) << k;
        EXPECT_EQ(losses(k), std::vector<std::string>{}) << k;
        play(k);
    }
    EXPECT_EQ(RecordedMissionFolder(request("a")).name, "a");
    if (members["a"].count("snd/tone.mp3")) {
        ASSERT_EQ(wav.compare(0, 4, "RIFF"), 0);
    }
    EXPECT_EQ(losses(kOperations), std::vector<std::string>{});

    int tried = 0, lossy = 0;
    for (int k = 0; k < kOperations; ++k) {
        original();
        startUp();
        for (int i = 0; i < k; ++i) {
            operation(i);
            play(i);
        }
        keep(world);
        // The first step tried moves from one operation to the next, so that a sample does
        // not always hit the same kind of step.
        for (long step = 1 + k % stride;; step += stride) {
            restore(world);
            startUp();
            const Outcome crashed = runChild(
                step, [&] { operation(k); }, prompts, "");
            EXPECT_NE(crashed, Outcome::Failed) << "operation " << k << ", step " << step;
            if (crashed != Outcome::Killed) break;
            ++tried;
            Losses cost{prompts, why, [&] { startUp(); }, {}};
            cost.part("start-up", [&] { recover(); });
            cost.check("after start-up", losses(k));
            // The player does again what was interrupted, and plays on.
            cost.part("play on", [&] {
                for (int i = k; i < kOperations; ++i) {
                    operation(i);
                    play(i);
                }
            });
            cost.check("at the end", losses(kOperations));
            for (const char* m : {"a", "b"})
                if (!installed(m))
                    cost.lost.push_back(std::string("at the end: not installed ") + m);
            if (cost.report(k, step)) ++lossy;
        }
    }
    std::printf("crash points tried: %d, with a loss: %d\n", tried, lossy);
    EXPECT_GT(tried, 0);
}

}  // namespace
