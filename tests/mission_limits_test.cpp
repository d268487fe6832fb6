// A .7z mission made to exhaust memory through its read-mes: its analysis stays within
// bounds, in a child process measured from outside, and what it keeps in the mission
// cache is read back at the next selection instead of being decoded again.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "app/AppState.h"
#include "app/Operations.h"
#include "archive/MissionArchive.h"
#include "inspect/ContentAnalysis.h"
#include "inspect/MissionCache.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

// Runs `body` in a child process; its exit status (-1 when it died) and peak memory in MB.
int inChild(const std::function<bool()>& body, long& peakMb) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body() ? 0 : 1);
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return -1;
    peakMb = usage.ru_maxrss / 1024;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Sixty members d0/huge.txt ... d59/huge.txt of 16 MB each (named like the archive, so
// that every one is a read-me candidate), packed into a few hundred kilobytes.
TEST(MissionLimits, ReadmeFloodStaysBoundedAndItsCacheIsReadBack) {
    if (!haveProgram("7zz")) GTEST_SKIP() << "7zz missing";
    TempDir dir;
    ScriptedPrompter prompts;
    dir.write("tree/miss20.mis", "SKYOBJVAR");
    dir.write("tree/strings/titles.str", "title_20: \"Flood\"\r\n");
    ASSERT_EQ(runCommand("head -c 16M /dev/zero | tr '\\0' 'a' > '" + dir.file("huge.txt") + "'"),
              0);
    for (int i = 0; i < 60; ++i) {
        const std::string folder = dir.file("tree/d" + std::to_string(i));
        fsx::forceDirectories(folder);
        ASSERT_EQ(::link(dir.file("huge.txt").c_str(), (folder + "/huge.txt").c_str()), 0);
    }
    const std::string archive = dir.file("huge.7z");
    ASSERT_EQ(runCommand("cd '" + dir.file("tree") + "' && 7zz a -bd -mx1 '" + archive +
                         "' . >/dev/null"),
              0);
    ASSERT_LT(fsx::fileSize64(archive), 4 << 20);
    const std::string key = "huge." + std::to_string(fsx::fileSize64(archive));

    dir.write("Tallowmere.ini", "");  // settings and cache beside the program
    openAppFiles(dir.path());
    app().thiefdata[2].gameDir = dir.path() + "T2/";
    const std::string cacheDir = missionCacheDir(programContext());
    ASSERT_EQ(cacheDir.rfind(dir.path(), 0), 0u);
    const auto analyse = [&] {
        std::unique_ptr<MissionArchive> mission = openAnalysedMission(cacheDir, archive, key);
        InfoPanel panel;
        SelectedMission selected;
        ProgressSink progress;
        AnalyseMission(programContext(), *mission, key, panel, selected, progress);
        return !mission->sequential() || !panel.questMemo.empty();
    };
    long first = 0, second = 0;
    EXPECT_EQ(inChild(analyse, first), 0);
    // The second selection reads the cache the first one wrote, not the archive.
    EXPECT_EQ(
        inChild(
            [&] { return !openAnalysedMission(cacheDir, archive, key)->sequential() && analyse(); },
            second),
        0);
    closeAppFiles();
    // Read-mes of 16 MB each: a few of them, never more than kMaxPassBytes, held twice at
    // most by the analysis, where all sixty took 3.7 GB.
    EXPECT_LT(first, 1400) << "MB at the first selection";
    EXPECT_LT(second, first + 64) << "MB at the second selection";
    int64_t cacheBytes = 0;
    for (const fsx::DirEntry& e : fsx::listDirectory(cacheDir, "*")) cacheBytes += e.size;
    EXPECT_GT(cacheBytes, 0);
    EXPECT_LE(cacheBytes, int64_t(64) << 20);
}

}  // namespace
