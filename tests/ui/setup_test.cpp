// The setup dialog and the directory chooser as windows: captions, filling, the buttons,
// the mission-folder boxes, the games found, and the chooser's drive and folder lists.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/Operations.h"
#include "app/ui/MainForm.h"
#include "catalogue/ui/QuestGridDraw.h"
#include "dialogs/SetupLogic.h"
#include "dialogs/ui/DirDlg.h"
#include "dialogs/ui/Hintctrl.h"
#include "dialogs/ui/Setup.h"
#include "game/MissionFolders.h"
#include "platform/FileSystem.h"
#include "state/LanguageTable.h"
#include "support/PeImage.h"
#include "support/TestSupport.h"

namespace {

const char kLanguageFile[] =
    "[languages]\n1=English\n2=German\n"
    "[English]\n31=Choose\n51=Missions\n52=Games\n53=Options\n54=Language\n55=&Add\n"
    "56=&Remove\n57=Compression\n58=rates\n59=Cancel\n65=No game\n66=No missions\n"
    "68=Window\n69=Maximised\n70=Remembered\n72=Setup\n73=OK\n150=Folders\n151=Engine %s\n"
    "152=unknown\n153=NewDark %s\n171=None found\n173=Starts through: %s\n175=Not read:\n"
    "200=&OK\n201=&Cancel\n202=Folders\n";

std::vector<std::string> listed(const QListWidget* list) {
    std::vector<std::string> out;
    for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
    return out;
}

class SetupDialog : public ::testing::Test {
  protected:
    // The default start command is found whether or not the machine has Wine.
    StandInPrograms wine{{"wine"}};
    void SetUp() override {
        dir.write("Tallowmere.dat", kLanguageFile);
        openAppFiles(dir.path());
        LoadLanguageTable();
        previous_ = setSetupDialogHook(nullptr);
        InstallSetupDialog(programSetupFiles);
        // The launchers' files of this machine are never read.
        previousLookup_ = setSetupGameLookup({[this] {
                                                  ++finds;
                                                  return found;
                                              },
                                              [this](const std::string& gameDir) {
                                                  gamesources::GameRunner runner;
                                                  runner.label = runners.count(gameDir)
                                                                     ? runners[gameDir]
                                                                     : "Wine prefix";
                                                  return runner;
                                              }});
    }
    void TearDown() override {
        setSetupGameLookup(previousLookup_);
        setSetupDialogHook(previous_);
        closeAppFiles();
        app() = AppState{};
    }
    // The shipped language file, in language `language` (1 English ... 4 Spanish).
    void shippedLanguage(int language) {
        closeAppFiles();
        dir.write("Tallowmere.dat", readFile(std::string(TM_SOURCE_DIR) + "/data/Tallowmere.dat"));
        dir.write("Tallowmere.ini", "[options]\nlanguage=" + std::to_string(language) + "\n");
        openAppFiles(dir.path());
        LoadLanguageTable();
    }
    // Shows the dialog as the active window, the way the player meets it.
    static bool showActive(TSetupDlg& d) {
        d.show();
        d.activateWindow();
        return QTest::qWaitForWindowActive(&d);
    }
    // Runs the dialog through RunSetupDialog; `act` plays the user and returns its result.
    void run(std::function<int(TSetupDlg&)> act) {
        prompts.dialogs["SetupDlg"] = [act](ModalDialog& d) {
            return act(dynamic_cast<TSetupDlg&>(d));
        };
        RunSetupDialog();
    }
    // The chooser answers with `to` (OK) or cancels when it is empty.
    void chooserAnswers(const std::string& to, std::string* openedAt = nullptr) {
        prompts.dialogs["SelectDirDlg"] = [to, openedAt](ModalDialog& d) {
            auto& c = dynamic_cast<TSelectDirDlg&>(d);
            if (openedAt) *openedAt = c.Directory();
            if (to.empty()) return 0;
            c.SetDirectory(to);
            return 1;
        };
    }

    TempDir dir;
    ScriptedPrompter prompts;
    gamesources::Discovery found;
    std::map<std::string, std::string> runners;  // game directory -> launcher
    int finds = 0;

