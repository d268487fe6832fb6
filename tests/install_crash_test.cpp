// Interrupts install, uninstall and the return to the original game at their file-system
// steps, each of three ways (support/CrashChild.h, powercut/PowerCut.h): the process is
// killed (SIGKILL), the power is cut (what was not synced is lost, then SIGKILL), or one
// write, rename or sync fails. From the folders that left, a fresh process starts up
// (finishing or undoing what was interrupted) and plays the mission installed before the
// operation; from the same folders again, another one starts up and plays the mission the
// operation was installing. Each time the game directory must hold exactly that mission as
// its archive has it, with its saved games. Then the scenario plays on to the original game,
// which must have every game file and every saved game. An operation that saw a write fail
// may stop with a message; when it ends as done, it must have done all of it.
// TALLOWMERE_CRASH_STRIDE picks every how many steps one is tried (1 = all; the default
// keeps the run short), TALLOWMERE_CRASH_MODES which modes, TALLOWMERE_CRASH_POINT one
// point; bench/crash_injection.sh runs all of them. The scenario runs with ZIP missions and
// with the first mission as a solid .7z.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <set>

#include "app/AppState.h"
#include "app/Operations.h"
#include "archive/MissionArchive.h"
#include "archive/ZipArchiver.h"
#include "game/GameState.h"
#include "game/InstallState.h"
#include "game/MissionRecords.h"
#include "inspect/ContentAnalysis.h"
#include "install/InstallLaunch.h"
#include "install/MissionFlags.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "platform/TextUtil.h"
#include "support/CrashChild.h"
#include "support/StoredSaves.h"
#include "support/TestSupport.h"

namespace {

using Files = std::map<std::string, std::string>;

// Every file of an archive as `unzip` or `7zz` unpacks it ("/" separators).
Files unpacked(const std::string& archive, const std::string& scratch) {
    runCommand("rm -rf '" + scratch + "' && mkdir -p '" + scratch + "'");
    const bool sevenZip = archive.size() > 3 && archive.compare(archive.size() - 3, 3, ".7z") == 0;
    runCommand(sevenZip ? "7zz x -bd -y -o'" + scratch + "' '" + archive + "' >/dev/null"
                        : "unzip -qq -o '" + archive + "' -d '" + scratch + "'");
    Files out;
    snapshot(scratch + "/", "", out);
    runCommand("rm -rf '" + scratch + "'");
    return out;
}

bool endsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// The scenario: operation k installs kMissionOf[k] ("" = the original game), and after
// it the player saves what kPlays says.
constexpr int kOperations = 4;
const char* const kMissionOf[kOperations] = {"a", "b", "a", ""};
struct Play {
    int operation;
    const char* save;
    const char* content;
};
constexpr Play kPlays[] = {{0, "game0000.sav", "A save 0"},
                           {1, "game0000.sav", "B save 0"},
                           {2, "game0001.sav", "A save 1"}};

// The game's own files.
const Files kGameFiles = {{"strings/default.str", "game"},
                          {"strings/goals.str", "original goals"},
                          {"fam/sky.pcx", "original sky"}};

// The samples CI runs.
constexpr CrashSample kSamples[] = {
    {".zip", powercut::Mode::Kill, 23},   {".zip", powercut::Mode::PowerCut, 3},
    {".zip", powercut::Mode::Fail, 17},   {".7z", powercut::Mode::Kill, 37},
    {".7z", powercut::Mode::PowerCut, 5}, {".7z", powercut::Mode::Fail, 29}};

struct CrashTest : ::testing::TestWithParam<CrashSample> {
    TempDir dir;
    ScriptedPrompter prompts;
    std::string G, missions;
    std::string aExtension = GetParam().aExtension;  // the first mission's archive
    std::map<std::string, Files> archived;           // each mission's archive, unpacked
    std::string flagsFile;                           // the mission flags file written for number 20
    std::string wav;                                 // what the sound plug-in makes of the track

