#include <gtest/gtest.h>

#include <set>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <algorithm>
#include <functional>
#include <memory>

#include "app/AppState.h"
#include "app/ui/LibraryPanel.h"
#include "app/ui/MainForm.h"
#include "app/ui/Program.h"
#include "app/ui/ReadmeDocument.h"
#include "archive/ZipArchiver.h"
#include "catalogue/ui/MissionGrid.h"
#include "catalogue/ui/QuestGridDraw.h"
#include "dialogs/SetupLogic.h"
#include "game/MissionRecords.h"
#include "game/SelectedMission.h"
#include "inspect/InfoPanel.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "state/LanguageTable.h"
#include "support/TestSupport.h"

namespace {

// A main window with every feature connected, on a temporary program directory holding a
// Thief 2 game directory and a mission directory.
class Catalogue : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL"))
            GTEST_SKIP() << "extraction engine not built";
        std::string lang = "[languages]\n1=English\n[English]\n";
        for (int n = 1; n <= 80; ++n) lang += std::to_string(n) + "=<" + std::to_string(n) + ">\n";
        for (int n = 100; n <= 105; ++n)
            lang += std::to_string(n) + "=<" + std::to_string(n) + ">\n";
        dir.write("Tallowmere.dat", lang);
        game = dir.path() + "Thief2/";
        missions = dir.path() + "Missions/";
        dir.write("Thief2/install.cfg", "language english\r\n");
        dir.write("Thief2/thief2.exe", "stand-in");
        fsx::forceDirectories(missions);
        openAppFiles(dir.path());
        settings().WriteString("options", "thief2dir", game);
        settings().WriteString("options", "compression level", "5");
        settings().WriteString("mission directories", missions, "1");
        InstallFeatureHooks();
        LoadLanguageTable();
        form = std::make_unique<Tmainform>();
        app().applicationTitle = "Tallowmere v9";
    }
    void TearDown() override {
        form.reset();
        mainFormHooks() = {};
        setSetupDialogHook({});
        closeAppFiles();
        app() = AppState{};
    }
    IniFile& settings() { return *app().settings; }
    TMissionGrid& grid() { return *form->QuestGrid; }
    std::string mission(const std::string& name, const std::string& misContent = "SKYOBJVAR",
                        const std::string& where = "") {
        const std::string path = (where.empty() ? missions : where) + name;
        EXPECT_TRUE(
            makeZip(path, {{"miss20.mis", misContent},
                           {"strings/titles.str", "title_20: \"Title of " + name + "\"\r\n"},
                           {"intrface/goals.str", "goal"}}));
        return path;
    }
    int rowOf(const std::string& col2) {
        for (int r = 1; r < grid().RowCount(); ++r)
            if (grid().Cell(2, r) == col2) return r;
        return 0;
    }
    void select(int row, int col = 0) {
        bool canSelect = true;
        mainFormHooks().selectCell(form->QuestGrid, col, row, canSelect);
    }

    TempDir dir;
    ScriptedPrompter prompts;
    std::string game, missions;
    std::unique_ptr<Tmainform> form;
};

TEST_F(Catalogue, ScanListsGameRowAndMissionArchives) {
    mission("A.ZIP");
    mission("b.Zip");
    mission("x.zipx");
    mission("Old.SS2MOD");  // System Shock 2's mission package: a ZIP under another name
    dir.write("Missions/notzip.txt", "x");
    dir.write("Missions/fake.ss2mod", "no ZIP inside");
    app().languageSlots[76] = "";                   // a size title narrower than any size
    app().languageSlots[14] = "Fini&shed && done";  // the finished box's caption, with its key
    form->ScanCatalogue(false);

    ASSERT_EQ(grid().RowCount(), 5);
    EXPECT_EQ(rowOf("fake"), 0);
    ASSERT_GT(rowOf("Old"), 0);
    const int gameRow = rowOf(" Original (Thief 2)");
    ASSERT_GT(gameRow, 0);
    EXPECT_EQ(grid().Cell(0, gameRow), "20");
    EXPECT_EQ(grid().Cell(1, gameRow), " Original (Thief 2)");
    EXPECT_EQ(grid().Cell(3, gameRow), "");
    for (const char* name : {"A", "b"}) {
        const int r = rowOf(name);
        ASSERT_GT(r, 0) << name;
        EXPECT_EQ(grid().Cell(3, r), missions);
        EXPECT_EQ(
            grid().Cell(4, r),
            std::to_string(fsx::fileSize(missions + name + (name[0] == 'A' ? ".ZIP" : ".Zip"))));
    }
    // The size column fits the drawn "x.xx MB", not the shorter byte count.
    const QFontMetrics fm(grid().font());
    EXPECT_GE(grid().ColWidth(4),
              fm.horizontalAdvance(SizeCellText(grid().Cell(4, rowOf("A")))) + 5);
    // Titles of row 0 and the caption with the count of missions (the game's row is none).
    EXPECT_EQ(grid().Cell(1, 0), "<75>");
    EXPECT_EQ(grid().Cell(5, 0), "Finished & done");
    EXPECT_EQ(form->windowTitle().toStdString(), "Tallowmere v9  -  3 <15>");
    // The status line holds only the Thief 2 part.
    EXPECT_EQ(form->CurrentBar->SimpleText(), "<16>" + std::string(26, ' ') + "Thief 2:  Original");
    // Nothing remembered: the last game row is remembered (its leading blank, as any blank
    // around a value, does not read back) and selected.
    EXPECT_EQ(settings().ReadString("options", "last selection", "@"), "Original (Thief 2)");
    EXPECT_EQ(grid().Row(), gameRow);
    // The package is read as the ZIP archive it is.
    select(rowOf("Old"));
    EXPECT_EQ(grid().MissionAt(rowOf("Old"))->markedGame(), 2);
    EXPECT_NE(form->Questinfo->text().indexOf("Title of Old.SS2MOD"), -1);
}

TEST_F(Catalogue, FirstScanStoresTypesAndSelectionDecidesTheGame) {
    const std::string path = mission("Vault]One.zip");
    form->ScanCatalogue(false);
    const int r = rowOf("Vault]One");
    ASSERT_GT(r, 0);
    const std::string key = "VaultOne." + std::to_string(fsx::fileSize(path));
    EXPECT_EQ(settings().ReadString(key, "type", "none"), "0");
    EXPECT_EQ(grid().Cell(0, r), "01");

    select(r);
    // The analysis decided Thief 2 and stored the title; the row shows both at once.
    EXPECT_EQ(settings().ReadString(key, "type", ""), "2");
    EXPECT_EQ(grid().Cell(0, r), "21");
    EXPECT_EQ(grid().Cell(1, r), "Title of Vault]One.zip");
    EXPECT_EQ(WindowSelectedMission().currentGame, 2);
    EXPECT_EQ(form->Zip->ExtrBaseDir, game);
    EXPECT_TRUE(form->goalscheck->isChecked());
    EXPECT_TRUE(form->OrigPanel->isHidden());

    // Another cell of the same row is not analysed again.
    form->StatusBar->SetSimpleText("unchanged");
    select(r, 3);
    EXPECT_EQ(form->StatusBar->SimpleText(), "unchanged");
}

