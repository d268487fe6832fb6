#include <gtest/gtest.h>

#include "game/MissionRecords.h"
#include "platform/Errors.h"
#include "platform/IniFile.h"
#include "support/TestSupport.h"

namespace {

using Row = std::vector<std::string>;

Row missionRow(const std::string& name, const std::string& size) {
    return {"", "", name, "/missions/", size, "", ""};
}

Row gameRow(int game) {
    const std::string t = " Original (Thief " + std::to_string(game) + ")";
    return {"", t, t, "", "", "", ""};
}

}  // namespace

TEST(RecordKey, MissionAndGameRows) {
    EXPECT_EQ(RecordKey(missionRow("Lost]City", "1048576")), "LostCity.1048576");
    EXPECT_EQ(RecordKey(missionRow("a]]b]", "12")), "ab.12");
    EXPECT_EQ(RecordKey(gameRow(1)), "Original (Thief 1)");
    EXPECT_EQ(RecordKey(gameRow(2)), "Original (Thief 2)");
    // A game-row text is cut to 30 characters after its first one.
    EXPECT_EQ(RecordKey({"", "", " 1234567890123456789012345678901234", "", ""}),
              "123456789012345678901234567890");
    // The directory does not take part: the same archive in two directories shares a record.
    Row other = missionRow("Lost]City", "1048576");
    other[3] = "/elsewhere/";
    EXPECT_EQ(RecordKey(other), RecordKey(missionRow("Lost]City", "1048576")));
    // Short rows read missing cells as empty.
    EXPECT_EQ(RecordKey({}), "");
    EXPECT_EQ(RecordKey({"", "", "X"}), "");
}

TEST(LoadRecordIntoRow, CopiesTheRecord) {
    TempDir dir;
    IniFile ini(dir.file("Tallowmere.ini"));
    ini.WriteString("LostCity.1048576", "title", "Gr\x81n \x94l \xE1");
    ini.WriteInteger("LostCity.1048576", "type", 2);
    ini.WriteBool("LostCity.1048576", "finished", true);
    ini.WriteInteger("LostCity.1048576", "date", 45000);
    Row row = missionRow("Lost]City", "1048576");
    LoadRecordIntoRow(ini, row);
    EXPECT_EQ(row[0], "21");
    EXPECT_EQ(row[1], "Gr\u00FCn \u00F6l \u00DF");  // a stored DOS title shows decoded
    EXPECT_EQ(row[2], "Lost]City");                 // other columns stay
    EXPECT_EQ(row[5], "F");
    EXPECT_EQ(row[6], "45000");

    // A record with a type but no title; a missing record.
    ini.WriteInteger("New.5", "type", 0);
    Row fresh = missionRow("New", "5");
    fresh[1] = "stale";
    LoadRecordIntoRow(ini, fresh);
    EXPECT_EQ(fresh[0], "01");
    EXPECT_EQ(fresh[1], "");
    Row none = missionRow("Unknown", "7");
    none[5] = "F";
    none[6] = "1";
    LoadRecordIntoRow(ini, none);
    EXPECT_EQ(none[0], "1");
    EXPECT_EQ(none[5], "");
    EXPECT_EQ(none[6], "");

    // A game row keeps its game's mark and its own text whatever its record holds.
    ini.WriteInteger("Original (Thief 2)", "date", 45001);
    Row game = gameRow(2);
    game[1] = "stale";
    LoadRecordIntoRow(ini, game);
    EXPECT_EQ(game, (Row{"20", " Original (Thief 2)", " Original (Thief 2)", "", "", "", "45001"}));

    Row shortRow{"", "", "Lost]City", "/m/", "1048576"};
    LoadRecordIntoRow(ini, shortRow);
    ASSERT_EQ(shortRow.size(), 7u);
    EXPECT_EQ(shortRow[5], "F");
}

TEST(SetRowFinished, WritesTheRecordThenTheMark) {
    TempDir dir;
    IniFile ini(dir.file("Tallowmere.ini"));
    Row game = gameRow(1);
    SetRowFinished(ini, game, true);
    EXPECT_EQ(ini.ReadString("Original (Thief 1)", "finished", ""), "1");
    EXPECT_EQ(game[5], "F");
    SetRowFinished(ini, game, false);
    EXPECT_EQ(ini.ReadString("Original (Thief 1)", "finished", ""), "0");
    EXPECT_EQ(game[5], "");

    Row mission = missionRow("Vault", "1234567");
    SetRowFinished(ini, mission, true);
    EXPECT_TRUE(ini.ReadBool("Vault.1234567", "finished", false));
    Row reloaded = missionRow("Vault", "1234567");
    LoadRecordIntoRow(ini, reloaded);
    EXPECT_EQ(reloaded[5], "F");
}

TEST(SetRowFinished, FailedWriteKeepsTheOldMark) {
    TempDir dir;
    dir.write("blocker", "a file where a directory should be");
    IniFile ini(dir.file("blocker/Tallowmere.ini"));
    Row mission = missionRow("Vault", "1");
    EXPECT_THROW(SetRowFinished(ini, mission, true), ESettingsWriteError);
    EXPECT_EQ(mission[5], "");
}

// A row names its archive by the extension whose file has the row's size; a row named with
// its extension (one of two archives of one name and size) names its file itself.
TEST(MissionArchivePath, FindsTheArchiveOfTheRow) {
    TempDir dir;
    for (const char* name : {"Foo.zip", "Foo.7z", "Foo.rar", "Bar.7z.zip"})
        dir.write(name, "ten bytes!");
    dir.write("Bar.7z", "five!");
    const struct {
        const char* name;
        const char* size;
        const char* file;
    } cases[] = {
        {"Foo", "10", "Foo.zip"},  {"Foo.7z", "10", "Foo.7z"},     {"Foo.rar", "10", "Foo.rar"},
        {"Foo", "99", "Foo.zip"},  {"Bar.7z", "10", "Bar.7z.zip"}, {"Bar", "5", "Bar.7z"},
        {"None", "1", "None.zip"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MissionArchivePath(dir.path(), c.name, c.size), dir.path() + c.file) << c.name;
}
