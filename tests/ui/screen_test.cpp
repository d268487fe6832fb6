// The windows on the screen the test runs on. ctest runs this program three times: on the
// offscreen platform's own screen, and on a 1600 x 1000 screen at 1.5 and at twice the
// scale (tests/data/screen-*.json), where the screen is 1067 x 667 and 800 x 500 units.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <memory>
#include <string>

#include "app/AppState.h"
#include "app/ui/MainForm.h"
#include "app/ui/Program.h"
#include "catalogue/ui/MissionGrid.h"
#include "dialogs/ui/Setup.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/ui/Tooltips.h"
#include "state/LanguageTable.h"
#include "support/TestSupport.h"

namespace {

class Screen : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL"))
            GTEST_SKIP() << "extraction engine not built";
        fsx::copyFile(std::string(TM_SOURCE_DIR) + "/data/Tallowmere.dat",
                      dir.file("Tallowmere.dat"));
        // A mission directory as players keep them: deep, with long titles.
        missions = dir.path() + "home/player/Games/Thief/Fan missions/downloaded in 2026/";
        fsx::forceDirectories(missions);
        const char* titles[] = {"Baffords Rache: Die Rückkehr des Meisterdiebs",
                                "The Lost City of the Builders", "Calendra's Cistern"};
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(makeZip(
                missions + "mission" + std::to_string(i) + ".zip",
                {{"miss20.mis", "SKYOBJVAR"},
                 {"strings/titles.str", std::string("title_20: \"") + titles[i] + "\"\r\n"}}));
        dir.write("Thief2/thief2.exe", "stand-in");
        openAppFiles(dir.path());
        app().settings->WriteString("options", "thief2dir", dir.path() + "Thief2/");
        app().settings->WriteString("mission directories", missions, "1");
        InstallFeatureHooks();
        LoadLanguageTable();
        previous_ = setPrompter(&prompts);
    }
    void TearDown() override {
        setPrompter(previous_);
        form.reset();
        mainFormHooks() = {};
        closeAppFiles();
        app() = AppState{};
    }
    // The main window as the program opens it: maximised, the catalogue read.
    void open() {
        form = std::make_unique<Tmainform>();
        form->showMaximized();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        form->ScanCatalogue(false);
        QApplication::processEvents();
    }
    void restart() {
        form->close();
        form.reset();
        closeAppFiles();
        openAppFiles(dir.path());
        LoadLanguageTable();
        open();
    }
    static QRect room() { return QGuiApplication::primaryScreen()->availableGeometry(); }
    TMissionGrid& grid() { return *form->QuestGrid; }
    // Drags `handle` by `by` with the mouse.
    static void drag(QWidget* handle, QPoint by) {
        const QPoint from = handle->rect().center();
        QTest::mousePress(handle, Qt::LeftButton, {}, from);
        QTest::mouseMove(handle, from + by);
        QTest::mouseRelease(handle, Qt::LeftButton, {}, from + by);
    }

    TempDir dir;
    std::string missions;
    ScriptedPrompter prompts;
    std::unique_ptr<Tmainform> form;

  private:
    Prompter* previous_ = nullptr;
};

TEST_F(Screen, EveryWindowFitsAndTheTitleTakesTheRoom) {
    open();
    EXPECT_TRUE(room().contains(form->frameGeometry())) << form->frameGeometry().width();
    // The title shows whole, or takes a third of the list at least, and is the widest.
    const int title = grid().ColWidth(1);
    const int wanted =
        QFontMetrics(grid().font())
            .horizontalAdvance(QStringLiteral("Baffords Rache: Die Rückkehr des Meisterdiebs"));
    EXPECT_GE(title, std::min(wanted, grid().viewport()->width() * 3 / 10));
    for (int c = 0; c < grid().ColCount(); ++c) EXPECT_GE(title, grid().ColWidth(c)) << c;

    // The setup dialog fits, its OK and Cancel on the screen.
    prompts.dialogs["SetupDlg"] = [](ModalDialog& d) {
        auto& setup = dynamic_cast<TSetupDlg&>(d);
        setup.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&setup));
        EXPECT_TRUE(room().contains(setup.frameGeometry()));
        for (QWidget* w : setup.findChildren<QWidget*>()) {
            if (!w->isVisible() || !(qobject_cast<QGroupBox*>(w) || qobject_cast<QPushButton*>(w)))
                continue;
            const QRect global(w->mapToGlobal(QPoint()), w->size());
            EXPECT_TRUE(room().contains(global)) << w->objectName().toStdString();
        }
        return 0;
    };
    form->SetupButton->click();
    EXPECT_FALSE(prompts.dialogsRun.empty());

    // The bars between the list, the panel and the read-me move with the mouse and stay
    // where they were left; a width dragged for the title lasts only on that screen.
    const int list = form->Panel1->height(), panel = form->Panel3->width();
    drag(form->ListSplit, {0, 30});
    drag(form->PanelSplit, {-40, 0});
    EXPECT_EQ(form->Panel1->height(), list + 30);
    EXPECT_EQ(form->Panel3->width(), panel + 40);
    QHeaderView* header = grid().horizontalHeader();
    const QPoint edge(header->sectionViewportPosition(1) + header->sectionSize(1) - 1, 5);
    const QPoint to = edge - QPoint(grid().ColWidth(1) - 40, 0);
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, edge);
    QTest::mouseMove(header->viewport(), to);
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, to);
    EXPECT_NEAR(grid().ColWidth(1), 40, 1);
    restart();
    EXPECT_NEAR(form->Panel1->height(), list + 30, 1);
    EXPECT_EQ(form->Panel3->width(), panel + 40);
    header = grid().horizontalHeader();
    EXPECT_GT(grid().ColWidth(1), 40);
    EXPECT_EQ(header->sectionViewportPosition(6) + header->sectionSize(6),
              grid().viewport()->width());
}

// A long tooltip wraps; a short one stays as it was. A window that opens hides the tooltip
// shown, which would otherwise stay on top of it.
TEST_F(Screen, TooltipsWrapAndGoWhenAWindowOpens) {
    Tooltips::install();
    QLabel label(QStringLiteral("label"));
    const QString longTip(200, QLatin1Char('x'));
    for (const QString& tip : {longTip, QStringLiteral("short")}) {
        label.setToolTip(tip);
        EXPECT_EQ(Qt::mightBeRichText(label.toolTip()), tip.size() > 80);
        EXPECT_TRUE(label.toolTip().contains(tip));
    }
    label.show();
    QToolTip::showText(label.mapToGlobal(QPoint()), QStringLiteral("tip"), &label);
    ASSERT_TRUE(QToolTip::isVisible());
    QDialog next;
    next.show();
    EXPECT_FALSE(QToolTip::isVisible());
}

}  // namespace
