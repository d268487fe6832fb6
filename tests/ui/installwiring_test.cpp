#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QEvent>
#include <QImage>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <thread>
#include <tuple>

#include "app/AppState.h"
#include "app/PlayWatch.h"
#include "app/ui/InstallWiring.h"
#include "app/ui/MainForm.h"
#include "app/ui/PlayClock.h"
#include "app/ui/Program.h"
#include "app/ui/ReadmeDocument.h"
#include "archive/ZipArchiver.h"
#include "catalogue/ui/MissionGrid.h"
#include "catalogue/ui/QuestGridDraw.h"
#include "dialogs/SetupLogic.h"
#include "dialogs/ui/Setup.h"
#include "game/InstallState.h"
#include "game/MissionFolders.h"
#include "game/MissionRecords.h"
#include "inspect/ContentAnalysis.h"
#include "inspect/InfoPanel.h"
#include "platform/Checksum.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"
#include "support/StoredSaves.h"
#include "support/TestSupport.h"

namespace {

using Members = std::vector<std::pair<std::string, std::string>>;

// Records every change of a widget's enabled state.
class EnabledLog : public QObject {
  public:
    std::vector<bool> states;
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::EnabledChange)
            states.push_back(static_cast<QWidget*>(watched)->isEnabled());
        return false;
    }
};

// Sets an environment variable for the life of the object.
struct EnvGuard {
    std::string name, saved;
    bool was;
    EnvGuard(const char* n, const std::string& value) : name(n), was(std::getenv(n) != nullptr) {
        if (was) saved = std::getenv(n);
        setenv(n, value.c_str(), 1);
    }
    ~EnvGuard() { was ? setenv(name.c_str(), saved.c_str(), 1) : unsetenv(name.c_str()); }
};

// A main window with every feature connected, on a temporary program directory holding a
// Thief 2 game directory and a mission directory.
// A Windows program (not executable here), as a game directory holds one.
std::string windowsProgram() {
    std::string pe(0x100, '\0');
    pe.replace(0, 2, "MZ");
    pe[0x3C] = char(0x80);
    pe.replace(0x80, 4, std::string("PE\0\0", 4));
    return pe;
}

// A stand-in Steam in `binDir`, recording its arguments one a line: the arguments of its
// next start, waited for and taken (empty when it was not started within five seconds).
class StandInSteam {
  public:
    StandInSteam(TempDir& dir, const std::string& binDir, const std::string& record)
        : record_(record) {
        ::chmod(dir.write(binDir + "/steam", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record +
                                                 ".new' && /bin/mv '" + record + ".new' '" +
                                                 record + "'\n")
                    .c_str(),
                0755);
    }
    std::string started() const {
        for (int i = 0; i < 250 && !fsx::fileExists(record_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::string args = readFile(record_);
        std::remove(record_.c_str());
        return args;
    }

  private:
    std::string record_;
};

class InstallWiring : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL") ||
            !fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/ZIPENG.DLL"))
            GTEST_SKIP() << "engines not built";
        std::string lang = "[languages]\n1=English\n[English]\n";
        for (int n = 1; n <= kLanguageSlotCount; ++n)
            lang += std::to_string(n) + "=<" + std::to_string(n) + ">\n";
        dir.write("Tallowmere.dat", lang);
        game = dir.path() + "Thief2/";
        missions = dir.path() + "Missions/";
        record = dir.path() + "started";
        dir.write("Thief2/install.cfg", "language english\r\n");
        const std::string exe =
            dir.write("Thief2/thief2.exe", "#!/bin/sh\necho started > '" + record + "'\n");
        ::chmod(exe.c_str(), 0755);
        dir.write("Thief2/strings/goals.str", "game's goals");
        fsx::forceDirectories(missions);
        openAppFiles(dir.path());
        app().settings->WriteString("options", "thief2dir", game);
        app().settings->WriteString("options", "compression level", "5");
        app().settings->WriteString("mission directories", missions, "1");
        InstallFeatureHooks();
        LoadLanguageTable();
        form = std::make_unique<Tmainform>();
        for (TZipArchiver* z : {form->Zip.get(), form->Zip2.get()}) {
            z->Unattended = true;
            z->SetDLLDirectory(TM_TEST_BIN_DIR);
        }
    }
    void TearDown() override {
        ArchiveChecksum() = ChecksumText;
        form.reset();
        mainFormHooks() = {};
        setSetupDialogHook({});
        closeAppFiles();
        app() = AppState{};
    }
    TMissionGrid& grid() { return *form->QuestGrid; }
    int rowOf(const std::string& col2) {
        for (int r = 1; r < grid().RowCount(); ++r)
            if (grid().Cell(2, r) == col2) return r;
        return 0;
    }
    void select(int row) {
        bool canSelect = true;
        grid().SetRow(row);
        mainFormHooks().selectCell(form->QuestGrid, 0, row, canSelect);
    }
    // A click on the row, as the player makes it.
    void clickRow(int row) {
        const QModelIndex index = grid().model()->index(row - 1, 2);
        grid().scrollTo(index);
        const QRect r = grid().visualRect(index);
        QTest::mouseClick(grid().viewport(), Qt::LeftButton, {}, r.center());
    }
    // Info-ZIP archive of `members` (name, content) encrypted with `password`.
    void makeEncryptedZip(const std::string& path, const Members& members,
                          const std::string& password) {
        TempDir tree;
        std::string names;
        for (const auto& [name, content] : members) {
            tree.write(name, content);
            names += " '" + name + "'";
        }
        ASSERT_EQ(runCommand("cd '" + tree.path() + "' && zip -q -P '" + password + "' '" + path +
                             "'" + names),
                  0);
    }
    std::string notes() const { return text::fromDisplay(form->noteslabel->text()); }
    // The analysis of archives whose name holds "Poison" fails.
    static void poisonAnalysis() {
        ArchiveChecksum() = [](const std::string& path) {
            if (path.find("Poison") != std::string::npos)
                throw std::runtime_error("analysis failed");
            return ChecksumText(path);
        };
    }

