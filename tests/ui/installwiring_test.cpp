#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QEvent>
#include <QProgressBar>
#include <QTest>
#include <QToolButton>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/ui/MainForm.h"
#include "app/ui/Program.h"
#include "archive/ZipArchiver.h"
#include "catalogue/ui/StringGridEx.h"
#include "dialogs/SetupLogic.h"
#include "inspect/InfoPanel.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "state/AppState.h"
#include "state/LanguageTable.h"
#include "support/TestSupport.h"

namespace {

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

// A main window with every feature connected, on a temporary program directory holding a
// Thief 2 game directory and a mission directory.
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
        form.reset();
        mainFormHooks() = {};
        setSetupDialogHook({});
        closeAppFiles();
        app() = AppState{};
    }
    TStringGridEx& grid() { return *form->QuestGrid; }
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
    ASSERT_EQ(selectedMission().currentGame, 2);
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
    EXPECT_EQ(app().thiefdata[2].installed, path);
    EXPECT_TRUE(prompts.messages.empty());
    for (int i = 0; i < 250 && !fsx::fileExists(record); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(fsx::fileExists(record));
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

// Escape pressed while the mission is extracted stops the install: nothing counts as
// installed, the game does not start, the window is usable again.
TEST_F(InstallWiring, EscapeCancelsTheInstall) {
    const std::string path = missions + "Long.zip";
    ASSERT_TRUE(makeZip(path, {{"miss20.mis", "SKYOBJVAR"},
                               {"strings/goals.str", "mission goals"},
                               {"intrface/miss20/goals.str", "more goals"}}));
    ASSERT_TRUE(scanAndSelect("Long"));
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));

    QString format;
    const TProgressEvent window = form->Zip->OnProgress;
    form->Zip->OnProgress = [&](TZipArchiver* z, ProgressType type, const std::string& name,
                                int64_t size) {
        window(z, type, name, size);
        if (type != progNewFile || !format.isEmpty()) return;
        format = form->ProgressBar->format();
        QTest::keyClick(form->windowHandle(), Qt::Key_Escape);
    };
    form->playbutton->click();
    form->Zip->OnProgress = window;

    EXPECT_NE(format.indexOf("<89>"), -1) << format.toStdString();
    EXPECT_EQ(form->ProgressBar->format(), "%p%");
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_NE(prompts.messages[0].text.find("<107>"), std::string::npos)
        << prompts.messages[0].text;
    const auto marker = textfile::readLines(game + "Tallowmere.Current");
    ASSERT_GE(marker.size(), 2u);
    EXPECT_EQ(marker[1], "unfinished");
    EXPECT_TRUE(form->isEnabled());
    EXPECT_FALSE(form->Zip->Cancel);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fsx::fileExists(record));
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
    writeFile(thief2 + "install.cfg", "language english\r\n");
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
