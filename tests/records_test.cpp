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
    EXPECT_EQ(recordKeyOf("Lost]City", "1048576"), "LostCity.1048576");
    EXPECT_EQ(missionOfGame(1).recordKey, "Original (Thief 1)");
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

Mission missionNamed(const std::string& name, const std::string& size) {
    Mission m;
    m.name = name;
    m.sizeText = size;
    m.recordKey = recordKeyOf(name, size);
    return m;
}

TEST(MissionStore, LoadsTheRecord) {
    TempDir dir;
    IniFile ini(dir.file("Tallowmere.ini"));
    MissionStore store(ini);
    ini.WriteString("LostCity.1048576", "title", "Gr\x81n \x94l \xE1");
    ini.WriteInteger("LostCity.1048576", "type", 2);
    ini.WriteBool("LostCity.1048576", "finished", true);
    ini.WriteInteger("LostCity.1048576", "date", 45000);
    Mission lost = missionNamed("Lost]City", "1048576");
    store.load(lost);
    EXPECT_EQ(lost.type, "2");
    EXPECT_EQ(lost.markedGame(), 2);
    EXPECT_EQ(lost.title, "Gr\u00FCn \u00F6l \u00DF");  // a stored DOS title shows decoded
    EXPECT_TRUE(lost.finished);
    EXPECT_EQ(lost.lastStart, "45000");

    // A record with a type but no title; a missing record.
    ini.WriteInteger("New.5", "type", 0);
    Mission fresh = missionNamed("New", "5");
    fresh.title = "stale";
    store.load(fresh);
    EXPECT_EQ(fresh.type, "0");
    EXPECT_EQ(fresh.markedGame(), 0);
    EXPECT_EQ(fresh.title, "");
    EXPECT_EQ(fresh.shownName(), "New");
    Mission none = missionNamed("Unknown", "7");
    none.finished = true;
    none.lastStart = "1";
    store.load(none);
    EXPECT_EQ(none.type, "");
    EXPECT_FALSE(none.finished);
    EXPECT_EQ(none.lastStart, "");

    // A game row keeps its game's mark and its own text whatever its record holds.
    ini.WriteInteger("Original (Thief 2)", "date", 45001);
    ini.WriteString("Original (Thief 2)", "title", "stale");
    Mission game = missionOfGame(2);
    store.load(game);
    EXPECT_EQ(game.title, " Original (Thief 2)");
    EXPECT_EQ(game.markedGame(), 2);
    EXPECT_EQ(game.lastStart, "45001");
}

// The game mark of a mission: its stored type when that is a known game's number.
TEST(Mission, MarkedGameOfStoredTypes) {
    const std::pair<const char*, int> cases[] = {{"1", 1}, {"2", 2}, {"3", 3},  {"0", 0},
                                                 {"", 0},  {"4", 0}, {"12", 0}, {"x", 0}};
    for (const auto& [type, game] : cases) {
        Mission m;
        m.type = type;
        EXPECT_EQ(m.markedGame(), game) << type;
    }
}

TEST(MissionStore, FinishedWritesTheRecordThenTheMission) {
    TempDir dir;
    IniFile ini(dir.file("Tallowmere.ini"));
    MissionStore store(ini);
    Mission game = missionOfGame(1);
    store.setFinished(game, true);
    EXPECT_EQ(ini.ReadString("Original (Thief 1)", "finished", ""), "1");
    EXPECT_TRUE(game.finished);
    store.setFinished(game, false);
    EXPECT_EQ(ini.ReadString("Original (Thief 1)", "finished", ""), "0");
    EXPECT_FALSE(game.finished);

    Mission vault = missionNamed("Vault", "1234567");
    store.setFinished(vault, true);
    EXPECT_TRUE(ini.ReadBool("Vault.1234567", "finished", false));
    Mission reloaded = missionNamed("Vault", "1234567");
    store.load(reloaded);
    EXPECT_TRUE(reloaded.finished);

    // A failed write keeps the old mark.
    dir.write("blocker", "a file where a directory should be");
    IniFile blocked(dir.file("blocker/Tallowmere.ini"));
    Mission kept = missionNamed("Vault", "1");
    EXPECT_THROW(MissionStore(blocked).setFinished(kept, true), ESettingsWriteError);
    EXPECT_FALSE(kept.finished);
}

// Archives of one name: listed without the extension, or with it when they share name and
// size with another format; either way the path names the file.
TEST(Mission, OfArchiveNamesItsFile) {
    const Mission plain = missionOfArchive("/m/", "Foo.7z", ".7z", 10, false);
    EXPECT_EQ(plain.name, "Foo");
    EXPECT_EQ(plain.archivePath, "/m/Foo.7z");
    EXPECT_EQ(plain.recordKey, "Foo.10");
    const Mission twin = missionOfArchive("/m/", "Foo.7z", ".7z", 10, true);
    EXPECT_EQ(twin.name, "Foo.7z");
    EXPECT_EQ(twin.recordKey, "Foo.7z.10");
    EXPECT_EQ(twin.place(), "/m/Foo.7z");
}