    // Scans the mission directories and selects the row of that title; false when none.
    bool scanAndSelect(const std::string& title) {
        form->ScanCatalogue(false);
        const int r = rowOf(title);
        if (r > 0) select(r);
        return r > 0;
    }

    TempDir dir;
    ScriptedPrompter prompts;
    std::string game, missions, record;
    std::unique_ptr<Tmainform> form;
};

TEST_F(InstallWiring, PlayInstallsTheSelectedMissionAndStartsTheGame) {
    const std::string path = missions + "Vault.zip";
    ASSERT_TRUE(makeZip(path, {{"miss20.mis", "SKYOBJVAR"},
                               {"strings/titles.str", "title_20: \"The Vault\"\r\n"},
                               {"strings/goals.str", "mission goals"}}));
    ASSERT_TRUE(scanAndSelect("Vault"));
    ASSERT_EQ(WindowSelectedMission().currentGame, 2);
    EXPECT_EQ(form->CurrentBar->SimpleText().find("Vault"), std::string::npos);

    EnabledLog log;
    form->installEventFilter(&log);
    form->playbutton->click();
    form->removeEventFilter(&log);

    // The mission is in place, the game's file in the backup, the marker names the archive.
    EXPECT_EQ(readFile(game + "strings/goals.str"), "mission goals");
    EXPECT_TRUE(fsx::fileExists(game + "tallowmere_backup.zip"));
    const auto marker = textfile::readLines(game + "Tallowmere.Current");
    ASSERT_GE(marker.size(), 2u);
    EXPECT_EQ(marker[0], path);
    // The window was disabled for the run and is enabled again; install-only stays off.
    EXPECT_EQ(log.states, (std::vector<bool>{false, true}));
    EXPECT_TRUE(form->isEnabled());
    EXPECT_FALSE(form->installonlybutton->isEnabled());
    // The refresh shows the installed mission in the top status line.
    EXPECT_NE(form->CurrentBar->SimpleText().find("Vault"), std::string::npos);
    EXPECT_EQ(form->StatusBar->SimpleText(), "<181>");
    EXPECT_EQ(app().thiefdata[2].installed, path);
    EXPECT_TRUE(prompts.messages.empty());
    for (int i = 0; i < 250 && !fsx::fileExists(record); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(fsx::fileExists(record));
    // The note of the start goes once the game has had time to appear.
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->StatusBar->SimpleText().empty(); },
                                kStartNoteMs + 2000));
}

// The seconds the game ran go into the mission's record once it has gone, and show in the
// mission's entry.
TEST_F(InstallWiring, PlayTimeIsTheGameRunFromStartToExit) {
    const std::string exe = dir.write("Thief2/thief2.exe", "#!/bin/sh\nsleep 3\n");
    ::chmod(exe.c_str(), 0755);
    const std::string path = missions + "Vault.zip";
    ASSERT_TRUE(makeZip(path, {{"miss20.mis", "SKYOBJVAR"}, {"strings/goals.str", "goals"}}));
    ASSERT_TRUE(scanAndSelect("Vault"));
    form->playbutton->click();
    const std::string key = "Vault." + std::to_string(fsx::fileSize(path));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return app().settings->ReadInteger(key, "play time", 0) > 0; }, 20000));
    const int seconds = app().settings->ReadInteger(key, "play time", 0);
    EXPECT_GE(seconds, 2);
    EXPECT_LE(seconds, 5);
    EXPECT_EQ(grid().MissionAt(rowOf("Vault"))->playSeconds, seconds);

    // Closing the window while the game runs: the program started as a watcher counts the
    // whole run once the game has ended, and the next start adds it; without a watcher, the
    // run until the close is counted, once.
    const std::string pending = playwatch::pendingDir(app().settings->fileName());
    for (const bool watcher : {true, false}) {
        SCOPED_TRACE(watcher);
        playWatcherProgram() = watcher ? std::string(TM_TEST_BIN_DIR) + "/Tallowmere" : "";
        const int before = app().settings->ReadInteger(key, "play time", 0);
        form->show();
        form->playbutton->click();
        QTest::qWait(1500);
        form->close();
        const int closed = app().settings->ReadInteger(key, "play time", 0);
        if (watcher) {
            EXPECT_EQ(closed, before);
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return !fsx::listDirectory(pending, "*.playtime").empty(); }, 15000));
            EXPECT_EQ(playwatch::merge(*app().settings, pending), 1);
            EXPECT_TRUE(fsx::listDirectory(pending, "*.playtime").empty());
            EXPECT_GE(app().settings->ReadInteger(key, "play time", 0), before + 2);
        } else {
            EXPECT_GE(closed, before + 1);
            QTest::qWait(2500);  // the game has gone since: nothing more is added
            EXPECT_EQ(app().settings->ReadInteger(key, "play time", 0), closed);
        }
    }
    playWatcherProgram().clear();
}

// A watcher's play time is counted once, though its file outlives the merge (the program
// stopped, or the power failed, before its removal reached the disk) at every later start.
TEST_F(InstallWiring, AWatchersPlayTimeIsCountedOnce) {
    IniFile& settings = *app().settings;
    const std::string pending = playwatch::pendingDir(settings.fileName());
    ASSERT_TRUE(fsx::forceDirectories(pending));
    for (int start = 0; start < 3; ++start) {
        std::ofstream(pending + "7-8.playtime") << "Vault.100\n60\n";
        EXPECT_EQ(playwatch::merge(settings, pending), start == 0 ? 1 : 0);
        EXPECT_EQ(settings.ReadInteger("Vault.100", "play time", 0), 60);
        EXPECT_FALSE(fsx::fileExists(pending + "7-8.playtime"));
    }
    playwatch::merge(settings, pending);  // its file gone for good: nothing more is kept
    EXPECT_TRUE(settings.ReadSection("play time merged").empty());
}

