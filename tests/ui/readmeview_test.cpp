#include <gtest/gtest.h>

#include <utime.h>
#include <QApplication>
#include <QBuffer>
#include <QDesktopServices>
#include <QFontMetricsF>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextList>
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/ui/MainForm.h"
#include "app/ui/Program.h"
#include "app/ui/ReadmeDocument.h"
#include "app/ui/ScreenshotStrip.h"
#include "archive/MissionArchive.h"
#include "archive/ZipArchiver.h"
#include "catalogue/ui/MissionGrid.h"
#include "game/GameContext.h"
#include "game/MissionFolders.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "state/LanguageTable.h"
#include "support/TestSupport.h"

namespace {

using Members = std::vector<std::pair<std::string, std::string>>;

// A picture of one colour as the bytes of a file of `format`.
std::string picture(int width, int height, QColor colour, const char* format = "PNG") {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes.toStdString();
}

// A main window with every feature connected, on a temporary program directory holding a
// Thief 2 game directory and a mission directory.
class ReadmeView : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL"))
            GTEST_SKIP() << "engines not built";
        std::string lang = "[languages]\n1=English\n[English]\n";
        for (int n = 1; n <= kLanguageSlotCount; ++n)
            lang += std::to_string(n) + "=<" + std::to_string(n) + ">\n";
        dir.write("Tallowmere.dat", lang);
        dir.write("Thief2/install.cfg", "language english\r\n");
        missions = dir.path() + "Missions/";
        fsx::forceDirectories(missions);
        openAppFiles(dir.path());
        app().settings->WriteString("options", "thief2dir", dir.path() + "Thief2/");
        app().settings->WriteString("mission directories", missions, "1");
        light = QApplication::palette();
    }
    void TearDown() override {
        form.reset();
        QApplication::setPalette(light);
        mainFormHooks() = {};
        closeAppFiles();
        app() = AppState{};
    }
    // The window, opened anew under `palette`, with the missions listed.
    void openWindow(const QPalette& palette) {
        form.reset();
        QApplication::setPalette(palette);
        InstallFeatureHooks();
        LoadLanguageTable();
        form = std::make_unique<Tmainform>();
        for (TZipArchiver* z : {form->Zip.get(), form->Zip2.get()}) {
            z->Unattended = true;
            z->SetDLLDirectory(TM_TEST_BIN_DIR);
        }
        form->resize(700, 560);
        form->show();
        form->ScanCatalogue(false);
    }
    // A click on the mission's row, as the player makes it.
    void clickMission(const std::string& name) {
        TMissionGrid& grid = *form->QuestGrid;
        int row = 0;
        for (int r = 1; r < grid.RowCount(); ++r)
            if (grid.Cell(2, r) == name) row = r;
        ASSERT_GT(row, 0) << name;
        const QModelIndex index = grid.model()->index(row - 1, 2);
        grid.scrollTo(index);
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.visualRect(index).center());
        QApplication::processEvents();
    }

    TempDir dir;
    ScriptedPrompter prompts;
    std::string missions;
    QPalette light;
    std::unique_ptr<Tmainform> form;
};

// What the memo shows of a read-me, as a player sees it.
struct Shown {
    ::ReadmeView& view;
    QImage screen;

    explicit Shown(::ReadmeView& v) : view(v), screen(v.viewport()->grab().toImage()) {}

    // Where the text `word` lies on the view; an empty rectangle when it is not there.
    QRect where(const QString& word) const {
        const QTextCursor found = view.document()->find(word);
        if (found.isNull()) return QRect();
        QTextCursor start = found;
        start.setPosition(found.selectionStart());
        const QRect a = view.cursorRect(start), b = view.cursorRect(found);
        return QRect(QPoint(a.left(), a.top()), QPoint(b.right(), b.bottom()));
    }
    // The background at the view's lower right corner, beyond any text.
    QColor background() const { return screen.pixelColor(screen.width() - 3, screen.height() - 3); }
    // The best contrast of a pixel of `word` against the background it stands on.
    double legibility(const QString& word) const {
        const QRect r = where(word).intersected(screen.rect());
        if (r.isEmpty()) return 0;
        const QColor ground = screen.pixelColor(r.topLeft());
        double best = 1;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                best = std::max(best, contrastRatio(screen.pixelColor(x, y), ground));
        return best;
    }
    // How many pixels show `colour`.
    int pixels(QColor colour) const {
        int n = 0;
        for (int y = 0; y < screen.height(); ++y)
            for (int x = 0; x < screen.width(); ++x) n += screen.pixelColor(x, y) == colour;
        return n;
    }
    QString text() const { return view.document()->toPlainText(); }
};

