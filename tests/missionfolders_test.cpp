// Where a NewDark game's mission folders go and what they are named.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "game/MissionFolders.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

using namespace missionfolders;

TEST(MissionFolders, FmPathIsReadFromCamModIniAndMappedOntoTheDisk) {
    TempDir dir;
    const std::string prefix = dir.path() + "pfx";
    const std::string game = prefix + "/drive_c/Games/Thief2/";
    fsx::forceDirectories(game);
    EXPECT_FALSE(supportsMissionFolders(game));
    EXPECT_EQ(missionRoot(game), game + "FMs/");

    struct Row {
        std::string camMod, setting, onDisk;
    };
    const std::vector<Row> rows = {
        {"; fm_path Old\r\nfm\r\n", "", game + "FMs/"},
        {"FM_PATH  Missions\\New \r\nfm_path Later\r\n", "Missions\\New", game + "Missions/New/"},
        {"fm_path \"C:\\Games\\FMs\"\r\n", "C:\\Games\\FMs", prefix + "/drive_c/Games/FMs/"},
        {"fm_path Z:\\srv\\fms\r\n", "Z:\\srv\\fms", "/srv/fms/"},
        {"fm_path /srv/fms\r\n", "/srv/fms", "/srv/fms/"},
        {"fm_path Q:\\FMs\r\n", "Q:\\FMs", ""},  // a drive the prefix does not have
    };
    dir.write("pfx/system.reg", "");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.camMod);
        dir.write("pfx/drive_c/Games/Thief2/CAM_MOD.INI", row.camMod);
        EXPECT_TRUE(supportsMissionFolders(game));
        EXPECT_EQ(fmPathSetting(game), row.setting);
        EXPECT_EQ(missionRoot(game), row.onDisk);
    }
    // The prefix's own drive links win over the defaults.
    fsx::forceDirectories(dir.path() + "elsewhere");
    fsx::forceDirectories(prefix + "/dosdevices");
    ASSERT_EQ(::symlink((dir.path() + "elsewhere").c_str(), (prefix + "/dosdevices/q:").c_str()),
              0);
    EXPECT_EQ(missionRoot(game), prefix + "/dosdevices/q:/FMs/");
}

TEST(MissionFolders, FolderNamesAreShortSafeAndUniqueWithoutRegardToCase) {
    struct Row {
        std::string archive;
        std::vector<std::string> taken;
        std::string name;
    };
    const std::vector<Row> rows = {
        {"/m/TheLostCourier.zip", {}, "TheLostCourier"},
        {"/m/Rocksbourg III.7z", {}, "Rocksbourg_III"},
        {"/m/Nocny z\u0142odziej.rar", {}, "Nocny_z__odziej"},
        {"/m/a:b*c?.zip", {}, "a_b_c_"},
        {"/m/..zip", {}, "mission"},
        {"/m/.hidden.zip", {}, "hidden"},
        {"/m/ThisNameIsFarLongerThanThirtyCharacters.zip", {}, "ThisNameIsFarLongerThanThirtyC"},
        {"/m/Vault.zip", {"vault"}, "Vault_2"},
        {"/m/Vault.zip", {"VAULT", "Vault_2"}, "Vault_3"},
        {"/m/ThisNameIsFarLongerThanThirtyCharacters.zip",
         {"thisnameisfarlongerthanthirtyc"},
         "ThisNameIsFarLongerThanThirt_2"},
        {"/m/Mission.tar.zip", {}, "Mission.tar"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.archive);
        const std::string name = folderNameFor(row.archive, row.taken);
        EXPECT_EQ(name, row.name);
        EXPECT_LE(name.size(), kMaxFolderName);
    }
}

TEST(MissionFolders, AFolderHoldsTheMissionWhenItsMissionFileIsThereWithItsSize) {
    TempDir dir;
    const std::string root = dir.path() + "FMs/";
    EXPECT_TRUE(folderNamesIn(root).empty());
    dir.write("FMs/Vault/MISS20.MIS", "1234");
    dir.write("FMs/Other/miss20.mis", "12");
    dir.write("FMs/loose.txt", "");
    std::vector<std::string> names = folderNamesIn(root);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Other", "Vault"}));
    struct Row {
        std::string folder, missionFile;
        uint64_t size;
        bool holds;
    };
    const std::vector<Row> rows = {
        {"Vault", "miss20.mis", 4, true},  {"vault", "Miss20.mis", 4, true},
        {"Other", "miss20.mis", 4, false}, {"Vault", "miss21.mis", 4, false},
        {"Vault", "", 0, false},           {"Missing", "miss20.mis", 4, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.folder + " " + row.missionFile);
        EXPECT_EQ(holdsMission(root + row.folder, row.missionFile, row.size), row.holds);
    }
}

}  // namespace