TEST_F(InstallWiring, InstallOnlyDisablesItsButtonAndStartsNothing) {
    ASSERT_TRUE(makeZip(missions + "Keep.zip", {{"miss20.mis", "SKYOBJVAR"}}));
    ASSERT_TRUE(scanAndSelect("Keep"));
    ASSERT_TRUE(form->installonlybutton->isEnabled());
    form->installonlybutton->click();
    EXPECT_FALSE(form->installonlybutton->isEnabled());
    EXPECT_TRUE(form->isEnabled());
    EXPECT_TRUE(fsx::fileExists(game + "miss20.mis"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fsx::fileExists(record));
}

// In a NewDark game directory each mission installed in its folder is marked in the grid.
// The remove command, a button and an entry of a mission row's menu, is offered for such a
// row only; it takes the folder away, its saved games kept, and the row's mark goes.
TEST_F(InstallWiring, MissionsInFoldersAreMarkedAndRemovedOneByOne) {
    dir.write("Thief2/cam_mod.ini", "; NewDark\n");
    for (const std::string name : {"Alpha", "Beta", "Gamma"})
        ASSERT_TRUE(makeZip(missions + name + ".zip", {{"miss20.mis", "SKYOBJVAR " + name}}));
    form->show();
    form->ScanCatalogue(false);
    for (const char* name : {"Alpha", "Beta"}) {
        clickRow(rowOf(name));
        form->installonlybutton->click();
        EXPECT_TRUE(grid().RowMarked(rowOf(name))) << name;
    }
    form->ScanCatalogue(false);
    // The game stays the original; the top line says how many play from their folders.
    EXPECT_NE(form->CurrentBar->SimpleText().find("<215> 2"), std::string::npos);
    QAction* remove = form->findChild<QAction*>("removeaction");
    ASSERT_NE(remove, nullptr);
    for (const auto& [name, installed] :
         {std::pair{"Alpha", true}, std::pair{"Beta", true}, std::pair{"Gamma", false}}) {
        const int row = rowOf(name);
        EXPECT_EQ(grid().RowMarked(row), installed) << name;
        // A right click selects the row, as a left click does.
        const QPoint at = grid().visualRect(grid().model()->index(row - 1, 2)).center();
        QContextMenuEvent press(QContextMenuEvent::Mouse, at, grid().viewport()->mapToGlobal(at));
        QApplication::sendEvent(grid().viewport(), &press);
        EXPECT_EQ(grid().Row(), row) << name;
        EXPECT_TRUE(form->GridMenu->isVisible()) << name;
        EXPECT_EQ(remove->isEnabled(), installed) << name;
        EXPECT_EQ(form->removebutton->isEnabled(), installed) << name;
        form->GridMenu->hide();
    }

    dir.write("Thief2/FMs/Alpha/saves/game0000.sav", "A save");
    clickRow(rowOf("Alpha"));
    form->removebutton->click();
    EXPECT_FALSE(grid().RowMarked(rowOf("Alpha")));
    EXPECT_TRUE(grid().RowMarked(rowOf("Beta")));
    EXPECT_FALSE(form->removebutton->isEnabled());
    EXPECT_FALSE(fsx::pathExists(game + "FMs/Alpha"));
    EXPECT_TRUE(fsx::directoryExists(game + "FMs/Beta"));
    EXPECT_EQ(storedSaves(game + "allsaves/Alpha_saves.zip"),
              (std::map<std::string, std::string>{{"game0000.sav", "A save"}}));
    EXPECT_EQ(form->StatusBar->SimpleText(), "<211>");  // where they are, in the status line
    EXPECT_TRUE(prompts.messages.empty());
}

// A saved game stored over another keeps the other as an older version; the row's menu
// lists it in its dialog, and the one picked comes back in a free slot of the saves archive
// while the mission is not installed.
TEST_F(InstallWiring, AnOlderSavedGameComesBackFromTheRowsMenu) {
    dir.write("Thief2/cam_mod.ini", "; NewDark\n");
    ASSERT_TRUE(makeZip(missions + "Alpha.zip", {{"miss20.mis", "SKYOBJVAR"}}));
    form->show();
    form->ScanCatalogue(false);
    for (const char* save : {"first", "second"}) {
        clickRow(rowOf("Alpha"));
        form->installonlybutton->click();
        dir.write("Thief2/FMs/Alpha/saves/game0000.sav", save);
        form->removebutton->click();
        EXPECT_TRUE(form->installonlybutton->isEnabled());  // to install it again
    }
    std::vector<std::string> listed;
    prompts.dialogs["OlderSavesDlg"] = [&](ModalDialog& d) {
        auto& dialog = dynamic_cast<QDialog&>(d);
        auto* list = dialog.findChild<QListWidget*>("oldersaveslist");
        for (int i = 0; list && i < list->count(); ++i)
            listed.push_back(list->item(i)->text().toStdString());
        return int(QDialog::Accepted);
    };
    clickRow(rowOf("Alpha"));
    form->findChild<QAction*>("oldersavesaction")->trigger();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_NE(listed[0].find("game0000.sav"), std::string::npos) << listed[0];
    const auto stored = storedSaves(game + "allsaves/Alpha_saves.zip");
    EXPECT_EQ(stored.at("game0000.sav"), "second");
    EXPECT_EQ(stored.at("game0001.sav"), "first");
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "<210>");
}