// Each read-me is laid out on its own as its author meant it: plain text in a fixed-width
// font and wrapped at the view's width, whatever was shown before; tables, centring and
// lists as such; pictures of the mission's archive shown and fitted to the view, any other
// as its alt text; a page's colours kept as a pair and made legible where they are not.
TEST_F(ReadmeView, ReadmesShowAsTheirAuthorsLaidThemOut) {
    QPalette dark;
    const std::pair<QPalette::ColorRole, QColor> roles[] = {
        {QPalette::Window, QColor(0x2d, 0x2d, 0x2d)}, {QPalette::WindowText, Qt::white},
        {QPalette::Base, QColor(0x1e, 0x1e, 0x1e)},   {QPalette::Text, QColor(0xe0, 0xe0, 0xe0)},
        {QPalette::Button, QColor(0x3a, 0x3a, 0x3a)}, {QPalette::ButtonText, Qt::white}};
    for (const auto& [role, colour] : roles) dark.setColor(role, colour);

    std::string plain = "Plain words";
    for (int i = 0; i < 30; ++i) plain += " and more words";
    const std::string onDisk = dir.write("green.png", picture(50, 50, Qt::green));
    QImage plainFirst;

    struct Case {
        std::string mission;
        Members members;
        std::function<void(const Shown&)> check;
        bool darkTheme = false;
    };
    const Case cases[] = {
        {"PlainFirst",
         {{"readme.txt", plain}},
         [&](const Shown& s) {
             // What the player sees: every character as wide as every other.
             const QFontMetricsF metrics(s.view.document()->defaultFont());
             EXPECT_EQ(metrics.horizontalAdvance(QString(10, QChar('i'))),
                       metrics.horizontalAdvance(QString(10, QChar('W'))));
             EXPECT_GT(s.view.document()->begin().layout()->lineCount(), 2);
             EXPECT_EQ(s.view.horizontalScrollBar()->maximum(), 0);
             plainFirst = s.screen;
         }},
        {"Heading",
         {{"readme.html",
           "<html><body><h1 style=\"font-size:40px\"><font color=\"#aa0000\" face=\"serif\">"
           "<b><i><u>Heading</u></i></b></font></h1></body></html>"}},
         [](const Shown& s) { EXPECT_TRUE(s.text().contains("Heading")); }},
        {"Glml",
         {{"readme.glml", "[GLTITLE]Title[/GLTITLE][GLCENTER]Centre[/GLCENTER]"}},
         [](const Shown& s) { EXPECT_TRUE(s.text().contains("Title")); }},
        {"PlainAgain",
         {{"readme.txt", plain}},
         [&](const Shown& s) { EXPECT_EQ(s.screen, plainFirst); }},
        {"Layout",
         {{"readme.html",
           "<table border=1><tr><td>Alpha</td><td>Beta</td></tr>"
           "<tr><td>Gamma</td><td>Delta</td></tr></table>"
           "<center>Middle</center><ul><li>First item<li>Second item</ul><p>Paragraph</p>"}},
         [](const Shown& s) {
             const QRect alpha = s.where("Alpha"), beta = s.where("Beta"), gamma = s.where("Gamma");
             EXPECT_EQ(alpha.top(), beta.top());
             EXPECT_GT(beta.left(), alpha.right());
             EXPECT_GT(gamma.top(), alpha.bottom());
             EXPECT_EQ(gamma.left(), alpha.left());
             const QRect middle = s.where("Middle");
             EXPECT_NEAR(middle.center().x(), s.screen.width() / 2, 12);
             const QTextCursor item = s.view.document()->find("Second item");
             ASSERT_FALSE(item.isNull());
             EXPECT_NE(item.block().textList(), nullptr);
             EXPECT_GT(s.where("Second item").left(), s.where("Paragraph").left());
         }},
        {"Pictures",
         {{"Docs/ReadMe.html",
           "<p>Map <img src=\"pics/Map.PNG\" alt=\"the map\"> "
           "wide <img src=\"Pics/wide.png\" alt=\"the wide one\"> "
           "logo <img src=\"../logo.bmp\"> "
           "too large <img src=\"pics/huge.png\" alt=\"too large one\"> "
           "disk <img src=\"" +
               onDisk + "\" alt=\"disk one\"> file <img src=\"file://" + onDisk +
               "\" alt=\"file one\"> web <img src=\"http://localhost/pics/map.png\" "
               "alt=\"web one\"> out <img src=\"../../green.png\"> end</p>"},
          {"docs/PICS/map.png", picture(60, 40, Qt::red)},
          {"docs/pics/wide.png", picture(3000, 20, Qt::blue)},
          {"logo.bmp", picture(30, 30, Qt::yellow, "BMP")},
          {"docs/pics/huge.png", picture(5000, 2, Qt::cyan)},
          {"green.png", picture(50, 50, Qt::green)}},
         [](const Shown& s) {
             EXPECT_GE(s.pixels(Qt::red), 60 * 40);
             EXPECT_GT(s.pixels(Qt::blue), 0);
             EXPECT_GE(s.pixels(Qt::yellow), 30 * 30);
             EXPECT_EQ(s.pixels(Qt::green), 0);
             EXPECT_EQ(s.pixels(Qt::cyan), 0);
             EXPECT_EQ(s.view.horizontalScrollBar()->maximum(), 0);
             for (const char* shownAsText :
                  {"too large one", "disk one", "file one", "web one", "green.png"})
                 EXPECT_TRUE(s.text().contains(shownAsText)) << shownAsText;
             for (const char* notAsText : {"the map", "the wide one", "logo.bmp"})
                 EXPECT_FALSE(s.text().contains(notAsText)) << notAsText;
         }},
        {"WhiteOnBlack",
         {{"readme.html",
           "<body bgcolor=\"#000000\" text=\"#f0f0a0\"><p>Default words</p>"
           "<p><font color=\"#ffffff\">White words</font></p>"
           "<p><font color=\"#101010\">Black words</font></p></body>"}},
         [](const Shown& s) {
             EXPECT_EQ(s.background(), QColor(Qt::black));
             const QTextCursor text = s.view.document()->find("Default words");
             EXPECT_EQ(text.charFormat().foreground().color(), QColor(0xf0, 0xf0, 0xa0));
             for (const char* word : {"Default words", "White words", "Black words"})
                 EXPECT_GE(s.legibility(word), 3.0) << word;
         }},
        {"DarkText",
         {{"readme.html",
           "<p><font color=\"#202020\">Dark words</font></p><p>Theme words</p>"
           "<table><tr><td bgcolor=\"#ffffff\"><font color=\"#eeeeee\">Pale words</font>"
           "</td></tr></table>"}},
         [](const Shown& s) {
             EXPECT_LT(relativeLuminance(s.background()), 0.1);
             for (const char* word : {"Dark words", "Theme words", "Pale words"})
                 EXPECT_GE(s.legibility(word), 3.0) << word;
         },
         true},
    };
    for (const Case& c : cases)
        ASSERT_TRUE(makeZip(missions + c.mission + ".zip", [&] {
            Members m = c.members;
            m.insert(m.begin(), {"miss20.mis", "SKYOBJVAR"});
            return m;
        }()));
    bool darkTheme = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mission);
        if (c.darkTheme != darkTheme) {
            darkTheme = c.darkTheme;
            openWindow(darkTheme ? dark : light);
        }
        clickMission(c.mission);
        c.check(Shown(*form->questMemo));
    }
}