TEST_F(Catalogue, SameArchiveThroughTwoDirectoriesIsListedTwice) {
    const std::string other = dir.path() + "More/";
    fsx::forceDirectories(other);
    mission("Twin.zip");
    fsx::copyFile(missions + "Twin.zip", other + "Twin.zip");
    settings().WriteString("mission directories", other, "1");
    settings().WriteString("mission directories", dir.path() + "Missing/", "1");
    form->ScanCatalogue(false);
    int count = 0;
    for (int r = 1; r < grid().RowCount(); ++r) count += grid().Cell(2, r) == "Twin";
    EXPECT_EQ(count, 2);
}

TEST_F(Catalogue, RememberedSelectionAndDeletedArchive) {
    // Both games configured: a remembered Thief 1 row must not fall back to the Thief 2 row.
    dir.write("Thief1/install.cfg", "language english\r\n");
    settings().WriteString("options", "thief1dir", dir.path() + "Thief1/");
    mission("Keep.zip");
    mission("Gone.zip");
    fsx::deleteFile(missions + "Gone.zip");
    const struct {
        std::string stored, selected;
    } cases[] = {
        {"keep", "Keep"},  // any case
        {" Original (Thief 1)", " Original (Thief 1)"},
        {" Original (Thief 2)", " Original (Thief 2)"},
        {"Gone", " Original (Thief 2)"},  // deleted: the last game row
    };
    for (const auto& c : cases) {
        settings().WriteString("options", "last selection", c.stored);
        form->ScanCatalogue(false);
        EXPECT_EQ(grid().Cell(2, grid().Row()), c.selected) << c.stored;
    }
}

TEST_F(Catalogue, VanishedArchiveShowsMessageAndRescans) {
    mission("Fleeting.zip");
    form->ScanCatalogue(false);
    const int r = rowOf("Fleeting");
    ASSERT_GT(r, 0);
    fsx::deleteFile(missions + "Fleeting.zip");
    prompts.messages.clear();
    select(r);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "<36> " + missions + "Fleeting.zip");
    EXPECT_EQ(rowOf("Fleeting"), 0);
    EXPECT_EQ(grid().RowCount(), 2);
}

TEST_F(Catalogue, GameRowShowsTheGameAndItsCommands) {
    form->ScanCatalogue(false);
    const int r = rowOf(" Original (Thief 2)");
    select(r);
    EXPECT_EQ(WindowSelectedMission().currentGame, 2);
    EXPECT_EQ(form->Zip->ZipFileName(), " Original");
    EXPECT_EQ(form->questMemo->toPlainText().toStdString(), "<34>\n<35>");
    EXPECT_FALSE(form->OrigPanel->isHidden());
    EXPECT_FALSE(form->dromedbutton->isEnabled());  // no dromed.exe
    // No mission installed: the game's own state is installed already.
    EXPECT_FALSE(form->installonlybutton->isEnabled());

    // With DromEd present and a mission installed, a new selection enables both.
    dir.write("Thief2/DROMED.EXE", "editor");
    dir.write("Thief2/Tallowmere.Current", missions + "x.zip\r\n123\r\n");
    mission("Other.zip");
    form->ScanCatalogue(false);
    select(rowOf("Other"));
    select(rowOf(" Original (Thief 2)"));
    EXPECT_TRUE(form->dromedbutton->isEnabled());
    EXPECT_TRUE(form->installonlybutton->isEnabled());
    EXPECT_EQ(form->CurrentBar->SimpleText(), "<16>" + std::string(26, ' ') + "Thief 2: x.zip");
}

TEST_F(Catalogue, FinishedBoxWritesTheSelectedRowsRecord) {
    form->ScanCatalogue(false);
    select(rowOf(" Original (Thief 2)"));
    form->finished->click();
    EXPECT_EQ(settings().ReadString("Original (Thief 2)", "finished", ""), "1");
    EXPECT_EQ(grid().Cell(5, grid().Row()), "F");
}

TEST_F(Catalogue, GameDirectoryWithoutInstallCfgOpensSetupAndIsNotScannedTwice) {
    fsx::deleteFile(game + "install.cfg");
    mission("One.zip");
    int dialogs = 0;
    setSetupDialogHook([&] {
        ++dialogs;
        // A confirmed dialog rescans on its own, with the file in place by then.
        dir.write("Thief2/install.cfg", "language french\r\n");
        form->ScanCatalogue(false);
    });
    form->ScanCatalogue(false);
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(grid().RowCount(), 3);  // title, game row, One
    EXPECT_EQ(app().thiefdata[2].language, 3);
}

TEST_F(Catalogue, ReplacedArchiveGetsANewRecord) {
    const std::string path = mission("Again.zip");
    form->ScanCatalogue(false);
    const std::string oldKey = "Again." + std::to_string(fsx::fileSize(path));
    mission("Again.zip", "a longer mission file without the marker, so the size differs");
    const std::string newKey = "Again." + std::to_string(fsx::fileSize(path));
    ASSERT_NE(oldKey, newKey);
    form->ScanCatalogue(false);
    EXPECT_EQ(settings().ReadString(newKey, "type", "none"), "0");
    EXPECT_EQ(settings().ReadString(oldKey, "type", "none"), "0");
}

}  // namespace