// A download that packs the whole mission in one folder is read and installed as if the
// folder were not there: its title shows, and its files land where the game looks, both
// in the game folder and in a NewDark mission folder; nothing of the packing folder stays.
TEST_F(InstallWiring, AMissionPackedInAFolderInstallsWhole) {
    if (!haveProgram("zip")) GTEST_SKIP() << "zip missing";
    TempDir tree;
    tree.write("Packed/miss20.mis", "SKYOBJVAR");
    tree.write("Packed/strings/titles.str", "title_20: \"The Packed Vault\"");
    tree.write("Packed/strings/goals.str", "packed goals");
    ASSERT_EQ(runCommand("cd '" + tree.path() + "' && zip -qr '" + missions + "Packed.zip' Packed"),
              0);
    for (const bool folders : {false, true}) {
        SCOPED_TRACE(folders ? "mission folder" : "game folder");
        if (folders) dir.write("Thief2/cam_mod.ini", "; NewDark\n");
        const std::string into = folders ? game + "FMs/Packed/" : game;
        form->ScanCatalogue(false);
        const int row = rowOf("Packed");
        ASSERT_GT(row, 0);
        select(row);
        EXPECT_NE(form->Questinfo->text().indexOf("The Packed Vault"), -1);
        form->installonlybutton->click();
        EXPECT_EQ(readFile(into + "miss20.mis"), "SKYOBJVAR");
        EXPECT_EQ(readFile(into + "strings/goals.str"), "packed goals");
        EXPECT_FALSE(fsx::pathExists(into + "Packed"));
        EXPECT_TRUE(fsx::fileExists(into + "strings/missflag.str"));
        EXPECT_TRUE(prompts.messages.empty());
    }
    form->ScanCatalogue(false);
    EXPECT_TRUE(grid().RowMarked(rowOf("Packed")));  // the folder holds its mission file
    // The game folder's install comes out whole when the original game is played.
    app().settings->WriteString("options", "thief2dir", game);
    std::remove((game + "cam_mod.ini").c_str());
    form->ScanCatalogue(false);
    select(rowOf(" Original (Thief 2)"));
    form->installonlybutton->click();
    EXPECT_FALSE(fsx::pathExists(game + "miss20.mis"));
    EXPECT_EQ(readFile(game + "strings/goals.str"), "game's goals");
}

// Escape pressed while the mission is extracted stops the install: nothing counts as
// installed, the game does not start, the window is usable again.
// The row of what the game directory holds is bold, with a triangle before its title, after
// every install and uninstall; an archive that a selection finds unreadable loses its game
// mark (its stored type goes).
TEST_F(InstallWiring, TheInstalledRowIsMarkedAndAnUnreadableArchiveLosesItsGameMark) {
    ASSERT_TRUE(makeZip(missions + "Vault.zip", {{"miss20.mis", "SKYOBJVAR"}}));
    ASSERT_TRUE(makeZip(missions + "Broken.zip", {{"miss20.mis", "SKYOBJVAR"}}));
    form->resize(900, 600);
    form->show();
    form->ScanCatalogue(false);
    const std::string original = " Original (Thief 2)";
    const auto boldRows = [this] {
        std::vector<std::string> names;
        for (int r = 1; r < grid().RowCount(); ++r)
            if (grid().RowBold(r)) names.push_back(grid().Cell(2, r));
        return names;
    };
    EXPECT_EQ(boldRows(), std::vector<std::string>{original});
    for (const std::string& installed : {std::string("Vault"), original}) {
        clickRow(rowOf(installed));
        form->installonlybutton->click();
        EXPECT_EQ(boldRows(), std::vector<std::string>{installed});
        // The triangle's left side: a line of the selected text's colour in the title cell.
        const QImage img = grid().grab().toImage();
        const QPoint vp = grid().viewport()->mapTo(&grid(), QPoint(0, 0));
        const QRect cell = grid().visualRect(grid().model()->index(rowOf(installed) - 1, 1));
        const QRgb ink = grid().palette().color(QPalette::HighlightedText).rgb();
        const int top = cell.top() + (cell.height() - 1 - 9) / 2;
        for (int y = top; y < top + 9; ++y)
            EXPECT_EQ(img.pixel(vp + QPoint(cell.left() + 3, y)), ink) << installed << " " << y;
    }

    clickRow(rowOf("Broken"));
    const std::string key = RecordKey(grid().RowCells(rowOf("Broken")));
    ASSERT_EQ(app().settings->ReadString(key, "type", ""), "2");
    EXPECT_EQ(grid().MissionAt(rowOf("Broken"))->markedGame(), 2);
    // Of the same size, it is no archive any more.
    dir.write("Missions/Broken.zip", std::string(fsx::fileSize(missions + "Broken.zip"), 'x'));
    clickRow(rowOf("Vault"));
    clickRow(rowOf("Broken"));
    EXPECT_FALSE(app().settings->ValueExists(key, "type"));
    EXPECT_EQ(grid().MissionAt(rowOf("Broken"))->markedGame(), 0);
}