  private:
    std::function<void()> previous_;
    GameLookup previousLookup_;
};

TEST_F(SetupDialog, CaptionsLayoutAndNames) {
    bool ran = false;
    run([&](TSetupDlg& d) {
        ran = true;
        EXPECT_EQ(d.windowTitle(), "Setup");
        EXPECT_EQ(d.MissionBox->title(), "Missions");
        EXPECT_EQ(d.ThiefBox->title(), "Games");
        EXPECT_EQ(d.OptionBox->title(), "Options");
        EXPECT_EQ(d.LangBox->title(), "Language");
        EXPECT_EQ(d.AddBtn->text(), "&Add");
        EXPECT_EQ(d.RemoveBtn->text(), "&Remove");
        EXPECT_EQ(d.CompressLabel->text(), "Compression");
        EXPECT_EQ(d.compressrates->text(), "rates");
        EXPECT_EQ(d.CancelBtn->text(), "&Cancel");
        EXPECT_EQ(d.OKBtn->text(), "&OK");
        EXPECT_TRUE(d.OKBtn->isDefault());
        EXPECT_EQ(d.Window->title(), "Window");
        EXPECT_EQ(d.Window->Items.size(), 2u);
        if (d.Window->Items.size() != 2) return 0;
        EXPECT_EQ(d.Window->Items[0]->text(), "Maximised");
        EXPECT_EQ(d.Window->Items[1]->text(), "Remembered");
        EXPECT_EQ(d.Window->Items[0]->y(), d.Window->Items[1]->y());  // two columns
        EXPECT_EQ(d.game(1).label->text(), "Thief &1");
        EXPECT_EQ(d.game(2).label->text(), "Thief &2");
        for (const char* name :
             {"MissionBox", "missiondirs",  "AddBtn",        "RemoveBtn",     "ThiefBox",
              "Label3",     "Label2",       "t1dir",         "t2dir",         "Button3",
              "Button4",    "OptionBox",    "CompressLabel", "compresslevel", "compressrates",
              "Window",     "LangBox",      "Language",      "OKBtn",         "CancelBtn",
              "StartBox",   "startcommand", "t1folders",     "t2folders",     "t1version",
              "t2version",  "t1runner",     "t2runner",      "findgames",     "foundgames",
              "usegame",    "t1command",    "t2command"})
            EXPECT_NE(d.findChild<QWidget*>(name), nullptr) << name;

        EXPECT_NE(d.SelectDirDlg, nullptr);
        if (!d.SelectDirDlg) return 0;
        EXPECT_EQ(d.SelectDirDlg->windowTitle(), "Choose");
        EXPECT_EQ(d.SelectDirDlg->OKBtn->text(), "OK");
        EXPECT_EQ(d.SelectDirDlg->CancelBtn->text(), "Cancel");
        return 0;
    });
    EXPECT_TRUE(ran);
    EXPECT_FALSE(fsx::fileExists(dir.file("Tallowmere.ini")));  // Cancel writes nothing
}

TEST_F(SetupDialog, FilledFromTheSettings) {
    dir.write("Tallowmere.ini",
              "[options]\nthief2dir=/g/t2\nlanguage=2\ncompression level=3\n[window]\ntop=7\n"
              "[mission directories]\n/z=1\n/A=1\n");
    run([&](TSetupDlg& d) {
        EXPECT_EQ(listed(d.missiondirs), (std::vector<std::string>{"/A", "/z"}));
        EXPECT_EQ(d.game(1).dir->text(), "");
        EXPECT_EQ(d.game(2).dir->text(), "/g/t2");
        EXPECT_EQ(d.Language->count(), 2);
        EXPECT_EQ(d.Language->currentIndex(), 1);
        EXPECT_EQ(d.compresslevel->value(), 3);
        EXPECT_EQ(d.Window->ItemIndex(), 1);
        return 0;
    });
}

TEST_F(SetupDialog, ControlsSitBelowTheGroupFramesAndLongPathsShowTheirStart) {
    const std::string longDir = "/games/" + std::string(200, 'x') + "/thief";
    dir.write("Tallowmere.ini", "[options]\nthief1dir=" + longDir + "\n");
    run([&](TSetupDlg& d) {
        d.show();
        QApplication::processEvents();
        // The frame's top line lies above the controls the layout places in the box, so
        // that it never runs through them.
        for (QGroupBox* box : {d.MissionBox, d.ThiefBox, d.OptionBox,
                               static_cast<QGroupBox*>(d.Window), d.LangBox}) {
            // The box alone, without its controls: below the background of its top row,
            // the first row that differs at its right end is the frame's top line.
            QImage image(box->size(), QImage::Format_RGB32);
            image.fill(box->palette().color(QPalette::Window));
            box->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
            const int x = box->width() - 10;
            const QRgb background = image.pixel(x, 0);
            int line = box->height();
            for (int y = 1; y < box->height() && line == box->height(); ++y)
                if (image.pixel(x, y) != background) line = y;
            int topmost = box->height();
            for (QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (!child->isHidden()) topmost = std::min(topmost, child->y());
            EXPECT_LT(line, topmost) << box->objectName().toStdString();
        }
        EXPECT_EQ(d.game(1).dir->text().toStdString(), longDir);
        EXPECT_EQ(d.game(1).dir->cursorPosition(), 0);
        return 0;
    });
}

TEST_F(SetupDialog, LanguageBeyondTheListSelectsNoneAndOkStoresZero) {
    dir.write("Tallowmere.ini", "[options]\nlanguage=3\n");
    run([&](TSetupDlg& d) {
        EXPECT_EQ(d.Language->currentIndex(), -1);
        EXPECT_EQ(d.Window->ItemIndex(), 0);
        d.OKBtn->click();
        EXPECT_EQ(d.result(), QDialog::Rejected);  // still open: no mission directory
        return 0;
    });
    EXPECT_EQ(app().settings->ReadString("options", "language", ""), "0");
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "No missions");
}

TEST_F(SetupDialog, AddRemoveAndTheOnlyDirectoryRemoved) {
    dir.write("Tallowmere.ini", "[mission directories]\n/m=1\n");
    run([&](TSetupDlg& d) {
        chooserAnswers(dir.path() + "b");
        dir.write("b/x", "");
        dir.write("a/x", "");
        d.AddBtn->click();
        d.AddBtn->click();  // the same directory once more
        chooserAnswers(dir.path() + "a");
        d.AddBtn->click();
        chooserAnswers("");  // cancelled
        d.AddBtn->click();
        const std::string a = dir.path() + "a", b = dir.path() + "b";
        EXPECT_EQ(listed(d.missiondirs), (std::vector<std::string>{"/m", a, b, b}));

        // Only the entry added last is selected.
        EXPECT_EQ(d.missiondirs->selectedItems().size(), 1);
        d.missiondirs->clearSelection();
        d.missiondirs->item(0)->setSelected(true);
        d.missiondirs->item(2)->setSelected(true);
        d.RemoveBtn->click();
        EXPECT_EQ(listed(d.missiondirs), (std::vector<std::string>{a, b}));
        d.missiondirs->selectAll();
        d.RemoveBtn->click();
        EXPECT_EQ(d.missiondirs->count(), 0);
        d.OKBtn->click();
        EXPECT_EQ(d.result(), QDialog::Rejected);
        return 0;
    });
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "No missions");
    EXPECT_EQ(app().settings->ReadSection("mission directories"), (std::vector<std::string>{"/m"}));
}

