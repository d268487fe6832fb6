#include <gtest/gtest.h>

#include "app/AppState.h"
#include "game/GameState.h"
#include "platform/IniFile.h"
#include "support/TestSupport.h"

namespace {

struct GameStateTest : ::testing::Test {
    TempDir dir;
    ScriptedPrompter prompts;
    GameRecord game;
    void SetUp() override {
        game.gameDir = dir.path();
        for (int n = 1; n <= 80; ++n) app().languageSlots[static_cast<size_t>(n)].clear();
        app().languageSlots[16] = "Installed:";
    }
};

TEST_F(GameStateTest, LanguageLinesLastOneWinsAndUnknownCountsAsEnglish) {
    dir.write("install.cfg", "cd_path d:\\\r\nlanguage french\r\nresname_base x\r\n");
    ReadGameLanguage(game);
    EXPECT_EQ(game.language, 3);
    EXPECT_TRUE(prompts.messages.empty());

    dir.write("install.cfg", "language english\nlanguage German\n");
    ReadGameLanguage(game);
    EXPECT_EQ(game.language, 1);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text,
              "Your language \"German\" is unknown to Tallowmere yet. Please send a copy of "
              "your install.cfg to " +
                  std::string(kContactAddress) + " for future implementation.");
}

TEST_F(GameStateTest, LanguageValueIsTrimmedAndLinesWithoutItChangeNothing) {
    dir.write("install.cfg", "language   spanish \t\r\n");
    ReadGameLanguage(game);
    EXPECT_EQ(game.language, 4);
    dir.write("install.cfg", "resname_base x\n");
    ReadGameLanguage(game);
    EXPECT_EQ(game.language, 4);
    // "Language" with a capital letter is not a language line.
    dir.write("install.cfg", "Language german\n");
    ReadGameLanguage(game);
    EXPECT_EQ(game.language, 4);
}

TEST_F(GameStateTest, InstalledStateFromMarker) {
    ReadInstalledState(game);
    EXPECT_EQ(game.installed, " Original");
    EXPECT_EQ(game.installedCheck, "$00000000");

    dir.write("Tallowmere.Current", "/missions/calendra.zip\r\n12345\r\n/games/t2/miss20.mis\r\n");
    ReadInstalledState(game);
    EXPECT_EQ(game.installed, "/missions/calendra.zip");
    EXPECT_EQ(game.installedCheck, "12345");
    EXPECT_EQ(CurrentBarPart(2, game, app().settings.get()),
              std::string(26, ' ') + "Thief 2: calendra.zip");
    // By its title once its record holds one.
    app().settings = std::make_unique<IniFile>(dir.file("Tallowmere.ini"));
    app().settings->WriteString("calendra.12345", "title", "Calendra's Cradle");
    EXPECT_EQ(CurrentBarPart(2, game, app().settings.get()),
              std::string(26, ' ') + "Thief 2: Calendra's Cradle");
    app().settings.reset();
    // Half installed: marked as such.
    app().languageSlots[90] = "(incomplete)";
    dir.write("Tallowmere.Current", "/missions/calendra.zip\r\nunfinished\r\n");
    ReadInstalledState(game);
    EXPECT_EQ(CurrentBarPart(2, game, app().settings.get()),
              std::string(26, ' ') + "Thief 2: calendra.zip (incomplete)");

    // An empty marker: nothing after "Thief 1: ".
    dir.write("Tallowmere.Current", "");
    ReadInstalledState(game);
    EXPECT_EQ(game.installed, "");
    EXPECT_EQ(game.installedCheck, "");
    EXPECT_EQ(CurrentBarPart(1, game, app().settings.get()), std::string(26, ' ') + "Thief 1: ");
}

TEST_F(GameStateTest, MarkerFoundWithoutRegardToCase) {
    dir.write("tallowmere.current", " Original\r\n-1\r\n");
    ReadInstalledState(game);
    EXPECT_EQ(game.installed, " Original");
    EXPECT_EQ(game.installedCheck, "-1");
}

TEST_F(GameStateTest, StatusLineHoldsOnlyConfiguredGames) {
    app().thiefdata[1] = GameRecord{};
    app().thiefdata[2] = GameRecord{};
    app().thiefdata[2].gameDir = dir.path();
    EXPECT_EQ(RefreshInstalledState(app().settings.get(), app().thiefdata),
              "Installed:" + std::string(26, ' ') + "Thief 2:  Original");
}

}  // namespace