TEST_F(InstallWiring, EscapeCancelsTheInstall) {
    const std::string path = missions + "Long.zip";
    ASSERT_TRUE(makeZip(path, {{"miss20.mis", "SKYOBJVAR"},
                               {"strings/goals.str", "mission goals"},
                               {"intrface/miss20/goals.str", "more goals"}}));
    ASSERT_TRUE(scanAndSelect("Long"));
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));

    // Escape once the status line shows the first member being extracted.
    QString format;
    prompts.onProcessEvents = [&] {
        if (!format.isEmpty() || form->StatusBar->SimpleText().rfind("<1> <18> ", 0) != 0) return;
        format = form->ProgressBar->format();
        QTest::keyClick(form->windowHandle(), Qt::Key_Escape);
    };
    form->playbutton->click();
    prompts.onProcessEvents = nullptr;

    EXPECT_NE(format.indexOf("<89>"), -1) << format.toStdString();
    EXPECT_EQ(form->ProgressBar->format(), "%p%");
    // Told calmly what is left; the status line no longer shows the member.
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "<180>");
    EXPECT_EQ(prompts.messages[0].icon, PromptIcon::Information);
    EXPECT_EQ(form->StatusBar->SimpleText(), "");
    const auto marker = textfile::readLines(game + "Tallowmere.Current");
    ASSERT_GE(marker.size(), 2u);
    EXPECT_EQ(marker[1], "unfinished");
    EXPECT_TRUE(form->isEnabled());
    EXPECT_FALSE(form->Zip->Cancel);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fsx::fileExists(record));
}

// A player with Thief II in a second Steam library and Thief Gold in Lutris finds the games
// in Setup, picks the Steam one and plays a mission: it goes into its own folder and Steam
// starts the game by its app id; no game file changes.
TEST_F(InstallWiring, AFoundSteamGamePlaysItsMissionThroughSteam) {
    const std::string root = std::filesystem::canonical(dir.path()).string() + "/";
    const std::string home = root + "home", steam = home + "/.local/share/Steam";
    const std::string library = root + "library", gameIn = "library/steamapps/common/Thief 2/";
    const std::string thief2 = root + gameIn;
    dir.write("home/.config/lutris/games/thief-gold.yml",
              "game:\n  exe: ~/Games/tg/drive_c/Thief Gold/thief.exe\n  prefix: ~/Games/tg\n");
    dir.write("home/Games/tg/drive_c/Thief Gold/thief.exe", "MZ");
    dir.write("home/Games/tg/drive_c/Thief Gold/install.cfg", "");
    dir.write("home/.local/share/Steam/steamapps/libraryfolders.vdf",
              "\"libraryfolders\" { \"0\" { \"path\" \"" + steam + "\" } \"1\" { \"path\" \"" +
                  library + "\" } }");
    dir.write("library/steamapps/appmanifest_211740.acf",
              "\"AppState\" { \"appid\" \"211740\" \"installdir\" \"Thief 2\" }");
    dir.write(gameIn + "thief2.exe", windowsProgram());
    dir.write(gameIn + "install.cfg", "language english\r\n");
    dir.write(gameIn + "cam_mod.ini", "; NewDark\n");
    std::map<std::string, std::string> before, after;
    snapshot(thief2, "", before);
    ASSERT_TRUE(makeZip(missions + "Vault.zip", {{"miss20.mis", "SKYOBJVAR"}}));
    // Only a stand-in Steam is on the PATH.
    const StandInSteam steamIn(dir, "bin", root + "steam-args");
    const EnvGuard homeSet("HOME", home), pathSet("PATH", root + "bin");

    std::vector<std::string> found;
    prompts.dialogs["SetupDlg"] = [&](ModalDialog& d) {
        auto& setup = dynamic_cast<TSetupDlg&>(d);
        setup.findChild<QPushButton*>("findgames")->click();
        auto* list = setup.findChild<QListWidget*>("foundgames");
        for (int i = 0; i < list->count(); ++i) {
            found.push_back(list->item(i)->text().toStdString());
            if (found.back().find("Steam") != std::string::npos) list->setCurrentRow(i);
        }
        setup.findChild<QPushButton*>("usegame")->click();
        setup.OKBtn->click();
        return setup.result();
    };
    form->show();
    form->SetupButton->click();
    const bool selected = rowOf("Vault") > 0;
    if (selected) clickRow(rowOf("Vault"));
    form->playbutton->click();
    const std::string args = steamIn.started();

    EXPECT_EQ(found.size(), 2u);
    EXPECT_NE(std::find_if(found.begin(), found.end(),
                           [](const std::string& s) {
                               return s.find("Thief 1") == 0 && s.find("Lutris") != s.npos;
                           }),
              found.end());
    EXPECT_EQ(app().settings->ReadString("options", "thief2dir", ""), thief2);
    ASSERT_TRUE(selected);
    EXPECT_EQ(missionfolders::folderNamesIn(thief2 + "FMs/"), std::vector<std::string>{"Vault"});
    EXPECT_TRUE(fsx::fileExists(thief2 + "FMs/Vault/miss20.mis"));
    EXPECT_EQ(args, "-applaunch\n211740\n-fm=Vault\n");
    snapshot(thief2, "", after, {"FMs"});
    EXPECT_EQ(after, before);
    // Steam starts its game itself: no word about the missing Wine.
    EXPECT_TRUE(prompts.messages.empty());
}