namespace {

TEST_F(Catalogue, GameDirectoryWithoutTrailingSeparatorWorksTheSame) {
    settings().WriteString("options", "thief2dir", game.substr(0, game.size() - 1));
    dir.write("Thief2/install.cfg", "language german\r\n");
    form->ScanCatalogue(false);
    EXPECT_EQ(app().thiefdata[2].gameDir, game);
    EXPECT_EQ(app().thiefdata[2].language, 2);
    EXPECT_EQ(grid().Cell(0, rowOf(" Original (Thief 2)")), "20");
}

// A .7z beside a .zip of the same name is a row of its own, selected and analysed like it;
// a file that is no archive is not listed.
TEST_F(Catalogue, SevenZipMissionIsListedAndAnalysedBesideItsZip) {
    if (!haveProgram("7zz")) GTEST_SKIP() << "7zz missing";
    mission("Vault.zip");
    TempDir tree;
    tree.write("miss20.mis", "no marker");
    tree.write("strings/titles.str", "title_20: \"Seven Vault\"\r\n");
    tree.write("VAULT.txt", "Caf\xE9 for seven");
    ASSERT_EQ(runCommand("cd '" + tree.path() + "' && 7zz a -bd -ms=on '" + missions +
                         "Vault.7z' . >/dev/null"),
              0);
    dir.write("Missions/Broken.7z", "not an archive");
    form->ScanCatalogue(false);
    ASSERT_EQ(grid().RowCount(), 4);
    const std::string size = std::to_string(fsx::fileSize64(missions + "Vault.7z"));
    int row = 0;
    for (int r = 1; r < grid().RowCount(); ++r)
        if (grid().Cell(2, r) == "Vault" && grid().Cell(4, r) == size) row = r;
    ASSERT_GT(row, 0);
    select(row);
    EXPECT_EQ(WindowSelectedMission().archivePath, missions + "Vault.7z");
    EXPECT_EQ(grid().Cell(1, row), "Seven Vault");
    EXPECT_EQ(grid().Cell(0, row), "11");
    EXPECT_EQ(form->questMemo->toPlainText().toStdString(), "Caf\xC3\xA9 for seven");
    EXPECT_EQ(form->Zip->ExtrBaseDir, "");        // Thief 1 is not configured here,
    EXPECT_FALSE(form->playbutton->isEnabled());  // so nothing can be started
}

// Foo.7z and Foo.rar of the same size are two rows with records and archives of their
// own; a RAR volume set is one row read through its first volume; a read-me named like a
// .7z archive is preferred to the first text.
TEST_F(Catalogue, SameNameInTwoFormatsAndVolumeSetsAreRowsOfTheirOwn) {
    if (!haveProgram("7zz")) GTEST_SKIP() << "7zz missing";
    const std::string maker =
        std::string("python3 '") + TM_SOURCE_DIR + "/tests/data/make_rar.py' ";
    TempDir seven, rar, set;
    seven.write("miss20.mis", "no marker");
    seven.write("strings/titles.str", "title_20: \"Seven Dup\"\r\n");
    seven.write("0.txt", "first text");
    seven.write("dup.txt", "named read-me");
    rar.write("miss20.mis", "SKYOBJVAR");
    rar.write("strings/titles.str", "title_20: \"Rar Dup\"\r\n");
    set.write("miss20.mis", std::string(5000, 'm') + "SKYOBJVAR");
    set.write("strings/titles.str", "title_20: \"Volume Set\"\r\n");
    ASSERT_EQ(runCommand("cd '" + seven.path() + "' && 7zz a -bd -ms=off '" + missions +
                         "dup.7z' . >/dev/null"),
              0);
    ASSERT_EQ(runCommand(maker + "'" + missions + "dup.rar' '" + rar.path() + "'"), 0);
    ASSERT_EQ(runCommand(maker + "'" + missions + "set.part1.rar' '" + set.path() + "' 2000 5"), 0);
    // Padded to one size: both readers stop at their archive's end.
    const int64_t size =
        std::max(fsx::fileSize64(missions + "dup.7z"), fsx::fileSize64(missions + "dup.rar"));
    for (const char* name : {"dup.7z", "dup.rar"}) {
        const std::string path = missions + name;
        writeFile(path, readFile(path) + std::string(size - fsx::fileSize64(path), '\0'));
    }
    form->ScanCatalogue(false);
    EXPECT_EQ(grid().RowCount(), 5);  // the game, dup, dup.rar, set.part1
    EXPECT_EQ(rowOf("set.part2"), 0);
    struct Case {
        std::string row, archive, title, memo;
    };
    const Case cases[] = {
        {"dup", "dup.7z", "Seven Dup", "named read-me"},
        {"dup.rar", "dup.rar", "Rar Dup", ""},
        {"set.part1", "set.part1.rar", "Volume Set", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        const int row = rowOf(c.row);
        ASSERT_GT(row, 0);
        select(row);
        EXPECT_EQ(WindowSelectedMission().archivePath, missions + c.archive);
        EXPECT_EQ(grid().Cell(1, row), c.title);
        EXPECT_EQ(form->questMemo->toPlainText().toStdString(), c.memo);
        EXPECT_EQ(settings().ReadString(RecordKey(grid().RowCells(row)), "title", ""), c.title);
    }
    EXPECT_EQ(grid().Cell(0, rowOf("set.part1")), "21");  // its mission file spans volumes
}

// Typing narrows the rows by title or archive name without regard to case and accents, the
// caption counts them, and clearing brings every row back. The selection is always a row
// the window shows (the first one shown when the filter hides the selected row, none when no
// row is shown), and Play acts on it.
TEST_F(Catalogue, FilterNarrowsTheRowsAndTheSelectionFollows) {
    const std::string cafe = mission("Caf\xC3\xA9.zip");
    mission("Other.zip");
    form->ScanCatalogue(false);
    for (TZipArchiver* z : {form->Zip.get(), form->Zip2.get()}) {
        z->Unattended = true;
        z->SetDLLDirectory(TM_TEST_BIN_DIR);
    }
    const int other = rowOf("Other");
    select(other);  // analysed: its title is in the grid
    grid().SetRow(other);

    struct Step {
        const char* typed;
        std::vector<std::string> shown;  // column 2 of the rows shown
        std::string selected;            // empty = none
        std::string caption;
        bool play;  // pressed after typing: installs the selected mission
    };
    const std::string all = "Tallowmere v9  -  2 <15>";
    const Step steps[] = {
        {"CAFE", {"Caf\xC3\xA9"}, "Caf\xC3\xA9", "Tallowmere v9  -  1 <105> 2 <15>", true},
        {"zzz", {}, "", "Tallowmere v9  -  0 <105> 2 <15>", false},
        {"title of oth", {"Other"}, "Other", "Tallowmere v9  -  1 <105> 2 <15>", false},
        {"", {" Original (Thief 2)", "Caf\xC3\xA9", "Other"}, "Other", all, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.typed);
        form->FilterEdit->setText(step.typed);
        std::vector<std::string> shown;
        for (int r = 1; r < grid().RowCount(); ++r)
            if (!grid().isRowHidden(r - 1)) shown.push_back(grid().Cell(2, r));
        std::sort(shown.begin(), shown.end());
        EXPECT_EQ(shown, step.shown);
        EXPECT_EQ(form->windowTitle().toStdString(), step.caption);
        const int row = grid().Row();
        EXPECT_EQ(row > 0 ? grid().Cell(2, row) : "", step.selected);
        EXPECT_EQ(form->playbutton->isEnabled(), !step.selected.empty());
        if (step.selected.empty()) {
            EXPECT_FALSE(form->dromedbutton->isEnabled());
            EXPECT_FALSE(form->installonlybutton->isEnabled());
        }
        if (row > 0) {
            EXPECT_EQ(WindowSelectedMission().archivePath, missions + grid().Cell(2, row) + ".zip");
        }
        if (!step.play) continue;
        form->playbutton->click();
        EXPECT_EQ(textfile::readLines(game + "Tallowmere.Current").at(0), cafe);
    }
}

// The library's words in the filter field narrow the caption's count as a player expects,
// from what the missions' records hold.
TEST_F(Catalogue, LibraryWordsNarrowTheCount) {
    const struct {
        const char* name;
        std::vector<std::pair<const char*, const char*>> record;
    } missionsHeld[] = {
        {"Heist",
         {{"rating", "9"},
          {"tags", "genre:heist, author:Alice"},
          {"author", "Alice"},
          {"finished", "1"},
          {"finished on", "Expert"}}},
        {"Crypt", {{"rating", "6"}, {"tags", "genre:horror, genre:heist"}, {"author", "Bob"}}},
        {"Manor", {{"rating", "8"}, {"tags", "genre:heist, length:long"}, {"author", "Alicia"}}},
        {"Plain", {}},
    };
    for (const auto& held : missionsHeld) {
        const std::string path = mission(std::string(held.name) + ".zip");
        const std::string key = std::string(held.name) + "." + std::to_string(fsx::fileSize(path));
        for (const auto& [name, value] : held.record) settings().WriteString(key, name, value);
    }
    form->ScanCatalogue(false);
    const std::pair<const char*, int> typed[] = {
        {"tag:heist", 3},       {"tag:heist -tag:horror", 2}, {"rating>=8", 2},
        {"unfinished", 3},      {"author:alice", 1},          {"author:alic", 2},
        {"finished:expert", 1}, {"rating>=8 unfinished", 1},  {"alicia", 1},
        {"game:2 tag:long", 1},
    };
    for (const auto& [words, count] : typed) {
        SCOPED_TRACE(words);
        form->FilterEdit->setText(words);
        EXPECT_EQ(form->windowTitle().toStdString(),
                  "Tallowmere v9  -  " + std::to_string(count) + " <105> 4 <15>");
    }
}

// The filter panel, opened from the button in the filter field, writes its choices as words
// into the field beside the typed ones, the caption counts what they leave, and the panel
// opens again on the words the field holds.
TEST_F(Catalogue, FilterPanelWritesItsWordsIntoTheField) {
    const std::pair<const char*, const char*> held[] = {
        {"Heist", "genre:heist"}, {"Crypt", "genre:horror, genre:heist"}, {"Manor", ""}};
    for (const auto& [name, tags] : held) {
        const std::string path = mission(std::string(name) + ".zip");
        const std::string key = std::string(name) + "." + std::to_string(fsx::fileSize(path));
        settings().WriteString(key, "rating", name[0] == 'M' ? "4" : "8");
        settings().WriteString(key, "tags", tags);
    }
    form->ScanCatalogue(false);
    form->show();
    form->FilterEdit->setText("-zzz");
    const auto openPanel = [&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        form->FilterEdit->findChild<QAction*>("FilterPanelButton")->trigger();
        return form->findChild<QWidget*>("FilterPanel");
    };
    QWidget* panel = openPanel();
    ASSERT_NE(panel, nullptr);
    auto* exclude = panel->findChild<QListWidget*>("ExcludeTags");
    auto* ratingFrom = panel->findChild<QComboBox*>("RatingFrom");
    ASSERT_EQ(exclude->count(), 2);
    EXPECT_EQ(exclude->item(1)->text(), "genre:horror");
    const struct {
        std::function<void()> choose;
        const char* field;
        int count;
    } steps[] = {
        {[&] { exclude->item(1)->setCheckState(Qt::Checked); }, "-zzz -tag:genre:horror", 2},
        {[&] { ratingFrom->setCurrentIndex(ratingFrom->findData(8)); },
         "-zzz -tag:genre:horror rating>=8", 1},
    };
    for (const auto& step : steps) {
        step.choose();
        EXPECT_EQ(form->FilterEdit->text().toStdString(), step.field);
        EXPECT_EQ(form->windowTitle().toStdString(),
                  "Tallowmere v9  -  " + std::to_string(step.count) + " <105> 3 <15>");
    }
    panel->close();
    form->FilterEdit->setText("rating>=4 -zzz tag:genre:heist");
    panel = openPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->findChild<QComboBox*>("RatingFrom")->currentData().toInt(), 4);
    const QListWidget* include = panel->findChild<QListWidget*>("IncludeTags");
    EXPECT_EQ(include->item(0)->checkState(), Qt::Checked);
    EXPECT_EQ(include->item(1)->checkState(), Qt::Unchecked);
}

// An archive seen for the first time is added today and its author, release date and tags
// come from what it says of itself, never over what the player wrote.
TEST_F(Catalogue, ANewArchiveSaysWhoMadeItAndWhen) {
    ASSERT_TRUE(makeZip(missions + "Said.zip", {{"miss20.mis", "SKYOBJVAR"},
                                                {"fm.ini",
                                                 "NiceName=Said\r\nReleaseDate=2004-06-01\r\n"
                                                 "Tags=author:Alice, genre:heist\r\n"}}));
    ASSERT_TRUE(makeZip(missions + "Typed.zip", {{"miss20.mis", "SKYOBJVAR"},
                                                 {"readme.txt", "The Typed\r\nAuthor: Bob\r\n"}}));
    const std::string typedKey = "Typed." + std::to_string(fsx::fileSize(missions + "Typed.zip"));
    settings().WriteString(typedKey, "author", "Carol");
    form->ScanCatalogue(false);
    const auto said = [&](const char* name) { return *grid().MissionAt(rowOf(name)); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !said("Said").author.empty(); }, 10000));
    QTest::qWait(300);
    const struct {
        const char* name;
        std::string author, date;
        std::vector<std::string> tags;
    } expected[] = {{"Said", "Alice", "2004-06-01", {"author:Alice", "genre:heist"}},
                    {"Typed", "Carol", "2020-05-17", {}}};  // the members' date
    for (const auto& e : expected) {
        SCOPED_TRACE(e.name);
        Mission m = said(e.name);
        EXPECT_EQ(m.author, e.author);
        EXPECT_EQ(m.releaseDate, e.date);
        EXPECT_EQ(m.tags, e.tags);
        EXPECT_GT(m.dateAdded, 40000);
        MissionStore(settings()).load(m);  // and so the record holds
        EXPECT_EQ(m.author, e.author);
    }
}

