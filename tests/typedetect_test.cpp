#include <gtest/gtest.h>

#include <filesystem>

#include "archive/ZipArchiver.h"
#include "game/MissionRecords.h"
#include "game/TypeDetection.h"
#include "platform/IniFile.h"
#include "support/TestSupport.h"

namespace {

constexpr char kMissionMarker[] = "SKYOBJVAR";  // Thief 2's

bool found(const std::string& data, const std::string& marker = kMissionMarker) {
    return ContainsMarker(marker, data.data(), data.size());
}

bool haveUnzipEngine() {
    return std::filesystem::exists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL");
}

}  // namespace

TEST(ContainsMarker, FindsEveryPlacement) {
    EXPECT_TRUE(found("SKYOBJVAR"));
    EXPECT_TRUE(found("SKYOBJVARtrailing"));
    EXPECT_TRUE(found(std::string(1000, 'x') + "SKYOBJVAR"));  // in the last nine bytes
    EXPECT_TRUE(found("SSKYOBJVAR"));                          // after its own first letter
    EXPECT_TRUE(found("SKYOBJSKYOBJVAR"));                     // inside a partial match
    EXPECT_TRUE(found("SKYOBJVASKYOBJVAR"));
    EXPECT_TRUE(found(std::string("\0\x01SKYOBJVAR\0", 12)));  // binary data around it
    EXPECT_FALSE(found("skyobjvar"));                          // case matters
    EXPECT_FALSE(found("SkyObjVar"));
    EXPECT_FALSE(found("SKYOBJVA"));  // shorter than the marker
    EXPECT_FALSE(found("SKYOBJ VAR"));
    EXPECT_FALSE(found(""));
    EXPECT_FALSE(found("abc", ""));  // an empty marker marks nothing
}

TEST(ContainsMarker, ReadsTheWholeStream) {
    EXPECT_FALSE(ContainsMarker(kMissionMarker, static_cast<const TZipStream*>(nullptr)));
    std::string block = std::string(1 << 20, 'S') + "KYOBJVAR";
    TZipStream s;
    s.SetPointer(block.data(), static_cast<int64_t>(block.size()));
    s.SetPosition(s.Size());  // the search starts at the beginning whatever the position
    EXPECT_TRUE(ContainsMarker(kMissionMarker, &s));
    s.SetPointer(block.data(), static_cast<int64_t>(block.size()) - 1);
    EXPECT_FALSE(ContainsMarker(kMissionMarker, &s));
    TZipStream empty;
    EXPECT_FALSE(ContainsMarker(kMissionMarker, &empty));
}

TEST(TypeDetection, RecordKeyMatchesTheGridRow) {
    EXPECT_EQ(ArchiveRecordKey("Vault.zip", 1234567), "Vault.1234567");
    EXPECT_EQ(ArchiveRecordKey("Lost]City.zip", 1048576),
              RecordKey({"", "", "Lost]City", "/m/", "1048576"}));
    EXPECT_EQ(ArchiveRecordKey("gone.zip", -1), "gone.-1");
    EXPECT_EQ(ArchiveRecordKey("zip", 3), ".3");
    // Other formats lose their real extension: Foo.7z and Foo.zip of other sizes differ.
    EXPECT_EQ(ArchiveRecordKey("Vault.7z", 7), "Vault.7");
    EXPECT_EQ(ArchiveRecordKey("Vault.RAR", 7), "Vault.7");
}

TEST(TypeDetection, StoredTypeAnswersWithoutOpening) {
    TempDir dir;
    IniFile ini(dir.file("Tallowmere.ini"));
    dir.write("m/NotAZip.zip", "this is not an archive at all");
    ini.WriteInteger("NotAZip.29", "type", 1);
    ScriptedPrompter sp;
    EXPECT_TRUE(IsMissionArchive(ini, dir.file("m/"), "NotAZip.zip"));
    EXPECT_TRUE(sp.messages.empty());
    ini.WriteInteger("NotAZip.29", "type", 7);  // any stored value but -1 counts
    EXPECT_TRUE(IsMissionArchive(ini, dir.file("m/"), "NotAZip.zip"));
}

TEST(TypeDetection, MissionArchiveTestListsTheArchiveOnce) {
    TempDir dir;
    IniFile ini(dir.file("Tallowmere.ini"));
    const std::string m = dir.file("m/");
    std::filesystem::create_directories(m);
    if (!makeZip(m + "Miss.zip", {{"readme.txt", "hi"}, {"MISS20.MIS", "SKYOBJVAR"}}))
        GTEST_SKIP() << "python3 not available";
    ASSERT_TRUE(makeZip(m + "Notes.zip", {{"docs/notes.mission.txt", "x"}}));
    ASSERT_TRUE(makeZip(m + "Plain.zip", {{"readme.txt", "x"}}));
    const std::string whole = readFile(m + "Miss.zip");
    writeFile(m + "Cut.zip", whole.substr(0, whole.size() / 2));  // a download cut short
    writeFile(m + "Page.zip", "<html>404</html>");
    ScriptedPrompter sp;

    const auto size = [&](const std::string& f) {
        return static_cast<int64_t>(std::filesystem::file_size(m + f));
    };
    EXPECT_TRUE(IsMissionArchive(ini, m, "Miss.zip"));
    EXPECT_EQ(ini.ReadString(ArchiveRecordKey("Miss.zip", size("Miss.zip")), "type", ""), "0");
    EXPECT_TRUE(IsMissionArchive(ini, m, "Notes.zip"));  // ".mis" anywhere in the name
    EXPECT_EQ(ini.ReadString(ArchiveRecordKey("Notes.zip", size("Notes.zip")), "type", ""), "0");
    EXPECT_FALSE(IsMissionArchive(ini, m, "Plain.zip"));
    EXPECT_FALSE(ini.SectionExists(ArchiveRecordKey("Plain.zip", size("Plain.zip"))));
    EXPECT_FALSE(IsMissionArchive(ini, m, "Vanished.zip"));  // no file: not a mission
    EXPECT_FALSE(ini.SectionExists("Vanished.-1"));
    // Damaged downloads are listed, typeless, so that each is tried again; nothing is shown.
    for (const char* damaged : {"Cut.zip", "Page.zip"}) {
        EXPECT_TRUE(IsMissionArchive(ini, m, damaged)) << damaged;
        EXPECT_FALSE(ini.SectionExists(ArchiveRecordKey(damaged, size(damaged)))) << damaged;
    }
    EXPECT_TRUE(sp.messages.empty());
}