// System Shock 2 from Steam beside Thief 2, both with NewDark: Find games finds both, an SS2
// mission is marked as SS2 and goes whole into SS2's FMs folder, started through Steam by
// SS2's app id; a Thief mission still starts Thief. No game file outside FMs changes, and
// the SS2 mission's slot folders survive its removal and come back with its reinstall.
TEST_F(InstallWiring, ASystemShock2MissionPlaysBesideThiefAndKeepsItsSlotFolders) {
    const std::string root = std::filesystem::canonical(dir.path()).string() + "/";
    const std::string home = root + "home", steam = home + "/.local/share/Steam";
    const std::string common = "library/steamapps/common/";
    const std::string thief2 = root + common + "Thief 2/", shock2 = root + common + "SS2/";
    dir.write("home/.local/share/Steam/steamapps/libraryfolders.vdf",
              "\"libraryfolders\" { \"0\" { \"path\" \"" + steam + "\" } \"1\" { \"path\" \"" +
                  root + "library\" } }");
    for (const auto& [id, folder, exe] : {std::tuple{"211740", "Thief 2", "thief2.exe"},
                                          std::tuple{"238210", "SS2", "shock2.exe"}}) {
        dir.write(std::string("library/steamapps/appmanifest_") + id + ".acf",
                  std::string("\"AppState\" { \"installdir\" \"") + folder + "\" }");
        const std::string at = common + folder + "/";
        dir.write(at + exe, windowsProgram());
        dir.write(at + "install.cfg", "language english\r\n");
        dir.write(at + "cam_mod.ini", "; NewDark\n");
    }
    dir.write(common + "SS2/cam.cfg", "game shock\n");
    std::map<std::string, std::string> before, after;
    snapshot(thief2, "thief2/", before);
    snapshot(shock2, "shock2/", before);
    const Members shockMembers = {{"readme.txt", "Arboretum\n\na fan mission for System Shock 2\n"},
                                  {"snd2/logs/log1.wav", "a log"},
                                  {"shock2.gam", "game system"},
                                  {"strings/english/misc.str", "strings"},
                                  {"obj/crate.bin", "object"},
                                  {"medsci1.mis", "medsci"},
                                  {"earth.mis", "earth"}};
    ASSERT_TRUE(makeZip(missions + "Shock.zip", shockMembers));
    ASSERT_TRUE(makeZip(missions + "Vault.zip", {{"miss20.mis", "SKYOBJVAR"}}));
    const StandInSteam steamIn(dir, "bin", root + "steam-args");
    const EnvGuard homeSet("HOME", home), pathSet("PATH", root + "bin");

    std::vector<std::string> found;
    prompts.dialogs["SetupDlg"] = [&](ModalDialog& d) {
        auto& setup = dynamic_cast<TSetupDlg&>(d);
        setup.findChild<QPushButton*>("findgames")->click();
        auto* list = setup.findChild<QListWidget*>("foundgames");
        for (int i = 0; i < list->count(); ++i) {
            found.push_back(list->item(i)->text().toStdString());
            list->setCurrentRow(i);
            setup.findChild<QPushButton*>("usegame")->click();
        }
        setup.OKBtn->click();
        return setup.result();
    };
    form->show();
    form->SetupButton->click();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(app().settings->ReadString("options", "thief2dir", ""), thief2);
    EXPECT_EQ(app().settings->ReadString("options", "shock2dir", ""), shock2);

    ASSERT_GT(rowOf("Shock"), 0);
    EXPECT_EQ(grid().MissionAt(rowOf("Shock"))->markedGame(), 3);  // marked before selected
    clickRow(rowOf("Shock"));
    // Titled by its read-me, already as the scan listed it; its panel in its own terms.
    EXPECT_EQ(grid().MissionAt(rowOf("Shock"))->title, "Arboretum");
    EXPECT_EQ(form->Questinfo->text(), "System Shock 2 : \"Arboretum\"");
    EXPECT_EQ(form->bookscheck->text(), text::display(slot(294)));
    EXPECT_TRUE(form->bookscheck->isChecked());
    EXPECT_NE(form->findChild<QCheckBox*>("FinishedOnImpossible"), nullptr);  // SS2's library
    EXPECT_EQ(form->dromedbutton->text(), "&ShockEd");
    form->playbutton->click();
    EXPECT_EQ(steamIn.started(), "-applaunch\n238210\n-fm=Shock\n");
    std::map<std::string, std::string> installed, members;
    snapshot(shock2 + "FMs/Shock/", "", installed);
    for (const auto& [name, content] : shockMembers) members[name] = content;
    EXPECT_EQ(installed, members);  // every member, and no flags file

    clickRow(rowOf("Vault"));
    EXPECT_EQ(grid().MissionAt(rowOf("Vault"))->markedGame(), 2);
    EXPECT_NE(form->findChild<QCheckBox*>("FinishedOnExpert"), nullptr);
    EXPECT_EQ(form->dromedbutton->text(), "&DromEd");
    EXPECT_EQ(form->bookscheck->text(), text::display(slot(45)));
    form->playbutton->click();
    EXPECT_EQ(steamIn.started(), "-applaunch\n211740\n-fm=Vault\n");
    snapshot(thief2, "thief2/", after, {"thief2/FMs"});
    snapshot(shock2, "shock2/", after, {"shock2/FMs"});
    EXPECT_EQ(after, before);

    // The game's slot folders, and the game under way, go with the folder and come back.
    for (const auto& [name, content] :
         {std::pair{"save_0/earth.mis", "slot 0 earth"}, std::pair{"save_0/game.sav", "slot 0"},
          std::pair{"save_3/medsci1.mis", "slot 3"}, std::pair{"current/earth.mis", "now"}})
        dir.write(common + "SS2/FMs/Shock/" + name, content);
    std::map<std::string, std::string> played;
    snapshot(shock2 + "FMs/Shock/", "", played);
    clickRow(rowOf("Shock"));
    form->removebutton->click();
    EXPECT_FALSE(fsx::pathExists(shock2 + "FMs/Shock"));
    form->installonlybutton->click();
    std::map<std::string, std::string> reinstalled;
    snapshot(shock2 + "FMs/Shock/", "", reinstalled);
    EXPECT_EQ(reinstalled, played);
    EXPECT_TRUE(prompts.messages.empty());
}

}  // namespace