// A newer version of an archive (same name, another size, the old one gone) carries on its
// library; two archives of one name present at once keep theirs apart.
TEST_F(Catalogue, AnUpdatedArchiveKeepsItsLibrary) {
    const auto keyOf = [&](const std::string& file, const std::string& name) {
        return name + "." + std::to_string(fsx::fileSize(missions + file));
    };
    mission("Vault.zip");
    mission("Twin.zip");
    for (const auto& [file, name] : {std::pair{"Vault.zip", "Vault"}, {"Twin.zip", "Twin"}}) {
        settings().WriteString(keyOf(file, name), "rating", "9");
        settings().WriteString(keyOf(file, name), "tags", "genre:heist");
    }
    form->ScanCatalogue(false);
    // Vault.zip replaced by a longer version; another Twin.zip arrives in another folder.
    ASSERT_TRUE(makeZip(missions + "Vault.zip", {{"miss20.mis", "SKYOBJVAR, version 2"}}));
    const std::string more = dir.path() + "More/";
    fsx::forceDirectories(more);
    ASSERT_TRUE(makeZip(more + "Twin.zip", {{"miss20.mis", "SKYOBJVAR, version 2"}}));
    settings().WriteString("mission directories", more, "1");
    form->ScanCatalogue(false);
    const struct {
        const char* file;
        int rating;
    } expected[] = {{"Missions/Vault.zip", 9}, {"Missions/Twin.zip", 9}, {"More/Twin.zip", -1}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.file);
        const std::string path = dir.path() + e.file;
        const int row = grid().FindMission([&](const Mission& m) { return m.archivePath == path; });
        ASSERT_GT(row, 0);
        EXPECT_EQ(grid().MissionAt(row)->rating, e.rating);
        EXPECT_EQ(grid().MissionAt(row)->tags.size(), e.rating < 0 ? 0u : 1u);
    }
}