// Where a clicked link would go: the handler of every scheme a read-me may name.
class LinkCatcher : public QObject {
    Q_OBJECT
  public:
    QStringList opened;
  public slots:
    void open(const QUrl& url) { opened << url.toString(); }
};

// A web link opens in the browser; a file, a folder or anything else a read-me names does not.
TEST(ReadmeLinks, OnlyWebLinksOpen) {
    LinkCatcher catcher;
    for (const char* scheme : {"http", "https", "file", "ftp", "mailto"})
        QDesktopServices::setUrlHandler(scheme, &catcher, "open");
    ::ReadmeView view;
    for (const char* url : {"https://www.ttlg.com/", "HTTP://example.org/a", "file:///etc/passwd",
                            "ftp://example.org/", "mailto:x@example.org", "../escape.txt"})
        emit view.anchorClicked(QUrl(url));
    for (const char* scheme : {"http", "https", "file", "ftp", "mailto"})
        QDesktopServices::unsetUrlHandler(scheme);
    EXPECT_EQ(catcher.opened, (QStringList{"https://www.ttlg.com/", "http://example.org/a"}));
}

// A read-me opens at its top, however far down the one before was read.
TEST(ReadmeScroll, EachReadmeOpensAtItsTop) {
    ::ReadmeView view;
    view.resize(300, 200);
    view.show();
    QString lines;
    for (int i = 0; i < 300; ++i) lines += QStringLiteral("line %1\n").arg(i);
    for (const bool rich : {false, true}) {
        for (int shown = 0; shown < 2; ++shown) {
            if (rich)
                view.showRich(QStringLiteral("<p>") + QString(lines).replace('\n', "<br>") +
                                  QString::number(shown),
                              {});
            else
                view.showPlain(lines + QString::number(shown));
            QApplication::processEvents();
            EXPECT_EQ(view.verticalScrollBar()->value(), 0) << rich << shown;
            view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
            ASSERT_GT(view.verticalScrollBar()->value(), 0);
        }
    }
}

