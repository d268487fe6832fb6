// Connects the main window's events and the start-up to the features that carry them out.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileSystemWatcher>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <map>

#include "app/AppState.h"
#include "app/Operations.h"
#include "app/Selection.h"
#include "app/ui/InstallWiring.h"
#include "app/ui/LibraryCommands.h"
#include "app/ui/LibraryPanel.h"
#include "app/ui/MainForm.h"
#include "app/ui/Program.h"
#include "app/ui/ReadmeDocument.h"
#include "app/ui/ScreenshotStrip.h"
#include "app/ui/TitleReading.h"
#include "archive/ZipArchiver.h"
#include "catalogue/ui/CatalogueScan.h"
#include "catalogue/ui/MissionGrid.h"
#include "catalogue/ui/QuestGridDraw.h"
#include "dialogs/SetupLogic.h"
#include "dialogs/ui/About.h"
#include "dialogs/ui/Setup.h"
#include "game/Games.h"
#include "game/MissionRecords.h"
#include "install/InstallLaunch.h"
#include "platform/TextUtil.h"

namespace {

InfoPanel g_panel;
SelectionHandler g_selection;
bool g_selectionHeld = false;

// A text of the program on screen, with DOS line ends as plain ones.
QString memoText(const std::string& s) {
    QString t = text::display(s);
    t.replace("\r\n", "\n");
    t.replace('\r', '\n');
    return t;
}

// The read-me: plain text, or rich text with the archive's pictures, each laid out afresh
// by the memo's view, which loads nothing else the read-me names and runs no scripts. A
// read-me already shown is left as it is (where the player scrolled it) until the next scan.
void showMemo(ReadmeView& memo, const InfoPanel& p) {
    struct Shown {
        const QTextDocument* document = nullptr;
        bool html = false;
        std::string text;
        std::map<std::string, std::string> pictures;
        unsigned scan = 0;  // a new scan opens the read-me at its top again
    };
    static Shown shown;
    if (shown.document == memo.document() && shown.html == p.questMemoHtml &&
        shown.text == p.questMemo && shown.pictures == p.questMemoPictures &&
        shown.scan == FullScanCount())
        return;
    if (p.questMemoHtml)
        memo.showRich(QString::fromStdString(p.questMemo), p.questMemoPictures);
    else
        memo.showPlain(memoText(p.questMemo));
    shown = {memo.document(), p.questMemoHtml, p.questMemo, p.questMemoPictures, FullScanCount()};
}

// Mirrors the panel state onto the main window's controls.
void showPanel() {
    Tmainform& f = *mainform;
    const InfoPanel& p = g_panel;
    {
        // A heading wider than the panel ends in an ellipsis and shows whole as a tooltip.
        const QString heading = text::display(p.questinfo);
        const QString shown =
            f.Questinfo->fontMetrics().elidedText(heading, Qt::ElideRight, f.Questinfo->width());
        f.Questinfo->setText(shown);
        f.Questinfo->setToolTip(shown == heading ? QString() : heading);
    }
    const std::pair<QCheckBox*, bool> boxes[] = {
        {f.goalscheck, p.goalscheck},         {f.mapcheck, p.mapcheck},
        {f.automapcheck, p.automapcheck},     {f.texturecheck, p.texturecheck},
        {f.soundscheck, p.soundscheck},       {f.objectscheck, p.objectscheck},
        {f.creaturescheck, p.creaturescheck}, {f.gamesyscheck, p.gamesyscheck},
        {f.bookscheck, p.bookscheck},         {f.moviescheck, p.moviescheck}};
    for (const auto& [box, checked] : boxes) box->setChecked(checked);
    f.setContentCaptions(p.boxCaptions);
    f.noteslabel->setText(text::display(p.noteslabel));
    f.NotesCaption->setVisible(p.notesCaptionVisible);
    f.LanguageCombo->clear();
    for (const std::string& item : p.languageItems) f.LanguageCombo->addItem(text::display(item));
    f.LanguageCombo->setCurrentIndex(p.languageIndex);
    f.LanguageCombo->setVisible(p.languageComboVisible);
    f.PasswordButton->setVisible(p.passwordOffered);
    f.OrigPanel->setVisible(p.origPanelVisible);
    if (p.origPanelVisible) f.OrigPanel->raise();
    showMemo(*f.questMemo, p);
    {
        // Showing a row never writes its record.
        QSignalBlocker block(f.finished);
        f.finished->setChecked(p.finished);
    }
    f.playbutton->setEnabled(p.playEnabled);
    f.dromedbutton->setEnabled(p.dromedEnabled);
    f.installonlybutton->setEnabled(p.installOnlyEnabled);
}

SelectionEnv selectionEnv() {
    Tmainform& f = *mainform;
    TMissionGrid& grid = *f.QuestGrid;
    SelectionEnv env;
    env.rowCount = [&grid] { return grid.RowCount(); };
    env.mission = [&grid](int r) { return grid.MissionAt(r); };
    env.reloadRow = [&grid](int r) {
        if (!app().settings) return;
        const bool retitled = grid.ReloadMission(r, MissionStore(*app().settings));
        // A title the selection read takes its place in a list sorted by title, once the
        // selection is done (the row stays selected as it moves).
        constexpr int kTitle = columnOf(MissionColumn::Title);
        if (retitled && grid.SortIndex == kTitle)
            QTimer::singleShot(0, &grid, [&grid] {
                if (grid.SortIndex == kTitle) grid.SortRows();
            });
    };
    env.fullScan = [] { mainform->ScanCatalogue(false); };
    env.showPanel = showPanel;
    return env;
}

// The remove command acts on the row the selection handled last when the catalogue marks
// it installed in its mission folder.
void showRemoveCommand(int row) {
    const Mission* mission = mainform->QuestGrid->MissionAt(row);
    mainform->removeaction->setEnabled(mission && mission->inFolder && !g_selection.failed());
}

void selectRow(int col, int row) {
    const std::unique_ptr<ProgressSink> progress = mainFormProgress(*mainform);
    SelectionEnv env = selectionEnv();
    env.progress = progress.get();
    g_selection.QuestGridSelectCell(col, row, *mainform->Zip, g_panel, env);
    showPanel();
    showLibraryPanel(*mainform, row);
    // The editor button names the editor of the mission's game.
    const Mission* selected = mainform->QuestGrid->MissionAt(row);
    mainform->dromedbutton->setText(
        QString::fromStdString("&" + games::editorCaption(selected ? selected->markedGame() : 0)));
    if (const Mission* mission = mainform->QuestGrid->MissionAt(row);
        mission && !g_selection.failed())
        showMissionPictures(*mainform->Library->Screenshots, *mainform->Zip, *mission,
                            programContext());
    else
        mainform->Library->Screenshots->clear();
    showRemoveCommand(row);
}

// True when the grid's row is the selection the panel shows and it can be started: the
// commands act on nothing else.
bool selectionShown() {
    const Mission* selected = mainform->QuestGrid->SelectedMission();
    return selected && !g_selection.failed() && selected->place() == g_selection.lastSelectionKey();
}

// The title reading of the window, which goes with it.
class TitleHolder : public QObject {
  public:
    explicit TitleHolder(Tmainform& form)
        : QObject(&form), reading(*form.QuestGrid, *form.StatusBar) {}
    TitleReading reading;
};

TitleReading& titleReading() {
    static QPointer<TitleHolder> holder;
    if (!holder || holder->parent() != mainform) holder = new TitleHolder(*mainform);
    return holder->reading;
}

// The list follows the mission directories: F5 scans them again, and an archive that
// arrives, changes or goes shows within a few seconds, once the folder has been still for
// a moment (a browser writes a download in steps) and nothing else is under way.
// A scan the player did not ask to change the selection for (F5, a new download): the row
// selected before stays selected when it is still listed.
void rescanKeepingSelection() {
    TMissionGrid& grid = *mainform->QuestGrid;
    const Mission* before = grid.SelectedMission();
    if (before == nullptr) {
        mainform->ScanCatalogue(false);
        return;
    }
    const std::string place = before->place();
    mainform->ScanCatalogue(false);
    const int row =
        grid.FindMission([&place](const Mission& mission) { return mission.place() == place; });
    if (row != 0 && row != grid.Row()) {
        grid.SetRow(row);
        selectRow(0, row);
    }
}

void keepCatalogueCurrent() {
    constexpr int kStillMs = 1500;
    static QPointer<QFileSystemWatcher> watcher;
    static QPointer<QTimer> still;
    if (!watcher) {
        watcher = new QFileSystemWatcher(mainform);
        still = new QTimer(mainform);
        still->setSingleShot(true);
        still->setInterval(kStillMs);
        QObject::connect(watcher, &QFileSystemWatcher::directoryChanged, still,
                         qOverload<>(&QTimer::start));
        QObject::connect(still, &QTimer::timeout, [] {
            if (!mainform) return;
            if (!mainform->isEnabled() || QApplication::activeModalWidget()) {
                still->start();
                return;
            }
            if (app().settings && MissionArchivesNow(*app().settings) != ScannedMissionArchives())
                rescanKeepingSelection();
        });
        auto* refresh = new QShortcut(QKeySequence::Refresh, mainform);
        QObject::connect(refresh, &QShortcut::activated, [] {
            if (mainform && mainform->isEnabled()) rescanKeepingSelection();
        });
    }
    QStringList dirs;
    if (app().settings)
        for (const std::string& dir : MissionDirectories(*app().settings))
            dirs.push_back(text::display(dir));
    if (watcher->directories() == dirs) return;
    if (!watcher->directories().isEmpty()) watcher->removePaths(watcher->directories());
    if (!dirs.isEmpty()) watcher->addPaths(dirs);
}

ScanEnv scanEnv() {
    Tmainform& f = *mainform;
    ScanEnv env;
    env.grid = f.QuestGrid;
    env.settings = app().settings.get();
    env.games = &app().thiefdata;
    env.applicationTitle = app().applicationTitle;
    env.setCurrentBar = [&f](const std::string& t) { f.CurrentBar->SetSimpleText(t); };
    env.setCaption = [&f](const std::string& t) { f.setWindowTitle(text::display(t)); };
    env.runSetupDialog = [] { RunSetupDialog(); };
    env.selectCell = [](int col, int row) {
        if (!g_selectionHeld) selectRow(col, row);
    };
    env.readTitles = [](std::vector<TitleRead> reads) { titleReading().read(std::move(reads)); };
    env.readFacts = [](std::vector<TitleRead> reads) {
        titleReading().readFacts(std::move(reads));
    };
    env.today = TodayDayNumber();
    return env;
}

}  // namespace