// The library's columns show what the records hold and sort by it, numbers as numbers and
// titles without their article; they are hidden until the player shows one, which stays.
TEST_F(Catalogue, LibraryColumnsSortByWhatTheyHold) {
    using Record = std::vector<std::pair<const char*, const char*>>;
    const std::pair<const char*, Record> held[] = {
        {"A",
         {{"title", "The Zebra"},
          {"rating", "10"},
          {"tags", "genre:heist"},
          {"author", "Cid"},
          {"release date", "2004-01-01"},
          {"date added", "45000"},
          {"play time", "30"},
          {"finished", "1"}}},
        {"B",
         {{"title", "Apple"},
          {"rating", "3"},
          {"author", "alice"},
          {"release date", "1999"},
          {"date added", "46000"},
          {"play time", "7200"},
          {"finished", "1"},
          {"finished on", "Expert"}}},
        {"C",
         {{"title", "Der Bau"},
          {"rating", "0"},
          {"tags", "length:short"},
          {"author", "Bob"},
          {"play time", "600"}}},
    };
    for (const auto& [name, record] : held) {
        const std::string path = mission(std::string(name) + ".zip");
        const std::string key = std::string(name) + "." + std::to_string(fsx::fileSize(path));
        for (const auto& [k, v] : record) settings().WriteString(key, k, v);
    }
    form->ScanCatalogue(false);
    const auto order = [&] {
        std::string names;
        for (int r = 1; r < grid().RowCount(); ++r)
            if (!grid().MissionAt(r)->gameRow) names += grid().MissionAt(r)->name;
        return names;
    };
    // C has no day added in its record: the scan gives it today's.
    const std::pair<MissionColumn, const char*> sorted[] = {
        {MissionColumn::Title, "BCA"},       {MissionColumn::Rating, "CBA"},
        {MissionColumn::Tags, "BAC"},        {MissionColumn::Author, "BCA"},
        {MissionColumn::ReleaseDate, "CBA"}, {MissionColumn::DateAdded, "ABC"},
        {MissionColumn::PlayTime, "ACB"},    {MissionColumn::FinishedOn, "CAB"},
    };
    for (const auto& [column, expected] : sorted) {
        SCOPED_TRACE(columnOf(column));
        grid().SortIndex = -1;
        grid().SortByColumn(columnOf(column));
        EXPECT_EQ(order(), expected);
        // Hidden until shown.
        EXPECT_EQ(grid().ColWidth(columnOf(column)) < 0, column != MissionColumn::Title);
    }
    const Mission& b = *grid().MissionAt(rowOf("B"));
    EXPECT_EQ(QuestGridCellText(columnOf(MissionColumn::Rating),
                                missionCellText(b, MissionColumn::Rating)),
              QString::fromUtf8("\u2605\u00BD\u2606\u2606\u2606"));
    EXPECT_EQ(QuestGridCellText(columnOf(MissionColumn::PlayTime),
                                missionCellText(b, MissionColumn::PlayTime)),
              "2:00");

    const int rating = columnOf(MissionColumn::Rating);
    grid().ToggleColumn(grid().ColumnMenu()->actions().at(rating));
    form->ScanCatalogue(false);
    EXPECT_GE(grid().ColWidth(rating), 0);
    EXPECT_LT(grid().ColWidth(columnOf(MissionColumn::Tags)), 0);
}

// The grid menu picks a mission at random among the rows shown, the unfinished ones first.
TEST_F(Catalogue, ARandomMissionIsAnUnfinishedOneShown) {
    for (const char* name : {"A.zip", "B.zip", "C.zip"}) mission(name);
    form->ScanCatalogue(false);
    for (const char* name : {"A", "C"}) {
        Mission m = *grid().MissionAt(rowOf(name));
        MissionStore(settings()).setFinished(m, true);
        grid().SetMission(rowOf(name), m);
    }
    QAction* random = form->GridMenu->findChild<QAction*>("randommissionaction");
    ASSERT_NE(random, nullptr);
    const struct {
        const char* typed;
        std::set<std::string> picked;
    } steps[] = {{"", {"B"}}, {"-B", {"A", "C"}}, {"zzz", {}}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.typed);
        form->FilterEdit->setText(step.typed);
        std::set<std::string> picked;
        for (int i = 0; i < 20; ++i) {
            random->trigger();
            if (grid().Row() > 0) picked.insert(grid().Cell(2, grid().Row()));
        }
        EXPECT_EQ(picked, step.picked);
    }
}

