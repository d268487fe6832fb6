#include "app/ui/InstallWiring.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>

#include "app/AppState.h"
#include "app/Operations.h"
#include "app/Selection.h"
#include "app/ui/MainForm.h"
#include "app/ui/PlayClock.h"
#include "archive/ZipArchiver.h"
#include "catalogue/ui/MissionGrid.h"
#include "dialogs/ui/OlderSavesDlg.h"
#include "game/MissionRecords.h"
#include "install/FolderInstall.h"
#include "install/Uninstall.h"
#include "platform/FileSystem.h"
#include "platform/Prompter.h"
#include "platform/TextUtil.h"

namespace {

// Escape stops the extraction and conversion of an install. The window is disabled while
// it runs, so the key is taken before it reaches any widget; a dialog open meanwhile (a
// message) keeps its own Escape.
class EscapeCancels final : public QObject {
  public:
    explicit EscapeCancels(bool& cancelled) : cancelled_(cancelled) {}
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() != QEvent::KeyPress || static_cast<QKeyEvent*>(e)->key() != Qt::Key_Escape ||
            QApplication::activeModalWidget() != nullptr)
            return QObject::eventFilter(watched, e);
        cancelled_ = true;
        return true;
    }

  private:
    bool& cancelled_;
};

class MainFormProgress final : public ProgressSink {
  public:
    explicit MainFormProgress(Tmainform& form) : form_(form), escape_(cancelled_) {}
    ~MainFormProgress() override { qApp->removeEventFilter(&escape_); }
    MainFormProgress(const MainFormProgress&) = delete;
    MainFormProgress& operator=(const MainFormProgress&) = delete;

    void status(const std::string& text) override { form_.StatusBar->SetSimpleText(text); }
    void showBar(bool shown) override { form_.ProgressBar->setVisible(shown); }
    void barMaximum(int64_t bytes) override { form_.SetProgressMax(bytes); }
    void barPosition(int64_t bytes) override { form_.SetProgressPosition(bytes); }
    int64_t currentBarPosition() override { return form_.ProgressPosition(); }
    void cancellable(bool on) override {
        if (on) {
            cancelled_ = false;
            qApp->installEventFilter(&escape_);
            form_.ProgressBar->setFormat(QStringLiteral("%p% \u2013 ") + text::display(slot(89)));
        } else {
            qApp->removeEventFilter(&escape_);
            form_.ProgressBar->resetFormat();
        }
    }
    bool cancelled() override { return cancelled_; }
    void busy(bool on) override {
        if (on) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            form_.setEnabled(false);
        } else {
            form_.setEnabled(true);
            QApplication::restoreOverrideCursor();
        }
    }
    void processEvents() override { prompter().processEvents(); }

  private:
    Tmainform& form_;
    bool cancelled_ = false;
    EscapeCancels escape_;
};

InstallRequest requestFromMainForm(Tmainform& f, const SelectionHandler& selection,
                                   InstallAction action) {
    static const Mission none;
    const Mission* selected = f.QuestGrid->SelectedMission();
    const Mission& listed = selected ? *selected : none;
    InstallRequest request;
    request.mission = selection.mission();
    request.action = action;
    request.recordKey = listed.recordKey;
    request.selectionName = listed.name;
    for (int i = 0; i < f.LanguageCombo->count(); ++i)
        request.languageItems.push_back(text::fromDisplay(f.LanguageCombo->itemText(i)));
    request.selectedLanguage = text::fromDisplay(f.LanguageCombo->currentText());
    request.password = f.Zip->Password;
    return request;
}

// The row and the top bar read again after an operation.
void showOutcome(Tmainform& f, int row) {
    if (app().settings) f.QuestGrid->ReloadMission(row, MissionStore(*app().settings));
    f.ScanCatalogue(true);
}

// The grid's mission of record `key` read again (its play time grew).
void reloadMission(const std::string& key) {
    if (!mainform || !app().settings) return;
    TMissionGrid& grid = *mainform->QuestGrid;
    const int row =
        grid.FindMission([&key](const Mission& mission) { return mission.recordKey == key; });
    grid.ReloadMission(row, MissionStore(*app().settings));
}

// After an operation that failed part way: the window shows what is on disk now, as far as
// that can be read.
void showWhatIsLeft(Tmainform& f) {
    try {
        f.ScanCatalogue(true);
    } catch (...) {
    }
}

}  // namespace