TEST(TypeDetection, DecideGameSearchesTheMissionFileOnce) {
    if (!haveUnzipEngine()) GTEST_SKIP() << "extraction engine not built";
    TempDir dir;
    IniFile ini(dir.file("Tallowmere.ini"));
    const std::string m = dir.file("m/");
    std::filesystem::create_directories(m);
    const std::string big(200000, 'x');
    if (!makeZip(m + "T2.zip", {{"miss20.mis", big + "SKYOBJVAR"}}))
        GTEST_SKIP() << "python3 not available";
    ASSERT_TRUE(makeZip(m + "T1.zip", {{"miss20.mis", big + "skyobjvar"}}));
    ScriptedPrompter sp;
    TZipArchiver zip;
    zip.Unattended = true;
    zip.SetDLLDirectory(TM_TEST_BIN_DIR);

    zip.SetZipFileName(m + "T2.zip");
    EXPECT_EQ(DecideGame(ini, "T2.1", "miss20.mis", zip), 2);
    EXPECT_EQ(ini.ReadInteger("T2.1", "type", -1), 2);
    zip.SetZipFileName(m + "T1.zip");
    EXPECT_EQ(DecideGame(ini, "T1.1", "miss20.mis", zip), 1);
    EXPECT_EQ(ini.ReadInteger("T1.1", "type", -1), 1);
    // Stored answers are taken; an unknown stored value is decided anew.
    ini.WriteInteger("T1.1", "type", 2);
    EXPECT_EQ(DecideGame(ini, "T1.1", "miss20.mis", zip), 2);
    ini.WriteInteger("T1.1", "type", 5);
    EXPECT_EQ(DecideGame(ini, "T1.1", "miss20.mis", zip), 1);
    // Nothing extracted: no game, nothing stored.
    EXPECT_EQ(DecideGame(ini, "T1.2", "absent.mis", zip), 0);
    EXPECT_EQ(ini.ReadInteger("T1.2", "type", -1), -1);

    // An encrypted mission file: not tried (no prompt) until a password is given.
    dir.write("enc/miss20.mis", big + "SKYOBJVAR");
    ASSERT_EQ(runCommand("cd '" + dir.file("enc") + "' && zip -q -P secret '" + m +
                         "Enc.zip' miss20.mis"),
              0);
    zip.SetZipFileName(m + "Enc.zip");
    EXPECT_EQ(DecideGame(ini, "Enc.1", "miss20.mis", zip), 0);
    EXPECT_EQ(ini.ReadInteger("Enc.1", "type", -1), -1);
    EXPECT_TRUE(sp.passwordPrompts.empty());
    zip.Password = "secret";
    EXPECT_EQ(DecideGame(ini, "Enc.1", "miss20.mis", zip), 2);
    EXPECT_EQ(ini.ReadInteger("Enc.1", "type", -1), 2);
}

// The game of a mission: its members first (System Shock 2's level names and game system,
// never beside a numbered Thief mission file), else the marker in its mission file.
TEST(TypeDetection, MembersTellSystemShock2BeforeTheMarkersTellThief) {
    if (!haveUnzipEngine()) GTEST_SKIP() << "extraction engine not built";
    struct Row {
        const char* what;
        std::vector<std::pair<std::string, std::string>> members;  // the mission file last
        int game;
    };
    const Row rows[] = {
        {"SS2 levels and game system, a Thief 2 marker in them",
         {{"shock2.gam", "gam"},
          {"strings/english/misc.str", "s"},
          {"medsci1.mis", "m"},
          {"earth.mis", "SKYOBJVAR"}},
         3},
        {"new level names beside SS2's game system",
         {{"SHOCK2.GAM", "gam"}, {"obj/x.bin", "o"}, {"Deck9.mis", "d"}},
         3},
        {"an SS2 level name alone, packed in a folder",
         {{"Pack/snd/a.wav", "w"}, {"Pack/station.mis", "s"}},
         3},
        {"a numbered mission file beside SS2's names is Thief's",
         {{"shock2.gam", "gam"}, {"earth.mis", "e"}, {"miss20.mis", "SKYOBJVAR"}},
         2},
        {"Thief 2 by its marker", {{"MISS21.MIS", "xx SKYOBJVAR xx"}}, 2},
        {"Thief 1, no fact of another game", {{"dark.gam", "g"}, {"mylevel.mis", "m"}}, 1},
    };
    TempDir dir;
    IniFile ini(dir.file("Tallowmere.ini"));
    TZipArchiver zip;
    zip.Unattended = true;
    zip.SetDLLDirectory(TM_TEST_BIN_DIR);
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string path = dir.file("M" + std::to_string(++n) + ".zip");
        ASSERT_TRUE(makeZip(path, row.members));
        zip.SetZipFileName(path);
        const std::string key = "M" + std::to_string(n) + ".1";
        EXPECT_EQ(DecideGame(ini, key, row.members.back().first, zip), row.game);
        EXPECT_EQ(ini.ReadInteger(key, "type", -1), row.game);
    }
}