// The grid menu's library commands act on every selected mission at once, and the library
// travels in a file of its own: a damaged one is refused and changes nothing.
TEST_F(Catalogue, LibraryCommandsActOnEverySelectedMission) {
    for (const char* name : {"A.zip", "B.zip", "C.zip"}) mission(name);
    form->ScanCatalogue(false);
    select(rowOf("A"));
    grid().SetRow(rowOf("A"));
    grid().selectionModel()->select(grid().model()->index(rowOf("C") - 1, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    // A sort keeps the selection on its missions: C, B, A.
    grid().SortByColumn(columnOf(MissionColumn::Name));
    grid().SortByColumn(columnOf(MissionColumn::Name));
    EXPECT_EQ(grid().SelectedRows(), (std::vector<int>{rowOf("C"), rowOf("A")}));
    EXPECT_EQ(grid().Row(), rowOf("A"));
    const auto command = [&](const char* menuName, const QString& text) {
        emit form->GridMenu->aboutToShow();
        QMenu* menu = form->GridMenu->findChild<QMenu*>(menuName);
        for (QAction* a : menu ? menu->actions() : form->GridMenu->actions())
            if (a->text() == text || a->objectName() == text) return a->trigger();
        ADD_FAILURE() << menuName << " " << text.toStdString();
    };
    prompts.lines.push_back({true, "genre:heist, misc:x"});
    command("", "addtagaction");
    command("ratemenu", RatingStarsText("8"));
    command("finishedonmenu", "Expert");
    command("removetagmenu", "misc:x");
    const struct {
        const char* name;
        int rating;
        std::vector<std::string> tags, finishedOn;
    } expected[] = {{"A", 8, {"genre:heist"}, {"Expert"}},
                    {"B", -1, {}, {}},
                    {"C", 8, {"genre:heist"}, {"Expert"}}};
    const auto check = [&] {
        for (const auto& e : expected) {
            SCOPED_TRACE(e.name);
            Mission m = *grid().MissionAt(rowOf(e.name));
            MissionStore(settings()).load(m);
            EXPECT_EQ(m.rating, e.rating);
            EXPECT_EQ(m.tags, e.tags);
            EXPECT_EQ(m.finishedOn, e.finishedOn);
            EXPECT_EQ(m.finished, !e.finishedOn.empty());
        }
    };
    check();

    const std::string file = dir.path() + "mine.tmlibrary";
    prompts.files.push_back(file);
    command("", "exportlibraryaction");
    ASSERT_TRUE(fsx::fileExists(file));
    std::string text = readFile(file);
    dir.write("cut.tmlibrary", text.substr(0, text.find("[Tallowmere library end]")));
    prompts.files.push_back(dir.path() + "cut.tmlibrary");
    const size_t shown = prompts.messages.size();
    command("", "importlibraryaction");
    ASSERT_EQ(prompts.messages.size(), shown + 1);
    EXPECT_EQ(prompts.messages.back().icon, PromptIcon::Error);
    check();
}

// The panel writes what the player changes into the mission's record: stars in halves, the
// difficulty finished on (and with it the finished box), the author, and the notes when he
// moves on to another mission.
TEST_F(Catalogue, ThePanelWritesWhatThePlayerChanges) {
    for (const char* name : {"A.zip", "B.zip"}) mission(name);
    form->ScanCatalogue(false);
    form->show();
    select(rowOf("A"));
    grid().SetRow(rowOf("A"));
    LibraryPanel& panel = *form->Library;
    QTest::mouseClick(panel.Rating, Qt::LeftButton, {}, QPoint(2 * 20 + 4, 9));  // 2.5 stars
    panel.findChild<QCheckBox*>("FinishedOnHard")->click();
    panel.AuthorEdit->setText("Dana");
    emit panel.AuthorEdit->editingFinished();
    panel.CommentEdit->setPlainText("first\nsecond");
    select(rowOf("B"));
    grid().SetRow(rowOf("B"));
    Mission a = *grid().MissionAt(rowOf("A"));
    MissionStore(settings()).load(a);
    EXPECT_EQ(a.rating, 5);
    EXPECT_EQ(a.finishedOn, std::vector<std::string>{"Hard"});
    EXPECT_TRUE(a.finished);
    EXPECT_EQ(a.author, "Dana");
    EXPECT_EQ(a.comment, "first\nsecond");
    EXPECT_FALSE(form->finished->isChecked());  // B's box
    EXPECT_EQ(panel.AuthorEdit->text(), "");
}

// The difficulties finished on stay in sight however narrow the panel: one row when it
// fits, else as many columns as fit.
TEST_F(Catalogue, EveryDifficultyBoxStaysInSight) {
    LibraryPanel panel;
    Mission m;
    m.recordKey = "Deck.zip";
    const std::vector<std::string> shock = {"Easy", "Normal", "Hard", "Impossible"};
    panel.showMission(&m, shock, {});
    panel.show();
    for (const int width : {900, 340, 270}) {
        SCOPED_TRACE(width);
        panel.resize(width, 300);
        QApplication::processEvents();
        std::set<int> rows;
        for (const std::string& name : shock) {
            const auto* box =
                panel.findChild<QCheckBox*>(QString::fromStdString("FinishedOn" + name));
            ASSERT_NE(box, nullptr);
            const QRect at(box->mapTo(panel.viewport(), QPoint(0, 0)), box->size());
            EXPECT_LE(at.right(), panel.viewport()->width()) << name;
            rows.insert(at.top());
        }
        EXPECT_EQ(rows.size() == 1, width == 900);
    }
}

// Titles in every code page show right after the first scan, .7z ones read in the background,
// and the filter finds them; a title stored as 8-bit text by an earlier version shows decoded
// too, and a second scan reads no archive for its titles.
TEST_F(Catalogue, TitlesOfEveryCodePageShowAfterTheFirstScanAndAreFound) {
    app().languageSlots[185] = "<185 %s>";
    struct Case {
        std::string archive, titlesFile, shown, typed;
    };
    std::vector<Case> cases = {
        {"Pl.zip", "title_20: \"Nocny z\xB3odziej z \xA3odzi\"", "Nocny złodziej z Łodzi",
         "ZŁODZIEJ"},
        {"Ru.zip", "title_20: \"\xD2\xE5\xED\xFC \xE2\xEE\xF0\xE0\"", "Тень вора", "тень"},
        {"Es.zip", "title_20: \"La c\xE1mara del ladr\xF3n\"", "La cámara del ladrón", "camara"},
        {"Utf.zip", "title_20: \"Tajny dom, с фасадом\"", "Tajny dom, с фасадом", "фасад"},
        {"De.zip", "title_20: \"Der Schl\x81ssel\"", "Der Schlüssel", "schlussel"},
        {"Legacy.zip", "title_20: \"unused\"", "Łódź nocą", "lodz noca"},
        {"Long.zip", "title_20: \"" + std::string(60, 'w') + " the end\"",
         std::string(60, 'w') + " the end", "the end"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(makeZip(missions + c.archive,
                            {{"miss20.mis", "SKYOBJVAR"}, {"strings/titles.str", c.titlesFile}}));
    }
    // A download cut short spoils neither the scan nor the other titles: listed, no box.
    const std::string whole = readFile(missions + "Pl.zip");
    writeFile(missions + "Broken.zip", whole.substr(0, whole.size() / 2));
    // An earlier version kept this title as the 8-bit text of the mission (Windows-1250).
    const std::string legacyKey =
        "Legacy." + std::to_string(fsx::fileSize64(missions + "Legacy.zip"));
    settings().WriteString(legacyKey, "title", "\xA3\xF3\x64\x9F noc\xB9");
    if (haveProgram("7zz")) {
        TempDir tree;
        tree.write("miss20.mis", "SKYOBJVAR");
        tree.write("strings/titles.str", "title_20: \"\xD1\xE2\xE5\xF2 \xE2 \xEE\xEA\xED\xE5\"");
        ASSERT_EQ(runCommand("cd '" + tree.path() + "' && 7zz a -bd -ms=on '" + missions +
                             "Seven.7z' . >/dev/null"),
                  0);
        cases.push_back({"Seven.7z", "", "Свет в окне", "окне"});
    }
    form->ScanCatalogue(false);
    // The titles of .7z archives come from the background a moment later.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const int row = rowOf("Seven");
        return row == 0 || !grid().Cell(1, row).empty();
    }));
    QTest::qWait(300);
    EXPECT_EQ(form->StatusBar->SimpleText(), "");
    if (rowOf("Seven") > 0) {  // sorted in by the title that came later
        EXPECT_GT(rowOf("Seven"), rowOf("Pl"));
        EXPECT_LT(rowOf("Seven"), rowOf("Ru"));
    }
    // A title read when its row is clicked takes its place too, the row still selected.
    const std::string longKey = RecordKey(grid().RowCells(rowOf("Long")));
    settings().DeleteKey(longKey, "title");
    Mission untitled = *grid().MissionAt(rowOf("Long"));
    untitled.title.clear();
    grid().SetMission(rowOf("Long"), untitled);
    grid().SortRows();
    ASSERT_LT(rowOf("Long"), rowOf("De"));
    grid().SetRow(rowOf("Long"));
    select(rowOf("Long"));
    QApplication::processEvents();
    EXPECT_GT(rowOf("Long"), rowOf("De"));
    EXPECT_EQ(grid().Row(), rowOf("Long"));
    ASSERT_GT(rowOf("Broken"), 0);
    select(rowOf("Broken"));  // says why in its panel, again without a box
    EXPECT_EQ(form->noteslabel->text().toStdString(), "<100>");
    EXPECT_TRUE(prompts.messages.empty());
    for (const Case& c : cases) {
        const std::string name = c.archive.substr(0, c.archive.find('.'));
        SCOPED_TRACE(name);
        EXPECT_EQ(grid().Cell(1, rowOf(name)), c.shown);
        form->FilterEdit->setText(QString::fromStdString(c.typed));
        std::vector<std::string> shown;
        for (int r = 1; r < grid().RowCount(); ++r)
            if (!grid().isRowHidden(r - 1)) shown.push_back(grid().Cell(2, r));
        EXPECT_EQ(shown, std::vector<std::string>{name});
    }
    form->FilterEdit->clear();
    // A heading too long for the panel ends in an ellipsis and shows whole as a tooltip.
    select(rowOf("Long"));
    EXPECT_TRUE(form->Questinfo->text().endsWith(QChar(0x2026)));
    EXPECT_TRUE(form->Questinfo->toolTip().contains("the end"));
    select(rowOf("Es"));
    EXPECT_EQ(form->Questinfo->toolTip(), "");
    // Every record holds its title now: a second scan reads them from there.
    form->ScanCatalogue(false);
    for (const Case& c : cases) {
        const int row = rowOf(c.archive.substr(0, c.archive.find('.')));
        EXPECT_NE(settings().ReadString(RecordKey(grid().RowCells(row)), "title", "_"), "_");
        EXPECT_EQ(grid().Cell(1, row), c.shown);
    }
}