// The strip shows a thumbnail of every picture that decodes; a double click, or Enter,
// opens the larger view on that picture, fitted to it at the screen's pixel ratio.
TEST(ScreenshotStrip, ShowsThumbnailsAndOpensTheLargerView) {
    ScriptedPrompter prompts;
    ScreenshotStrip strip;
    strip.resize(400, 120);
    strip.show();
    strip.showPictures({{"title.png", PictureOrigin::Shipped, 0, picture(640, 480, Qt::red)},
                        {"broken.png", PictureOrigin::Shipped, 0, std::string(2000, 'x')},
                        {"dump001.png", PictureOrigin::MissionFolder, 0x5A910000u,
                         picture(320, 180, Qt::blue, "JPG")},
                        {"dump000.bmp", PictureOrigin::SavesArchive, 0x58910000u,
                         picture(64, 64, Qt::green, "BMP")}});
    QListWidget& list = *strip.list;
    ASSERT_EQ(list.count(), 3);
    for (int i = 0; i < list.count(); ++i) EXPECT_FALSE(list.item(i)->icon().isNull());

    struct Opened {
        int index;
        QString caption;
        QSize shown, room;
        qreal ratio, labelRatio;
        QColor centre;
    };
    std::vector<Opened> opened;
    prompts.dialogs["ScreenshotView"] = [&](ModalDialog& dialog) {
        auto& view = dynamic_cast<ScreenshotView&>(dialog);
        view.show();
        QApplication::processEvents();
        const QPixmap shown = view.picture->pixmap();
        const QImage image = shown.toImage();
        opened.push_back({view.current(), view.caption->text(),
                          shown.deviceIndependentSize().toSize(), view.picture->size(),
                          shown.devicePixelRatio(), view.picture->devicePixelRatioF(),
                          image.pixelColor(image.width() / 2, image.height() / 2)});
        return 0;
    };
    const QRect first = list.visualItemRect(list.item(0));
    // A player's double click: a click, then the second press that makes it a double one.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, first.center());
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, first.center());
    list.setCurrentRow(1);
    QTest::keyClick(&list, Qt::Key_Return);

    ASSERT_EQ(opened.size(), 2u);
    const struct {
        QString name;
        QColor colour;
        double aspect;
    } expected[] = {{"title.png", Qt::red, 4.0 / 3}, {"dump001.png", Qt::blue, 16.0 / 9}};
    for (size_t i = 0; i < opened.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(opened[i].index, static_cast<int>(i));
        EXPECT_TRUE(opened[i].caption.contains(expected[i].name));
        EXPECT_EQ(opened[i].ratio, opened[i].labelRatio);
        EXPECT_TRUE(opened[i].shown.width() == opened[i].room.width() ||
                    opened[i].shown.height() == opened[i].room.height());
        EXPECT_LE(opened[i].shown.width(), opened[i].room.width());
        EXPECT_LE(opened[i].shown.height(), opened[i].room.height());
        EXPECT_NEAR(double(opened[i].shown.width()) / opened[i].shown.height(), expected[i].aspect,
                    0.05);
        EXPECT_LE(std::abs(opened[i].centre.blue() - QColor(expected[i].colour).blue()), 8);
        EXPECT_LE(std::abs(opened[i].centre.red() - QColor(expected[i].colour).red()), 8);
    }
}

