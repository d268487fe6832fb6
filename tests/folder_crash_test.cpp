// Interrupts the install of missions into their folders, the removal of one and its
// reinstall at each file-system step, in a stand-in NewDark game directory, each of three
// ways (support/CrashChild.h, powercut/PowerCut.h): the process is killed (SIGKILL), the
// power is cut (what was not synced is lost, then SIGKILL), or one write, rename or sync
// fails. From the folders that left, a fresh process starts up and clears up; then no folder
// that counts as installed may lack anything of its mission, none of the program's
// half-done folders may be left, every saved game and screenshot must be in its mission
// folder (while installed) or its saves archive, once, and the game's own files must be
// untouched. Then the scenario plays on from there and must end right. An operation that
// saw a write fail may stop with a message; when it ends as done, it must have done all of
// it. TALLOWMERE_CRASH_STRIDE picks every how many steps one is tried (1 = all; the default
// keeps the run short), TALLOWMERE_CRASH_MODES which modes, TALLOWMERE_CRASH_POINT one
// point; bench/crash_injection.sh runs all of them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "app/AppState.h"
#include "app/Operations.h"
#include "archive/ZipArchiver.h"
#include "game/GameState.h"
#include "game/MissionFolders.h"
#include "game/MissionRecords.h"
#include "install/FolderInstall.h"
#include "install/InstallLaunch.h"
#include "install/MissionFlags.h"
#include "install/Uninstall.h"
#include "platform/FileSystem.h"
#include "support/CrashChild.h"
#include "support/TestSupport.h"

namespace {

using Files = std::map<std::string, std::string>;

// The scenario: install A, install B, remove A, install A again and remove it again (its
// saves archive holding its saves already); after each operation the player leaves what
// kPlays says in the mission's folder.
struct Step {
    bool remove;
    const char* mission;
};
constexpr Step kScenario[] = {{false, "a"}, {false, "b"}, {true, "a"}, {false, "a"}, {true, "a"}};
constexpr int kOperations = 5;
struct Play {
    int operation;
    const char* mission;
    const char* file;  // in the mission folder
    const char* content;
};
constexpr Play kPlays[] = {{0, "a", "saves/game0000.sav", "A save 0"},
                           {0, "a", "saves/game0001.sav", "A save 1"},
                           {0, "a", "screenshots/dump000.png", "A shot"},
                           {1, "b", "saves/game0000.sav", "B save 0"},
                           {3, "a", "saves/game0002.sav", "A save 2"}};

// The game's own files.
const Files kGameFiles = {{"cam_mod.ini", "; NewDark\n;fm_path .\\FMs\n"},
                          {"strings/default.str", "game"},
                          {"fam/sky.pcx", "original sky"},
                          {"SAVES/game0000.sav", "original save"}};

// The samples CI runs.
constexpr CrashSample kSamples[] = {
    {".zip", powercut::Mode::Kill, 11},   {".zip", powercut::Mode::PowerCut, 2},
    {".zip", powercut::Mode::Fail, 11},   {".7z", powercut::Mode::Kill, 23},
    {".7z", powercut::Mode::PowerCut, 4}, {".7z", powercut::Mode::Fail, 23}};

struct FolderCrashTest : ::testing::TestWithParam<CrashSample> {
    TempDir dir;
    ScriptedPrompter prompts;
    std::string state, G, fms, missions;  // state: the game directory and the settings
    std::string aExtension = GetParam().aExtension;
    std::map<std::string, Files> members;  // each mission's archive, unpacked
    std::string flagsFile;                 // the flags file written for mission number 20
    std::string wav;                       // what the sound plug-in makes of the track

    void SetUp() override {
        keepFolderIndexOutOfParent();
        const std::string bin = std::string(TM_TEST_BIN_DIR) + "/";
        if (!fsx::fileExists(bin + "UNZENG.DLL") || !fsx::fileExists(bin + "ZIPENG.DLL"))
            GTEST_SKIP() << "engines not built";
        if (!haveProgram("unzip")) GTEST_SKIP() << "unzip missing";
        if (aExtension == ".7z" && !haveProgram("7zz")) GTEST_SKIP() << "7zz missing";
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
        if (aExtension == ".zip") {
            ASSERT_TRUE(makeZip(missions + "a.zip", a));
        } else {
            std::string names;
            for (const auto& [name, content] : a) {
                dir.write("tree/" + name, content);
                names += " '" + name + "'";
            }
            ASSERT_EQ(runCommand("cd '" + dir.path() + "tree' && 7zz a -bd -ms=on '" + missions +
                                 "a.7z'" + names + " >/dev/null"),
                      0);
        }
        ASSERT_TRUE(makeZip(
            missions + "b.zip",
            {{"miss20.mis", "B mission"}, {"strings/missflag.str", "B flags"}, {"b/x.bin", "x"}}));
        for (const char* m : {"a", "b"}) members[m] = unpacked(request(m).mission.archivePath);
        WriteMissionFlags(dir.path() + "missflag.str", 20, 2);
        flagsFile = readFile(dir.path() + "missflag.str");
    }
    void TearDown() override { closeAppFiles(); }

