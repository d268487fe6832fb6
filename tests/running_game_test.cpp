#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <map>
#include <thread>

#include "app/AppState.h"
#include "app/Operations.h"
#include "archive/MissionArchive.h"
#include "archive/ZipArchiver.h"
#include "game/GameState.h"
#include "game/InstallState.h"
#include "game/MissionRecords.h"
#include "inspect/ContentAnalysis.h"
#include "install/InstallLaunch.h"
#include "platform/FileSystem.h"
#include "platform/RunningPrograms.h"
#include "platform/TextFile.h"
#include "support/TestSupport.h"

namespace {

void makeLink(const std::string& target, const std::string& link) {
    fsx::forceDirectories(link.substr(0, link.find_last_of('/')));
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
}

std::string windowsPath(const std::string& drive, std::string unixPath) {
    for (char& c : unixPath)
        if (c == '/') c = '\\';
    return drive + unixPath;
}

// A process as /proc shows it, judged against a game directory.
struct ProcRow {
    const char* what;
    std::string game, exe;
    std::vector<std::string> words;
    std::string cwd, environment, expected;  // expected empty = not found
};

// Lays each row out as a /proc folder of its own below `t` and checks what is found there.
void expectFound(const TempDir& t, const std::vector<ProcRow>& rows) {
    int n = 0;
    for (const ProcRow& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string proc = t.path() + "proc" + std::to_string(++n) + "/";
        const std::string entry = proc + std::to_string(1000 + n) + "/";
        fsx::forceDirectories(entry);
        if (!row.exe.empty()) makeLink(row.exe, entry + "exe");
        if (!row.cwd.empty()) makeLink(row.cwd, entry + "cwd");
        std::string cmdline;
        for (const std::string& word : row.words) cmdline += word + std::string(1, '\0');
        if (!row.words.empty()) writeFile(entry + "cmdline", cmdline);
        if (!row.environment.empty()) writeFile(entry + "environ", row.environment);
        // This process itself never counts.
        makeLink(row.game + "/thief2.exe", proc + std::to_string(::getpid()) + "/exe");

        const std::vector<running::Program> found = running::programsFrom(row.game, proc);
        EXPECT_EQ(found.size(), row.expected.empty() ? 0u : 1u);
        if (found.size() != 1) continue;
        EXPECT_EQ(found[0].pid, 1000 + n);
        EXPECT_EQ(found[0].path, row.expected);
    }
}

// Processes laid out as /proc shows them, one per row, each judged against a game directory.
TEST(RunningPrograms, FoundByProgramScriptOrWindowsPathAndNothingElse) {
    TempDir t;
    const std::string wine = t.path() + "pfx/";  // a Wine prefix with its drive links
    t.write("pfx/system.reg", "");
    makeLink("../drive_c", wine + "dosdevices/c:");
    makeLink(t.path() + "cdrom", wine + "dosdevices/d:");
    t.write("cdrom/Games/Thief2/thief2.exe", "");
    const std::string inPrefix = wine + "drive_c/Games/Thief2";
    t.write("pfx/drive_c/Games/Thief2/thief2.exe", "");
    t.write("pfx/drive_c/windows/system32/services.exe", "");
    ::chmod(t.write("pfx/drive_c/Games/Thief2/run.sh", "#!/bin/sh\n").c_str(), 0755);
    t.write("pfx/drive_c/Games/Thief2/readme.txt", "");
    // The prefix a process names in its environment: no drive links, and no "system.reg"
    // either, so that the game directory's own search does not find it.
    const std::string own = t.path() + "own/";
    const std::string ownGame = own + "drive_c/Thief";
    t.write("own/drive_c/Thief/thief.exe", "");
    const std::string native = t.path() + "Thief2";  // a game outside any prefix
    t.write("Thief2/DromEd.exe", "");

    const std::string sh = "/bin/sh", preloader = "/usr/bin/wine64-preloader";
    const std::string t2 = "C:\\Games\\Thief2\\";
    const std::vector<ProcRow> rows = {
        {"native program",
         inPrefix,
         inPrefix + "/game.bin",
         {"./game.bin"},
         "/",
         "",
         inPrefix + "/game.bin"},
        {"replaced native program",
         inPrefix,
         inPrefix + "/game.bin (deleted)",
         {"game"},
         "/",
         "",
         inPrefix + "/game.bin"},
        {"script", inPrefix, sh, {sh, inPrefix + "/run.sh"}, "/", "", inPrefix + "/run.sh"},
        {"script with an option",
         inPrefix,
         sh,
         {sh, "-e", "run.sh"},
         inPrefix,
         "",
         inPrefix + "/run.sh"},
        {"Wine handed a Unix path",
         inPrefix,
         preloader,
         {preloader, "/usr/bin/wine64", inPrefix + "/thief2.exe"},
         "/",
         "",
         inPrefix + "/thief2.exe"},
        {"a text file read there",
         inPrefix,
         "/usr/bin/less",
         {"less", "readme.txt"},
         inPrefix,
         "",
         ""},
        {"C: through the prefix's link",
         inPrefix,
         preloader,
         {t2 + "THIEF2.EXE"},
         "/",
         "",
         t2 + "THIEF2.EXE"},
        {"command line in one word",
         inPrefix,
         preloader,
         {t2 + "thief2.exe -window"},
         "/",
         "",
         t2 + "thief2.exe -window"},
        {"C: through drive_c of its own prefix",
         ownGame,
         preloader,
         {"c:\\thief\\thief.exe"},
         "/",
         std::string("HOME=/nowhere\0WINEPREFIX=", 25) + own,
         "c:\\thief\\thief.exe"},
        {"Z: is the root folder",
         native,
         preloader,
         {windowsPath("Z:", native + "/DromEd.exe")},
         "/",
         "",
         windowsPath("Z:", native + "/DromEd.exe")},
        {"Wine's own service in the game folder",
         inPrefix,
         preloader,
         {"C:\\windows\\system32\\services.exe"},
         inPrefix,
         "",
         ""},
        {"an unmapped drive, working there",
         inPrefix,
         preloader,
         {"E:\\Thief2\\thief2.exe"},
         inPrefix + "/",
         "",
         "E:\\Thief2\\thief2.exe"},
        {"an unmapped drive, working elsewhere",
         inPrefix,
         preloader,
         {"E:\\Thief2\\thief2.exe"},
         "/",
         "",
         ""},
        {"D: mapped elsewhere",
         inPrefix,
         preloader,
         {"D:\\Games\\Thief2\\thief2.exe"},
         inPrefix,
         "",
         ""},
        {"a folder of a longer name", inPrefix, inPrefix + "Gold/thief2.exe", {"x"}, "/", "", ""},
        {"nothing readable", inPrefix, "", {}, "", "", ""},
    };
    expectFound(t, rows);
}

// Started from a terminal in the game directory: Wine names its process by the name it was
// given, and an interpreter may take any number of options before the script.
TEST(RunningPrograms, FoundByANameFromTheWorkingFolder) {
    TempDir t;
    const std::string game = t.path() + "Thief2", other = t.path() + "Other";
    ::chmod(t.write("Thief2/thief2.exe", "#!/bin/sh\n").c_str(), 0755);
    t.write("Other/thief2.exe", "");
    const std::string program = game + "/thief2.exe", z = windowsPath("Z:", program);
    const std::string preloader = "/usr/bin/wine64-preloader", bash = "/usr/bin/bash";
    expectFound(
        t, {
               {"wine, bare name", game, preloader, {"thief2.exe", "", ""}, game, "", program},
               {"wine, .\\ name", game, preloader, {".\\THIEF2.EXE"}, game, "", program},
               {"wine, Z: path", game, preloader, {z, "-window"}, game, "", z},
               {"sh -e -x", game, "/bin/sh", {"sh", "-e", "-x", "thief2.exe"}, game, "", program},
               {"bash --norc -e",
                game,
                bash,
                {"bash", "--norc", "-e", "./thief2.exe"},
                game,
                "",
                program},
               {"a shell working there", game, bash, {"-bash"}, game, "", ""},
               {"ls there", game, "/usr/bin/ls", {"ls", "-l", "Saves"}, game, "", ""},
               {"wine in another folder", game, preloader, {"thief2.exe"}, other, "", ""},
           });
}

// The same through the real /proc: children started in the game directory as a script
// behind two options and under the bare name Wine gives its process; one working there that
// names no program is not counted.
TEST(RunningPrograms, FoundAmongRealProcesses) {
    TempDir t;
    const std::string game = t.path() + "Thief2";
    ::chmod(t.write("Thief2/thief2.exe", "#!/bin/sh\nsleep 20\n").c_str(), 0755);
    const std::string program = game + "/thief2.exe";
    const struct {
        std::vector<const char*> argv;  // program, then its command words
        std::string expected;
    } rows[] = {
        {{"/bin/sh", "sh", "-e", "-x", "./thief2.exe"}, program},
        {{"/bin/sleep", "thief2.exe", "20"}, program},  // as `exec -a thief2.exe sleep 20`
        {{"/bin/sleep", "sleep", "20"}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.argv[1]);
        std::vector<char*> argv;
        for (size_t i = 1; i < row.argv.size(); ++i) argv.push_back(const_cast<char*>(row.argv[i]));
        argv.push_back(nullptr);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::setpgid(0, 0);
            const int null = ::open("/dev/null", O_WRONLY);
            if (::chdir(game.c_str()) != 0 || null < 0 || ::dup2(null, 2) < 0) ::_exit(127);
            ::execv(row.argv[0], argv.data());
            ::_exit(127);
        }
        // Judged once the child runs its program.
        const std::string cmdline = "/proc/" + std::to_string(child) + "/cmdline";
        for (int i = 0; i < 500 && readFile(cmdline).rfind(row.argv[1], 0) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::string found;
        for (const running::Program& p : running::programsFrom(game))
            if (p.pid == child) found = p.path;
        ::kill(-child, SIGKILL);  // with the script's own child
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        EXPECT_EQ(found, row.expected);
    }
}

// bench/wine_running_check.sh names the game directory it started Wine in.
TEST(RunningPrograms, FoundInTheFolderOfTheByHandCheck) {
    const char* dir = std::getenv("TM_RUNNING_CHECK_DIR");
    if (!dir) GTEST_SKIP() << "TM_RUNNING_CHECK_DIR is not set";
    const std::vector<running::Program> found = running::programsFrom(dir);
    for (const running::Program& p : found) std::cout << p.pid << " " << p.path << "\n";
    EXPECT_FALSE(found.empty());
}

using Members = std::vector<std::pair<std::string, std::string>>;

// A game that keeps running from its directory until it is told to end.
struct RunningGame : ::testing::Test {
    TempDir dir;
    ScriptedPrompter prompts;
    TZipArchiver zip, zip2;
    std::string G, started, stop;

