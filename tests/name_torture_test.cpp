// Hostile and unusual names through real installs and uninstalls: member names of a ZIP
// mission (Python's zipfile) and a .7z mission (libarchive's bsdtar), and the names of the
// mission files themselves. Whatever the names, no game file and no saved game is lost,
// nothing is written outside the game folder, nothing of the program's own is overwritten.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <clocale>
#include <map>
#include <set>

#include "app/AppState.h"
#include "app/Operations.h"
#include "archive/MissionArchive.h"
#include "archive/ZipArchiver.h"
#include "game/GameState.h"
#include "game/InstallState.h"
#include "inspect/ContentAnalysis.h"
#include "install/InstallLaunch.h"
#include "install/Uninstall.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"
#include "support/StoredSaves.h"
#include "support/TestSupport.h"

namespace {

using Files = std::map<std::string, std::string>;

// A member name as a message shows it.
std::string shown(std::string name) {
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
        if (c == '/') c = '\\';
    }
    return name;
}

enum class Fate { Installed, Replaces, OwnFile, Control, Case, Dropped, SavedGame };

// The ZIP mission only: libarchive's 7-Zip writer stores names in NFC.
constexpr bool kZipOnly = true;

struct NameTorture : ::testing::Test {
    TempDir dir;
    ScriptedPrompter prompts;
    TZipArchiver zip, zip2;
    std::string G, missions;