// Run by bench/wine_play_check.sh, which builds a Windows stand-in game and prepares a Wine
// prefix: Play starts the game through Wine in the prefix that holds its directory.
TEST_F(InstallWiring, PlayStartsAWindowsGameInTheWinePrefixHoldingIt) {
    const char* prefix = std::getenv("TM_WINE_PREFIX");
    const char* standIn = std::getenv("TM_WINE_STANDIN");
    if (!prefix || !standIn) GTEST_SKIP() << "run by bench/wine_play_check.sh";
    const std::string thief2 =
        std::string(prefix) + "/drive_c/Games/" + dir.path().substr(dir.path().size() - 7, 6) + "/";
    ASSERT_TRUE(fsx::forceDirectories(thief2));
    ASSERT_TRUE(fsx::copyFile(standIn, thief2 + "thief2.exe"));
    dir.write("library/steamapps/common/Thief 2/" + std::string("install.cfg"),
              "language english\r\n");
    app().settings->WriteString("options", "thief2dir", thief2);
    ASSERT_TRUE(makeZip(missions + "Wine.zip", {{"miss20.mis", "SKYOBJVAR"}}));
    setenv("WINEPREFIX", "/nonexistent", 1);  // the game's own prefix wins
    form->ScanCatalogue(false);
    select(rowOf("Wine"));
    form->playbutton->click();
    unsetenv("WINEPREFIX");

    EXPECT_TRUE(prompts.messages.empty());
    const std::string started = thief2 + "started.txt";
    for (int i = 0; i < 1200 && readFile(started).find('\n') == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(readFile(started), std::string(prefix) + "\n");
    EXPECT_TRUE(fsx::fileExists(thief2 + "miss20.mis"));
    runCommand("rm -rf '" + thief2 + "'");
}

// Escape pressed while a dialog is open during the install closes the dialog; the install
// goes on to its end.
TEST_F(InstallWiring, EscapeInADialogOpenDuringTheInstallClosesTheDialog) {
    ASSERT_TRUE(makeZip(missions + "Long.zip",
                        {{"miss20.mis", "SKYOBJVAR"}, {"strings/goals.str", "mission goals"}}));
    ASSERT_TRUE(scanAndSelect("Long"));
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    constexpr int kStillOpen = 5;
    int result = -1;
    prompts.onProcessEvents = [&] {
        if (result != -1 || form->StatusBar->SimpleText().rfind("<1> <18> ", 0) != 0) return;
        QDialog dialog(form.get());
        dialog.setModal(true);
        QTimer::singleShot(0, &dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); });
        QTimer::singleShot(2000, &dialog, [&] { dialog.done(kStillOpen); });
        result = dialog.exec();
    };
    form->playbutton->click();
    prompts.onProcessEvents = nullptr;
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(readFile(game + "strings/goals.str"), "mission goals");
    EXPECT_TRUE(prompts.messages.empty());
}

// An analysis that fails leaves the clicked row selected as a whole: the panel says why,
// no game is current and nothing is installed from it; the next row selects normally.
TEST_F(InstallWiring, AFailedAnalysisSelectsTheRowAndStartsNothing) {
    const Members mission = {{"miss20.mis", "SKYOBJVAR"}, {"strings/goals.str", "mission goals"}};
    ASSERT_TRUE(makeZip(missions + "Vault.zip", mission));
    ASSERT_TRUE(makeZip(missions + "Poison.zip", mission));
    form->show();
    form->ScanCatalogue(false);
    // The installed-archive test of Poison (named installed, of another size) fails.
    app().thiefdata[2].installed = missions + "Poison.zip";
    app().thiefdata[2].installedCheck = "1";
    poisonAnalysis();

    clickRow(rowOf("Vault"));
    ASSERT_TRUE(form->playbutton->isEnabled());
    clickRow(rowOf("Poison"));
    EXPECT_EQ(grid().Row(), rowOf("Poison"));
    EXPECT_EQ(WindowSelectedMission().archivePath, missions + "Poison.zip");
    EXPECT_EQ(form->Zip->ZipFileName(), missions + "Poison.zip");
    EXPECT_EQ(WindowSelectedMission().currentGame, 0);
    EXPECT_NE(notes().find("analysis failed"), std::string::npos);
    for (QToolButton* b : {form->playbutton, form->dromedbutton, form->installonlybutton})
        EXPECT_FALSE(b->isEnabled());
    EXPECT_TRUE(prompts.messages.empty());
    mainFormHooks().installAndLaunch(InstallAction::Play);  // as if Play were pressed all the same
    EXPECT_FALSE(fsx::fileExists(game + "Tallowmere.Current"));
    EXPECT_EQ(readFile(game + "strings/goals.str"), "game's goals");

    clickRow(rowOf("Vault"));
    EXPECT_EQ(WindowSelectedMission().currentGame, 2);
    EXPECT_TRUE(form->playbutton->isEnabled());
}

// A mission with texts only in other languages than the game's offers them in a box that
// covers neither the notes asking for a language nor any other control, in the smallest window.
TEST_F(InstallWiring, TheOfferedLanguagesCoverNothingOfThePanel) {
    ASSERT_TRUE(makeZip(missions + "Babel.zip", {{"miss20.mis", "SKYOBJVAR"},
                                                 {"intrface/french/goals.str", "objectifs"},
                                                 {"intrface/german/goals.str", "Ziele"}}));
    form->resize(form->minimumSize());
    form->show();
    form->ScanCatalogue(false);
    clickRow(rowOf("Babel"));
    QComboBox* box = form->LanguageCombo;
    ASSERT_TRUE(box->isVisible());
    EXPECT_EQ(box->count(), 2);
    EXPECT_NE(notes().find("<30>"), std::string::npos);
    EXPECT_TRUE(form->Panel3->rect().contains(box->geometry()));
    for (QWidget* w : form->Panel3->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w == box || !w->isVisible()) continue;
        EXPECT_FALSE(w->geometry().intersects(box->geometry())) << w->objectName().toStdString();
    }
    // The finished box lies over the panel's lower corner.
    const QRect onWindow(box->mapTo(form.get(), QPoint(0, 0)), box->size());
    EXPECT_FALSE(onWindow.intersects(form->finished->geometry()));
}