TEST_F(SetupDialog, BrowseOpensAtTheBoxAndCancelKeepsIt) {
    dir.write("t1/thief.exe", "MZ");
    dir.write("other/x", "");
    run([&](TSetupDlg& d) {
        d.game(1).dir->setText(QString::fromStdString(dir.path() + "t1/"));
        std::string openedAt;
        chooserAnswers("", &openedAt);
        d.game(1).browse->click();
        EXPECT_EQ(openedAt, dir.path() + "t1");  // without the separator
        EXPECT_EQ(d.game(1).dir->text().toStdString(), dir.path() + "t1/");

        // A box naming no directory opens at its nearest existing parent.
        d.game(2).dir->setText(QString::fromStdString(dir.path() + "missing/deeper"));
        chooserAnswers(dir.path() + "other", &openedAt);
        d.game(2).browse->click();
        EXPECT_EQ(openedAt, dir.path().substr(0, dir.path().size() - 1));
        EXPECT_EQ(d.game(2).dir->text().toStdString(), dir.path() + "other");
        return 0;
    });
}

TEST_F(SetupDialog, OkWritesAndCloses) {
    dir.write("t1/thief.exe", "MZ");
    dir.write("t1/install.cfg", "");
    dir.write("t1/convict.osm", "");
    dir.write("t1/crfs/x", "");
    int scans = 0;
    TSetupDlg d;
    d.Hooks = {{}, {}, [&] { ++scans; }};
    d.Window->AddItem("max");
    d.Window->AddItem("remember");
    d.LoadSettings();
    auto* item = new QListWidgetItem("/m");
    item->setData(Qt::UserRole, QByteArray("/m"));
    d.missiondirs->addItem(item);
    d.game(1).dir->setText(QString::fromStdString(dir.path() + "t1"));
    d.compresslevel->setValue(9);
    d.OKBtn->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(scans, 1);
    EXPECT_EQ(app().settings->ReadInteger("options", "compression level", 0), 9);
    EXPECT_EQ(app().settings->ReadString("options", "thief1dir", ""), dir.path() + "t1");
    EXPECT_EQ(app().settings->ReadSection("mission directories"), (std::vector<std::string>{"/m"}));
}