    void SetUp() override {
        if (!fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL") ||
            !fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/ZIPENG.DLL"))
            GTEST_SKIP() << "engines not built";
        if (!haveProgram("bsdtar")) GTEST_SKIP() << "bsdtar missing";
        // The program takes its locale from the environment (Qt does so at start-up).
        std::setlocale(LC_ALL, "C.UTF-8");
        openAppFiles(dir.path());
        for (int n = 1; n <= kLanguageSlotCount; ++n)
            app().languageSlots[static_cast<size_t>(n)] = "<" + std::to_string(n) + ">";
        G = dir.path() + "Thief2/";
        missions = dir.path() + "missions/";
        fsx::forceDirectories(missions);
        // The game's own files, among them names that differ only in case and Unicode
        // spellings of the names the members use.
        for (const auto& [name, content] : Files{{"strings/default.str", "game"},
                                                 {"strings/goals.str", "original goals"},
                                                 {"dark.gam", "lower-case original"},
                                                 {"DARK.GAM", "upper-case original"},
                                                 {"kit.txt", "kit"},
                                                 {"intro.txt", "intro"},
                                                 {"stra\u00DFe.txt", "sharp s"},
                                                 {"caf\u00E9.txt", "NFC"},
                                                 {"SAVES/game0001.sav", "the game's save"},
                                                 {"thief2.exe", "#!/bin/sh\n"}})
            dir.write("Thief2/" + name, content);
        ::chmod((G + "thief2.exe").c_str(), 0755);
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
    void TearDown() override { closeAppFiles(); }

    void play(const std::string& path) {
        InstallRequest request;
        request.mission.currentGame = 2;
        request.mission.archivePath = path;
        request.mission.missionFileMember = "m.mis";
        request.action = InstallAction::InstallOnly;
        request.selectionName = text::extractFileName(path);
        ProgressSink progress;
        try {
            operations::install(request, zip2, progress);
        } catch (...) {
            ReadInstalledState(app().thiefdata[2]);
            throw;
        }
        ReadInstalledState(app().thiefdata[2]);
    }
    void playOriginal() { play(" Original"); }

    // The game folder without the program's own files.
    Files gameTree() const {
        Files files;
        snapshot(G, "", files, {"allsaves", "tallowmere_backup.zip", "Tallowmere.Current"});
        return files;
    }
    // Everything the test made outside the game folder.
    Files outsideTree() const {
        Files files;
        snapshot(dir.path(), "", files, {"Thief2"});
        files.erase("Tallowmere.ini");
        return files;
    }
    std::vector<std::string> marker() const {
        return textfile::readLines(G + "Tallowmere.Current");
    }
};

TEST_F(NameTorture, MemberNamesNeverCostAGameFileOrASavedGame) {
    struct Row {
        std::string name;
        Fate fate;
        bool zipOnly = false;
    };
    const std::string longName = std::string(246, 'L') + ".txt";
    const std::vector<Row> rows = {
        {"m.mis", Fate::Installed},
        {"strings/goals.str", Fate::Replaces},
        {"dark.gam", Fate::Case},                       // dark.gam and DARK.GAM on disk
        {"\u212Ait.txt", Fate::Case},                   // KELVIN SIGN meets kit.txt
        {"STRA\u1E9EE.TXT", Fate::Case},                // capital sharp s meets straße.txt
        {"\u017Ftrings/extra.str", Fate::Case},         // LONG S meets the strings folder
        {"INTRO.TXT", Fate::Replaces},                  // plain ASCII case
        {"\u0131ntro2.txt", Fate::Installed},           // dotless i is a letter of its own
        {"cafe\u0301.txt", Fate::Installed, kZipOnly},  // NFD is not café.txt in NFC
        {"tallowmere_bac\u212Aup.zip", Fate::OwnFile},
        {"all\u017Faves/evil_saves.zip", Fate::OwnFile},
        {"Tallowmere.Current ", Fate::OwnFile},  // Windows drops trailing blanks
        {"tallowmere.dromed.", Fate::OwnFile},   // and dots
        {"SAVES/game0001.\u017Fav", Fate::Case},
        {"SAVES/game0003.sav", Fate::SavedGame},
        {"dark.gam\nx", Fate::Control},
        {"Tallowmere.Current\r", Fate::Control},
        {"tab\tname.txt", Fate::Control},
        {"readme.txt.", Fate::Installed},
        {"notes.txt ", Fate::Installed},
        {longName, Fate::Installed},
        {std::string(250, 'D') + "/f.txt", Fate::Installed},
        {"..\\up.txt", Fate::Dropped},
        {"sub/../../up2.txt", Fate::Dropped},
    };
    // A ZIP mission and a .7z mission of the same members.
    TempDir tree;
    std::vector<std::pair<std::string, std::string>> members;
    std::set<std::string> tops;
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string content = "member " + std::to_string(i);
        members.push_back({rows[i].name, content});
        // bsdtar would not store climbing names as given.
        if (rows[i].fate == Fate::Dropped || rows[i].zipOnly) continue;
        tree.write(rows[i].name, content);
        tops.insert(rows[i].name.substr(0, rows[i].name.find('/')));
    }
    std::string list;  // the top-level names, each ended by a NUL
    for (const std::string& top : tops) list += top + '\0';
    const std::string zipped = missions + "torture.zip", seven = missions + "torture.7z";
    ASSERT_TRUE(makeZip(zipped, members));
    TempDir lists;
    writeFile(lists.path() + "names", list);
    ASSERT_EQ(runCommand("cd '" + tree.path() + "' && bsdtar --format 7zip --null -T '" +
                         lists.path() + "names' -cf '" + seven + "'"),
              0);

    playOriginal();
    const Files original = gameTree();
    const Files outside = outsideTree();
    for (const std::string& mission : {zipped, seven}) {
        SCOPED_TRACE(mission);
        prompts.messages.clear();
        play(mission);
        ASSERT_EQ(marker().at(0), mission);
        EXPECT_EQ(marker().at(1), std::to_string(fsx::fileSize(mission)));
        ASSERT_EQ(prompts.messages.size(), 1u);  // every name left out, reported once
        const std::string& said = prompts.messages[0].text;
        for (size_t i = 0; i < rows.size(); ++i) {
            const Row& row = rows[i];
            SCOPED_TRACE(shown(row.name));
            if (row.zipOnly && mission == seven) continue;
            const std::string content = "member " + std::to_string(i);
            const std::string path = fsx::joinMember(G, row.name);
            switch (row.fate) {
                case Fate::Installed:
                case Fate::Replaces:
                    EXPECT_EQ(readFile(fsx::resolve(path)), content);
                    break;
                case Fate::SavedGame:
                    EXPECT_EQ(readFile(fsx::resolve(path)), content);
                    break;
                case Fate::OwnFile:
                case Fate::Control:
                case Fate::Case: {
                    const char* slotText = row.fate == Fate::OwnFile   ? "<82>"
                                           : row.fate == Fate::Control ? "<110>"
                                                                       : "<111>";
                    // Named in the part of the message that gives its reason.
                    const size_t from = said.find(slotText);
                    ASSERT_NE(from, std::string::npos);
                    const std::string part = said.substr(from, said.find("\n\n", from) - from);
                    EXPECT_NE((part + "\n").find("\n" + shown(row.name) + "\n"), std::string::npos);
                    EXPECT_NE(readFile(fsx::resolve(path)), content);
                    break;
                }
                case Fate::Dropped:
                    break;
            }
        }
        // Nothing of the program's own overwritten: the backup holds the two replaced
        // game files, the game's saves sit in their archive.
        TZipArchiver backup;
        backup.Unattended = true;
        backup.SetZipFileName(G + "tallowmere_backup.zip");
        std::set<std::string> backedUp;
        for (const ZipDirEntry& e : backup.Entries()) backedUp.insert(e.FileName);
        EXPECT_EQ(backedUp, (std::set<std::string>{"strings\\goals.str", "intro.txt"}));
        for (const fsx::DirEntry& e : fsx::listDirectory(G + "allsaves", "*"))
            EXPECT_TRUE(e.name == "Original_saves.zip" || e.name == "torture_saves.zip" ||
                        e.name == "torture.7z_saves.zip")
                << e.name;
        EXPECT_EQ(storedSaves(G + "allsaves/Original_saves.zip"),
                  (Files{{"game0001.sav", "the game's save"}}));
        EXPECT_FALSE(fsx::fileExists(G + "tallowmere.dromed"));

        // A save made with the mission comes back with it; the game is whole in between.
        writeFile(G + "SAVES/game0002.sav", "save of " + mission);
        playOriginal();
        EXPECT_EQ(gameTree(), original);
        play(mission);
        EXPECT_EQ(readFile(G + "SAVES/game0002.sav"), "save of " + mission);
        playOriginal();
        EXPECT_EQ(gameTree(), original);
        EXPECT_EQ(outsideTree(), outside);
    }
}

TEST_F(NameTorture, MissionFileNamesKeepTheirOwnSavedGames) {
    const std::vector<std::string> names = {"Plain.zip",
                                            "..\\bs.zip",
                                            "Pack\\mission.zip",
                                            "Original.zip",
                                            "X.7z",
                                            "X.7z.zip",
                                            "Foo.zip",
                                            "foo.ZIP",
                                            "Kelvin \u212A.zip",
                                            std::string(236, 'N') + ".zip"};
    for (const std::string& name : names) {
        if (name == "X.7z") {
            TempDir tree;
            tree.write("m.mis", name);
            tree.write("strings/goals.str", name);
            ASSERT_EQ(runCommand("cd '" + tree.path() + "' && bsdtar --format 7zip -cf '" +
                                 missions + name + "' m.mis strings"),
                      0);
        } else {
            ASSERT_TRUE(makeZip(missions + name, {{"m.mis", name}, {"strings/goals.str", name}}));
        }
    }
    playOriginal();
    const Files original = gameTree();
    const Files outside = outsideTree();

    // A name the marker could not hold is refused before anything changes.
    const std::string broken = missions + "foo\nbar.zip";
    ASSERT_TRUE(makeZip(broken, {{"m.mis", "broken"}}));
    play(missions + names[0]);
    const std::vector<std::string> before = marker();
    const Files installed = gameTree();
    prompts.messages.clear();
    play(broken);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_NE(prompts.messages[0].text.find("<112>"), std::string::npos);
    EXPECT_EQ(marker(), before);
    EXPECT_EQ(gameTree(), installed);
    std::remove(broken.c_str());

    for (int round = 0; round < 2; ++round) {
        for (const std::string& name : names) {
            SCOPED_TRACE(shown(name) + (round ? " again" : ""));
            play(missions + name);
            ASSERT_EQ(marker().at(0), missions + name);
            EXPECT_EQ(marker().at(1), std::to_string(fsx::fileSize(missions + name)));
            EXPECT_EQ(readFile(G + "strings/goals.str"), name);
            // The saves made the first time come back the second time, each mission's own.
            EXPECT_EQ(readFile(G + "SAVES/game0000.sav"), round ? "save of " + name : "");
            writeFile(G + "SAVES/game0000.sav", "save of " + name);
        }
    }
    playOriginal();
    EXPECT_EQ(gameTree(), original);
    EXPECT_EQ(outsideTree(), outside);
    // One saves archive per mission and the game's, each a single file in allsaves whose
    // temporary name fits as well.
    std::set<std::string> archives;
    for (const fsx::DirEntry& e : fsx::listDirectory(G + "allsaves", "*")) {
        EXPECT_FALSE(e.isDirectory) << e.name;
        EXPECT_LE(e.name.size(), fsx::kMaxNameBytes - 19) << e.name;
        archives.insert(fsx::foldKey(e.name));
    }
    EXPECT_EQ(archives.size(), names.size() + 1);
    EXPECT_EQ(SavesArchiveName(missions + "Plain.zip"), "Plain_saves.zip");
    EXPECT_EQ(SavesArchiveName(missions + "X.7z"), "X.7z_saves.zip");
    EXPECT_EQ(SavesArchiveName(" Original"), "Original_saves.zip");
}

}  // namespace

