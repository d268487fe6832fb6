// Kills install, uninstall and the return to the original game at their file-system steps
// (a forked child ends itself with SIGKILL at step N), then lets a fresh process start up,
// redo the operation and play on to the original game, and checks that nothing was lost.
// TALLOWMERE_CRASH_STRIDE picks every how many steps a crash is tried (1 = all; the
// default keeps the run short); bench/crash_injection.sh runs all of them. The scenario
// runs once with ZIP missions and once with the first mission as a solid .7z.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <map>

#include "archive/MissionArchive.h"
#include "archive/ZipArchiver.h"
#include "inspect/ContentAnalysis.h"
#include "install/InstallLaunch.h"
#include "install/InstallState.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "state/AppState.h"
#include "support/StoredSaves.h"
#include "support/TestSupport.h"

namespace {

using Files = std::map<std::string, std::string>;

// Every file below a folder with its content ("/" separators).
void snapshot(const std::string& dir, const std::string& prefix, Files& out) {
    for (const fsx::DirEntry& e : fsx::listDirectory(dir, "*")) {
        if (e.isDirectory)
            snapshot(dir + e.name + "/", prefix + e.name + "/", out);
        else
            out[prefix + e.name] = readFile(dir + e.name);
    }
}

// Runs `body` in a child process with a crash at `step` (0 = none). True when the child
// was killed there, false when it ran to its end.
bool runChild(long step, const std::function<void()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        fsx::detail::setCrashStep(step);
        try {
            body();
        } catch (...) {
            ::_exit(3);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return true;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "step " << step;
    return false;
}

struct CrashTest : ::testing::Test {
    TempDir dir;
    ScriptedPrompter prompts;
    std::string G, world, missions;   // world: the game and mission folders to start from
    std::string aExtension = ".zip";  // the first mission's archive: ".zip" or ".7z"

    void SetUp() override {
        if (!fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL") ||
            !fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/ZIPENG.DLL"))
            GTEST_SKIP() << "engines not built";
        if (!haveProgram("unzip")) GTEST_SKIP() << "unzip missing";
        openAppFiles(dir.path());
        G = dir.path() + "game/";
        world = dir.path() + "world/";
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
                            {{"b.mis", "b"}, {"strings/goals.str", "B goals"}, {"b/x.bin", "x"}}));
        ArchiveChecksum() = [](const std::string&) { return std::string("$00000000"); };
    }
    void TearDown() override { closeAppFiles(); }

    void original() {
        fsx::setCurrentDirectory(dir.path());
        runCommand("rm -rf '" + G + "'");
        dir.write("game/strings/default.str", "game");
        dir.write("game/strings/goals.str", "original goals");
        dir.write("game/fam/sky.pcx", "original sky");
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
        FollowMarker(app().thiefdata[2]);
        selectedMission() = SelectedMission{};
        selectedMission().currentGame = 2;
        app().installOnlyFlag = true;
        app().editorFlag = false;
    }

    // Installs a mission ("a", "b") or the original game ("").
    static void configure(TZipArchiver& zip, TZipArchiver& zip2) {
        for (TZipArchiver* z : {&zip, &zip2}) {
            z->Unattended = true;
            z->SetDLLDirectory(TM_TEST_BIN_DIR);
            z->ExtrOptions = {ExtrOptsEnum::ExtrDirNames, ExtrOptsEnum::ExtrOverWrite};
        }
    }

    void install(const std::string& mission) {
        TZipArchiver zip, zip2;
        configure(zip, zip2);
        const std::string extension = mission == "a" ? aExtension : ".zip";
        selectedMission().archivePath =
            mission.empty() ? " Original" : missions + mission + extension;
        pointComponentAt(zip, selectedMission().archivePath);
        zip.ExtrBaseDir = G;
        selectedMission().missionFileMember = mission + ".mis";
        selectedMission().missionNumber = 0;
        selectedMission().missionFlagsPresent = mission == "b";
        InstallContext ctx(zip, zip2);
        ctx.row = {"", "", mission.empty() ? " Original (Thief 2)" : mission, "", "", "", ""};
        ctx.languageItems = {"english"};
        ctx.selectedLanguage = "english";
        InstallAndLaunch(ctx);
    }

    // Operation k of the scenario (a mission, another one, the first again, the original
    // game) and what the player saves after it.
    static constexpr int kOperations = 4;
    void operation(int k) {
        static const char* const missionOf[kOperations] = {"a", "b", "a", ""};
        install(missionOf[k]);
    }
    void play(int k) {
        if (k == 0) dir.write("game/SAVES/game0000.sav", "A save 0");
        if (k == 1) dir.write("game/SAVES/game0000.sav", "B save 0");
        if (k == 2) dir.write("game/SAVES/game0001.sav", "A save 1");
    }

    // From a fresh start after a crash in operation k: the operation again and the rest.
    void carryOn(int k) {
        startUp();
        TZipArchiver zip, zip2;
        configure(zip, zip2);
        RecoverInterruptedOperations(zip, zip2, InstallUi{});
        for (int i = k; i < kOperations; ++i) {
            operation(i);
            play(i);
        }
    }

    // Everything is where it belongs after the scenario; the failures found are listed.
    std::vector<std::string> losses() {
        std::vector<std::string> found;
        auto expect = [&](bool ok, const std::string& what) {
            if (!ok) found.push_back(what);
        };
        Files files;
        snapshot(G, "", files);
        expect(files["strings/default.str"] == "game", "default.str");
        expect(files["strings/goals.str"] == "original goals", "goals.str");
        expect(files["fam/sky.pcx"] == "original sky", "sky.pcx");
        expect(files["SAVES/game0000.sav"] == "O save 0", "original save 0");
        expect(files["SAVES/game0001.sav"] == "O save 1", "original save 1");
        const std::string aSaves = aExtension == ".zip" ? "a" : "a" + aExtension;
        const Files a = storedSaves(G + "allsaves/" + aSaves + "_saves.zip");
        expect(a == Files{{"game0000.sav", "A save 0"},
                          {"game0001.sav", "A save 1"},
                          {"game0005.sav", "A shipped"}},
               "a's saves");
        expect(storedSaves(G + "allsaves/b_saves.zip") ==
                   Files{{"game0000.sav", "B save 0"}, {"game0007.sav", "B legacy"}},
               "b's saves");
        expect(textfile::readLines(G + "Tallowmere.Current") ==
                   std::vector<std::string>{" Original", "-1"},
               "marker");
        for (const auto& [name, content] : files) {
            const bool ours = name.rfind("allsaves/", 0) == 0 || name == "Tallowmere.Current";
            const bool game = name.rfind("strings/", 0) == 0 || name.rfind("fam/", 0) == 0 ||
                              name.rfind("SAVES/game000", 0) == 0;
            if (!ours && !game) found.push_back("left over: " + name);
            if (name.find(".tm") != std::string::npos) found.push_back("temporary: " + name);
        }
        expect(files.size() == 9, "file count " + std::to_string(files.size()));
        expect(!fsx::pathExists(missions + "b.zipSAVES"), "legacy saves folder");
        return found;
    }

    // Crashes at every `stride`-th step of each operation (TALLOWMERE_CRASH_STRIDE instead
    // when set), each followed by a fresh start that carries on.
    void killEverywhere(long stride);
};

TEST_F(CrashTest, KilledAtAnyStepNothingIsLost) {
    killEverywhere(17);
}

TEST_F(CrashTest, SevenZipMissionKilledAtAnyStepNothingIsLost) {
    if (!haveProgram("7zz")) GTEST_SKIP() << "7zz missing";
    aExtension = ".7z";
    killEverywhere(29);
}

void CrashTest::killEverywhere(long defaultStride) {
    const char* strideText = std::getenv("TALLOWMERE_CRASH_STRIDE");
    const long stride = strideText ? std::max(1L, std::atol(strideText)) : defaultStride;
    int tried = 0, lossy = 0;
    for (int k = 0; k < kOperations; ++k) {
        // The world just before operation k, kept to start each try from.
        original();
        startUp();
        for (int i = 0; i < k; ++i) {
            operation(i);
            play(i);
        }
        fsx::setCurrentDirectory(dir.path());
        runCommand("rm -rf '" + world + "' && mkdir -p '" + world + "' && cp -a '" + G + "' '" +
                   missions + "' '" + world + "'");
        for (long step = 1 + k;; step += stride) {
            fsx::setCurrentDirectory(dir.path());
            runCommand("rm -rf '" + G + "' '" + missions + "' && cp -a '" + world + "game' '" +
                       world + "missions' '" + dir.path() + "'");
            startUp();
            if (!runChild(step, [&] { operation(k); })) break;
            ++tried;
            runChild(0, [&] { carryOn(k); });
            const std::vector<std::string> lost = losses();
            if (!lost.empty()) {
                ++lossy;
                std::string text;
                for (const std::string& l : lost) text += " " + l;
                ADD_FAILURE() << "operation " << k << ", step " << step << ":" << text;
            }
        }
    }
    std::printf("crash points tried: %d, with a loss: %d\n", tried, lossy);
    EXPECT_GT(tried, 0);
}

}  // namespace