TEST_F(SetupDialog, FolderBoxFollowsTheGameDirectoryUntilClickedAndOkStoresTheClick) {
    using namespace peimage;
    const std::string nd = dir.path() + "nd", old = dir.path() + "old";
    dir.write("nd/thief2.exe",
              peFile(versionResource({table(u"040904b0", {str(u"FileVersion", u"1.27")})},
                                     {{0x0409, 0x04B0}})));
    dir.write("nd/cam_mod.ini", "");
    dir.write("old/thief2.exe", "MZ");
    for (const char* game : {"nd/", "old/"}) dir.write(std::string(game) + "install.cfg", "");
    dir.write("Tallowmere.ini", "[mission directories]\n/m=1\n");
    run([&](TSetupDlg& d) {
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        auto* edit = d.findChild<QLineEdit*>("t2dir");
        auto* box = d.findChild<QCheckBox*>("t2folders");
        auto* version = d.findChild<QLabel*>("t2version");
        EXPECT_TRUE(edit && box && version);
        if (!edit || !box || !version) return 0;
        EXPECT_EQ(box->text(), "Folders");
        // A directory typed or chosen ("click": the player clicks the box instead), then
        // what the box and the version line show.
        const struct {
            const char* how;
            std::string gameDir;
            bool checked;
            const char* version;
        } steps[] = {
            {"type", nd, true, "Engine NewDark 1.27"},
            {"choose", old, false, "Engine unknown"},
            {"choose", nd, true, "Engine NewDark 1.27"},
            {"click", "", false, "Engine NewDark 1.27"},
            {"choose", old, false, "Engine unknown"},
            {"type", nd, false, "Engine NewDark 1.27"},
        };
        for (const auto& step : steps) {
            const std::string how = step.how;
            if (how == "type") {
                edit->clear();
                QTest::keyClicks(edit, QString::fromStdString(step.gameDir));
            } else if (how == "choose") {
                chooserAnswers(step.gameDir);
                QTest::mouseClick(d.findChild<QPushButton*>("Button4"), Qt::LeftButton);
            } else {
                QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
            }
            EXPECT_EQ(box->isChecked(), step.checked) << how << step.gameDir;
            EXPECT_EQ(version->text().toStdString(), step.version) << how << step.gameDir;
        }
        EXPECT_EQ(d.findChild<QLabel*>("t1version")->text(), "");
        d.OKBtn->click();
        EXPECT_EQ(d.result(), QDialog::Accepted);
        return 0;
    });
    EXPECT_TRUE(prompts.messages.empty());
    const IniFile& settings = *app().settings;
    EXPECT_TRUE(missionfolders::chosen(settings, 2));
    EXPECT_FALSE(missionfolders::enabled(&settings, 2, nd));
    EXPECT_FALSE(missionfolders::chosen(settings, 1));  // never clicked: the directory decides
}

TEST_F(SetupDialog, UnwritableSettingsKeepItOpenWithTheError) {
    const std::string ini = dir.write("Tallowmere.ini", "[options]\n");
    ASSERT_EQ(chmod(ini.c_str(), 0444), 0);
    TSetupDlg d;
    d.OKBtn->click();
    EXPECT_EQ(d.result(), QDialog::Rejected);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Unable to write to " + ini);
}

// The directory chooser.

TEST(DirDlg, VolumesOfAMountsTable) {
    const std::string table =
        "proc /proc proc rw 0 0\n"
        "/dev/sda1 / ext4 rw 0 0\n"
        "sysfs /sys sysfs rw 0 0\n"
        "tmpfs /run tmpfs rw 0 0\n"
        "/dev/sdb1 /run/media/u/My\\040Disk vfat rw 0 0\n"
        "/dev/sdc1 /nonexistent-mount ext4 rw 0 0\n"
        "cgroup /sys/fs/cgroup/cpu cgroup rw 0 0\n";
    const std::vector<std::string> v = mountedVolumes(table, "/root");
    EXPECT_EQ(v, (std::vector<std::string>{"/"}));  // the listed others are not here
    EXPECT_EQ(mountedVolumes("", ""), (std::vector<std::string>{"/"}));

    const std::vector<std::string> vols = {"/", "/home", "/home/u/media"};
    EXPECT_EQ(volumeOf(vols, "/home/u/x"), "/home");
    EXPECT_EQ(volumeOf(vols, "/homework"), "/");
    EXPECT_EQ(volumeOf(vols, "/home/u/media"), "/home/u/media");
    EXPECT_EQ(volumeOf(vols, "relative"), "");
}

TEST(DirDlg, TheHomeVolumeIsAlwaysListed) {
    TempDir dir;
    const std::string point = dir.path().substr(0, dir.path().size() - 1);
    // A system-looking file system type still counts when it holds the home directory.
    const std::string table = "none " + point + " proc rw 0 0\n";
    EXPECT_EQ(mountedVolumes(table, dir.path() + "home"), (std::vector<std::string>{"/", point}));
    EXPECT_EQ(mountedVolumes("x " + point + " ext4 rw 0 0\n", "/elsewhere"),
              (std::vector<std::string>{"/", point}));
}

