#include "app/Selection.h"

#include <exception>

#include "app/Operations.h"

#include "app/AppState.h"
#include "archive/MissionArchive.h"
#include "archive/ZipArchiver.h"
#include "archive/ZipMessages.h"
#include "game/GameDir.h"
#include "game/Games.h"
#include "game/InstallState.h"
#include "game/MissionRecords.h"
#include "inspect/MissionCache.h"
#include "platform/FileSystem.h"
#include "platform/Progress.h"
#include "platform/Prompter.h"
#include "platform/TextUtil.h"

namespace {

// Re-attaches the handler however the selection ends.
class Detach {
  public:
    explicit Detach(bool& attached) : attached_(attached) { attached_ = false; }
    ~Detach() { attached_ = true; }
    Detach(const Detach&) = delete;
    Detach& operator=(const Detach&) = delete;

  private:
    bool& attached_;
};

int analyse(TZipArchiver& zip, const std::string& path, const std::string& recordKey,
            InfoPanel& panel, SelectedMission& mission, ProgressSink* shown) {
    ProgressSink silent;
    ProgressSink& progress = shown ? *shown : silent;
    const GameContext context = programContext();
    if (readsAsZip(path)) return AnalyseArchive(context, zip, recordKey, panel, mission, progress);
    std::unique_ptr<MissionArchive> archive =
        openAnalysedMission(missionCacheDir(context), path, recordKey);
    const int game = AnalyseMission(context, *archive, recordKey, panel, mission, progress);
    zip.ExtrBaseDir = app().thiefdata[game].gameDir;
    return game;
}

// The mission of `row`; an empty one for a row of none.
const Mission& missionOf(int row, const SelectionEnv& env) {
    static const Mission none;
    const Mission* mission = env.mission ? env.mission(row) : nullptr;
    return mission ? *mission : none;
}

// The selection of a row whose analysis failed: the panel names the row and says why, no
// game is current and nothing can be started or extracted.
void showFailure(const std::string& heading, const std::string& why, TZipArchiver& zip,
                 InfoPanel& panel, SelectedMission& sel) {
    const bool finished = panel.finished;
    panel = InfoPanel{};
    panel.finished = finished;
    panel.questinfo = heading;
    panel.noteslabel = slot(115) + "\n" + why;
    panel.notesCaptionVisible = true;
    panel.playEnabled = panel.dromedEnabled = panel.installOnlyEnabled = false;
    std::string archivePath = std::move(sel.archivePath);
    sel = SelectedMission{};
    sel.currentGame = 0;
    sel.archivePath = std::move(archivePath);
    zip.ExtrBaseDir.clear();
}

// Whether the component's password opens the smallest encrypted member.
bool passwordOpens(TZipArchiver& zip) {
    const ZipDirEntry* smallest = nullptr;
    for (const ZipDirEntry& e : zip.Entries()) {
        if (e.Encrypted && (!smallest || e.UncompressedSize64 < smallest->UncompressedSize64))
            smallest = &e;
    }
    if (!smallest) return false;
    // The component never asks on its own here: a wrong password is simply refused.
    const TPasswordErrorEvent saved = zip.OnPasswordError;
    zip.OnPasswordError = [](TZipArchiver*, std::string& password, const std::string&,
                             uint32_t& repeat) {
        password.clear();
        repeat = 0;
    };
    const bool opened = zip.ExtractToStream(smallest->FileName) != nullptr;
    zip.OnPasswordError = saved;
    return opened;
}

}  // namespace

void SelectionHandler::QuestGridSelectCell(int /*col*/, int row, TZipArchiver& zip,
                                           InfoPanel& panel, const SelectionEnv& env) {
    // 1-2. Selecting another cell of the same row changes nothing.
    const Mission mission = missionOf(row, env);  // a copy: a rescan may replace the rows
    const std::string key = mission.place();
    if (key == lastKey_) return;
    lastKey_ = key;
    failed_ = false;

    // 3. Detached while it runs.
    Detach detach(attached_);

    // 4. Only data rows.
    if (row < 1 || row >= env.rowCount()) return;
    // A password given for the archive selected before is not kept for this one.
    zip.Password.clear();
    try {
        selectRow(row, zip, panel, env);
    } catch (const std::exception& e) {
        failed_ = true;
        showFailure(mission.shownName(), e.what(), zip, panel, mission_);
    } catch (...) {
        failed_ = true;
        showFailure(mission.name, "Unknown error", zip, panel, mission_);
    }
}

