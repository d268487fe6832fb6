#include <gtest/gtest.h>

#include <QApplication>
#include <QToolButton>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/ui/MainForm.h"
#include "app/ui/Program.h"
#include "dialogs/SetupLogic.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

// Runs the start-up sequence against a temporary program directory and records what the
// later features were asked to do.
class StartUp : public ::testing::Test {
  protected:
    void SetUp() override {
        previousSetup_ = setSetupDialogHook([this] {
            ++setupRuns;
            if (confirmSetup) app().settings->WriteInteger("options", "compression level", 5);
        });
        mainFormHooks().scanCatalogue = [this](bool refreshOnly) {
            scans.push_back(refreshOnly);
            windowShownDuringScan = mainform && mainform->isVisible();
        };
        mainFormHooks().splash = [this](const std::function<void()>& whileShown) {
            ++splashes;
            whileShown();
        };
    }
    void TearDown() override {
        program.reset();
        setSetupDialogHook(previousSetup_);
        mainFormHooks() = {};
        app() = AppState{};
    }
    bool start() {
        program.emplace(dir.path());
        return program->Start();
    }
    void ini(const std::string& content) { dir.write("Tallowmere.ini", content); }

    TempDir dir;
    ScriptedPrompter prompts;
    std::optional<Program> program;
    bool confirmSetup = false;
    int setupRuns = 0;
    int splashes = 0;
    std::vector<bool> scans;
    bool windowShownDuringScan = false;

  private:
    std::function<void()> previousSetup_;
};

const char kSetUp[] = "[options]\ncompression level=5\n";

TEST_F(StartUp, LeavingTheFirstRunSetupEndsWithoutWindowOrScan) {
    EXPECT_FALSE(start());
    EXPECT_EQ(setupRuns, 1);
    EXPECT_TRUE(scans.empty());
    EXPECT_EQ(splashes, 0);
    EXPECT_FALSE(program->MainForm()->isVisible());
    // The ending closes the files again.
    program.reset();
    EXPECT_EQ(app().settings, nullptr);
    EXPECT_EQ(app().languageFile, nullptr);
}

TEST_F(StartUp, CompressionLevel9999IsAFirstRun) {
    ini("[options]\ncompression level=9999\n");
    EXPECT_FALSE(start());
    EXPECT_EQ(setupRuns, 1);
}

TEST_F(StartUp, ConfirmedFirstRunSetupGoesOnToScanAndShow) {
    confirmSetup = true;
    EXPECT_TRUE(start());
    EXPECT_EQ(setupRuns, 1);
    EXPECT_EQ(splashes, 1);
    EXPECT_EQ(scans, std::vector<bool>{false});
    EXPECT_FALSE(windowShownDuringScan);  // the scan runs behind the splash, before showing
    EXPECT_TRUE(program->MainForm()->isVisible());
}

TEST_F(StartUp, CompletedSetupSkipsTheDialog) {
    ini(kSetUp);
    EXPECT_TRUE(start());
    EXPECT_EQ(setupRuns, 0);
    EXPECT_EQ(scans, std::vector<bool>{false});
}

TEST_F(StartUp, WithoutWindowSectionStartsMaximised) {
    ini(kSetUp);
    ASSERT_TRUE(start());
    EXPECT_TRUE(program->MainForm()->windowState() & Qt::WindowMaximized);
    program->MainForm()->close();
    EXPECT_FALSE(app().settings->SectionExists("window"));
}

TEST_F(StartUp, Top9999StartsMaximisedAndIsNotSavedOnClose) {
    ini(std::string(kSetUp) + "[window]\ntop=9999\nleft=3\n");
    ASSERT_TRUE(start());
    EXPECT_TRUE(program->MainForm()->windowState() & Qt::WindowMaximized);
    program->MainForm()->close();
    EXPECT_EQ(app().settings->ReadInteger("window", "top", 0), 9999);
    EXPECT_EQ(app().settings->ReadInteger("window", "left", 0), 3);
    EXPECT_FALSE(app().settings->ValueExists("window", "height"));
}

TEST_F(StartUp, WindowSectionWithOnlyTopRestoresTheDefaults) {
    ini(std::string(kSetUp) + "[window]\ntop=100\n");
    ASSERT_TRUE(start());
    Tmainform* f = program->MainForm();
    EXPECT_FALSE(f->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(f->pos(), QPoint(0, 100));
    EXPECT_EQ(f->size(), QSize(610, 460));
}

TEST_F(StartUp, RememberedGeometryRoundTrips) {
    ini(std::string(kSetUp) + "[window]\ntop=40\nleft=30\nheight=500\nwidth=700\n");
    ASSERT_TRUE(start());
    Tmainform* f = program->MainForm();
    EXPECT_EQ(f->pos(), QPoint(30, 40));
    EXPECT_EQ(f->size(), QSize(700, 500));
    f->move(50, 60);
    f->resize(720, 510);
    QApplication::processEvents();
    f->close();
    program.reset();  // ends the program; the next run starts where this one ended
    ASSERT_TRUE(start());
    EXPECT_EQ(program->MainForm()->size(), QSize(720, 510));
    EXPECT_EQ(program->MainForm()->pos(), QPoint(50, 60));
}

TEST_F(StartUp, LanguageIsAppliedBeforeTheFirstRunSetup) {
    dir.write("Tallowmere.dat", "[languages]\n1=English\n[English]\n11=&Play\n72=Setup\n");
    std::string captionDuringSetup;
    setSetupDialogHook([&] {
        captionDuringSetup = mainform->playbutton->text().toStdString();
        app().settings->WriteInteger("options", "compression level", 5);
    });
    ASSERT_TRUE(start());
    EXPECT_EQ(captionDuringSetup, "&Play");
    EXPECT_EQ(program->MainForm()->SetupButton->text(), "Setup");
}

TEST_F(StartUp, AnErrorDuringStartIsShownAndEndsTheStart) {
    ini(kSetUp);
    mainFormHooks().scanCatalogue = [](bool) { throw std::runtime_error("scan failed"); };
    EXPECT_FALSE(start());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "scan failed");
    EXPECT_FALSE(program->MainForm()->isVisible());
}