TEST(DirDlg, DirectoryForANameThatIsNoDirectory) {
    TempDir dir;
    dir.write("Games/Thief/x", "");
    const std::string base = dir.path().substr(0, dir.path().size() - 1);
    EXPECT_EQ(existingDirectoryFor(dir.path() + "Games/Thief/", "/fb"), base + "/Games/Thief");
    EXPECT_EQ(existingDirectoryFor(dir.path() + "games/THIEF", "/fb"), base + "/Games/Thief");
    EXPECT_EQ(existingDirectoryFor(dir.path() + "Games/Thief/x", "/fb"), base + "/Games/Thief");
    EXPECT_EQ(existingDirectoryFor(dir.path() + "Games/no/such", "/fb"), base + "/Games");
    EXPECT_EQ(existingDirectoryFor(dir.path() + "Games/../Games", "/fb"), base + "/Games");
    EXPECT_EQ(existingDirectoryFor("relative/dir", "/fb"), "/fb");
    EXPECT_EQ(existingDirectoryFor("", "/fb"), "/fb");
    EXPECT_EQ(existingDirectoryFor("/", "/fb"), "/");
}

TEST(DirDlg, FolderListAndSingleClick) {
    TempDir dir;
    dir.write("top/beta/x", "");
    dir.write("top/Alpha/x", "");
    dir.write("top/.hidden/x", "");
    dir.write("top/.wine/drive_c/x", "");
    dir.write("top/file.txt", "");
    const std::string top = dir.path() + "top";
    TSelectDirDlg d;
    d.SetDirectory(top + "/");
    EXPECT_EQ(d.Directory(), top);

    QListWidget* list = d.DirectoryListBox;
    std::vector<std::string> items = listed(list);
    ASSERT_GE(items.size(), 4u);
    EXPECT_EQ(items.front(), "/");
    const size_t n = items.size();
    // The current folder, then its subfolders one level deeper: hidden ones only when
    // they are Wine prefixes.
    EXPECT_EQ(list->currentRow(), static_cast<int>(n) - 4);
    auto trimmed = [](std::string s) { return s.substr(s.find_first_not_of(' ')); };
    EXPECT_EQ(trimmed(items[n - 4]), "top");
    EXPECT_EQ(trimmed(items[n - 3]), ".wine");
    EXPECT_EQ(trimmed(items[n - 2]), "Alpha");
    EXPECT_EQ(trimmed(items[n - 1]), "beta");
    EXPECT_GT(items[n - 1].find_first_not_of(' '), items[n - 4].find_first_not_of(' '));

    // One click opens a folder; one on a parent goes up.
    emit list->itemClicked(list->item(static_cast<int>(n) - 1));
    EXPECT_EQ(d.Directory(), top + "/beta");
    EXPECT_EQ(trimmed(listed(list).back()), "beta");
    emit list->itemClicked(list->item(0));
    EXPECT_EQ(d.Directory(), "/");
}

TEST(DirDlg, KeepsItsDirectoryAndCancelRestoresIt) {
    TempDir dir;
    dir.write("a/x", "");
    dir.write("b/x", "");
    TSelectDirDlg d;
    EXPECT_EQ(d.Directory(), existingDirectoryFor(QDir::homePath().toStdString(), "/"));
    d.SetDirectory(dir.path() + "a");
    d.SetDirectory("");  // an empty name keeps where it stands
    EXPECT_EQ(d.Directory(), dir.path() + "a");

    QTimer::singleShot(0, [&] {
        d.SetDirectory(dir.path() + "b");
        d.CancelBtn->click();
    });
    EXPECT_EQ(d.execModal(), QDialog::Rejected);
    EXPECT_EQ(d.Directory(), dir.path() + "a");

    QTimer::singleShot(0, [&] {
        d.SetDirectory(dir.path() + "b");
        d.OKBtn->click();
    });
    EXPECT_EQ(d.execModal(), QDialog::Accepted);
    EXPECT_EQ(d.Directory(), dir.path() + "b");
}

TEST(DirDlg, ChoosingADriveShowsItsCurrentFolder) {
    TempDir dir;
    dir.write("a/x", "");
    TSelectDirDlg d;
    d.SetDirectory(dir.path() + "a");
    const int root = d.DriveComboBox->findText("/");
    ASSERT_GE(root, 0);
    d.SetDirectory("/");
    d.SetDirectory(dir.path() + "a");
    EXPECT_GE(d.DriveComboBox->currentIndex(), 0);
    // The drive of the folder remembers it as its current folder.
    const std::string drive = d.DriveComboBox->currentText().toStdString();
    d.DriveComboBox->setCurrentIndex(root);
    d.DriveComboBoxChange(root);
    if (drive == "/") {
        EXPECT_EQ(d.Directory(), dir.path() + "a");
    } else {
        EXPECT_EQ(d.Directory(), "/");
    }
    EXPECT_EQ(d.DirectoryListBox->item(0)->text(), "/");
}