// The list follows the mission directory without a restart: a download that arrives shows,
// a deleted archive goes, F5 scans at once and keeps the selected row.
TEST_F(Catalogue, NewDownloadsShowWithoutARestart) {
    mission("A.zip");
    form->show();
    QApplication::setActiveWindow(form.get());
    form->ScanCatalogue(false);
    mission("B.zip");
    EXPECT_TRUE(QTest::qWaitFor([&] { return rowOf("B") > 0; }, 8000));
    fsx::deleteFile(missions + "A.zip");
    EXPECT_TRUE(QTest::qWaitFor([&] { return rowOf("A") == 0; }, 8000));
    mission("C.zip");
    // A read-me scrolled down opens at its top again after the scan.
    std::string readme;
    for (int i = 0; i < 400; ++i) readme += "line " + std::to_string(i) + "\r\n";
    ASSERT_TRUE(makeZip(missions + "R.zip", {{"miss20.mis", "SKYOBJVAR"}, {"readme.txt", readme}}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return rowOf("R") > 0; }, 8000));
    grid().SetRow(rowOf("R"));
    select(rowOf("R"));
    QScrollBar* bar = form->questMemo->verticalScrollBar();
    bar->setValue(bar->maximum());
    ASSERT_GT(bar->value(), 0);
    QTest::keyClick(form.get(), Qt::Key_F5);
    EXPECT_GT(rowOf("C"), 0);
    EXPECT_EQ(grid().Row(), rowOf("R"));
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(prompts.messages.empty());
}