const SelectedMission& WindowSelectedMission() {
    return g_selection.mission();
}

void InstallFeatureHooks() {
    g_panel = InfoPanel{};
    g_selection = SelectionHandler{};
    g_selectionHeld = false;
    InstallSetupDialog(programSetupFiles);
    MainFormHooks& hooks = mainFormHooks();
    hooks.scanCatalogue = [](bool refreshOnly) {
        ScanCatalogue(refreshOnly, scanEnv());
        if (!refreshOnly) keepCatalogueCurrent();
        showRemoveCommand(selectionShown() ? mainform->QuestGrid->Row() : 0);
    };
    hooks.drawCell = [](TStringGridEx*, int col, int row, const QRect& rect, QPainter& painter,
                        bool selected) {
        QuestGridDrawCell(mainform->QuestGrid, col, row, rect, painter, selected,
                          mainform->ImageList);
    };
    hooks.selectCell = [](TStringGridEx*, int col, int row, bool& canSelect) {
        // Selections made by events while the handler runs are not handled, and the grid
        // does not move to a row that was not analysed.
        if (!g_selection.attached()) {
            canSelect = false;
            return;
        }
        const unsigned scans = FullScanCount();
        selectRow(col, row);
        // A rescan inside the handler has selected its own row; keep that one.
        if (FullScanCount() != scans) canSelect = false;
    };
    hooks.installAndLaunch = [](InstallAction action) {
        if (selectionShown()) InstallAndLaunchFromMainForm(g_selection, action);
    };
    hooks.removeMissionFolder = [] {
        if (selectionShown()) RemoveMissionFolderFromMainForm(g_selection);
    };
    hooks.bringBackSavedGame = [] {
        if (selectionShown()) BringBackSavedGameFromMainForm(g_selection);
    };
    hooks.enterPassword = [] {
        if (!selectionShown()) return;
        const std::unique_ptr<ProgressSink> progress = mainFormProgress(*mainform);
        SelectionEnv env = selectionEnv();
        env.progress = progress.get();
        g_selection.EnterPassword(mainform->QuestGrid->Row(), *mainform->Zip, g_panel, env);
        showPanel();
    };
    hooks.holdSelection = [](bool held) { g_selectionHeld = held; };
    hooks.aboutBox = [] { ShowAboutBox(mainform); };
    hooks.splash = [](const std::function<void()>& whileShown) { ShowSplashWhile(whileShown); };
    hooks.finishedClick = [] {
        TMissionGrid& grid = *mainform->QuestGrid;
        const int row = grid.Row();
        const Mission* listed = grid.MissionAt(row);
        if (listed == nullptr || !app().settings) return;
        Mission mission = *listed;
        MissionStore store(*app().settings);
        const bool checked = mainform->finished->isChecked();
        // Not finished at all is finished on no difficulty either.
        if (!checked && !mission.finishedOn.empty()) store.setFinishedOn(mission, {});
        store.setFinished(mission, checked);
        grid.SetMission(row, std::move(mission));
        g_panel.finished = checked;
        showLibraryPanel(*mainform);
    };
}