// The chooser as a player drives it from the keyboard: each step is keys on a control, then
// the directory the chooser stands in and the current folder's name. OK accepts, and Enter
// on a folder with no folder below it.
TEST(DirDlg, KeysOpenFoldersAndOkOrALastFolderAccepts) {
    TempDir dir;
    for (const char* f : {"top/Alpha/x", "top/beta/x", "top/Bravo/in/x",
                          "top/.local/share/Steam/in/x", "top/Leaf/x"})
        dir.write(f, "");
    const std::string top = dir.path() + "top";
    struct Step {
        const char* control;  // objectName
        std::string text;     // typed, then `key` pressed (none when 0)
        int key;
        std::string directory;
        const char* current;  // the folder list's current item, trimmed
    };
    const std::vector<Step> steps = {
        {"DirectoryListBox", "b", 0, top, "beta"},
        {"DirectoryListBox", "b", 0, top, "Bravo"},  // the same letter steps on
        {"DirectoryListBox", "", Qt::Key_Return, top + "/Bravo", "Bravo"},
        {"DirectoryListBox", "", Qt::Key_Backspace, top, "Bravo"},  // the parent
        {"DirectoryListBox", "al", 0, top, "Alpha"},
        {"PathEdit", "/nowhere/at/all", Qt::Key_Return, top, "Alpha"},  // refused
        {"PathEdit", top + "/.local/share", Qt::Key_Enter, top + "/.local/share", "share"},
        {"DirectoryListBox", "s", Qt::Key_Enter, top + "/.local/share/Steam", "Steam"},
    };
    TSelectDirDlg d;
    d.SetDirectory(top);
    int done = 0;
    QTimer::singleShot(0, [&] {
        for (const Step& step : steps) {
            auto* w = d.findChild<QWidget*>(step.control);
            w->setFocus();
            if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->selectAll();
            QTest::keyClicks(w, QString::fromStdString(step.text));
            if (step.key) QTest::keyClick(w, static_cast<Qt::Key>(step.key));
            QListWidgetItem* item = d.DirectoryListBox->currentItem();
            const std::string current = item ? item->text().trimmed().toStdString() : std::string();
            EXPECT_TRUE(d.isVisible()) << done;
            EXPECT_EQ(d.Directory(), step.directory) << done;
            EXPECT_EQ(current, step.current) << done;
            QTest::qWait(QApplication::keyboardInputInterval() + 10);  // type-ahead forgets
            ++done;
        }
        // Hidden folders only on request.
        d.SetDirectory(top);
        auto names = [&] {
            std::string all;
            for (const std::string& n : listed(d.DirectoryListBox)) all += n + "|";
            return all;
        };
        EXPECT_EQ(names().find(".local"), std::string::npos);
        d.ShowHiddenBox->setChecked(true);
        EXPECT_NE(names().find(".local"), std::string::npos);
        d.ShowHiddenBox->setChecked(false);
        d.DirectoryListBox->setFocus();
        QTest::keyClicks(d.DirectoryListBox, "l");
        QTest::keyClick(d.DirectoryListBox, Qt::Key_Return);
    });
    EXPECT_EQ(d.execModal(), QDialog::Accepted);
    EXPECT_EQ(done, static_cast<int>(steps.size()));
    EXPECT_EQ(d.Directory(), top + "/Leaf");
}

}  // namespace