namespace {

TEST_F(NameTorture, SavesStoredUnderAnEarlierNameComeBackAndStayThere) {
    for (const std::string& name : {std::string("BAR.ZIP"), std::string("Baz.Rar.ZIP")}) {
        SCOPED_TRACE(name);
        const std::string archive = missions + name;
        ASSERT_TRUE(makeZip(archive, {{"m.mis", name}}));
        const std::string earlier = EarlierSavesArchivePath(G, archive);
        if (name == "Baz.Rar.ZIP") {
            EXPECT_EQ(earlier, "");  // not an ordinary name under the earlier rule either
            continue;
        }
        EXPECT_EQ(earlier, G + "allsaves/BAR_saves.zip");
        fsx::forceDirectories(G + "allsaves");
        ASSERT_TRUE(makeZip(earlier, {{"game0003.sav", "stored long ago"}}));
        const std::string earlierBytes = readFile(earlier);
        play(archive);
        EXPECT_EQ(readFile(G + "SAVES/game0003.sav"), "stored long ago");
        writeFile(G + "SAVES/game0004.sav", "new");
        playOriginal();
        EXPECT_EQ(readFile(earlier), earlierBytes);
        play(archive);
        EXPECT_EQ(readFile(G + "SAVES/game0003.sav"), "stored long ago");
        EXPECT_EQ(readFile(G + "SAVES/game0004.sav"), "new");
        playOriginal();
    }
}

}  // namespace
