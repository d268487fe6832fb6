#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <set>

#include "app/AppState.h"
#include "app/Operations.h"
#include "archive/ZipArchiver.h"
#include "install/Uninstall.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "support/TestSupport.h"

namespace {

using Members = std::vector<std::pair<std::string, std::string>>;

void setDosTime(const std::string& path, uint32_t dos) {
    const auto t = static_cast<time_t>(fsx::dosToUnix(dos));
    utimbuf times{t, t};
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

std::vector<std::string> memberNames(const std::string& zipPath) {
    std::string out;
    if (runCommand("unzip -Z1 '" + zipPath + "'", &out) != 0) return {};
    std::vector<std::string> names;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        if (end > start) names.push_back(out.substr(start, end - start));
        start = end + 1;
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string memberText(const std::string& zipPath, const std::string& name) {
    std::string out;
    runCommand("unzip -p '" + zipPath + "' '" + name + "'", &out);
    return out;
}

// Writes a file, creating its folders.
void put(const std::string& path, const std::string& content) {
    fsx::forceDirectories(path.substr(0, path.find_last_of('/')));
    writeFile(path, content);
}

bool archiveTestsOk(const std::string& zipPath) {
    return runCommand("unzip -tq '" + zipPath + "' >/dev/null") == 0;
}

struct UninstallTest : ::testing::Test {
    TempDir dir;
    ScriptedPrompter prompts;
    TZipArchiver zip, zip2;
    std::string G;
    std::vector<std::string> addedFiles, zip2Messages;
    RecordingProgress progress;
    const std::vector<std::string>& statuses = progress.statuses;

    void SetUp() override {
        if (!fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/ZIPENG.DLL") ||
            !fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL"))
            GTEST_SKIP() << "engines not built";
        if (!haveProgram("unzip")) GTEST_SKIP() << "unzip missing";
        openAppFiles(dir.path());
        for (int n = 1; n <= 80; ++n)
            app().languageSlots[static_cast<size_t>(n)] = "<" + std::to_string(n) + ">";
        G = dir.path() + "T2/";
        fsx::forceDirectories(G + "SAVES");
        app().thiefdata[1] = GameRecord{};
        app().thiefdata[2] = GameRecord{};
        app().thiefdata[2].gameDir = G;
        for (TZipArchiver* z : {&zip, &zip2}) {
            z->AddCompLevel = 5;
            z->ExtrOptions = {ExtrOptsEnum::ExtrDirNames, ExtrOptsEnum::ExtrOverWrite};
            z->ConfirmErase = false;
            z->Unattended = true;
            z->SetDLLDirectory(TM_TEST_BIN_DIR);
        }
        zip2.OnProgress = [this](TZipArchiver*, ProgressType t, const std::string& f, int64_t) {
            if (t == progNewFile) addedFiles.push_back(f);
        };
        zip2.OnMessage = [this](TZipArchiver*, int, const std::string& m) {
            zip2Messages.push_back(m);
        };
    }
    void TearDown() override { closeAppFiles(); }

    void writeMarker(const std::string& installed, const std::vector<std::string>& files) {
        std::vector<std::string> lines{installed, "123"};
        lines.insert(lines.end(), files.begin(), files.end());
        textfile::writeLines(G + "Tallowmere.Current", lines);
        app().thiefdata[2].installed = installed;
    }
    void run() { operations::uninstall(2, zip2, progress); }
    std::string saves(const std::string& base) { return G + "allsaves/" + base + "_saves.zip"; }
    bool addedFile(const std::string& name) const {
        return std::any_of(addedFiles.begin(), addedFiles.end(), [&](const std::string& f) {
            return f.size() >= name.size() &&
                   f.compare(f.size() - name.size(), name.size(), name) == 0;
        });
    }
};

TEST(ArchiveBaseName, NamePartTrimmedWithoutZipExtension) {
    EXPECT_EQ(ArchiveBaseName(" Original"), "Original");
    EXPECT_EQ(ArchiveBaseName("/m/calendra.zip"), "calendra");
    EXPECT_EQ(ArchiveBaseName("/m/CALENDRA.Zip"), "CALENDRA");
    EXPECT_EQ(ArchiveBaseName("/m/dir.zip/mission.rar"), "mission.rar");
    EXPECT_EQ(ArchiveBaseName("/m/  spaced.zip  "), "spaced");
    EXPECT_EQ(ArchiveBaseName("/m/zip"), "zip");
    EXPECT_EQ(SavesArchivePath("/g/", " Original"), "/g/allsaves/Original_saves.zip");
    EXPECT_EQ(SavesArchivePath("/g/", "/m/a b.zip"), "/g/allsaves/a b_saves.zip");
}

// Ordinary mission file names keep the saves archives players already have; every other
// name gets one of its own: a single safe file name in allsaves that no other name shares
// (without regard to case) and whose temporary name fits.
TEST(SavesArchiveName, OrdinaryNamesKeptOthersMadeSafeAndDistinct) {
    const std::vector<std::pair<std::string, std::string>> kept = {
        {" Original", "Original_saves.zip"},
        {"/m/Foo.zip", "Foo_saves.zip"},
        {"/m/Foo.7z", "Foo.7z_saves.zip"},
        {"/m/Foo.rar", "Foo.rar_saves.zip"},
        {"/m/a b.zip", "a b_saves.zip"},
        {"/m/Original.7z", "Original.7z_saves.zip"},
        {"/m/" + std::string(216, 'k') + ".zip", std::string(216, 'k') + "_saves.zip"}};
    for (const auto& [path, name] : kept) EXPECT_EQ(SavesArchiveName(path), name) << path;

    const std::vector<std::string> others = {"/m/Original.zip",
                                             "/m/original.zip",
                                             "/m/foo.ZIP",
                                             "/m/X.7z.zip",
                                             "/m/X.zip.zip",
                                             "/m/..\\bs.zip",
                                             "/m/Pack\\m.zip",
                                             "/m/foo\nbar.zip",
                                             "/m/a:b?.zip",
                                             "/m/ lead.zip",
                                             "/m/trail.zip ",
                                             "/m/dots....",
                                             "/m/" + std::string(240, 'N') + ".zip",
                                             "/m/" + std::string(250, 'N') + ".zip",
                                             "/m/Foo~0123456789abcdef.zip"};
    std::set<std::string> seen;
    for (const auto& [path, name] : kept) seen.insert(fsx::foldKey(name));
    for (const std::string& path : others) {
        SCOPED_TRACE(path);
        const std::string name = SavesArchiveName(path);
        EXPECT_EQ(SavesArchiveName(path), name);  // the same on every call
        EXPECT_TRUE(seen.insert(fsx::foldKey(name)).second) << name;
        EXPECT_LE(name.size() + 19, fsx::kMaxNameBytes);
        EXPECT_EQ(name.find_first_of(std::string("<>:\"/\\|?*\0", 10)), std::string::npos);
        EXPECT_TRUE(std::none_of(name.begin(), name.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x20; }));
        EXPECT_EQ(name.substr(name.size() - 10), "_saves.zip");
        EXPECT_EQ(SavesArchivePath("/g/", path), "/g/allsaves/" + name);
    }
}

TEST_F(UninstallTest, WithoutMarkerSavesGoToOriginalArchiveAndBackupIsRestored) {
    put(G + "SAVES/game0000.sav", "first");
    put(G + "SAVES/GAME0001.SAV", "second");
    put(G + "SAVES/notes.txt", "not a save");
    put(G + "strings/missflag.str", "mission's flags");
    put(G + "fam/keep.txt", "untouched");
    ASSERT_TRUE(makeZip(G + "tallowmere_backup.zip", {{"strings/missflag.str", "game's flags"},
                                                      {"miss1.mis", "game's mission"},
                                                      {"noext", "x"}}));
    zip.SetZipFileName(dir.path() + "selected.zip");
    const std::string selected = zip.ZipFileName();

    run();

    EXPECT_EQ(memberNames(saves("Original")),
              (std::vector<std::string>{"GAME0001.SAV", "game0000.sav"}));
    EXPECT_TRUE(archiveTestsOk(saves("Original")));
    EXPECT_EQ(memberText(saves("Original"), "game0000.sav"), "first");
    EXPECT_FALSE(fsx::fileExists(G + "SAVES/game0000.sav"));
    EXPECT_FALSE(fsx::fileExists(G + "SAVES/GAME0001.SAV"));
    EXPECT_TRUE(fsx::fileExists(G + "SAVES/notes.txt"));

    EXPECT_EQ(readFile(G + "strings/missflag.str"), "game's flags");
    EXPECT_EQ(readFile(G + "miss1.mis"), "game's mission");
    EXPECT_EQ(readFile(G + "noext"), "x");
    EXPECT_EQ(readFile(G + "fam/keep.txt"), "untouched");
    EXPECT_FALSE(fsx::fileExists(G + "tallowmere_backup.zip"));

    EXPECT_EQ(zip.ZipFileName(), selected);
    // The saved games are stored first, then the game's files restored, each step named.
    std::vector<std::string> steps;
    for (const std::string& status : statuses)
        if (status.rfind("<24> <19> ", 0) == 0 || status.rfind("<27> <18> ", 0) == 0)
            if (steps.empty() || steps.back() != status.substr(0, 4))
                steps.push_back(status.substr(0, 4));
    EXPECT_EQ(steps, (std::vector<std::string>{"<24>", "<27>"}));
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.front(), "<26>");
    EXPECT_EQ(statuses.back(), "");
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(UninstallTest, MarkerFilesDeletedAndEmptyFoldersRemovedUpThePath) {
    put(G + "miss20.mis", "m");
    put(G + "intrface/miss20/goals.str", "g");
    put(G + "fam/mission/a.pcx", "a");
    put(G + "fam/foreign.pcx", "game's");
    put(G + "deep/er/still/file.bin", "d");
    put(G + "readonly.txt", "r");
    ASSERT_EQ(::chmod((G + "readonly.txt").c_str(), 0444), 0);
    writeMarker("/missions/demo.zip",
                {G + "MISS20.MIS", G + "intrface/miss20/goals.str", G + "fam/mission/a.pcx",
                 G + "deep/er/still/file.bin", G + "readonly.txt", G + "never/was/there.txt", ""});

    run();

    EXPECT_FALSE(fsx::pathExists(G + "miss20.mis"));
    EXPECT_FALSE(fsx::pathExists(G + "intrface"));
    EXPECT_FALSE(fsx::pathExists(G + "fam/mission"));
    EXPECT_EQ(readFile(G + "fam/foreign.pcx"), "game's");
    EXPECT_FALSE(fsx::pathExists(G + "deep"));
    EXPECT_FALSE(fsx::pathExists(G + "readonly.txt"));
    // The game directory itself, its marker and its saves folder stay.
    EXPECT_TRUE(fsx::fileExists(G + "Tallowmere.Current"));
    EXPECT_TRUE(fsx::directoryExists(G + "SAVES"));
    EXPECT_TRUE(fsx::directoryExists(G + "allsaves"));
    // No saved games: no archive and no complaint about an empty file list.
    EXPECT_FALSE(fsx::fileExists(saves("demo")));
    EXPECT_TRUE(zip2Messages.empty());
}

TEST_F(UninstallTest, RunAgainItNeverDeletesTheRestoredGameFiles) {
    // The mission replaced a game file; the game's copy is in the backup archive.
    put(G + "strings/missflag.str", "mission's flags");
    put(G + "miss20.mis", "m");
    ASSERT_TRUE(makeZip(G + "tallowmere_backup.zip", {{"strings/missflag.str", "game's flags"}}));
    writeMarker("/missions/demo.zip", {G + "strings/missflag.str", G + "miss20.mis"});
    run();
    EXPECT_EQ(readFile(G + "strings/missflag.str"), "game's flags");
    EXPECT_FALSE(fsx::fileExists(G + "tallowmere_backup.zip"));
    // The marker still names the installed archive, but no longer the removed files.
    EXPECT_EQ(textfile::readLines(G + "Tallowmere.Current"),
              (std::vector<std::string>{"/missions/demo.zip", "unfinished"}));

    // A second uninstall before a new marker is written (an install that ended early).
    run();
    EXPECT_EQ(readFile(G + "strings/missflag.str"), "game's flags");
}

TEST_F(UninstallTest, PathsOutsideTheGameDirectoryAreNeverTouched) {
    put(dir.path() + "outside.txt", "o");
    put(dir.path() + "outside2.txt", "o2");
    put(dir.path() + "elsewhere/target.txt", "t");
    fsx::forceDirectories(dir.path() + "emptyout/sub");
    ASSERT_EQ(::symlink((dir.path() + "elsewhere").c_str(), (G + "link").c_str()), 0);
    ASSERT_EQ(::symlink((dir.path() + "outside.txt").c_str(), (G + "filelink").c_str()), 0);
    ASSERT_EQ(::chmod((dir.path() + "outside.txt").c_str(), 0444), 0);
    put(saves("older"), "an older mission's saves");
    writeMarker("/missions/demo.zip",
                {dir.path() + "outside.txt", G + "../outside2.txt", G + "link/target.txt",
                 G + "../emptyout/sub/x", G + "link", G + "filelink", "relative.txt",
                 G + "Tallowmere.Current", saves("older"), G + "allsaves/x"});
    put(G + "relative.txt", "r");
    const std::string cwd = fsx::currentDirectory();
    ASSERT_TRUE(fsx::setCurrentDirectory(G));

    run();
    fsx::setCurrentDirectory(cwd);

    EXPECT_EQ(readFile(dir.path() + "outside.txt"), "o");
    struct stat st {};
    ASSERT_EQ(::stat((dir.path() + "outside.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);  // the link's target keeps its attributes
    EXPECT_EQ(readFile(dir.path() + "outside2.txt"), "o2");
    EXPECT_EQ(readFile(dir.path() + "elsewhere/target.txt"), "t");
    EXPECT_TRUE(fsx::directoryExists(dir.path() + "emptyout/sub"));
    EXPECT_TRUE(fsx::fileExists(G + "relative.txt"));
    EXPECT_TRUE(fsx::fileExists(G + "Tallowmere.Current"));
    EXPECT_EQ(readFile(saves("older")), "an older mission's saves");
    // A link inside the game directory is removed as itself.
    EXPECT_FALSE(fsx::pathExists(G + "filelink"));
}

TEST_F(UninstallTest, OnlySavesWithOtherContentsAreStoredAgain) {
    // A first uninstall stores three saved games.
    put(G + "SAVES/same.sav", "unchanged");
    put(G + "SAVES/edited.sav", "old-text");
    put(G + "SAVES/touched.sav", "old");
    writeMarker("/missions/demo.zip", {});
    run();
    const std::string archive = saves("demo");
    ASSERT_EQ(memberNames(archive),
              (std::vector<std::string>{"edited.sav", "same.sav", "touched.sav"}));
    zip2.SetZipFileName(archive);
    std::map<std::string, uint32_t> times;
    for (const ZipDirEntry& e : zip2.Entries()) times[e.FileName] = e.DateTime;

    // The mission is played again: its saves come back with their stored times; one is
    // rewritten within the same two seconds with the same size, one is saved again later, and
    // a new one appears.
    put(G + "SAVES/same.sav", "unchanged");
    setDosTime(G + "SAVES/same.sav", times["same.sav"]);
    put(G + "SAVES/edited.sav", "new-text");
    setDosTime(G + "SAVES/edited.sav", times["edited.sav"]);
    put(G + "SAVES/touched.sav", "old");  // same bytes, later time
    setDosTime(G + "SAVES/touched.sav", times["touched.sav"] + (1u << 16));  // a day later
    put(G + "SAVES/fresh.sav", "fresh");
    addedFiles.clear();

    run();

    // Stored again only where the contents differ; the edited save's stored version is
    // kept as an older one.
    EXPECT_FALSE(addedFile("same.sav"));
    EXPECT_TRUE(addedFile("edited.sav"));
    EXPECT_FALSE(addedFile("touched.sav"));
    EXPECT_TRUE(addedFile("fresh.sav"));
    std::vector<std::string> names = memberNames(archive);
    ASSERT_EQ(names.size(), 5u);
    const std::string older = names[2];
    EXPECT_EQ(older.rfind("older/", 0), 0u);
    EXPECT_EQ(memberText(archive, older), "old-text");
    names.erase(names.begin() + 2);
    EXPECT_EQ(names,
              (std::vector<std::string>{"edited.sav", "fresh.sav", "same.sav", "touched.sav"}));
    EXPECT_TRUE(archiveTestsOk(archive));
    EXPECT_EQ(memberText(archive, "same.sav"), "unchanged");
    EXPECT_EQ(memberText(archive, "edited.sav"), "new-text");
    EXPECT_EQ(memberText(archive, "touched.sav"), "old");
    EXPECT_TRUE(fsx::listDirectory(G + "SAVES", "*").empty());
}

TEST_F(UninstallTest, SavesStayWhenTheArchiveCannotBeWritten) {
    put(G + "SAVES/game0000.sav", "precious");
    writeMarker("/missions/demo.zip", {});
    // The saves archive's place is taken by a folder: nothing can be written there.
    fsx::forceDirectories(saves("demo"));
    EXPECT_THROW(run(), EInOutError);
    EXPECT_EQ(readFile(G + "SAVES/game0000.sav"), "precious");
    EXPECT_LT(zip2.SuccessCount, 1);

    // A damaged saves archive: Add fails and keeps every source.
    fsx::removeDirectory(saves("demo"));
    put(saves("demo"), std::string("PK\x03\x04", 4) + std::string(100, '\x7f'));
    EXPECT_THROW(run(), EInOutError);
    EXPECT_EQ(readFile(G + "SAVES/game0000.sav"), "precious");
    EXPECT_LT(zip2.SuccessCount, 1);
}

TEST_F(UninstallTest, SavesStayWhenTheSavesFolderCannotBeCreated) {
    put(G + "SAVES/game0000.sav", "precious");
    put(G + "allsaves", "a file where the folder belongs");
    EXPECT_THROW(run(), EInOutError);
    EXPECT_EQ(readFile(G + "SAVES/game0000.sav"), "precious");
    EXPECT_LT(zip2.SuccessCount, 1);
}

TEST_F(UninstallTest, IncompleteRestoreKeepsTheBackup) {
    ASSERT_TRUE(makeZip(G + "tallowmere_backup.zip", {{"strings/missflag.str", "game's flags"},
                                                      {"miss1.mis", "game's mission"}}));
    // A file where the folder "strings" belongs: that member cannot be extracted.
    put(G + "strings", "in the way");
    run();
    EXPECT_TRUE(fsx::fileExists(G + "tallowmere_backup.zip"));
    EXPECT_EQ(readFile(G + "miss1.mis"), "game's mission");
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_NE(prompts.messages[0].text.find("tallowmere_backup.zip"), std::string::npos);
    EXPECT_EQ(statuses.back(), prompts.messages[0].text);

    // A damaged backup archive stays too.
    fsx::deleteFile(G + "strings");
    put(G + "tallowmere_backup.zip", "not an archive");
    prompts.messages.clear();
    run();
    EXPECT_EQ(readFile(G + "tallowmere_backup.zip"), "not an archive");
    EXPECT_EQ(prompts.messages.size(), 1u);
}

TEST_F(UninstallTest, UnconfiguredGameTouchesNothing) {
    app().thiefdata[2].gameDir.clear();
    put(G + "SAVES/game0000.sav", "s");
    const std::string cwd = fsx::currentDirectory();
    ASSERT_TRUE(fsx::setCurrentDirectory(G));
    zip.SetZipFileName(" Original");
    run();
    fsx::setCurrentDirectory(cwd);
    EXPECT_TRUE(fsx::fileExists(G + "SAVES/game0000.sav"));
    EXPECT_FALSE(fsx::pathExists(G + "allsaves"));
    EXPECT_EQ(zip.ZipFileName(), " Original");
}

TEST_F(UninstallTest, TemporaryFilesOfACrashAreRemovedOnlyWhenOurs) {
    struct Row {
        std::string name;
        bool ours;
    };
    const std::vector<Row> rows = {
        {".tm0123456789ab.part", true},
        {"SAVES/.tm00000000abcd.part", true},
        {"allsaves/x_saves.zip.tm0123456789ab.tmp", true},
        {"Tallowmere.Current.tmABCDEFabcdef.tmp", true},
        {".tm-copy-12-3", true},
        {"strings/.tm0123456789ab.part", true},  // a folder the marker lists a file in
        {"notes.tmp", false},
        {".tmfoo.part", false},
        {"game.tm12.tmp", false},
        {"SAVES/.tm0123456789ab.partial", false},
        {"tm0123456789ab.part", false},
        {".tm-copy-x-1", false},
        {"fam/.tm0123456789ab.part", false},  // a folder the program did not work in
    };
    for (const Row& row : rows) put(G + row.name, "x");
    writeMarker("/missions/demo.zip", {G + "strings/missflag.str"});
    run();
    for (const Row& row : rows) EXPECT_EQ(fsx::fileExists(G + row.name), !row.ours) << row.name;
}

}  // namespace
