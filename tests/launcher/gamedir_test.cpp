#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "game/GameDir.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

TEST(GameDir, NamesAndPaths) {
    EXPECT_EQ(gamedir::missionFileName(20), "miss20.mis");
    EXPECT_EQ(gamedir::missionFileName(7), "miss7.mis");

    TempDir t;
    t.write("Strings/other.str", "");
    t.write("saves/game0000.sav", "");
    // Names with "\" land in the folders as they exist on disk, whatever their case.
    EXPECT_EQ(gamedir::path(t.path(), gamedir::kMissFlagStr), t.path() + "Strings/missflag.str");
    EXPECT_EQ(gamedir::path(t.path(), gamedir::kSavesDir), t.path() + "saves");
    EXPECT_EQ(gamedir::path(t.path(), "SAVES\\GAME0000.SAV"), t.path() + "saves/game0000.sav");
    EXPECT_EQ(gamedir::path(t.path(), gamedir::kMarker), t.path() + "Tallowmere.Current");
}

TEST(GameDir, StartsExecutableInGameDirectory) {
    TempDir t;
    std::string record = t.path() + "record.txt";
    // The editor is started as "dromEd.exe"; on disk it may be spelt otherwise.
    std::string exe = t.write("game/DROMED.EXE", "#!/bin/sh\npwd > '" + record + "'\n");
    ::chmod(exe.c_str(), 0755);
    ASSERT_TRUE(gamedir::start(t.path() + "game/", "dromEd.exe"));
    std::string r;
    for (int i = 0; i < 250 && (r.empty() || r.back() != '\n'); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        r = readFile(record);
    }
    EXPECT_EQ(r, t.path() + "game\n");
    EXPECT_FALSE(gamedir::start(t.path() + "game/", "thief.exe"));
}
