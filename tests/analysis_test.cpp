#include <gtest/gtest.h>

#include <array>

#include "app/AppState.h"
#include "app/Operations.h"
#include "archive/MissionArchive.h"
#include "archive/ZipArchiver.h"
#include "game/InstallState.h"
#include "game/MissionRecords.h"
#include "inspect/ContentAnalysis.h"
#include "inspect/MissionCache.h"
#include "inspect/MissionTitle.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

using Members = std::vector<std::pair<std::string, std::string>>;

struct AnalysisTest : ::testing::Test {
    TempDir dir;
    ScriptedPrompter prompts;
    TZipArchiver zip;
    InfoPanel panel;
    SelectedMission mission;
    RecordingProgress progress;

    void SetUp() override {
        if (!fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL"))
            GTEST_SKIP() << "extraction engine not built";
        openAppFiles(dir.path());
        for (int n = 1; n <= 80; ++n)
            app().languageSlots[static_cast<size_t>(n)] = "<" + std::to_string(n) + ">";
        app().thiefdata[1] = GameRecord{};
        app().thiefdata[2] = GameRecord{};
        app().thiefdata[1].gameDir = dir.path() + "T1/";
        app().thiefdata[2].gameDir = dir.path() + "T2/";
        app().thiefdata[1].language = 1;
        app().thiefdata[2].language = 1;
        zip.Unattended = true;
        zip.SetDLLDirectory(TM_TEST_BIN_DIR);
        ArchiveChecksum() = [](const std::string& p) {
            return ChecksumCalls()++, std::string("$x") + p;
        };
        ChecksumCalls() = 0;
    }
    void TearDown() override { closeAppFiles(); }

    static int& ChecksumCalls() {
        static int n = 0;
        return n;
    }

    // Makes the archive, points zip at it and analyses it; returns the record key.
    std::string analyse(const std::string& name, const Members& members) {
        const std::string path = dir.path() + name;
        EXPECT_TRUE(makeZip(path, members));
        zip.SetZipFileName(path);
        const std::string key =
            name.substr(0, name.size() - 4) + "." + std::to_string(fsx::fileSize(path));
        AnalyseArchive(programContext(), zip, key, panel, mission, progress);
        return key;
    }
    IniFile& ini() { return *app().settings; }
};

TEST_F(AnalysisTest, ArchiveWithoutMissionFileIsThiefOneAndStoresNoType) {
    const std::string key = analyse("plain.zip", {{"readme.txt", "hello"}});
    EXPECT_EQ(mission.currentGame, 1);
    EXPECT_EQ(ini().ReadString(key, "type", "none"), "none");
    EXPECT_EQ(zip.ExtrBaseDir, dir.path() + "T1/");
    EXPECT_EQ(panel.questMemo, "hello");
    // The analysis names its step with each member it reads.
    EXPECT_EQ(progress.statuses.front(), "<71> <18> readme.txt...");
    // Warnings: no goals, and a Thief 1 mission without a map.
    EXPECT_EQ(panel.noteslabel, "<32>\n<33>\n");
    EXPECT_TRUE(panel.notesCaptionVisible);
}

TEST_F(AnalysisTest, MissionNumberOnlyFromRootMembers) {
    analyse("a.zip", {{"readme.txt", "r"}, {"maps/miss20.mis", "x"}});
    EXPECT_EQ(mission.missionFileMember, "maps\\miss20.mis");
    EXPECT_EQ(mission.missionNumber, 0);
    // A mission packed whole in one folder counts from that folder.
    analyse("p.zip", {{"Packed/miss20.mis", "x"}, {"Packed/strings/goals.str", "g"}});
    EXPECT_EQ(mission.missionFileMember, "Packed\\miss20.mis");
    EXPECT_EQ(mission.missionNumber, 20);
    analyse("b.zip", {{"MISS20.MIS", "x"}});
    EXPECT_EQ(mission.missionFileMember, "MISS20.MIS");
    EXPECT_EQ(mission.missionNumber, 20);
    // The later ".mis" member is the mission file; the number comes from the root one.
    analyse("c.zip", {{"miss21.mis", "x"}, {"maps/other.mis", "y"}});
    EXPECT_EQ(mission.missionFileMember, "maps\\other.mis");
    EXPECT_EQ(mission.missionNumber, 21);
    analyse("d.zip", {{"mission.mis", "x"}, {"miss300.mis", "y"}});
    EXPECT_EQ(mission.missionNumber, 0);
    // Leading zeros: a decimal number all the same; far too many digits do not fit.
    const std::pair<const char*, int> numbers[] = {
        {"miss0020.mis", 20}, {"miss00000000000000255.mis", 255}, {"miss99999999999999999.mis", 0}};
    for (const auto& [name, number] : numbers) {
        analyse(std::string(name) + ".zip", {{name, "x"}});
        EXPECT_EQ(mission.missionNumber, number) << name;
    }
}

TEST_F(AnalysisTest, IndicatorsAndCountsFromNames) {
    const std::string key = analyse("m.zip", {{"intrface/english/page001.pcx", ""},
                                              {"english/foo.str", ""},
                                              {"newmesh/a.bin", ""},
                                              {"myobj/b.bin", ""},
                                              {"snd/ambient.wav", ""},
                                              {"music/theme.wav", ""},
                                              {"fam/stone/wall.pcx", ""},
                                              {"books/book1.str", ""},
                                              {"intrface/miss20/ra.bin", ""},
                                              {"strings/missflag.str", ""},
                                              {"dark.gam", ""}});
    EXPECT_TRUE(panel.mapcheck);
    EXPECT_TRUE(panel.automapcheck);
    EXPECT_TRUE(panel.creaturescheck);
    EXPECT_TRUE(panel.objectscheck);
    EXPECT_TRUE(panel.soundscheck);
    EXPECT_TRUE(panel.texturecheck);
    EXPECT_TRUE(panel.bookscheck);
    EXPECT_TRUE(panel.gamesyscheck);
    EXPECT_FALSE(panel.moviescheck);
    EXPECT_FALSE(panel.goalscheck);
    EXPECT_TRUE(mission.missionFlagsPresent);
    EXPECT_EQ(ini().ReadInteger(key, "sounds", 0), 1);
    EXPECT_EQ(ini().ReadInteger(key, "meshes", 0), 1);
    EXPECT_EQ(ini().ReadInteger(key, "objects", 0), 1);
    EXPECT_EQ(ini().ReadString(key, "movies", "none"), "none");
    // Only "intrface\english\" set a language flag; it is the game's own, so no choice.
    EXPECT_TRUE(panel.languageItems.empty());
    EXPECT_FALSE(panel.languageComboVisible);
}

TEST_F(AnalysisTest, NamedReadmeWinsOverEarlierText) {
    analyse("MyMission.zip", {{"notes.txt", "notes"}, {"docs/MyMission.TXT", "the readme"}});
    EXPECT_EQ(panel.questMemo, "the readme");
    // A German read-me ("liesmich") is shown for a German interface, another one before it
    // for any other; one named like the archive still wins.
    const Members both = {{"LiesMich.txt", "deutsch"}, {"readme.txt", "english"}};
    const struct {
        const char* language;
        Members members;
        const char* shown;
    } languages[] = {{"german", both, "deutsch"},
                     {"english", both, "english"},
                     {"english", {{"liesmich.txt", "deutsch"}}, "deutsch"},
                     {"german",
                      {{"readme.txt", "english"}, {"Lang.txt", "named"}, {"liesmich.txt", "d"}},
                      "named"}};
    for (const auto& c : languages) {
        SCOPED_TRACE(c.shown);
        app().interfaceLanguage = c.language;
        analyse("Lang.zip", c.members);
        EXPECT_EQ(panel.questMemo, c.shown);
    }
    app().interfaceLanguage = "english";
    // Without any read-me the pane says so.
    app().languageSlots[212] = "<212>";
    analyse("Bare.zip", {{"miss20.mis", "SKYOBJVAR"}});
    EXPECT_EQ(panel.questMemo, "<212>");
}

TEST_F(AnalysisTest, TitleFromTitlesMemberIsStoredAndReadBackWithoutQuotes) {
    const std::string key = analyse(
        "t.zip", {{"miss20.mis", "no marker"},
                  {"strings/titles.str",
                   "title_2: \"Wrong\"\r\ntitle_20: \"First\"\r\ntitle_20: \"The Vault\"\r\n"}});
    EXPECT_EQ(ini().ReadString(key, "title", ""), "The Vault");
    EXPECT_EQ(panel.questinfo, "Thief 1 : \"The Vault\"");
    EXPECT_EQ(ini().ReadInteger(key, "type", 0), 1);
}

// The title a player reads is in the interface's language, else the game's default
// titles file, else the first one found; a campaign is named by its first mission. The
// panel and the catalogue's reading agree.
TEST_F(AnalysisTest, TitleIsInTheInterfacesLanguageAndACampaignIsNamedByItsFirstMission) {
    const Members translated = {{"miss20.mis", "SKYOBJVAR"},
                                {"strings/titles.str", "title_20: \"Bafford's Revenge\""},
                                {"strings/german/titles.str", "title_20: \"Baffords Rache\""}};
    const Members foreign = {{"miss20.mis", "SKYOBJVAR"},
                             {"Strings/Russian/titles.str", "title_20: \"Mest\""},
                             {"strings/polish/titles.str", "title_20: \"Zemsta\""}};
    const Members campaign = {{"miss21.mis", "SKYOBJVAR"},
                              {"miss20.mis", "SKYOBJVAR"},
                              {"strings/titles.str", "title_20: \"First\"\ntitle_21: \"Last\""}};
    const struct {
        const char* language;
        const Members& members;
        const char* title;
    } cases[] = {{"english", translated, "Bafford's Revenge"},
                 {"german", translated, "Baffords Rache"},
                 {"french", foreign, "Mest"},
                 {"english", campaign, "First"}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        app().interfaceLanguage = c.language;
        const std::string name = "t" + std::to_string(n++) + ".zip";
        const std::string key = analyse(name, c.members);
        EXPECT_EQ(ini().ReadString(key, "title", ""), c.title);
        EXPECT_EQ(readMissionTitle(missionCacheDir(programContext()), dir.path() + name, key),
                  "\"" + std::string(c.title) + "\"");
    }
}

TEST_F(AnalysisTest, ShortTitleCountsAsNone) {
    analyse("s.zip", {{"miss20.mis", "SKYOBJVAR"}, {"strings/titles.str", "title_20: \"X\"\r\n"}});
    EXPECT_EQ(mission.currentGame, 2);
    // "X" with its quotes is three characters: no usable title.
    EXPECT_EQ(panel.questinfo, "Thief 2 <47>");
    analyse("n.zip", {{"miss20.mis", "SKYOBJVAR"}, {"strings/titles.str", "title_21: \"Y\"\r\n"}});
    EXPECT_EQ(panel.questinfo, "Thief 2 <47>");
}

// A System Shock 2 mission's boxes tell its texts, level maps, scripts and logs in place of
// Thief's goals, map, automap and books; it is titled by its fm.ini or read-me, also when
// its record was stored without a title.
TEST_F(AnalysisTest, ASystemShock2MissionIsShownInItsOwnTerms) {
    app().thiefdata[3].gameDir = dir.path() + "SS2/";
    app().thiefdata[3].language = 1;
    const Members shock = {{"earth.mis", "level"},
                           {"shock2.gam", "gamesys"},
                           {"strings/english/misc.str", "texts"},
                           {"intrface/loading.pcx", "loading screen"},
                           {"intrface/medsci1/page000.pcx", "map"},
                           {"snd2/logs/log1.wav", "log"},
                           {"cutscenes/cs1.avi", "cutscene"},
                           {"readme.txt", "Arboretum\n\na fan mission for System Shock 2\n"}};
    const std::string key = analyse("Arbo.zip", shock);
    EXPECT_EQ(panel.questinfo, "System Shock 2 : \"Arboretum\"");
    const std::array<bool, 5> shown = {panel.goalscheck, panel.mapcheck, panel.automapcheck,
                                       panel.bookscheck, panel.moviescheck};
    EXPECT_EQ(shown, (std::array<bool, 5>{true, true, false, true, true}));
    EXPECT_EQ(panel.boxCaptions, (std::array<int, 10>{296, 39, 295, 41, 42, 43, 44, 37, 294, 46}));
    EXPECT_EQ(panel.noteslabel, "");  // no goals file or map is missed

    MissionStore(ini()).storeTitle(key, "\"\"");
    Members named = shock;
    named.push_back({"fm.ini", "NiceName=Ponterbee Station\n"});
    EXPECT_EQ(ini().ReadString(analyse("Arbo.zip", shock), "title", ""), "Arboretum");
    EXPECT_EQ(ini().ReadString(analyse("Ponter.zip", named), "title", ""), "Ponterbee Station");

    // A Thief mission's loading screen is its map, and its boxes are Thief's again.
    analyse("T.zip", {{"miss20.mis", "SKYOBJVAR"}, {"intrface/loading.pcx", ""}});
    EXPECT_TRUE(panel.mapcheck);
    EXPECT_EQ(panel.boxCaptions, kThiefBoxCaptions);
}

// A large mission file (extracted into a block of huge pages) arrives whole: the marker at
// its very end decides the game.
TEST_F(AnalysisTest, ALargeMissionFileIsReadToItsEnd) {
    std::string level(6 << 20, 'x');
    level.replace(level.size() - 9, 9, "SKYOBJVAR");
    analyse("large.zip", {{"miss20.mis", level}});
    EXPECT_EQ(mission.currentGame, 2);
}

TEST_F(AnalysisTest, LanguageChoiceForThiefTwo) {
    app().thiefdata[2].language = 1;  // english game
    analyse("l.zip", {{"miss20.mis", "SKYOBJVAR"},
                      {"intrface/german/goals.str", ""},
                      {"intrface/french/goals.str", ""}});
    EXPECT_EQ(panel.languageItems, (std::vector<std::string>{"german", "french"}));
    EXPECT_EQ(panel.selectedLanguage(), "german");
    EXPECT_TRUE(panel.languageComboVisible);
    EXPECT_EQ(panel.noteslabel, "<29>\n\n<30>\n\n");

    analyse("e.zip", {{"miss20.mis", "SKYOBJVAR"}, {"intrface/english/goals.str", ""}});
    EXPECT_TRUE(panel.languageItems.empty());
    EXPECT_EQ(panel.noteslabel, "");
}

TEST_F(AnalysisTest, UnconfiguredGameDisablesCommands) {
    app().thiefdata[2].gameDir.clear();
    analyse("u.zip", {{"miss20.mis", "SKYOBJVAR"}, {"intrface/goals.str", ""}});
    EXPECT_EQ(panel.noteslabel, "<60> 2 <61>");
    EXPECT_FALSE(panel.playEnabled);
    EXPECT_FALSE(panel.dromedEnabled);
    EXPECT_FALSE(panel.installOnlyEnabled);
}

TEST_F(AnalysisTest, InstalledArchiveRecognisedBySizeWithoutChecksum) {
    const std::string path = dir.path() + "inst.zip";
    ASSERT_TRUE(makeZip(path, {{"miss20.mis", "x"}}));
    app().thiefdata[1].installed = "/elsewhere/inst.zip";
    app().thiefdata[1].installedCheck = std::to_string(fsx::fileSize(path));
    analyse("inst.zip", {{"miss20.mis", "x"}});
    EXPECT_FALSE(panel.installOnlyEnabled);
    EXPECT_EQ(ChecksumCalls(), 0);

    // Size text differs: the checksum decides, computed once.
    app().thiefdata[1].installedCheck = "$x" + path;
    analyse("inst.zip", {{"miss20.mis", "x"}});
    EXPECT_FALSE(panel.installOnlyEnabled);
    EXPECT_EQ(ChecksumCalls(), 1);
}

}  // namespace

