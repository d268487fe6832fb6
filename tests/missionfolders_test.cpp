// Where a NewDark game's mission folders go and what they are named.

#include <gtest/gtest.h>
#include <unistd.h>

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

}  // namespace
