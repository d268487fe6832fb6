// The table of games, and a throwaway further game added to it: it appears in the setup
// dialog, the mission list (its own row, its missions) and the filter's idea of a game row.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include "app/AppState.h"
#include "app/ui/MainForm.h"
#include "app/ui/Program.h"
#include "archive/ZipArchiver.h"
#include "catalogue/RowFilter.h"
#include "catalogue/ui/MissionGrid.h"
#include "dialogs/ui/Hintctrl.h"
#include "dialogs/ui/Setup.h"
#include "game/Games.h"
#include "game/TypeDetection.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "state/LanguageTable.h"
#include "support/TestSupport.h"

namespace {

TEST(Games, EachGameIsFoundByItsFacts) {
    TempDir dir;
    for (const games::Game& game : games::all()) {
        SCOPED_TRACE(game.name);
        EXPECT_EQ(games::find(game.number), &game);
        EXPECT_EQ(missionOfGame(game.number).markedGame(), game.number);
        const std::string gameDir = dir.path() + game.dirSetting + "/";
        dir.write(game.dirSetting + "/" + game.program, "");
        EXPECT_EQ(games::withProgramIn(gameDir), &game);
        EXPECT_TRUE(games::isEditor(game.editorStart));
        // A game known by its members, else by its marker.
        const int marked = !game.gamesysName.empty()
                               ? GameByMembers({"x/" + game.gamesysName, "x/new.mis"})
                               : games::byMarker([&](const std::string& marker) {
                                     return marker == game.missionMarker;
                                 });
        EXPECT_EQ(marked, game.number);
    }
    EXPECT_EQ(games::originalRowText(2), " Original (Thief 2)");
    EXPECT_EQ(games::find(0), nullptr);
}

TEST(Games, AThirdGameShowsInTheSetupTheListAndTheFilter) {
    std::vector<games::Game> table = games::all();
    games::Game third = *games::find(2);
    third.number = 4;
    third.name = "Thief 4";
    third.program = "thief4.exe";
    third.dirSetting = "thief4dir";
    third.missionMarker = "THIRDMARK";
    third.labelName = "Label9";
    third.browseName = "Button9";
    table.push_back(third);
    const games::ScopedTable scoped(table);

    TempDir dir;
    ScriptedPrompter prompts;
    Prompter* previous = setPrompter(&prompts);
    dir.write("Thief4/thief4.exe", "");
    dir.write("Thief4/install.cfg", "language english\r\n");
    fsx::forceDirectories(dir.path() + "Missions");
    ASSERT_TRUE(makeZip(dir.path() + "Missions/Third.zip", {{"miss20.mis", "THIRDMARK"}}));
    openAppFiles(dir.path());
    app().settings->WriteString("options", "thief4dir", dir.path() + "Thief4/");
    app().settings->WriteString("options", "compression level", "5");
    app().settings->WriteString("mission directories", dir.path() + "Missions/", "1");
    InstallFeatureHooks();
    LoadLanguageTable();
    {
        Tmainform form;
        for (TZipArchiver* z : {form.Zip.get(), form.Zip2.get()})
            z->SetDLLDirectory(TM_TEST_BIN_DIR);
        form.ScanCatalogue(false);
        TMissionGrid& grid = *form.QuestGrid;
        int own = 0, mission = 0;
        for (int r = 1; r < grid.RowCount(); ++r) {
            if (grid.Cell(2, r) == " Original (Thief 4)") own = r;
            if (grid.Cell(2, r) == "Third") mission = r;
        }
        ASSERT_GT(own, 0);
        EXPECT_EQ(grid.Cell(0, own), "40");
        EXPECT_TRUE(grid.MissionAt(own)->gameRow);
        ASSERT_GT(mission, 0);
        bool canSelect = true;
        mainFormHooks().selectCell(form.QuestGrid, 0, mission, canSelect);
        EXPECT_EQ(grid.Cell(0, mission)[0], '4');
        EXPECT_NE(form.Questinfo->text().indexOf("Thief 4"), -1);

        prompts.dialogs["SetupDlg"] = [&](ModalDialog& d) {
            auto& setup = dynamic_cast<TSetupDlg&>(d);
            EXPECT_EQ(setup.game(4).dir->objectName(), "t4dir");
            EXPECT_EQ(setup.game(4).dir->text().toStdString(), dir.path() + "Thief4/");
            EXPECT_EQ(setup.game(4).label->text(), "Thief &4");
            return 0;
        };
        form.SetupButton->click();
        EXPECT_EQ(prompts.dialogsRun.size(), 1u);
    }
    mainFormHooks() = {};
    closeAppFiles();
    app() = AppState{};
    setPrompter(previous);
}

}  // namespace