namespace {

// The same realistic mission packed by Info-ZIP zip, 7-Zip and Python's zipfile, and as a
// solid .7z (first and cached selection), gives the same analysis.
TEST_F(AnalysisTest, SameResultForArchivesOfOtherTools) {
    const Members layout = {
        {"miss20.mis", std::string(5000, 'x') + "SKYOBJVAR" + std::string(100, 'y')},
        {"strings/titles.str",
         "title_19: \"Old\"\r\ntitle_20: \"Bafford's \x81"
         "ber Vault\"\r\n"},
        {"strings/missflag.str", "miss_20: \"no_briefing\"\r\n"},
        {"intrface/english/goals.str", "goal_0: \"Steal it\"\r\n"},
        {"intrface/german/goals.str", "goal_0: \"Stiehl es\"\r\n"},
        {"intrface/miss20/page001.pcx", "pcx"},
        {"fam/stone/wall1.pcx", "pcx"},
        {"fam/stone/wall2.pcx", "pcx"},
        {"obj/chest.bin", "bin"},
        {"mesh/guard.bin", "bin"},
        {"snd/ambient.wav", "wav"},
        {"snd/music.mp3", "mp3"},
        {"books/note1.str", "note"},
        {"movies/intro.avi", "avi"},
        {"Vault.txt", "Read me first.\r\n"},
    };
    // The tree on disk for the command-line tools.
    TempDir tree;
    for (const auto& [name, content] : layout) tree.write(name, content);
    std::string names;
    for (const auto& [name, content] : layout) names += " '" + name + "'";

    struct Made {
        std::string tool, path;
    };
    std::vector<Made> made;
    fsx::forceDirectories(dir.path() + "py");
    ASSERT_TRUE(makeZip(dir.path() + "py/Vault.zip", layout));
    made.push_back({"python", dir.path() + "py/Vault.zip"});
    if (haveProgram("zip")) {
        fsx::forceDirectories(dir.path() + "zip");
        ASSERT_EQ(runCommand("cd '" + tree.path() + "' && zip -q -X '" + dir.path() +
                             "zip/Vault.zip'" + names),
                  0);
        made.push_back({"zip", dir.path() + "zip/Vault.zip"});
    }
    if (haveProgram("7z")) {
        fsx::forceDirectories(dir.path() + "7z");
        ASSERT_EQ(runCommand("cd '" + tree.path() + "' && 7z a -tzip -bd '" + dir.path() +
                             "7z/Vault.zip'" + names + " >/dev/null"),
                  0);
        made.push_back({"7z", dir.path() + "7z/Vault.zip"});
    }
    if (haveProgram("7zz")) {
        fsx::forceDirectories(dir.path() + "7zz");
        ASSERT_EQ(runCommand("cd '" + tree.path() + "' && 7zz a -bd -mx5 -ms=on '" + dir.path() +
                             "7zz/Vault.7z'" + names + " >/dev/null"),
                  0);
        made.push_back({"7zz", dir.path() + "7zz/Vault.7z"});
        made.push_back({"7zz cached", dir.path() + "7zz/Vault.7z"});
    }
    // A fresh settings file for each tool, in a folder of its own.
    const auto openFreshSettings = [&](const std::string& tool) {
        const std::string folder = dir.path() + "ini-" + tool + "/";
        fsx::forceDirectories(folder);
        openAppFiles(folder);
    };
    for (const Made& m : made) {
        SCOPED_TRACE(m.tool);
        panel = InfoPanel{};
        if (m.tool == "7zz cached") {
            // The second selection: members, read-me and title without decoding anything.
            std::unique_ptr<MissionArchive> cached =
                openAnalysedMission(missionCacheDir(programContext()), m.path, "Vault.1");
            EXPECT_FALSE(cached->sequential());
            AnalyseMission(programContext(), *cached, "Vault.1", panel, mission, progress);
        } else if (m.tool == "7zz") {
            closeAppFiles();
            openFreshSettings(m.tool);
            std::unique_ptr<MissionArchive> archive =
                openAnalysedMission(missionCacheDir(programContext()), m.path, "Vault.1");
            ASSERT_EQ(archive->members().size(), layout.size());
            EXPECT_TRUE(archive->sequential());
            AnalyseMission(programContext(), *archive, "Vault.1", panel, mission, progress);
        } else {
            closeAppFiles();
            openFreshSettings(m.tool);
            zip.SetZipFileName(m.path);
            ASSERT_EQ(zip.Count(), static_cast<int>(layout.size()));
            AnalyseArchive(programContext(), zip, "Vault.1", panel, mission, progress);
        }
        EXPECT_EQ(mission.currentGame, 2);
        EXPECT_EQ(mission.missionNumber, 20);
        EXPECT_TRUE(mission.missionFlagsPresent);
        EXPECT_EQ(mission.titlesMember, "strings\\titles.str");
        EXPECT_EQ(panel.questinfo,
                  "Thief 2 : \"Bafford's \xC3\xBC"
                  "ber Vault\"");
        EXPECT_EQ(panel.questMemo, "Read me first.\r\n");
        for (bool box :
             {panel.goalscheck, panel.mapcheck, panel.texturecheck, panel.soundscheck,
              panel.objectscheck, panel.creaturescheck, panel.bookscheck, panel.moviescheck})
            EXPECT_TRUE(box);
        EXPECT_FALSE(panel.gamesyscheck);
        EXPECT_FALSE(panel.automapcheck);
        // The game's own language is there: no choice offered.
        EXPECT_TRUE(panel.languageItems.empty());
        EXPECT_EQ(app().settings->ReadInteger("Vault.1", "textures", 0), 2);
        EXPECT_EQ(app().settings->ReadInteger("Vault.1", "sounds", 0), 2);
    }
}

}  // namespace