// The library's fields go into the record and come back; what the mission says of itself
// never overwrites what the player typed; play time adds up.
TEST(MissionStore, LibraryFieldsRoundTrip) {
    TempDir dir;
    IniFile ini(dir.file("Tallowmere.ini"));
    MissionStore store(ini);
    Mission typed = missionNamed("Vault", "10");
    store.setRating(typed, 7);
    store.setTags(typed, {"genre:heist", "author:Alice"});
    store.setComment(typed, "Line one\nC:\\Thief\\n is a path\n");
    store.setAuthor(typed, "Alice");
    store.setFinishedOn(typed, {"Hard", "Expert"});
    store.fillFound(typed, "Someone else", "2003-05-17");
    store.setDateAdded(typed.recordKey, 46000);
    store.addPlayTime(typed.recordKey, 3);
    store.addPlayTime(typed.recordKey, 4);
    Mission read = missionNamed("Vault", "10");
    store.load(read);
    EXPECT_EQ(read.rating, 7);
    EXPECT_EQ(read.tags, typed.tags);
    EXPECT_EQ(read.comment, typed.comment);
    EXPECT_EQ(read.author, "Alice");
    EXPECT_EQ(read.releaseDate, "2003-05-17");
    EXPECT_EQ(read.finishedOn, (std::vector<std::string>{"Hard", "Expert"}));
    EXPECT_TRUE(read.finished);
    EXPECT_EQ(read.dateAdded, 46000);
    EXPECT_EQ(read.playSeconds, 7);
    // No rating, and ratings beyond the scale read as none.
    store.setRating(read, -1);
    EXPECT_FALSE(ini.ValueExists("Vault.10", "rating"));
    ini.WriteString("Vault.10", "rating", "11");
    store.load(read);
    EXPECT_EQ(read.rating, -1);
}

// A library exported on one machine merges into another's records without losing either
// side; a damaged or foreign file is refused and changes nothing.
TEST(MissionStore, LibraryTravelsByFile) {
    TempDir dir;
    IniFile there(dir.file("there.ini"));
    there.WriteString("Vault.10", "rating", "8");
    there.WriteString("Vault.10", "tags", "genre:heist, length:long");
    there.WriteString("Vault.10", "finished", "1");
    there.WriteString("Vault.10", "date", "45010");
    there.WriteString("Vault.10", "comment", "Their note");
    there.WriteString("Vault.10", "type", "2");  // no library: not carried
    there.WriteString("Only.5", "play time", "60");
    const std::string file = dir.file("library.ini");
    EXPECT_EQ(MissionStore(there).exportLibrary(file), 2u);

    IniFile here(dir.file("here.ini"));
    here.WriteString("Vault.10", "rating", "6");
    here.WriteString("Vault.10", "tags", "Genre:Heist, misc:dark");
    here.WriteString("Vault.10", "finished", "0");
    here.WriteString("Vault.10", "date", "45020");
    here.WriteString("Vault.10", "comment", "My note");
    MissionStore store(here);
    EXPECT_EQ(store.importLibrary(file), 2u);
    const std::pair<const char*, const char*> merged[] = {
        {"rating", "6"},
        {"tags", "Genre:Heist, misc:dark, length:long"},
        {"finished", "1"},
        {"date", "45020"},
        {"comment", "My note\\nTheir note"}};
    for (const auto& [key, value] : merged)
        EXPECT_EQ(here.ReadString("Vault.10", key, ""), value) << key;
    EXPECT_EQ(here.ReadString("Only.5", "play time", ""), "60");
    EXPECT_FALSE(here.ValueExists("Vault.10", "type"));
    // Importing the same file again changes nothing more.
    store.importLibrary(file);
    EXPECT_EQ(here.ReadString("Vault.10", "comment", ""), "My note\\nTheir note");

    // Damaged files: nothing is written.
    const std::string before = readFile(here.fileName());
    const std::string damaged[] = {
        "[Vault.10]\nrating=9\n",  // no header
        "[Tallowmere library]\nformat=1\n[Vault.10]\nrating=eleven\n"
        "[Tallowmere library end]\nmissions=1\n",                            // bad value
        "[Tallowmere library]\nformat=1\n[Vault.10]\nrating=9\n[X.1]\nrat",  // cut short
        "\x50\x4b\x03\x04 binary",
    };
    for (const std::string& text : damaged) {
        writeFile(dir.file("bad.ini"), text);
        EXPECT_THROW(store.importLibrary(dir.file("bad.ini")), EInOutError) << text;
        EXPECT_EQ(readFile(here.fileName()), before);
    }
    EXPECT_THROW(store.importLibrary(dir.file("missing.ini")), EInOutError);
}