TEST_F(StartUp, RunProgramWithoutEventLoopReturns) {
    EXPECT_EQ(RunProgram(dir.path(), false), 0);
    EXPECT_EQ(setupRuns, 1);
    EXPECT_EQ(app().settings, nullptr);
}

TEST_F(StartUp, EventLoopEndsWhenTheMainWindowCloses) {
    ini(kSetUp);
    ASSERT_TRUE(start());
    QMetaObject::invokeMethod(program->MainForm(), "close", Qt::QueuedConnection);
    EXPECT_EQ(program->Exec(), 0);
    EXPECT_FALSE(program->MainForm()->isVisible());
}

// The environment variables that tell whether a display exists, restored afterwards.
class DisplayEnvironment : public ::testing::Test {
  protected:
    const char* names[3] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    std::vector<std::optional<std::string>> saved;
    void SetUp() override {
        for (const char* n : names) {
            const char* v = std::getenv(n);
            saved.push_back(v ? std::optional<std::string>(v) : std::nullopt);
            unsetenv(n);
        }
    }
    void TearDown() override {
        for (size_t i = 0; i < 3; ++i) {
            if (saved[i]) {
                setenv(names[i], saved[i]->c_str(), 1);
            } else {
                unsetenv(names[i]);
            }
        }
    }
};

TEST_F(DisplayEnvironment, NoDisplayIsRecognisedAndExplained) {
#if defined(_WIN32) || defined(__APPLE__)
    GTEST_SKIP() << "always has a display";
#else
    EXPECT_FALSE(haveDisplay());
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    EXPECT_TRUE(haveDisplay());
    unsetenv("QT_QPA_PLATFORM");
    setenv("DISPLAY", "", 1);  // set but empty counts as none
    EXPECT_FALSE(haveDisplay());
    setenv("DISPLAY", ":5", 1);
    EXPECT_TRUE(haveDisplay());
    unsetenv("DISPLAY");

    const std::string exe = std::string(TM_TEST_BIN_DIR) + "/Tallowmere";
    if (!fsx::fileExists(exe)) GTEST_SKIP() << "program not built";
    std::string out;
    EXPECT_EQ(runCommand("'" + exe + "'", &out), 1);
    EXPECT_NE(out.find("xvfb-run -a " + exe + "\n"), std::string::npos) << out;
#endif
}

// --help and --version are answered on standard output without a display; an argument that
// is neither the program's nor Qt's (whose options take their values along) is refused on
// standard error.
TEST_F(DisplayEnvironment, CommandLineIsAnsweredWithoutDisplay) {
    const std::string exe = std::string(TM_TEST_BIN_DIR) + "/Tallowmere";
    if (!fsx::fileExists(exe)) GTEST_SKIP() << "program not built";
    const std::string version = std::string("Tallowmere ") + TM_VERSION + "\n";
    const struct {
        const char* args;
        int rc;
        std::string out, err;  // expected on each stream: the whole text, or "~" and a part
    } rows[] = {
        {"--help", 0, "~Usage: Tallowmere [OPTION]...\n", ""},
        {"-h", 0, "~  -v, --version", ""},
        {"--version", 0, version, ""},
        {"-style fusion -v", 0, version, ""},
        {"-x", 2, "", "~Tallowmere: unknown option '-x'\n"},
        {"-platform xcb stray", 2, "", "~unexpected argument 'stray'"},
    };
    auto matches = [](const std::string& text, const std::string& expected) {
        if (expected.starts_with("~")) return text.find(expected.substr(1)) != std::string::npos;
        return text == expected;
    };
    for (const auto& row : rows) {
        const std::string run = "'" + exe + "' " + row.args;
        std::string out, err;
        EXPECT_EQ(runCommand("(" + run + " 2>/dev/null)", &out), row.rc) << row.args;
        EXPECT_EQ(runCommand("(" + run + " 2>&1 >/dev/null)", &err), row.rc) << row.args;
        EXPECT_TRUE(matches(out, row.out)) << row.args << ": " << out;
        EXPECT_TRUE(matches(err, row.err)) << row.args << ": " << err;
    }
}

}  // namespace
