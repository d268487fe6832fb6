#include "inspect/Selection.h"

#include "archive/MissionArchive.h"
#include "archive/ZipArchiver.h"
#include "catalogue/MissionRecords.h"
#include "inspect/MissionCache.h"
#include "install/GameDir.h"
#include "platform/FileSystem.h"
#include "platform/Prompter.h"
#include "state/AppState.h"

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

void analyse(TZipArchiver& zip, const std::string& path, const std::string& recordKey,
             InfoPanel& panel, const AnalysisHooks& hooks) {
    if (missionArchiveExtension(path) == ".zip") {
        AnalyseArchive(zip, recordKey, panel, hooks);
        return;
    }
    std::unique_ptr<MissionArchive> archive = openAnalysedMission(path, recordKey);
    const int game = AnalyseMission(*archive, recordKey, panel, hooks);
    zip.ExtrBaseDir = app().thiefdata[static_cast<size_t>(game)].gameDir;
}

}  // namespace

void SelectionHandler::QuestGridSelectCell(int /*col*/, int row, TZipArchiver& zip,
                                           InfoPanel& panel, const SelectionEnv& env) {
    // 1-2. Selecting another cell of the same row changes nothing.
    const std::string key = env.cell(3, row) + env.cell(2, row);
    if (key == lastKey_) return;
    lastKey_ = key;

    // 3. Detached while it runs.
    Detach detach(attached_);

    // 4. Only data rows.
    if (row < 1 || row >= env.rowCount()) return;

    // 5. The finished box follows the row (set without writing the record).
    panel.finished = env.cell(5, row) == "F";

    SelectedMission& sel = selectedMission();
    const std::string dir = env.cell(3, row);
    if (!dir.empty()) {
        // 6. Mission row.
        const std::string archive = MissionArchivePath(dir, env.cell(2, row), env.cell(4, row));
        pointComponentAt(zip, archive);
        sel.archivePath = archive;
        if (fsx::fileExists(archive)) {
            panel.playEnabled = true;
            std::vector<std::string> cells;
            for (int c = 0; c < 7; ++c) cells.push_back(env.cell(c, row));
            analyse(zip, archive, RecordKey(cells), panel, env.analysisHooks);
            if (env.cell(0, row) == "01" && env.reloadRow) env.reloadRow(row);
        } else {
            if (env.showPanel) env.showPanel();
            prompter().message(slot(36) + " " + archive);
            if (env.fullScan) env.fullScan();
        }
    } else {
        // 7. Game row: the game number is the 18th character of column 1.
        const std::string title = env.cell(1, row);
        const int game = title.size() >= 18 ? title[17] - '0' : 1;
        sel.currentGame = static_cast<uint8_t>(game == 2 ? 2 : 1);
        zip.SetZipFileName(" Original");
        sel.archivePath = " Original";
        panel.playEnabled = true;
        panel.questMemo = slot(34) + "\n" + slot(35);
        panel.questMemoHtml = false;
        panel.origPanelVisible = true;
        panel.noteslabel.clear();
        panel.installOnlyEnabled =
            !IsAlreadyInstalled(" Original", app().thiefdata[sel.currentGame]);
    }

    // 8. Editor button.
    const std::string& gameDir = app().thiefdata[selectedMission().currentGame].gameDir;
    panel.dromedEnabled =
        !gameDir.empty() && fsx::fileExists(gamedir::path(gameDir, gamedir::kDromedExe));
}
