#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QStyle>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "app/AppState.h"
#include "app/StartUp.h"
#include "app/ui/InstallWiring.h"
#include "app/ui/MainForm.h"
#include "app/ui/ReadmeDocument.h"
#include "archive/ZipArchiver.h"
#include "catalogue/ui/MissionGrid.h"
#include "catalogue/ui/QuestGridDraw.h"
#include "dialogs/SetupLogic.h"
#include "game/ComponentProgress.h"
#include "game/Games.h"
#include "platform/FileSystem.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"
#include "support/TestSupport.h"

namespace {

// A main window on the files of a temporary program directory.
class MainForm : public ::testing::Test {
  protected:
    void SetUp() override { openAppFiles(dir.path()); }
    void TearDown() override {
        form.reset();
        mainFormHooks() = {};
        closeAppFiles();
        app() = AppState{};
    }
    Tmainform& create() {
        form = std::make_unique<Tmainform>();
        return *form;
    }
    // A language file whose slot n reads "<prefix><n>".
    void writeLanguage(const std::string& prefix) {
        std::string s = "[languages]\n1=English\n[English]\n";
        for (int n = 1; n <= 80; ++n)
            s += std::to_string(n) + "=" + prefix + std::to_string(n) + "\n";
        dir.write("Tallowmere.dat", s);
    }
    static void click(QWidget* w) {
        const QPointF at(7, w->height() / 2.0);  // on the check indicator
        QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &press);
        QApplication::sendEvent(w, &release);
    }

    TempDir dir;
    ScriptedPrompter prompts;
    std::unique_ptr<Tmainform> form;
};