void SelectionHandler::selectRow(int row, TZipArchiver& zip, InfoPanel& panel,
                                 const SelectionEnv& env) {
    const Mission listed = missionOf(row, env);
    // 5. The finished box follows the row (set without writing the record).
    panel.finished = listed.finished;

    SelectedMission& sel = mission_;
    if (!listed.dir.empty()) {
        // 6. Mission row.
        const std::string archive = listed.archivePath;
        pointComponentAt(zip, archive);
        sel.archivePath = archive;
        if (fsx::fileExists(archive)) {
            analyseRow(row, archive, zip, panel, env);
        } else {
            if (env.showPanel) env.showPanel();
            prompter().message(slot(36) + " " + archive);
            if (env.fullScan) env.fullScan();
        }
    } else {
        // 7. Game row.
        sel.archivePath = " Original";
        const int game = listed.gameRow ? listed.game : 0;
        sel.currentGame = static_cast<uint8_t>(game != 0 ? game : games::all().front().number);
        zip.SetZipFileName(" Original");
        panel.playEnabled = true;
        panel.questMemo = slot(34) + "\n" + slot(35);
        panel.questMemoHtml = false;
        panel.origPanelVisible = true;
        panel.passwordOffered = false;
        panel.noteslabel.clear();
        panel.installOnlyEnabled =
            !IsAlreadyInstalled(" Original", app().thiefdata[sel.currentGame]);
    }

    // 8. Editor button.
    const std::string& gameDir = app().thiefdata[sel.currentGame].gameDir;
    const games::Game* game = games::find(sel.currentGame);
    panel.dromedEnabled = panel.dromedEnabled && game && !gameDir.empty() &&
                          fsx::fileExists(gamedir::path(gameDir, game->editor));
}

void SelectionHandler::analyseRow(int row, const std::string& archive, TZipArchiver& zip,
                                  InfoPanel& panel, const SelectionEnv& env) {
    panel.playEnabled = true;
    panel.dromedEnabled = true;
    const Mission listed = missionOf(row, env);
    const std::string key = listed.recordKey;
    // Undecided before the analysis: the analysis may decide it.
    const bool undecided = !listed.gameRow && listed.type == "0";
    const int game = analyse(zip, archive, key, panel, mission_, env.progress);
    // An archive found unreadable has no game: a type stored for it before goes, and its row
    // shows no game mark. One that waits for its password is readable with it.
    const bool forgotten = game == 0 && !panel.passwordOffered && app().settings &&
                           MissionStore(*app().settings).forgetType(key);
    if ((forgotten || undecided) && env.reloadRow) env.reloadRow(row);
}

bool SelectionHandler::EnterPassword(int row, TZipArchiver& zip, InfoPanel& panel,
                                     const SelectionEnv& env) {
    if (failed_ || !panel.passwordOffered || row < 1 || row >= env.rowCount() ||
        missionOf(row, env).place() != lastKey_)
        return false;
    std::string password;
    if (!prompter().password(ZipMessageText(10154), ZipMessageText(10155), password) ||
        password.empty())
        return false;
    Detach detach(attached_);
    zip.Password = password;
    try {
        if (!passwordOpens(zip)) {
            zip.Password.clear();
            panel.noteslabel = slot(101) + "\n" + slot(116);
            return false;
        }
        analyseRow(row, mission_.archivePath, zip, panel, env);
    } catch (const std::exception& e) {
        failed_ = true;
        zip.Password.clear();
        showFailure(missionOf(row, env).name, e.what(), zip, panel, mission_);
        return false;
    }
    return !failed_;
}