namespace {

TEST_F(SetupDialog, FoundGamesFillTheFirstStartAndArePickedIntoTheirDirectory) {
    const std::string steamT1 = "/steam/Thief Gold/", steamT2 = "/steam/Thief 2/",
                      wineT2 = dir.path() + "T2/";
    runners = {{steamT1, "Steam"}, {steamT2, "Steam"}};
    found.games = {{1, steamT1, {}}, {2, steamT2, {}}, {2, wineT2, {}}};
    for (auto& game : found.games) game.runner.label = runners.count(game.dir) ? "Steam" : "Wine";
    found.skipped = {"/h/.config/heroic/GamesConfig/x.json: not JSON"};
    run([&](TSetupDlg& d) {
        auto* list = d.findChild<QListWidget*>("foundgames");
        auto* use = d.findChild<QPushButton*>("usegame");
        auto* t2dir = d.findChild<QLineEdit*>("t2dir");
        auto* t2runner = d.findChild<QLabel*>("t2runner");
        EXPECT_TRUE(list && use && t2dir && t2runner);
        if (!list || !use || !t2dir || !t2runner) return 0;
        // The first start: Thief 1, found once, is filled in; Thief 2 is left to pick.
        EXPECT_EQ(d.game(1).dir->text().toStdString(), steamT1);
        EXPECT_EQ(d.findChild<QLabel*>("t1runner")->text(), "Starts through: Steam");
        EXPECT_EQ(t2dir->text(), "");
        EXPECT_EQ(t2runner->text(), "");
        EXPECT_EQ(listed(list), (std::vector<std::string>{"Thief 1 \u2014 " + steamT1 + " (Steam)",
                                                          "Thief 2 \u2014 " + steamT2 + " (Steam)",
                                                          "Thief 2 \u2014 " + wineT2 + " (Wine)"}));
        EXPECT_TRUE(
            list->toolTip().endsWith("Not read:\n/h/.config/heroic/GamesConfig/x.json: not JSON"));

        list->setCurrentRow(2);
        use->click();
        EXPECT_EQ(t2dir->text().toStdString(), wineT2);
        EXPECT_EQ(t2runner->text(), "Starts through: Wine prefix");
        emit list->itemDoubleClicked(list->item(1));
        EXPECT_EQ(t2dir->text().toStdString(), steamT2);
        EXPECT_EQ(t2runner->text(), "Starts through: Steam");
        EXPECT_EQ(d.game(1).dir->text().toStdString(), steamT1);

        // Nothing found: said so, with the files not read.
        found.games.clear();
        d.findChild<QPushButton*>("findgames")->click();
        EXPECT_EQ(list->count(), 0);
        EXPECT_FALSE(use->isEnabled());
        return 0;
    });
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text,
              "None found\n\nNot read:\n/h/.config/heroic/GamesConfig/x.json: not JSON");
    EXPECT_EQ(finds, 2);

    // After the first confirmed setup the dialog opens without looking.
    dir.write("Tallowmere.ini", "[options]\ncompression level=5\n");
    found.games = {{2, wineT2, {}}};
    run([&](TSetupDlg& d) {
        EXPECT_EQ(d.game(2).dir->text(), "");
        EXPECT_EQ(d.foundgames->count(), 0);
        return 0;
    });
    EXPECT_EQ(finds, 2);
}

// The setup dialog's control that `w` stands for: a spin box's own line edit stands for it.
QWidget* control(QWidget* w) {
    while (w && (w->objectName().isEmpty() || w->objectName().startsWith("qt_")))
        w = w->parentWidget();
    return w;
}

// The key of a caption: its "&" letter with Alt; none without one.
QKeySequence keyOf(QWidget* w) {
    if (auto* box = qobject_cast<QGroupBox*>(w)) return QKeySequence::mnemonic(box->title());
    if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w))
        return QKeySequence::mnemonic(w->property("text").toString());
    return {};
}

TEST_F(SetupDialog, EveryKeyOfACaptionReachesItsControlInEveryLanguage) {
    // The control each caption's key reaches: a button itself, a label's or a box's field.
    const std::map<std::string, std::string> reaches = {
        {"MissionBox", "missiondirs"},
        {"AddBtn", "AddBtn"},
        {"RemoveBtn", "RemoveBtn"},
        {"Label3", "t1dir"},
        {"t1folders", "t1folders"},
        {"Label2", "t2dir"},
        {"t2folders", "t2folders"},
        {"Label11", "t3dir"},
        {"findgames", "findgames"},
        {"usegame", "usegame"},
        {"CompressLabel", "compresslevel"},
        {"Window0", "Window0"},
        {"Window1", "Window1"},
        {"LangBox", "Language"},
        {"StartBox", "startcommand"},
        {"t1commandLabel", "t1command"},
        {"t2commandLabel", "t2command"},
        {"t3commandLabel", "t3command"},
        {"OKBtn", "OKBtn"},
        {"CancelBtn", "CancelBtn"},
    };
    found.games = {{1, "/g/t1/", {}}};  // Use can be pressed
    for (int language = 1; language <= 4; ++language) {
        shippedLanguage(language);
        run([&](TSetupDlg& d) {
            EXPECT_TRUE(showActive(d));
            std::map<QString, std::string> owners;  // key -> caption
            for (QWidget* w : d.findChildren<QWidget*>()) {
                const std::string name = w->objectName().toStdString();
                const QKeySequence key = keyOf(w);
                EXPECT_EQ(!key.isEmpty(), reaches.count(name) == 1) << language << " " << name;
                if (auto* label = qobject_cast<QLabel*>(w)) {
                    EXPECT_EQ(!key.isEmpty(), label->buddy() != nullptr) << language << " " << name;
                }
                if (key.isEmpty()) continue;
                const auto [at, isNew] = owners.emplace(key.toString(), name);
                EXPECT_TRUE(isNew) << language << " " << name << " and " << at->second << ": "
                                   << key.toString().toStdString();
            }
            // Each key as the player presses it: a label's field takes the focus, a button
            // goes down (and would act after the dialog is gone).
            for (const auto& [caption, target] : reaches) {
                auto* from = d.findChild<QWidget*>(QString::fromStdString(caption));
                auto* to = d.findChild<QWidget*>(QString::fromStdString(target));
                EXPECT_TRUE(from && to) << caption;
                if (!from || !to) continue;
                QTest::keySequence(&d, keyOf(from));
                auto* button = qobject_cast<QAbstractButton*>(to);
                EXPECT_TRUE(control(QApplication::focusWidget()) == to ||
                            (button && button->isDown()))
                    << language << " " << caption;
            }
            return 0;
        });
    }
}