TEST_F(MainForm, EveryControlExistsUnderItsName) {
    Tmainform& f = create();
    const char* names[] = {
        "CurrentBar",   "Panel1",         "QuestGrid",     "Panel3",       "Questinfo",
        "goalscheck",   "mapcheck",       "automapcheck",  "texturecheck", "soundscheck",
        "objectscheck", "creaturescheck", "gamesyscheck",  "bookscheck",   "moviescheck",
        "NotesCaption", "noteslabel",     "LanguageCombo", "OrigPanel",    "finished",
        "questMemo",    "Panel2",         "playbutton",    "dromedbutton", "installonlybutton",
        "removebutton", "SetupButton",    "AboutButton",   "ProgressBar",  "StatusBar",
        "LibraryPanel", "RatingStars",    "TagsEdit",      "AuthorEdit",   "ReleaseDateEdit",
        "CommentEdit",  "ScreenshotStrip"};
    for (const char* name : names) EXPECT_NE(f.findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(f.objectName(), "mainform");
    EXPECT_EQ(mainform, &f);
    EXPECT_EQ(f.QuestGrid->ColCount(), columnOf(MissionColumn::Count));
    EXPECT_EQ(f.QuestGrid->RowCount(), 2);
    EXPECT_TRUE(f.LanguageCombo->isHidden());
    EXPECT_TRUE(f.OrigPanel->isHidden());
    EXPECT_TRUE(f.ProgressBar->isHidden());
    EXPECT_EQ(f.ProgressBar->maximum(), 100);
    EXPECT_TRUE(f.questMemo->isReadOnly());
    EXPECT_EQ(f.minimumSize(), QSize(610, 400));
    EXPECT_EQ(f.ImageList.games.size(), games::all().size());
    for (const auto& [game, image] : f.ImageList.games)
        for (const QPixmap& shown : {image, f.ImageList.finished}) {
            EXPECT_EQ(shown.size(), QSize(16, 16));
            EXPECT_FALSE(shown.toImage().allGray());  // drawn, not blank
        }
    EXPECT_FALSE(f.playbutton->icon().isNull());
    EXPECT_EQ(f.windowTitle().toStdString(), std::string("Tallowmere v") + TM_VERSION);
    EXPECT_EQ(app().applicationTitle, std::string("Tallowmere v") + TM_VERSION);
}

TEST_F(MainForm, LayoutRuleOnResize) {
    Tmainform& f = create();
    f.show();
    f.resize(700, 500);
    QApplication::processEvents();
    ASSERT_EQ(f.size(), QSize(700, 500));
    EXPECT_EQ(f.Panel1->height(), 227);  // 500 * 5 / 11 = 227.27
    EXPECT_EQ(f.AboutButton->x(), 700 - 85 - 5);
    EXPECT_EQ(f.SetupButton->x(), 700 - 85 - 5 - 93 - 10);
    EXPECT_EQ(f.finished->y(), f.questMemo->y() - 25);
    EXPECT_EQ(f.finished->x(), 700 - 70);
    EXPECT_EQ(f.questMemo->y(), f.Panel1->geometry().bottom() + 1);
    EXPECT_EQ(f.questMemo->geometry().bottom() + 1, f.Panel2->y());
    EXPECT_EQ(f.Panel2->height(), 41);
    EXPECT_EQ(f.StatusBar->geometry().bottom(), 499);
    EXPECT_EQ(f.Panel3->width(), 337);

    f.resize(800, 470);
    QApplication::processEvents();
    EXPECT_EQ(f.Panel1->height(), 214);  // 213.64
    EXPECT_EQ(f.AboutButton->x(), 710);
    EXPECT_EQ(f.finished->x(), 730);
}

TEST_F(MainForm, Panel1HeightRoundsToNearest) {
    EXPECT_EQ(Tmainform::Panel1HeightFor(434), 197);  // 197.27
    EXPECT_EQ(Tmainform::Panel1HeightFor(435), 198);  // 197.73
    EXPECT_EQ(Tmainform::Panel1HeightFor(11), 5);
    EXPECT_EQ(Tmainform::Panel1HeightFor(0), 0);
    // Halves go to the even neighbour.
    EXPECT_EQ(roundHalfEven(5, 2), 2);
    EXPECT_EQ(roundHalfEven(7, 2), 4);
    EXPECT_EQ(roundHalfEven(1, 2), 0);
    EXPECT_EQ(roundHalfEven(-5, 2), -2);
    EXPECT_EQ(roundHalfEven(-7, 2), -4);
    EXPECT_EQ(roundHalfEven(-4, 3), -1);
}

TEST_F(MainForm, LanguageLoadsRenameTheControlsAtOnce) {
    writeLanguage("a");
    Tmainform& f = create();
    LoadLanguageTable();
    EXPECT_EQ(f.AboutButton->text(), "a6");
    EXPECT_EQ(f.AboutButton->toolTip(), "a7");
    EXPECT_EQ(f.installonlybutton->text(), "a8");
    EXPECT_EQ(f.installonlybutton->toolTip(), "a9");
    EXPECT_EQ(f.dromedbutton->text(), "&DromEd");
    EXPECT_EQ(f.dromedbutton->toolTip(), "a10");
    EXPECT_EQ(f.playbutton->text(), "a11");
    EXPECT_EQ(f.playbutton->toolTip(), "a12");
    EXPECT_EQ(f.finished->text(), "a14");
    EXPECT_EQ(f.NotesCaption->text(), "a25");
    EXPECT_EQ(f.gamesyscheck->text(), "a37");
    EXPECT_EQ(f.goalscheck->text(), "a38");
    EXPECT_EQ(f.mapcheck->text(), "a39");
    EXPECT_EQ(f.automapcheck->text(), "a40");
    EXPECT_EQ(f.texturecheck->text(), "a41");
    EXPECT_EQ(f.soundscheck->text(), "a42");
    EXPECT_EQ(f.objectscheck->text(), "a43");
    EXPECT_EQ(f.creaturescheck->text(), "a44");
    EXPECT_EQ(f.bookscheck->text(), "a45");
    EXPECT_EQ(f.moviescheck->text(), "a46");
    EXPECT_EQ(f.SetupButton->text(), "a72");
    EXPECT_EQ(f.SetupButton->toolTip(), "a67");

    writeLanguage("b");
    LoadLanguageTable();
    EXPECT_EQ(f.playbutton->text(), "b11");
    EXPECT_EQ(f.moviescheck->text(), "b46");

    // Dates, sizes and Qt's own words follow the interface's language.
    app().interfaceLanguage = "german";
    Tmainform::applyInterfaceLocale();
    EXPECT_EQ(DateCellText("46365").toStdString(), "09.12.26");
    EXPECT_EQ(SizeCellText("1310720").toStdString(), "1,25 MB");
    if (QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_de.qm")) {
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Abbrechen");
    }
    app().interfaceLanguage = "english";
    Tmainform::applyInterfaceLocale();
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");

    // Without a language file every caption is empty, the editor button's excepted.
    dir.write("Tallowmere.dat", "");
    LoadLanguageTable();
    EXPECT_EQ(f.playbutton->text(), "");
    EXPECT_EQ(f.SetupButton->toolTip(), "");
    EXPECT_EQ(f.goalscheck->text(), "");
    EXPECT_EQ(f.dromedbutton->text(), "&DromEd");
}

TEST_F(MainForm, CommandButtonsAskForTheirActions) {
    Tmainform& f = create();
    std::vector<InstallAction> runs;
    mainFormHooks().installAndLaunch = [&](InstallAction action) { runs.push_back(action); };
    f.DromedButtonClick();
    f.installonlybuttonClick();
    f.playbuttonClick();
    f.installonlybuttonClick();
    f.dromedbutton->click();  // through the button's own signal
    using A = InstallAction;
    EXPECT_EQ(runs,
              (std::vector<A>{A::Editor, A::InstallOnly, A::Play, A::InstallOnly, A::Editor}));
}

TEST_F(MainForm, OtherEventsReachTheirHooks) {
    Tmainform& f = create();
    int setups = 0, abouts = 0, finishes = 0;
    std::vector<bool> scans;
    auto previous = setSetupDialogHook([&] { ++setups; });
    mainFormHooks().aboutBox = [&] { ++abouts; };
    mainFormHooks().finishedClick = [&] { ++finishes; };
    mainFormHooks().scanCatalogue = [&](bool refresh) { scans.push_back(refresh); };
    f.SetupButton->click();
    f.AboutButton->click();
    f.finished->click();
    f.ScanCatalogue(true);
    setSetupDialogHook(previous);
    EXPECT_EQ(setups, 1);
    EXPECT_EQ(abouts, 1);
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(scans, std::vector<bool>{true});
}

TEST_F(MainForm, AnErrorEscapingAHandlerIsShownAndTheWindowGoesOn) {
    Tmainform& f = create();
    int runs = 0;
    mainFormHooks().installAndLaunch = [&](InstallAction) {
        ++runs;
        throw std::runtime_error("Unable to write to /x/Tallowmere.ini");
    };
    f.playbutton->click();
    f.playbutton->click();
    EXPECT_EQ(runs, 2);
    ASSERT_EQ(prompts.messages.size(), 2u);
    EXPECT_EQ(prompts.messages[0].text, "Unable to write to /x/Tallowmere.ini");
    EXPECT_EQ(prompts.messages[0].icon, PromptIcon::Error);
}

TEST_F(MainForm, ContentBoxesCannotBeChangedByTheUser) {
    Tmainform& f = create();
    f.show();
    f.mapcheck->setChecked(true);
    click(f.mapcheck);
    click(f.goalscheck);
    f.goalscheck->setText("Goals");  // a caption widens the area that takes clicks
    click(f.goalscheck);
    EXPECT_TRUE(f.mapcheck->isChecked());
    EXPECT_FALSE(f.goalscheck->isChecked());
    EXPECT_EQ(f.mapcheck->focusPolicy(), Qt::NoFocus);
    // The finished box is the user's to change.
    click(f.finished);
    EXPECT_TRUE(f.finished->isChecked());
}

TEST_F(MainForm, CloseDeletesEditorScriptsOfConfiguredGames) {
    const std::string g1 = dir.path() + "t1/", g2 = dir.path() + "t2/";
    dir.write("t1/tallowmere.dromed", "x");
    dir.write("t2/Tallowmere.DromEd", "x");  // found without regard to case
    dir.write("t3/tallowmere.dromed", "x");  // not a configured game
    app().thiefdata[1].gameDir = g1;
    app().thiefdata[2].gameDir = g2;
    Tmainform& f = create();
    f.show();
    f.close();
    EXPECT_FALSE(fsx::fileExists(g1 + "tallowmere.dromed"));
    EXPECT_FALSE(fsx::fileExists(g2 + "Tallowmere.DromEd"));
    EXPECT_TRUE(fsx::fileExists(dir.path() + "t3/tallowmere.dromed"));
}

TEST_F(MainForm, CloseWritesColumnsOnlyOnceTheGridHasAColumnMenu) {
    dir.write("Tallowmere.ini", "[options]\ncolumns=1010101\n");
    {
        Tmainform& f = create();
        f.show();
        f.close();
        EXPECT_EQ(app().settings->ReadString("options", "columns", "@"), "1010101");
        form.reset();
    }
    Tmainform& f = create();
    const std::string flags = missionColumnFlags("1111111");
    f.QuestGrid->ApplyColumnFlags(flags);
    ASSERT_EQ(f.QuestGrid->ColumnFlags(), flags);
    f.show();
    f.close();
    EXPECT_EQ(app().settings->ReadString("options", "columns", "@"), flags);
}

TEST_F(MainForm, CloseSavesGeometryOnlyInRememberedMode) {
    Tmainform& f = create();
    f.show();
    f.move(30, 40);
    f.resize(650, 480);
    QApplication::processEvents();
    f.close();
    EXPECT_FALSE(app().settings->SectionExists("window"));

    dir.write("Tallowmere.ini", "[window]\ntop=9999\n");
    f.show();
    f.close();
    EXPECT_EQ(readFile(dir.file("Tallowmere.ini")), "[window]\ntop=9999\n");

    dir.write("Tallowmere.ini", "[window]\ntop=1\n");
    f.show();
    f.move(30, 40);
    f.resize(650, 480);
    QApplication::processEvents();
    f.close();
    const WindowGeometry g = readWindowGeometry();
    EXPECT_EQ(g.top, f.pos().y());
    EXPECT_EQ(g.left, f.pos().x());
    EXPECT_EQ(g.height, 480);
    EXPECT_EQ(g.width, 650);
    EXPECT_EQ(app().settings->ReadSection("window"),
              (std::vector<std::string>{"top", "left", "height", "width"}));
}

TEST_F(MainForm, AFailedSettingsWriteOnCloseIsShownAndTheWindowStillCloses) {
    Tmainform& f = create();
    f.QuestGrid->ApplyColumnFlags("1111111");
    f.show();
    // The program directory is gone: the settings file cannot be written.
    runCommand("rm -rf '" + dir.path() + "'");
    f.close();
    EXPECT_FALSE(f.isVisible());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_NE(prompts.messages[0].text.find("Unable to write to"), std::string::npos);
}

TEST_F(MainForm, ArchiveComponentsAreSetUp) {
    app().exeDir = dir.path();
    Tmainform& f = create();
    using S = AddStoreSuffixEnum;
    const AddStoreExts stored = {S::assGIF, S::assPNG, S::assZ,   S::assZIP, S::assZOO, S::assARC,
                                 S::assLZH, S::assARJ, S::assTAZ, S::assTGZ, S::assLHA};
    for (TZipArchiver* z : {f.Zip.get(), f.Zip2.get()}) {
        ASSERT_NE(z, nullptr);
        EXPECT_EQ(z->AddCompLevel, 5);
        EXPECT_EQ(z->ExtrOptions,
                  (ExtrOpts{ExtrOptsEnum::ExtrDirNames, ExtrOptsEnum::ExtrOverWrite}));
        EXPECT_EQ(z->AddStoreSuffixes, stored);
        EXPECT_FALSE(z->Unattended);
        EXPECT_FALSE(z->Verbose);
        EXPECT_FALSE(z->ConfirmErase);
        EXPECT_EQ(z->DLLDirectory() + "/", dir.path());
    }
}

TEST_F(MainForm, ProgressHandlersShowFileAndBytes) {
    writeLanguage("s");
    Tmainform& f = create();
    LoadLanguageTable();
    const std::unique_ptr<ProgressSink> progress = mainFormProgress(f);
    f.ProgressBar->setValue(0);

    // Extracting a mission: the bar's end is the extraction total, not the engine's.
    auto shown =
        std::make_unique<ComponentProgress>(*f.Zip, *progress, slot(1), kExtractWordSlot, 1000);
    f.Zip->OnProgress(f.Zip.get(), progTotalSize, "", 4000);
    f.Zip->OnProgress(f.Zip.get(), progNewFile, "miss20.mis", 300);
    EXPECT_EQ(f.StatusBar->SimpleText(), "s1 s18 miss20.mis...");
    f.Zip->OnProgress(f.Zip.get(), progAdvance, "", 250);
    f.Zip->OnProgress(f.Zip.get(), progAdvance, "", 250);
    f.Zip->OnProgress(f.Zip.get(), progEndOfBatch, "ignored", 7);
    EXPECT_EQ(f.ProgressMax(), 1000);
    EXPECT_EQ(f.ProgressBar->maximum(), 1000);
    EXPECT_EQ(f.ProgressBar->value(), 500);
    EXPECT_EQ(f.StatusBar->SimpleText(), "s1 s18 miss20.mis...");
    EXPECT_TRUE(f.ProgressBar->isHidden());  // the handlers never show the bar
    EXPECT_EQ(prompts.processEventsCalls, 5);

    // Without an extraction total the engine's total counts; Zip2 uses slot 19.
    shown.reset();
    shown = std::make_unique<ComponentProgress>(*f.Zip, *progress, slot(1), kExtractWordSlot);
    f.ProgressBar->setValue(0);  // the steps reset the bar directly
    f.Zip->OnProgress(f.Zip.get(), progTotalSize, "", 4000);
    EXPECT_EQ(f.ProgressBar->maximum(), 4000);
    f.Zip->OnProgress(f.Zip.get(), progAdvance, "", 100);
    EXPECT_EQ(f.ProgressBar->value(), 100);
    shown = std::make_unique<ComponentProgress>(*f.Zip2, *progress, slot(28), kAddWordSlot);
    f.Zip2->OnProgress(f.Zip2.get(), progTotalSize, "", 5000);
    f.Zip2->OnProgress(f.Zip2.get(), progNewFile, "gamesys.dat", 1);
    EXPECT_EQ(f.ProgressBar->maximum(), 5000);
    EXPECT_EQ(f.StatusBar->SimpleText(), "s28 s19 gamesys.dat...");
}

TEST_F(MainForm, ProgressBeyondTheBarsRangeIsScaled) {
    Tmainform& f = create();
    const std::unique_ptr<ProgressSink> progress = mainFormProgress(f);
    const ComponentProgress shown(*f.Zip2, *progress, "", kAddWordSlot);
    const int64_t total = int64_t{6} << 30;  // 6 GiB
    f.Zip2->OnProgress(f.Zip2.get(), progTotalSize, "", total);
    f.Zip2->OnProgress(f.Zip2.get(), progAdvance, "", total / 2);
    EXPECT_EQ(f.ProgressPosition(), total / 2);
    EXPECT_NEAR(double(f.ProgressBar->value()) / f.ProgressBar->maximum(), 0.5, 1e-6);
    f.Zip2->OnProgress(f.Zip2.get(), progAdvance, "", total);  // past the end: stays full
    EXPECT_EQ(f.ProgressBar->value(), f.ProgressBar->maximum());
    // A total of 0 gives an empty bar, not a busy animation.
    f.ProgressBar->setValue(0);
    f.Zip2->OnProgress(f.Zip2.get(), progTotalSize, "", 0);
    EXPECT_GT(f.ProgressBar->maximum(), 0);
    EXPECT_EQ(f.ProgressBar->value(), 0);
}

// The shipped texts fit the fixed sizes of the controls that show them, in every language:
// a caption must not be cut off.
TEST_F(MainForm, ShippedCaptionsFitTheirControls) {
    dir.write("Tallowmere.dat", readFile(std::string(TM_SOURCE_DIR) + "/data/Tallowmere.dat"));
    Tmainform& f = create();
    auto textWidth = [](QWidget* w) {
        QString t = w->property("text").toString();
        t.remove(QLatin1Char('&'));
        return w->fontMetrics().horizontalAdvance(t);
    };
    for (int language = 1; language <= 4; ++language) {
        dir.write("Tallowmere.ini", "[options]\nlanguage=" + std::to_string(language) + "\n");
        LoadLanguageTable();
        for (QToolButton* b : {f.playbutton, f.dromedbutton, f.installonlybutton, f.removebutton,
                               f.SetupButton, f.AboutButton}) {
            const int room = b->width() - b->iconSize().width() - 6;  // icon, gap, margins
            EXPECT_LE(textWidth(b), room) << language << " " << b->text().toStdString();
        }
        const int box = f.finished->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                        f.finished->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
        for (QCheckBox* c :
             {f.finished, f.goalscheck, f.mapcheck, f.automapcheck, f.texturecheck, f.soundscheck,
              f.objectscheck, f.creaturescheck, f.gamesyscheck, f.bookscheck, f.moviescheck})
            EXPECT_LE(textWidth(c), c->width() - box) << language << " " << c->text().toStdString();
        EXPECT_LE(textWidth(f.NotesCaption), f.NotesCaption->width()) << language;
    }
}

// In every shipped language each command and the finished box has a key of its own, Tab
// goes from the filter to the grid and on to the read-me, Down leaves the filter for the
// grid, and the finished box takes the focus and Space.
TEST_F(MainForm, EveryControlIsReachedByKeyboardInEveryLanguage) {
    dir.write("Tallowmere.dat", readFile(std::string(TM_SOURCE_DIR) + "/data/Tallowmere.dat"));
    int finishedClicks = 0;
    mainFormHooks().finishedClick = [&] { ++finishedClicks; };
    Tmainform& f = create();
    f.show();
    QApplication::setActiveWindow(&f);
    for (int language = 1; language <= 4; ++language) {
        dir.write("Tallowmere.ini", "[options]\nlanguage=" + std::to_string(language) + "\n");
        LoadLanguageTable();
        std::vector<QKeySequence> keys;
        for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{
                 f.playbutton, f.dromedbutton, f.installonlybutton, f.removebutton, f.SetupButton,
                 f.AboutButton, f.finished}) {
            const QKeySequence key = QKeySequence::mnemonic(b->text());
            EXPECT_FALSE(key.isEmpty()) << language << " " << b->objectName().toStdString();
            EXPECT_EQ(std::count(keys.begin(), keys.end(), key), 0)
                << language << " " << b->text().toStdString();
            keys.push_back(key);
        }
    }
    struct Step {
        QWidget* from;
        int key;
        Qt::KeyboardModifiers modifiers;
        QWidget* to;
    };
    const std::vector<Step> steps = {
        {f.FilterEdit, Qt::Key_Tab, Qt::NoModifier, f.QuestGrid},
        {f.QuestGrid, Qt::Key_Tab, Qt::NoModifier, f.questMemo},
        {f.QuestGrid, Qt::Key_Backtab, Qt::ShiftModifier, f.FilterEdit},
        {f.FilterEdit, Qt::Key_Down, Qt::NoModifier, f.QuestGrid},
        {f.FilterEdit, Qt::Key_PageDown, Qt::NoModifier, f.QuestGrid},
        {f.finished, Qt::Key_Space, Qt::NoModifier, f.finished},
    };
    for (const Step& step : steps) {
        step.from->setFocus(Qt::OtherFocusReason);
        EXPECT_EQ(QApplication::focusWidget(), step.from) << step.from->objectName().toStdString();
        QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(step.key),
                        step.modifiers);
        EXPECT_EQ(QApplication::focusWidget(), step.to)
            << step.from->objectName().toStdString() << " " << step.key;
    }
    EXPECT_EQ(finishedClicks, 1);
}