namespace {

// Archives that cannot be read say why in the notes, show no game, store none and start
// nothing; an encrypted ZIP asks for nothing and reads normally once a password is given.
TEST_F(AnalysisTest, UnreadableArchiveSaysWhy) {
    for (int n = 100; n <= 103; ++n)
        app().languageSlots[static_cast<size_t>(n)] = "<" + std::to_string(n) + ">";
    const std::string fixtures = std::string(TM_SOURCE_DIR) + "/../shared/fixtures/archives/";
    TempDir tree;
    tree.write("miss20.mis", "SKYOBJVAR");
    tree.write("readme.txt", "read me");
    if (haveProgram("7zz"))
        runCommand("cd '" + tree.path() + "' && 7zz a -bd -pSecret '" + dir.path() +
                   "locked.7z' miss20.mis >/dev/null");
    ASSERT_EQ(runCommand("cd '" + tree.path() + "' && zip -q -P secret '" + dir.path() +
                         "locked.zip' miss20.mis readme.txt"),
              0);
    writeFile(dir.path() + "text.rar", "just text, no archive");
    const std::pair<std::string, std::string> cases[] = {
        {dir.path() + "locked.7z", "<101>"},
        {fixtures + "7zip_encryption_header.7z", "<101>"},
        {fixtures + "7zip_malformed.7z", "<100>"},
        {dir.path() + "text.rar", "<103>"},
        {dir.path() + "locked.zip", "<101>"},
    };
    for (const auto& [path, note] : cases) {
        if (!fsx::fileExists(path)) continue;
        SCOPED_TRACE(path);
        const bool isZip = missionArchiveExtension(path) == ".zip";
        int game = -1;
        if (isZip) {
            zip.SetZipFileName(path);
            game = AnalyseArchive(programContext(), zip, "X.1", panel, mission, progress);
        } else {
            std::unique_ptr<MissionArchive> archive =
                openAnalysedMission(missionCacheDir(programContext()), path, "X.1");
            game = AnalyseMission(programContext(), *archive, "X.1", panel, mission, progress);
        }
        EXPECT_EQ(game, 0);
        EXPECT_EQ(mission.currentGame, 0);
        EXPECT_EQ(ini().ReadInteger("X.1", "type", -1), -1);
        EXPECT_EQ(panel.questinfo.find("Thief"), std::string::npos);
        EXPECT_EQ(panel.noteslabel, note);
        EXPECT_EQ(panel.passwordOffered, isZip);
        EXPECT_TRUE(panel.questMemo.empty());
        EXPECT_FALSE(panel.playEnabled);
        EXPECT_FALSE(panel.dromedEnabled);
        EXPECT_FALSE(panel.installOnlyEnabled);
    }
    EXPECT_TRUE(prompts.passwordPrompts.empty());

    // The password given: the encrypted ZIP is a Thief 2 mission like any other.
    zip.SetZipFileName(dir.path() + "locked.zip");
    zip.Password = "secret";
    EXPECT_EQ(AnalyseArchive(programContext(), zip, "X.1", panel, mission, progress), 2);
    EXPECT_EQ(ini().ReadInteger("X.1", "type", -1), 2);
    EXPECT_EQ(panel.questMemo, "read me");
    EXPECT_FALSE(panel.passwordOffered);
    EXPECT_TRUE(panel.playEnabled);
    EXPECT_TRUE(prompts.passwordPrompts.empty());
}

}  // namespace