std::unique_ptr<ProgressSink> mainFormProgress(Tmainform& form) {
    return std::make_unique<MainFormProgress>(form);
}

void RecoverFromMainForm() {
    if (!mainform) return;
    Tmainform& f = *mainform;
    try {
        if (operations::recover(*f.Zip2, *mainFormProgress(f))) f.ScanCatalogue(true);
    } catch (const std::exception& e) {
        f.ProgressBar->setVisible(false);
        prompter().message(e.what(), PromptButtons::Ok, PromptIcon::Error);
    }
}

void InstallAndLaunchFromMainForm(const SelectionHandler& selection, InstallAction action) {
    if (!mainform) return;
    Tmainform& f = *mainform;
    const int row = f.QuestGrid->Row();
    if (row < 1) return;
    const InstallRequest request = requestFromMainForm(f, selection, action);
    const std::unique_ptr<ProgressSink> progress = mainFormProgress(f);
    InstallOutcome outcome;
    try {
        outcome = operations::install(request, *f.Zip2, *progress);
    } catch (const InstallCancelled&) {
        // Stopped by the player: said calmly, with the state the game is left in. A mission
        // folder's unfinished copy is gone already; in the game directory the files come out
        // at the next start.
        showWhatIsLeft(f);
        f.installonlybutton->setEnabled(false);
        prompter().message(
            slot(UsesMissionFolders(programContext(), request.mission.currentGame) ? 183 : 180),
            PromptButtons::Ok, PromptIcon::Information);
        return;
    } catch (...) {
        showWhatIsLeft(f);  // what the marker now says
        f.installonlybutton->setEnabled(false);
        throw;
    }
    if (outcome.refreshed) showOutcome(f, row);
    if (outcome.ran) f.installonlybutton->setEnabled(false);
    if (outcome.started && request.action == InstallAction::Play)
        watchPlayTime(f, app().thiefdata[request.mission.currentGame].gameDir, request.recordKey,
                      [key = request.recordKey] { reloadMission(key); });
    // "Starting the game..." covers the seconds the game takes to appear, not the game.
    if (outcome.started) {
        const std::string shown = f.StatusBar->SimpleText();
        QPointer<Tmainform> window(&f);
        QTimer::singleShot(kStartNoteMs, &f, [window, shown] {
            if (window && window->StatusBar->SimpleText() == shown)
                window->StatusBar->SetSimpleText("");
        });
    }
}

void RemoveMissionFolderFromMainForm(const SelectionHandler& selection) {
    if (!mainform) return;
    Tmainform& f = *mainform;
    const int row = f.QuestGrid->Row();
    if (row < 1) return;
    const InstallRequest request = requestFromMainForm(f, selection, InstallAction::InstallOnly);
    try {
        operations::removeMissionFolder(request, *f.Zip2, *mainFormProgress(f));
    } catch (...) {
        showWhatIsLeft(f);  // a folder renamed for removal no longer counts as installed
        throw;
    }
    showOutcome(f, row);
    f.installonlybutton->setEnabled(true);  // the row's mission can go in again
    const std::string& gameDir = app().thiefdata[request.mission.currentGame].gameDir;
    const std::string savesZip = SavesArchivePath(gameDir, request.mission.archivePath);
    if (!gameDir.empty() && fsx::fileExists(savesZip))
        f.StatusBar->SetSimpleText(text::withArgument(slot(211), fsx::resolve(savesZip)));
}

void BringBackSavedGameFromMainForm(const SelectionHandler& selection) {
    if (!mainform) return;
    Tmainform& f = *mainform;
    if (f.QuestGrid->Row() < 1) return;
    const InstallRequest request = requestFromMainForm(f, selection, InstallAction::InstallOnly);
    const std::vector<std::string> versions = operations::olderSavedGames(request, *f.Zip2);
    if (versions.empty()) {
        prompter().message(slot(209), PromptButtons::Ok, PromptIcon::Information);
        return;
    }
    TOlderSavesDlg dialog(versions, &f);
    if (prompter().runModal(dialog) != QDialog::Accepted || dialog.picked().empty()) return;
    const std::string slotName =
        operations::bringBackSavedGame(request, dialog.picked(), *f.Zip2, *mainFormProgress(f));
    if (!slotName.empty())
        prompter().message(text::withArgument(slot(210), slotName), PromptButtons::Ok,
                           PromptIcon::Information);
}