    void SetUp() override {
        if (!fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL") ||
            !fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/ZIPENG.DLL"))
            GTEST_SKIP() << "engines not built";
        openAppFiles(dir.path());
        for (int n : {124, 125})
            app().languageSlots[static_cast<size_t>(n)] = "<" + std::to_string(n) + "> %s";
        G = dir.path() + "Thief2/";
        started = dir.path() + "started";
        stop = dir.path() + "stop";
        dir.write("Thief2/strings/default.str", "game");
        dir.write("Thief2/SAVES/game0000.sav", "original game's save");
        // The stand-in game runs until told to stop, or until the test's folder is gone (a
        // start that comes after the test has ended must not run on for ever).
        const std::string game = dir.write(
            "Thief2/thief2.exe", "#!/bin/sh\necho $$ > '" + started + ".new' && mv '" + started +
                                     ".new' '" + started + "'\nwhile [ -d '" + G +
                                     "' ] && [ ! -e '" + stop + "' ]; do sleep 0.05; done\n");
        ::chmod(game.c_str(), 0755);
        app().thiefdata[2] = GameRecord{};
        app().thiefdata[2].gameDir = G;
        app().thiefdata[2].language = 1;
        for (TZipArchiver* z : {&zip, &zip2}) {
            z->Unattended = true;
            z->SetDLLDirectory(TM_TEST_BIN_DIR);
            z->ExtrOptions = {ExtrOptsEnum::ExtrDirNames, ExtrOptsEnum::ExtrOverWrite};
        }
        ArchiveChecksum() = [](const std::string&) { return std::string("$00000000"); };
    }
    void TearDown() override {
        if (!stop.empty()) writeFile(stop, "");
        closeAppFiles();
    }

    void play(const std::string& name, const Members& members) {
        const std::string path = dir.path() + "missions/" + name;
        fsx::forceDirectories(dir.path() + "missions");
        if (!fsx::fileExists(path)) {
            ASSERT_TRUE(makeZip(path, members));
        }
        InstallRequest request;
        request.mission.currentGame = 2;
        request.mission.archivePath = path;
        request.mission.missionFileMember = members.front().first;
        request.mission.missionFlagsPresent = true;
        request.selectionName = name.substr(0, name.size() - 4);
        request.recordKey = RecordKey(
            {"", "", request.selectionName, "", std::to_string(fsx::fileSize(path)), "", ""});
        ProgressSink progress;
        if (operations::install(request, zip2, progress).refreshed)
            ReadInstalledState(app().thiefdata[2]);
    }
    std::map<std::string, std::string> files() {
        std::map<std::string, std::string> all;
        snapshot(G, "", all);
        return all;
    }
};

// While the game started from the game directory runs, neither Play nor the start-up
// recovery touches a file there; once it has ended, Play installs.
TEST_F(RunningGame, NothingIsInstalledOrRemovedUntilTheGameHasEnded) {
    play("a.zip", {{"a.mis", "a"}});
    for (int i = 0; i < 250 && readFile(started).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_FALSE(readFile(started).empty());
    writeFile(G + "SAVES/game0001.sav", "being written by the game");
    const std::string program = G + "thief2.exe";

    const auto before = files();
    play("b.zip", {{"b.mis", "b"}});
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "<124> " + program);
    EXPECT_EQ(files(), before);

    // An interrupted install is left for later, not finished under the running game.
    auto marker = textfile::readLines(G + "Tallowmere.Current");
    marker[1] = "unfinished";
    textfile::writeLines(G + "Tallowmere.Current", marker);
    const auto interrupted = files();
    ProgressSink progress;
    EXPECT_FALSE(operations::recover(zip2, progress));
    ASSERT_EQ(prompts.messages.size(), 2u);
    EXPECT_EQ(prompts.messages[1].text, "<124> " + program + "\n\n<125> %s");
    EXPECT_EQ(files(), interrupted);

    writeFile(stop, "");
    ::unlink(started.c_str());
    play("b.zip", {{"b.mis", "b"}});
    EXPECT_EQ(prompts.messages.size(), 2u);
    EXPECT_EQ(textfile::readLines(G + "Tallowmere.Current").at(0), dir.path() + "missions/b.zip");
    EXPECT_TRUE(fsx::fileExists(G + "b.mis"));
    EXPECT_FALSE(fsx::fileExists(G + "a.mis"));
    EXPECT_FALSE(fsx::fileExists(G + "SAVES/game0001.sav"));  // stored with mission A's saves
}

}  // namespace