// A remembered window larger than the screen, or off it, opens whole on the screen.
TEST_F(MainForm, ARestoredWindowLiesOnTheScreen) {
    Tmainform& f = create();
    const QRect room = f.screen()->availableGeometry();
    const QRect remembered[] = {
        {room.left() + 500, room.top() + 400, room.width() + 200, room.height() + 100},
        {room.right() + 300, room.bottom() + 300, 640, 480},
        {room.left() - 2000, room.top() - 50, 640, 480},
        {room.left() + 10, room.top() + 20, 640, 480},  // fits: kept as it is
    };
    for (const QRect& r : remembered) {
        writeWindowGeometry({r.top(), r.left(), r.height(), r.width()});
        f.RestoreWindowGeometry();
        const QRect shown(f.pos(), f.size());
        EXPECT_TRUE(room.contains(shown)) << r.x() << "," << r.y() << " " << r.width();
        if (room.contains(r)) {
            EXPECT_EQ(shown, r);
        }
    }
}

// Not a check: with TM_SCREENSHOT=<file.png> it saves a picture of a filled main window
// (used for the read-me).
TEST_F(MainForm, Screenshot) {
    const char* out = std::getenv("TM_SCREENSHOT");
    if (!out) GTEST_SKIP() << "TM_SCREENSHOT not set";
    dir.write("Tallowmere.dat", readFile(std::string(TM_SOURCE_DIR) + "/data/Tallowmere.dat"));
    // TM_SCREENSHOT_DARK=1: as under a dark desktop theme.
    const QPalette light = QApplication::palette();
    if (std::getenv("TM_SCREENSHOT_DARK")) {
        QPalette dark;
        const std::pair<QPalette::ColorRole, QColor> roles[] = {
            {QPalette::Window, QColor(0x2d, 0x2d, 0x2d)},
            {QPalette::WindowText, Qt::white},
            {QPalette::Base, QColor(0x1e, 0x1e, 0x1e)},
            {QPalette::AlternateBase, QColor(0x35, 0x35, 0x35)},
            {QPalette::Text, QColor(0xe0, 0xe0, 0xe0)},
            {QPalette::Button, QColor(0x3a, 0x3a, 0x3a)},
            {QPalette::ButtonText, Qt::white},
            {QPalette::Highlight, QColor(0x35, 0x84, 0xe4)},
            {QPalette::HighlightedText, Qt::white},
            {QPalette::ToolTipBase, QColor(0x35, 0x35, 0x35)},
            {QPalette::ToolTipText, Qt::white},
            {QPalette::PlaceholderText, QColor(0x9a, 0x9a, 0x9a)}};
        for (const auto& [role, colour] : roles) dark.setColor(role, colour);
        QApplication::setPalette(dark);
    }
    Tmainform& f = create();
    LoadLanguageTable();
    mainFormHooks().drawCell = [&f](TStringGridEx* g, int col, int row, const QRect& rect,
                                    QPainter& p, bool selected) {
        if (row == 0 || col != 0) return;
        p.fillRect(rect, selected ? f.palette().color(QPalette::Highlight)
                                  : f.palette().color(QPalette::Base));
        const int game = g->Cell(0, row)[0] - '0';
        if (game >= 1) p.drawPixmap(rect.left() + 2, rect.top() + 1, f.ImageList.games[game]);
        if (g->Cell(5, row) == "F")
            p.drawPixmap(rect.left() + 20, rect.top() + 1, f.ImageList.finished);
    };
    const std::vector<std::vector<std::string>> rows = {
        {"", slot(75), slot(77), slot(79), slot(76), text::withoutKeyMark(slot(14)), slot(80)},
        {"20", " Original (Thief 2)", " Original (Thief 2)", "", "", "", ""},
        {"21", "\"Ashes of Stonemarket\"", "AshesOfStonemarket", "missions/", "1749", "", ""},
        {"11", "\"Cellar of the Mechanist\"", "CellarOfTheMechanist", "missions/", "1866", "", ""},
        {"21", "\"Der graue Turm\"", "Grauturm", "missions/", "2017", "F", ""},
        {"21", "\"The Lost Courier\"", "TheLostCourier", "missions/", "1743", "F", ""},
    };
    TStringGridEx* g = f.QuestGrid;
    g->SetRowCount(static_cast<int>(rows.size()));
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < rows[r].size(); ++c)
            g->SetCell(static_cast<int>(c), static_cast<int>(r), rows[r][c]);
    g->AutoSizeColumns();
    g->ApplyColumnFlags("1110011");
    g->SetRow(5);
    f.setWindowTitle(QString::fromStdString(app().applicationTitle + "  -  5 " + slot(15)));
    f.CurrentBar->SetSimpleText(slot(16) + std::string(26, ' ') + "Thief 2: TheLostCourier.zip");
    f.Questinfo->setText("Thief 2 : \"The Lost Courier\"");
    for (QCheckBox* b : {f.goalscheck, f.texturecheck, f.soundscheck, f.objectscheck,
                         f.creaturescheck, f.mapcheck})
        b->setChecked(true);
    f.finished->setChecked(true);
    f.questMemo->setPlainText(
        "A courier carrying the Baron's seal never reached the keep.\n"
        "Find him, take the seal and leave the Old Quarter unseen.\n\n"
        "Difficulty: normal\nLength: about an hour\n");
    f.installonlybutton->setEnabled(false);
    f.dromedbutton->setEnabled(false);
    f.resize(760, 520);
    f.show();
    QApplication::processEvents();
    const bool saved = f.grab().save(QString::fromLocal8Bit(out));
    QApplication::setPalette(light);
    ASSERT_TRUE(saved);
}

}  // namespace