    void SetUp() override {
        keepFolderIndexOutOfParent();
        if (!fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL") ||
            !fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/ZIPENG.DLL") ||
            !fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/mp3dec.plg"))
            GTEST_SKIP() << "engines or sound plug-in not built";
        if (!haveProgram("unzip")) GTEST_SKIP() << "unzip missing";
        openAppFiles(dir.path());
        app().exeDir = std::string(TM_TEST_BIN_DIR) + "/";
        G = dir.path() + "game/";
        missions = dir.path() + "missions/";
        fsx::forceDirectories(missions);
        const std::vector<std::pair<std::string, std::string>> a = {
            {"a.mis", "a"},
            {"strings/goals.str", "A goals"},
            {"fam/sky.pcx", "A sky"},
            {"intrface/english/goals.str", "A english"},
            {"SAVES/game0005.sav", "A shipped"}};
        ASSERT_TRUE(makeZip(missions + "a.zip", a));
        if (haveProgram("7zz")) {
            std::string names;
            for (const auto& [name, content] : a) {
                dir.write("tree/" + name, content);
                names += " '" + name + "'";
            }
            ASSERT_EQ(runCommand("cd '" + dir.path() + "tree' && 7zz a -bd -ms=on '" + missions +
                                 "a.7z'" + names + " >/dev/null"),
                      0);
        }
        ASSERT_TRUE(makeZip(missions + "b.zip",
                            {{"b.mis", "b"},
                             {"strings/goals.str", "B goals"},
                             {"b/x.bin", "x"},
                             {"snd/tone.mp3", readFile(std::string(TM_SOURCE_DIR) +
                                                       "/tests/data/tone_mono22k.mp3")}}));
        ArchiveChecksum() = [](const std::string&) { return std::string("$00000000"); };
        WriteMissionFlags(dir.path() + "missflag.str", 20, 2);
        flagsFile = readFile(dir.path() + "missflag.str");
    }
    void TearDown() override { closeAppFiles(); }

    std::string archiveOf(const std::string& mission) const {
        if (mission.empty()) return " Original";
        return missions + mission + (mission == "a" ? aExtension : ".zip");
    }

    // Keeps the game and mission folders in `copy`, or puts them back from there.
    void keep(const std::string& copy) {
        fsx::setCurrentDirectory(dir.path());
        runCommand("rm -rf '" + copy + "' && mkdir -p '" + copy + "' && cp -a '" + G + "' '" +
                   missions + "' '" + copy + "'");
    }
    void restore(const std::string& copy) {
        fsx::setCurrentDirectory(dir.path());
        runCommand("rm -rf '" + G + "' '" + missions + "' && cp -a '" + copy + "game' '" + copy +
                   "missions' '" + dir.path() + "'");
    }

    void original() {
        fsx::setCurrentDirectory(dir.path());
        runCommand("rm -rf '" + G + "'");
        for (const auto& [name, content] : kGameFiles) dir.write("game/" + name, content);
        dir.write("game/SAVES/game0000.sav", "O save 0");
        dir.write("game/SAVES/game0001.sav", "O save 1");
        runCommand("rm -rf '" + missions + "b.zipSAVES'");
        dir.write("missions/b.zipSAVES/game0007.sav", "B legacy");
    }

    // What a program start does: the game record read from the settings and the marker.
    void startUp() {
        app().thiefdata[2] = GameRecord{};
        app().thiefdata[2].gameDir = G;
        app().thiefdata[2].language = 1;
        ReadInstalledState(app().thiefdata[2]);
    }

    // The archive component shows its messages (as in the program) only in the child the
    // fault is made in, so that a failed write it reports counts as reported.
    bool attended = false;
    void configure(TZipArchiver& zip, TZipArchiver& zip2) const {
        for (TZipArchiver* z : {&zip, &zip2}) {
            z->Unattended = !attended;
            z->SetDLLDirectory(TM_TEST_BIN_DIR);
            z->ExtrOptions = {ExtrOptsEnum::ExtrDirNames, ExtrOptsEnum::ExtrOverWrite};
        }
    }

    // Plays a mission ("a", "b") or the original game ("").
    void install(const std::string& mission) {
        TZipArchiver zip, zip2;
        configure(zip, zip2);
        InstallRequest request;
        request.mission.currentGame = 2;
        request.mission.archivePath = archiveOf(mission);
        request.mission.missionFileMember = mission + ".mis";
        request.mission.missionFlagsPresent = mission == "b";
        request.action = InstallAction::InstallOnly;
        request.selectionName = mission.empty() ? " Original (Thief 2)" : mission;
        request.recordKey = RecordKey({"", "", request.selectionName, "", "", "", ""});
        request.languageItems = {"english"};
        request.selectedLanguage = "english";
        ProgressSink progress;
        operations::install(request, zip2, progress);
    }

    void recover() {
        TZipArchiver zip, zip2;
        configure(zip, zip2);
        ProgressSink progress;
        operations::recover(zip2, progress);
    }

    void operation(int k) { install(kMissionOf[k]); }
    void play(int k) {
        for (const Play& p : kPlays)
            if (p.operation == k) dir.write(std::string("game/SAVES/") + p.save, p.content);
    }

    // The saved games of a mission once the first `played` operations have been played: what
    // it brings itself (a shipped one, a legacy folder) and what the player saved with it.
    static Files savedGames(const std::string& mission, int played) {
        Files saves = mission.empty()
                          ? Files{{"game0000.sav", "O save 0"}, {"game0001.sav", "O save 1"}}
                      : mission == "a" ? Files{{"game0005.sav", "A shipped"}}
                                       : Files{{"game0007.sav", "B legacy"}};
        for (const Play& p : kPlays)
            if (p.operation < played && kMissionOf[p.operation] == mission)
                saves[p.save] = p.content;
        return saves;
    }

    // What the game directory holds with a mission installed, apart from the program's own
    // files: the game's files, each member where the install puts it (language folder
    // left out, MP3 tracks as WAV, saved games in SAVES), the flags file and the numbered
    // copy of the mission file for a mission without flags of its own.
    Files installedTree(const std::string& mission) {
        Files want = kGameFiles;
        if (mission.empty()) return want;
        if (!archived.count(mission))
            archived[mission] = unpacked(archiveOf(mission), dir.path() + "unpacked");
        for (const auto& [name, content] : archived[mission]) {
            std::string target = name;
            const std::string lower = text::lowerAscii(name);
            const size_t at = lower.find("/english/");
            if (at != std::string::npos) target = lower.substr(0, at + 1) + lower.substr(at + 9);
            if (endsWith(lower, ".mp3"))
                want[target.substr(0, target.size() - 4) + ".wav"] = wav;
            else if (target.rfind("SAVES/", 0) != 0)
                want[target] = content;
        }
        if (mission == "a") {
            want["strings/missflag.str"] = flagsFile;
            want["miss20.mis"] = archived[mission]["a.mis"];
        }
        return want;
    }

    // What B's legacy saves folder still holds. A saved game whose move into SAVES the
    // install warned about stays there, and the next install of B moves it.
    Files legacySaves() const {
        Files legacy;
        if (fsx::pathExists(missions + "b.zipSAVES"))
            snapshot(missions + "b.zipSAVES/", "", legacy);
        return legacy;
    }

    // Everything that differs from `mission` installed with its saved games after `played`
    // operations: a member missing or not the archive's, a game file changed, anything
    // left over, a marker that does not say so or does not list a file, a backup that does
    // not hold the replaced game files.
    std::vector<std::string> installedLosses(const std::string& mission, int played) {
        std::vector<std::string> found;
        Files files;
        snapshot(G, "", files);
        Files want = installedTree(mission);
        Files replaced;
        for (const auto& [name, content] : kGameFiles)
            if (want[name] != content) replaced[name] = content;
        Files listed = want;
        for (const auto& [name, content] : kGameFiles)
            if (!replaced.count(name)) listed.erase(name);
        const Files legacy = legacySaves();
        for (const auto& [name, content] : savedGames(mission, played))
            if (!(mission == "b" && legacy.count(name) && legacy.at(name) == content))
                want["SAVES/" + name] = content;
        for (const auto& [name, content] : want) {
            const auto it = files.find(name);
            if (it == files.end())
                found.push_back("missing " + name);
            else if (it->second != content)
                found.push_back("changed " + name);
        }
        for (const auto& [name, content] : files) {
            if (name.find(".tm") != std::string::npos) found.push_back("temporary " + name);
            const bool ours = name.rfind("allsaves/", 0) == 0 || name == "Tallowmere.Current" ||
                              name == "tallowmere_backup.zip";
            if (ours || want.count(name)) continue;
            found.push_back("left over " + name);
        }
        const std::vector<std::string> marker = fsx::fileExists(G + "Tallowmere.Current")
                                                    ? textfile::readLines(G + "Tallowmere.Current")
                                                    : std::vector<std::string>{};
        const std::string archive = archiveOf(mission);
        // No marker is the original game too.
        if (!(marker.empty() && mission.empty()) &&
            (marker.size() < 2 || marker[0] != archive ||
             marker[1] != std::to_string(fsx::fileSize(archive))))
            found.push_back("marker");
        std::set<std::string> lines;
        for (size_t i = 2; i < marker.size(); ++i) lines.insert(fsx::resolve(marker[i]));
        for (const auto& [name, content] : listed)
            if (!lines.count(fsx::resolve(G + name))) found.push_back("not in the marker " + name);
        const std::string backup = G + "tallowmere_backup.zip";
        if ((fsx::fileExists(backup) ? unpacked(backup, dir.path() + "unpacked") : Files{}) !=
            replaced)
            found.push_back("backup");
        return found;
    }

    // Everything is where it belongs after the scenario, on the original game: its files,
    // every mission's saved games in its own saves archive (or still in the legacy folder),
    // nothing else.
    std::vector<std::string> losses() {
        std::vector<std::string> found = installedLosses("", kOperations);
        const Files legacy = legacySaves();
        const std::string aSaves = aExtension == ".zip" ? "a" : "a" + aExtension;
        for (const auto& [mission, zip] :
             std::map<std::string, std::string>{{"a", aSaves}, {"b", "b"}}) {
            const Files stored = storedSaves(G + "allsaves/" + zip + "_saves.zip");
            Files want = savedGames(mission, kOperations);
            for (const auto& [name, content] : legacy) {
                const auto kept = want.find(name);
                if (mission == "b" && kept != want.end() && kept->second == content &&
                    !stored.count(name))
                    want.erase(kept);
            }
            for (const std::string& problem : savesProblems(stored, want))
                found.push_back(mission + "'s saves: " + problem);
        }
        Files files;
        snapshot(G, "", files);
        if (files.size() != 9) found.push_back("file count " + std::to_string(files.size()));
        for (const auto& [name, content] : legacy)
            if (savedGames("b", kOperations)[name] != content)
                found.push_back("legacy saves folder: " + name);
        return found;
    }

    // Does what the sample says at every `stride`-th step of each operation
    // (TALLOWMERE_CRASH_STRIDE instead when set), each followed by fresh starts that play on.
    void faultEverywhere(const CrashSample& sample);
};

TEST_P(CrashTest, NothingIsLost) {
    if (aExtension == ".7z" && !haveProgram("7zz")) GTEST_SKIP() << "7zz missing";
    if (!modeTried(GetParam().mode)) GTEST_SKIP() << "not in TALLOWMERE_CRASH_MODES";
    faultEverywhere(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Faults, CrashTest, ::testing::ValuesIn(kSamples), crashSampleName);

void CrashTest::faultEverywhere(const CrashSample& sample) {
    const long stride = crashStride(sample.stride);
    const std::string why = dir.path() + "why.txt";
    const std::string world = dir.path() + "world/";         // just before the operation
    const std::string afterCrash = dir.path() + "crashed/";  // just after the crash

    // Without a crash every check holds; the track converted here is the one expected.
    original();
    startUp();
    for (int k = 0; k < kOperations; ++k) {
        operation(k);
        if (kMissionOf[k] == std::string("b")) wav = readFile(G + "snd/tone.wav");
        const std::vector<std::string> lost = installedLosses(kMissionOf[k], k);
        EXPECT_TRUE(lost.empty()) << "operation " << k << ": " << (lost.empty() ? "" : lost[0]);
        play(k);
    }
    ASSERT_EQ(wav.compare(0, 4, "RIFF"), 0);
    ASSERT_GT(wav.size(), 44u);
    EXPECT_EQ(losses(), std::vector<std::string>{});

    int tried = 0, lossy = 0;
    for (int k = 0; k < kOperations; ++k) {
        const long first = firstStep(k, stride);
        if (first == 0) continue;
        // The world just before operation k, kept to start each try from.
        original();
        startUp();
        for (int i = 0; i < k; ++i) {
            operation(i);
            play(i);
        }
        keep(world);
        const std::string before = k == 0 ? "" : kMissionOf[k - 1];
        const std::string during = kMissionOf[k];
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
            if (run.outcome == Outcome::Ended && sample.mode == powercut::Mode::Fail)
                cost.check("reported done", installedLosses(during, k));
            keep(afterCrash);
            // From the crash, two ways on: the player plays the mission installed before
            // the operation, or plays the mission again that it was installing and goes on.
            const std::string playBefore = "play " + (before.empty() ? "original" : before);
            cost.part("start-up, " + playBefore, [&] {
                recover();
                install(before);
            });
            cost.check(playBefore, installedLosses(before, k));
            restore(afterCrash);
            const std::string playDuring = "play " + (during.empty() ? "original" : during);
            cost.part("start-up, " + playDuring, [&] {
                recover();
                install(during);
            });
            cost.check(playDuring, installedLosses(during, k));
            play(k);
            cost.part("play on", [&] {
                for (int i = k + 1; i < kOperations; ++i) {
                    operation(i);
                    play(i);
                }
            });
            cost.check("at the end", losses());
            if (cost.report(k, fault, run)) ++lossy;
        }
    }
    std::printf("%s points tried: %d, with a loss: %d\n", powercut::name(sample.mode), tried,
                lossy);
    EXPECT_GT(tried, 0);
}

}  // namespace