// Where the selection finds a mission's pictures: in its archive, and the player's in the
// folder its record keeps and its saves archive, or in the game directory where it is
// installed, there only those taken since its install.
TEST(ScreenshotStrip, SelectedMissionShowsItsPictures) {
    struct Case {
        const char* label;
        bool inFolder, inGameDir;
        std::vector<QString> expected;  // tooltips start with the names
    };
    const Case cases[] = {
        {"in its folder", true, false, {"title.png", "dump000.png", "dump001.png"}},
        {"installed in the game directory", false, true, {"title.png", "dump004.png"}},
        {"not installed", false, false, {"title.png"}},
    };
    if (!fsx::fileExists(std::string(TM_TEST_BIN_DIR) + "/UNZENG.DLL"))
        GTEST_SKIP() << "engines not built";
    QImage noise(48, 48, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, QRandomGenerator::global()->generate());
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    noise.save(&buffer, "PNG");
    const std::string bytes = png.toStdString();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        const std::string gameDir = dir.path() + "Thief2/";
        const auto written = [&](const std::string& path, int year) {
            dir.write(path, bytes);
            const std::time_t t = fsx::dosToUnix(uint32_t(year - 1980) << 25 | 1u << 21 | 1u << 16);
            const utimbuf times{t, t};
            utime(dir.file(path).c_str(), &times);
        };
        fsx::forceDirectories(gameDir + "allsaves");
        fsx::forceDirectories(dir.path() + "Missions");
        ASSERT_TRUE(
            makeZip(dir.file("Missions/Mission.zip"), {{"miss20.mis", "m"}, {"title.png", bytes}}));
        Mission mission =
            missionOfArchive(dir.path() + "Missions/", "Mission.zip", ".zip",
                             fsx::fileSize64(dir.file("Missions/Mission.zip")), false);
        mission.type = "2";
        IniFile settings(dir.path() + "Tallowmere.ini");
        std::map<int, GameRecord> games;
        games[2].gameDir = gameDir;
        if (c.inFolder) {
            missionfolders::claimFolder(settings, 2, "Mission", mission.recordKey, {});
            written("Thief2/FMs/Mission/screenshots/dump000.png", 2021);
            ASSERT_TRUE(makeZip(gameDir + "allsaves/Mission_saves.zip",
                                {{"screenshots\\dump001.png", bytes},
                                 {"older\\2019-01-01 10.00.00\\screenshots\\dump009.png", bytes}}));
        }
        if (c.inGameDir) {
            games[2].installed = mission.archivePath;
            games[2].installedCheck = mission.sizeText;
            written("Thief2/screenshots/dump003.png", 2021);
            written("Thief2/Tallowmere.Current", 2022);
            written("Thief2/screenshots/dump004.png", 2023);
        }
        TZipArchiver zip;
        zip.SetDLLDirectory(TM_TEST_BIN_DIR);
        pointComponentAt(zip, mission.archivePath);
        ScreenshotStrip strip;
        showMissionPictures(strip, zip, mission, GameContext{settings, games, dir.path()});
        std::vector<QString> shown;
        for (int i = 0; i < strip.list->count(); ++i)
            shown.push_back(strip.list->item(i)->toolTip().section(QLatin1Char(' '), 0, 0));
        EXPECT_EQ(shown, c.expected);
    }
}

}  // namespace

#include "readmeview_test.moc"