// Every column fits what it shows and the title takes the room left, so that the last column
// ends at the grid's right edge. A width the player drags is written to the settings file on
// close and, after a restart, wins over fitting.
TEST_F(Catalogue, ColumnsFitAndDraggedWidthsSurviveARestart) {
    const std::string longName(40, 'n');
    mission(longName + ".zip");
    mission("B.zip");
    struct Session {
        int windowWidth;
        int drag;       // pixels the size column's edge is dragged
        int sizeWidth;  // its width afterwards; 0: fitted
    };
    int dragged = 0;
    const Session sessions[] = {{1600, 30, 0}, {1800, 0, -1}};
    for (const Session& session : sessions) {
        SCOPED_TRACE(session.windowWidth);
        form->resize(session.windowWidth, 600);
        form->show();
        form->ScanCatalogue(false);
        QApplication::processEvents();
        TMissionGrid& g = grid();
        QHeaderView* h = g.horizontalHeader();
        QFont bold = g.font();
        bold.setBold(true);
        EXPECT_GE(g.ColWidth(2),
                  QFontMetrics(bold).horizontalAdvance(QString::fromStdString(longName)) + 5);
        EXPECT_EQ(g.ColWidth(0), QFontMetrics(g.font()).horizontalAdvance("<78>") + 20);
        if (session.sizeWidth < 0) {
            EXPECT_EQ(g.ColWidth(4), dragged);  // remembered
        }
        const int edge = h->sectionViewportPosition(4) + h->sectionSize(4) - 1;
        if (session.drag != 0) {
            const int before = g.ColWidth(4);
            const auto send = [h](QEvent::Type type, int x, Qt::MouseButtons buttons) {
                QMouseEvent e(type, QPointF(x, 5),
                              QPointF(h->viewport()->mapToGlobal(QPoint(x, 5))),
                              type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                              Qt::NoModifier);
                QApplication::sendEvent(h->viewport(), &e);
            };
            send(QEvent::MouseButtonPress, edge, Qt::LeftButton);
            send(QEvent::MouseMove, edge + session.drag, Qt::LeftButton);
            send(QEvent::MouseButtonRelease, edge + session.drag, Qt::NoButton);
            dragged = before + session.drag;
            EXPECT_EQ(g.ColWidth(4), dragged);
        }
        EXPECT_EQ(h->sectionViewportPosition(6) + h->sectionSize(6), g.viewport()->width());
        EXPECT_EQ(g.SortIndex, 1);  // the drag sorted nothing

        // A restart: the window closes, the program reads its files from the disk again.
        form->close();
        form.reset();
        EXPECT_NE(
            readFile(dir.file("Tallowmere.ini")).find("column width 5=" + std::to_string(dragged)),
            std::string::npos);
        closeAppFiles();
        openAppFiles(dir.path());
        LoadLanguageTable();
        form = std::make_unique<Tmainform>();
    }

    // A column made narrower than a cell's text: the cell shows its whole text as a tooltip,
    // a cell that fits shows none (asked first: a tooltip once shown fades out slowly).
    form->show();
    form->ScanCatalogue(false);
    QApplication::processEvents();
    grid().SetUserColWidth(2, 60);
    for (const auto& [name, tip] :
         {std::pair{std::string("B"), std::string()}, std::pair{longName, longName}}) {
        const QRect cell = grid().visualRect(grid().model()->index(rowOf(name) - 1, 2));
        QHelpEvent help(QEvent::ToolTip, cell.center(),
                        grid().viewport()->mapToGlobal(cell.center()));
        QApplication::sendEvent(grid().viewport(), &help);
        EXPECT_EQ(QToolTip::text().toStdString(), tip) << name;
    }
}

// Keyboard: typed letters go to the next row whose title (the name of a mission without one)
// begins so; Ctrl+N sorts by column N, again the other way round; the Menu key and
// Shift+F10 open the column menu with its sort submenu; the current row has a focus frame
// while the grid has the focus.
TEST_F(Catalogue, KeyboardFindsSortsAndOpensTheColumnMenu) {
    const std::pair<const char*, const char*> titled[] = {
        {"zz1.zip", "Bravo Rising"}, {"zz2.zip", "Beacon"}, {"zz3.zip", "Charlie"}};
    for (const auto& [name, title] : titled)
        ASSERT_TRUE(makeZip(missions + name, {{"miss20.mis", "SKYOBJVAR"},
                                              {"strings/titles.str",
                                               std::string("title_20: \"") + title + "\"\r\n"}}));
    ASSERT_TRUE(makeZip(missions + "NoTitle.zip", {{"miss20.mis", "SKYOBJVAR"}}));
    app().languageSlots[205] = "Sort by";
    form->show();
    QApplication::setActiveWindow(form.get());
    form->ScanCatalogue(false);
    TMissionGrid& g = grid();
    g.setFocus(Qt::OtherFocusReason);
    select(rowOf("zz3"));
    g.SetRow(rowOf("zz3"));

    const int interval = QApplication::keyboardInputInterval();
    const std::pair<std::string, std::string> typing[] = {{"br", "zz1"},
                                                          {"b", "zz2"},
                                                          {"b", "zz1"},
                                                          {"or", " Original (Thief 2)"},
                                                          {"x", " Original (Thief 2)"},
                                                          {"not", "NoTitle"}};
    for (const auto& [typed, name] : typing) {
        QApplication::setKeyboardInputInterval(0);  // a text of its own
        QTest::keyClick(&g, typed[0]);
        QApplication::setKeyboardInputInterval(60000);
        QTest::keyClicks(&g, QString::fromStdString(typed.substr(1)));
        EXPECT_EQ(g.Cell(2, g.Row()), name) << typed;
    }
    QApplication::setKeyboardInputInterval(interval);

    const struct {
        Qt::Key key;
        int sorted;
        SortDirType direction;
    } sorts[] = {{Qt::Key_5, 4, SortDirType::Ascending},
                 {Qt::Key_5, 4, SortDirType::Descending},
                 {Qt::Key_3, 2, SortDirType::Ascending}};
    for (const auto& sort : sorts) {
        QTest::keyClick(&g, sort.key, Qt::ControlModifier);
        EXPECT_EQ(g.SortIndex, sort.sorted);
        EXPECT_EQ(g.SortDirection, sort.direction);
    }
    EXPECT_EQ(g.Cell(2, 1), " Original (Thief 2)");

    for (const auto& [key, modifiers] :
         {std::pair{Qt::Key_Menu, Qt::NoModifier}, std::pair{Qt::Key_F10, Qt::ShiftModifier}}) {
        QTest::keyClick(&g, key, modifiers);
        EXPECT_TRUE(g.ColumnMenu()->isVisible()) << key;
        EXPECT_FALSE(form->GridMenu->isVisible()) << key;
        ASSERT_NE(g.SortMenu(), nullptr);
        EXPECT_EQ(g.SortMenu()->title(), "Sort by");
        EXPECT_TRUE(g.ColumnMenu()->actions().contains(g.SortMenu()->menuAction()));
        g.ColumnMenu()->hide();
    }
    ASSERT_EQ(g.SortMenu()->actions().size(), columnOf(MissionColumn::Count));
    g.SortMenu()->actions()[6]->trigger();
    EXPECT_EQ(g.SortIndex, 6);

    // The focus frame: dots of the selected text's colour along the current row's top.
    const auto frameDots = [&g] {
        const QImage img = g.grab().toImage();
        const QPoint vp = g.viewport()->mapTo(&g, QPoint(0, 0));
        const int y = g.rowViewportPosition(g.Row() - 1);
        const QRgb mark = g.palette().color(QPalette::HighlightedText).rgb();
        int dots = 0;
        for (int x = 0; x < g.viewport()->width(); ++x)
            dots += img.pixel(vp + QPoint(x, y)) == mark ? 1 : 0;
        return dots;
    };
    g.setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(g.hasFocus());
    EXPECT_GT(frameDots(), 20);
    form->FilterEdit->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(frameDots(), 0);
}

}  // namespace
