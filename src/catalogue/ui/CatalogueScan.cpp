#include "catalogue/ui/CatalogueScan.h"

#include <optional>

#include "archive/MissionArchive.h"
#include "archive/ZipArchiver.h"
#include "catalogue/GameState.h"
#include "catalogue/MissionRecords.h"
#include "catalogue/ui/QuestGridDraw.h"
#include "catalogue/ui/StringGridEx.h"
#include "inspect/TypeDetection.h"
#include "install/GameDir.h"
#include "platform/FileSystem.h"
#include "platform/Prompter.h"
#include "platform/TextUtil.h"
#include "state/AppState.h"

namespace {

unsigned g_fullScans = 0;

// Column titles of row 0, by column.
constexpr int kTitleSlots[7] = {78, 75, 77, 79, 76, 14, 80};

std::string gameRowText(int game) {
    return " Original (Thief " + std::to_string(game) + ")";
}

// Appends the working row (always the last row) to the grid and opens a new working row.
void commitWorkingRow(TStringGridEx& grid, std::vector<std::string> cells) {
    const int row = grid.RowCount() - 1;
    grid.SetRowCells(row, std::move(cells));
    grid.SetRowCount(grid.RowCount() + 1);
    grid.SetRowCells(grid.RowCount() - 1, {});
}

// The first data row whose cell in column `col`, passed through `form`, equals `value`
// without regard to case; 0 when there is none.
int findRow(const TStringGridEx& grid, int col, const std::string& value,
            std::string (*form)(const std::string&) = nullptr) {
    for (int r = 1; r < grid.RowCount(); ++r) {
        const std::string& cell = grid.Cell(col, r);
        if (text::equalsNoCase(form ? form(cell) : cell, value)) return r;
    }
    return 0;
}

}  // namespace

unsigned FullScanCount() {
    return g_fullScans;
}

void ScanCatalogue(bool refreshOnly, const ScanEnv& env) {
    if (refreshOnly) {
        if (env.setCurrentBar) env.setCurrentBar(RefreshInstalledState());
        return;
    }
    const unsigned myScan = ++g_fullScans;
    IniFile& settings = *app().settings;
    TStringGridEx& grid = *env.grid;

    std::optional<BusyCursor> busy;
    busy.emplace();
    // The scan writes the type of every archive seen for the first time: one store for all.
    std::optional<IniBatch> batch;
    batch.emplace(settings);

    // Keep the column layout (a layout stored already is not stored again).
    const std::string flags = grid.ColumnFlags();
    if (!flags.empty() && settings.ReadString("options", "columns", "") != flags)
        settings.WriteString("options", "columns", flags);

    grid.SetRowCount(2);
    grid.SetRowCells(1, {});

    app().thiefdata[1].gameDir =
        text::withTrailingDelim(settings.ReadString("options", "thief1dir", ""));
    app().thiefdata[2].gameDir =
        text::withTrailingDelim(settings.ReadString("options", "thief2dir", ""));

    std::string bar = slot(16);
    if (env.setCurrentBar) env.setCurrentBar(bar);

    std::string lastGameRow;
    for (int i = 1; i <= 2; ++i) {
        GameRecord& game = app().thiefdata[static_cast<size_t>(i)];
        if (game.gameDir.empty()) continue;
        std::vector<std::string> row(7);
        row[2] = gameRowText(i);
        LoadRecordIntoRow(row);
        row[0] = std::to_string(i) + "0";
        row[1] = row[2];
        lastGameRow = row[2];
        commitWorkingRow(grid, std::move(row));

        if (fsx::fileExists(gamedir::path(game.gameDir, gamedir::kInstallCfg))) {
            ReadGameLanguage(game);
        } else {
            batch->Commit();
            batch.reset();
            busy.reset();
            if (env.runSetupDialog) env.runSetupDialog();
            // The dialog rescanned on confirm: this scan's rows would come twice.
            if (g_fullScans != myScan) return;
            busy.emplace();
            batch.emplace(settings);
        }
        ReadInstalledState(game);
        bar += CurrentBarPart(i, game);
        if (env.setCurrentBar) env.setCurrentBar(bar);
    }

    // Mission archives of every mission directory, in the listing's order.
    for (const std::string& key : settings.ReadSection("mission directories")) {
        if (!fsx::directoryExists(key)) continue;
        const std::string dir = text::withTrailingDelim(key);
        for (const fsx::DirEntry& entry : fsx::listDirectory(dir, "*")) {
            if (entry.isDirectory) continue;
            const std::string ext = missionArchiveExtension(entry.name);
            if (ext.empty()) continue;
            if (!IsMissionArchive(dir, entry.name, *env.zip2)) continue;
            std::vector<std::string> row(7);
            row[2] = entry.name.substr(0, entry.name.size() - ext.size());
            row[3] = dir;
            row[4] = std::to_string(entry.size);
            LoadRecordIntoRow(row);
            commitWorkingRow(grid, std::move(row));
        }
    }

    grid.SetRowCount(grid.RowCount() - 1);
    for (int c = 0; c < 7; ++c) grid.SetCell(c, 0, slot(kTitleSlots[c]));
    grid.AutoSizeColumns(QuestGridCellText);
    grid.ApplyColumnFlags(settings.ReadString("options", "columns", ""));
    grid.SortIndex = 1;
    grid.SortRows();

    if (env.setCaption)
        env.setCaption(app().applicationTitle + "  -  " + std::to_string(grid.RowCount() - 1) +
                       " " + slot(15));

    // The row to select: the remembered one, else the last game row.
    if (settings.ReadString("options", "last selection", "@") == "@")
        settings.WriteString("options", "last selection", lastGameRow);
    const std::string remembered = settings.ReadString("options", "last selection", "@");
    batch->Commit();
    batch.reset();
    int selected = findRow(grid, 2, remembered);
    // A stored value loses the blanks around it (a game row's text begins with one): then
    // the row is found without them.
    if (selected == 0) selected = findRow(grid, 2, remembered, text::trim);
    if (selected == 0 && !lastGameRow.empty()) selected = findRow(grid, 1, lastGameRow);
    if (selected == 0 && grid.RowCount() > 1) selected = 1;
    grid.SetRow(selected);

    busy.reset();
    if (env.selectCell) env.selectCell(0, grid.Row());
}