// Tab enters the window choice at its checked item only; the arrow keys move within it.
TEST_F(SetupDialog, TabGoesTopToBottomAndLeftToRight) {
    found.games = {{1, "/g/t1/", {}}};  // Use can be pressed
    // System Shock 2's mission folders are no choice: its box takes no focus.
    const std::vector<std::string> order = {
        "missiondirs", "AddBtn",    "RemoveBtn",     "t1dir",   "Button3",   "t1folders",
        "t2dir",       "Button4",   "t2folders",     "t3dir",   "Button11",  "foundgames",
        "findgames",   "usegame",   "compresslevel", "Window0", "Language",  "startcommand",
        "t1command",   "t2command", "t3command",     "OKBtn",   "CancelBtn", "missiondirs"};
    run([&](TSetupDlg& d) {
        EXPECT_TRUE(showActive(d));
        d.missiondirs->setFocus();
        std::vector<std::string> seen;
        for (size_t i = 0; i < order.size(); ++i) {
            QWidget* at = control(QApplication::focusWidget());
            seen.push_back(at ? at->objectName().toStdString() : "");
            if (at) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        EXPECT_EQ(seen, order);
        return 0;
    });
}

// In each language: the words of the language, and labels clear of their fields.
TEST_F(SetupDialog, LabelsStandClearOfTheirFieldsAndNothingOverlapsInEveryLanguage) {
    const char* sizes[] = {"1.50 MB", "1,50 MB", "1,50 Mo", "1,50 MB"};
    for (int language = 1; language <= 4; ++language) {
        shippedLanguage(language);
        Tmainform::applyInterfaceLocale();
        // Words of the language: the unit of sizes, the languages in their own names.
        EXPECT_EQ(SizeCellText("1572864").toStdString(), sizes[language - 1]);
        run([&](TSetupDlg& d) {
            EXPECT_TRUE(showActive(d));
            QStringList names;
            for (int i = 0; i < d.Language->count(); ++i) names << d.Language->itemText(i);
            EXPECT_EQ(names.join(','), QStringLiteral("English,Deutsch,Français,Español"));
            EXPECT_FALSE(d.missionshelp->text().isEmpty());
            // A label shows its whole text, a gap before its field, on the field's line.
            for (QLabel* label : d.findChildren<QLabel*>()) {
                QWidget* field = label->buddy();
                if (!field) continue;
                const std::string name = label->objectName().toStdString();
                EXPECT_GE(label->width(), label->sizeHint().width()) << language << " " << name;
                EXPECT_GE(field->x() - label->geometry().right(), 5) << language << " " << name;
                EXPECT_LE(std::abs(label->geometry().center().y() - field->geometry().center().y()),
                          1)
                    << language << " " << name;
            }
            // A button's or a box's caption is not cut off.
            for (QAbstractButton* b : d.findChildren<QAbstractButton*>()) {
                QString text = b->text();
                text.remove(QLatin1Char('&'));
                const int indicator = qobject_cast<QPushButton*>(b) ? 6 : 20;
                EXPECT_LE(b->fontMetrics().horizontalAdvance(text) + indicator, b->width())
                    << language << " " << b->objectName().toStdString();
            }
            // Nothing overlaps its neighbours or reaches out of its box.
            std::vector<QWidget*> parents = {&d};
            for (QGroupBox* box : d.findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly))
                parents.push_back(box);
            for (QWidget* parent : parents) {
                QList<QWidget*> shown;
                for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                    if (!child->isHidden()) shown.append(child);
                for (qsizetype i = 0; i < shown.size(); ++i) {
                    const std::string name = shown[i]->objectName().toStdString();
                    EXPECT_TRUE(parent->rect().contains(shown[i]->geometry())) << language << name;
                    for (qsizetype j = i + 1; j < shown.size(); ++j)
                        EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
                            << language << " " << name << " "
                            << shown[j]->objectName().toStdString();
                }
            }
            return 0;
        });
    }
    QLocale::setDefault(QLocale::c());
}

}  // namespace