// The remembered row whose analysis fails neither ends the start nor keeps an unfinished
// operation from being recovered.
TEST_F(InstallWiring, AFailingRememberedRowNeitherEndsTheStartNorStopsRecovery) {
    ASSERT_TRUE(makeZip(missions + "Poison.zip", {{"miss20.mis", "SKYOBJVAR"}}));
    const std::string thief1 = dir.path() + "Thief1/";
    dir.write("Thief1/install.cfg", "language english\r\n");
    dir.write("Thief1/Tallowmere.Current", missions + "Other.zip\nunfinished\n");
    dir.write("Thief2/Tallowmere.Current", missions + "Poison.zip\n1\n");
    app().settings->WriteString("options", "thief1dir", thief1);
    app().settings->WriteString("options", "last selection", "Poison");
    for (const char* engine : {"UNZENG.DLL", "ZIPENG.DLL"})
        std::filesystem::create_symlink(std::string(TM_TEST_BIN_DIR) + "/" + engine,
                                        dir.path() + engine);
    poisonAnalysis();
    form.reset();
    closeAppFiles();

    Program program(dir.path());
    ASSERT_TRUE(program.Start());
    Tmainform& f = *program.MainForm();
    EXPECT_TRUE(f.isVisible());
    EXPECT_FALSE(InterruptedOperation(thief1));
    EXPECT_EQ(f.QuestGrid->Cell(2, f.QuestGrid->Row()), "Poison");
    EXPECT_NE(text::fromDisplay(f.noteslabel->text()).find("analysis failed"), std::string::npos);
    EXPECT_FALSE(f.playbutton->isEnabled());
}

// An encrypted mission asks for nothing when selected, shows no game and starts nothing;
// the password button asks once per press (cancel and a wrong password change nothing),
// and with the right password it is a Thief 2 mission that Play installs without a prompt.
TEST_F(InstallWiring, AnEncryptedMissionAsksForItsPasswordOnlyOnPurpose) {
    makeEncryptedZip(missions + "Locked.zip",
                     {{"miss20.mis", "SKYOBJVAR"}, {"strings/goals.str", "mission goals"}},
                     "secret");
    form->show();
    form->ScanCatalogue(false);
    const int row = rowOf("Locked");
    clickRow(row);
    EXPECT_TRUE(prompts.passwordPrompts.empty());
    EXPECT_EQ(grid().MissionAt(row)->markedGame(), 0);
    EXPECT_EQ(WindowSelectedMission().currentGame, 0);

    struct Press {
        bool confirmed;
        std::string password;
        bool opens;
    };
    for (const Press& press :
         {Press{false, "", false}, Press{true, "wrong", false}, Press{true, "secret", true}}) {
        SCOPED_TRACE(press.password);
        EXPECT_FALSE(form->PasswordButton->isHidden());
        EXPECT_FALSE(form->playbutton->isEnabled());
        prompts.passwords = {{press.confirmed, press.password}};
        form->PasswordButton->click();
        EXPECT_EQ(form->playbutton->isEnabled(), press.opens);
    }
    EXPECT_EQ(prompts.passwordPrompts.size(), 3u);
    EXPECT_TRUE(form->PasswordButton->isHidden());
    EXPECT_EQ(WindowSelectedMission().currentGame, 2);
    EXPECT_EQ(grid().MissionAt(row)->markedGame(), 2);

    form->playbutton->click();
    EXPECT_EQ(readFile(game + "strings/goals.str"), "mission goals");
    EXPECT_EQ(prompts.passwordPrompts.size(), 3u);
}

// Nothing an HTML read-me names is loaded: each read-me shows at once, whatever it points
// at (a pipe nobody writes, an endless device).
TEST_F(InstallWiring, AReadmeLoadsNothingItNames) {
    const std::string fifo = dir.path() + "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string targets[] = {fifo, "/dev/zero"};
    const std::string forms[] = {
        R"(<head><link rel="stylesheet" href="%"></head><body><p>Hello</p>)",
        R"(<head><style>p { background-image: url(%) }</style></head><body><p>Hello</p>)",
        R"(<head><style>@\69mport "%";</style></head><body><p>Hello</p>)",
        R"(<body background="%"><p>Hello</p>)",
        R"(<body><img src="%"><p>Hello</p>)",
        R"(<body><img src="file://%"><p>Hello</p>)",
    };
    int n = 0;
    for (const std::string& target : targets) {
        for (std::string markup : forms) {
            markup.replace(markup.find('%'), 1, target);
            ASSERT_TRUE(makeZip(missions + "Html" + std::to_string(++n) + ".zip",
                                {{"miss20.mis", "SKYOBJVAR"},
                                 {"readme.html", "<html>" + markup + "</body></html>"}}));
        }
    }
    // A pipe that is opened after all is released after a while, so that the test ends.
    std::thread release([&fifo] {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    });
    form->show();
    form->ScanCatalogue(false);
    for (int i = 1; i <= n; ++i) {
        SCOPED_TRACE(i);
        const auto start = std::chrono::steady_clock::now();
        clickRow(rowOf("Html" + std::to_string(i)));
        form->questMemo->viewport()->grab();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        EXPECT_LT(ms.count(), 2000);
        EXPECT_NE(form->questMemo->toPlainText().indexOf("Hello"), -1);
        EXPECT_NE(dynamic_cast<ReadmeDocument*>(form->questMemo->document()), nullptr);
    }
    // Writing to the pipe still finds no reader: nobody opened it.
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    EXPECT_EQ(fd, -1);
    if (fd >= 0) ::close(fd);
    release.join();
}