    // Every file of an archive as `unzip` or `7zz` unpacks it ("/" separators).
    Files unpacked(const std::string& archive) {
        const std::string scratch = dir.path() + "unpacked";
        const bool sevenZip = archive.size() > 3 && archive.substr(archive.size() - 3) == ".7z";
        runCommand("rm -rf '" + scratch + "' && mkdir -p '" + scratch + "' && " +
                   (sevenZip ? "7zz x -bd -y -o'" + scratch + "' '" + archive + "' >/dev/null"
                             : "unzip -qq -o '" + archive + "' -d '" + scratch + "'"));
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
    // The archive component shows its messages (as in the program) only in the child the
    // fault is made in, so that a failed write it reports counts as reported.
    bool attended = false;
    void configure(TZipArchiver& work) const {
        work.Unattended = !attended;
        work.SetDLLDirectory(TM_TEST_BIN_DIR);
        work.ExtrOptions = {ExtrOptsEnum::ExtrDirNames, ExtrOptsEnum::ExtrOverWrite};
    }
    InstallRequest request(const std::string& mission) const {
        InstallRequest r;
        r.mission.currentGame = 2;
        r.mission.archivePath = missions + mission + (mission == "a" ? aExtension : ".zip");
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
            operations::removeMissionFolder(request(kScenario[k].mission), work, progress);
        else
            operations::install(request(kScenario[k].mission), work, progress);
    }
    void recover() {
        TZipArchiver work;
        configure(work);
        ProgressSink progress;
        operations::recover(work, progress);
    }
    void play(int k) {
        for (const Play& p : kPlays)
            if (p.operation == k) writeFile(mkdirs(fms + p.mission + "/" + p.file), p.content);
    }

    // The mission's folder counts as installed: its record says so, or it holds the mission
    // file as another loader's folder would.
    bool installed(const std::string& mission) {
        return RecordedMissionFolder(programContext(), request(mission)).installed ||
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
            // A file is kept in the saves archive when a member holds its content: under its
            // name (saved games without "saves/") or another (older versions may be kept).
            std::set<std::string> contents, kept;
            for (const auto& [name, content] : stored) kept.insert(content);
            for (const Play& p : kPlays) {
                if (p.mission != m || p.operation >= played) continue;
                const std::string name = p.file;
                const std::string stem = name.rfind("saves/", 0) == 0 ? name.substr(6) : name;
                if (stored.count(stem) && stored[stem] != p.content)
                    found.push_back(m + ": changed in the saves archive " + name);
                if (in ? folder[name] != p.content : !kept.count(p.content))
                    found.push_back(m + ": lost " + name);
                folder.erase(name);
                contents.insert(p.content);
            }
            for (const auto& [name, content] : folder)
                if (!want.count(name)) found.push_back(m + ": left over " + name);
            for (const auto& [name, content] : stored)
                if (!contents.count(content))
                    found.push_back(m + ": left over in the saves archive " + name);
        }
        for (const auto& [name, content] : all)
            if (name.rfind("allsaves/", 0) == 0 &&
                G + name != SavesArchivePath(G, request("a").mission.archivePath))
                found.push_back("left over " + name);
        return found;
    }
};

TEST_P(FolderCrashTest, NothingIsLost) {
    const CrashSample& sample = GetParam();
    if (!modeTried(sample.mode)) GTEST_SKIP() << "not in TALLOWMERE_CRASH_MODES";
    const long stride = crashStride(sample.stride);
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
    EXPECT_EQ(RecordedMissionFolder(programContext(), request("a")).name, "a");
    if (members["a"].count("snd/tone.mp3")) {
        ASSERT_EQ(wav.compare(0, 4, "RIFF"), 0);
    }
    EXPECT_EQ(losses(kOperations), std::vector<std::string>{});

    int tried = 0, lossy = 0;
    for (int k = 0; k < kOperations; ++k) {
        const long first = firstStep(k, stride);
        if (first == 0) continue;
        original();
        startUp();
        for (int i = 0; i < k; ++i) {
            operation(i);
            play(i);
        }
        keep(world);
        for (long step = first; step > 0; step = nextStep(step, stride)) {
            restore(world);
            startUp();
            const Fault fault{sample.mode, step};
            const ChildRun run = runChild(
                fault, dir.path(),
                [&] {
                    attended = true;
                    operation(k);
                },
                prompts, "");
            // Only a write that failed may end the operation early.
            if (sample.mode != powercut::Mode::Fail || !run.reached) {
                EXPECT_NE(run.outcome, Outcome::Failed) << "operation " << k << ", step " << step;
            }
            if (!run.reached) break;
            ++tried;
            Losses cost{prompts, why, [&] { startUp(); }, {}};
            // An operation that saw a write fail and still ended well did all it had to.
            if (run.outcome == Outcome::Ended && sample.mode == powercut::Mode::Fail) {
                cost.check("reported done", losses(k));
                if (installed(kScenario[k].mission) == kScenario[k].remove)
                    cost.lost.push_back("reported done: not done");
            }
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
            if (installed("a") || !installed("b"))
                cost.lost.push_back("at the end: a installed or b not");
            if (cost.report(k, fault, run)) ++lossy;
        }
    }
    std::printf("%s points tried: %d, with a loss: %d\n", powercut::name(sample.mode), tried,
                lossy);
    EXPECT_GT(tried, 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, FolderCrashTest, ::testing::ValuesIn(kSamples), crashSampleName);

}  // namespace
