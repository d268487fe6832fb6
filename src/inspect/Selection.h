#pragma once
// The grid's selection handler: makes the selected row the selected mission and brings the
// information panel and the command buttons into line with it.

#include <functional>
#include <string>

#include "inspect/ContentAnalysis.h"
#include "inspect/InfoPanel.h"

class TZipArchiver;

// What the handler needs of the grid and the main window.
struct SelectionEnv {
    std::function<int()> rowCount;
    std::function<std::string(int col, int row)> cell;
    std::function<void(int row)> reloadRow;  // copies the row's record into the grid
    std::function<void()> fullScan;          // full catalogue scan
    std::function<void()> showPanel;         // mirrors the panel onto the controls
    AnalysisHooks analysisHooks;
};

class SelectionHandler {
  public:
    // The selection event for (col, row). Does nothing when the row's key equals the last
    // one handled.
    void QuestGridSelectCell(int col, int row, TZipArchiver& zip, InfoPanel& panel,
                             const SelectionEnv& env);

    // False while the handler runs: selections made by events meanwhile are not handled.
    bool attached() const { return attached_; }
    const std::string& lastSelectionKey() const { return lastKey_; }

  private:
    std::string lastKey_;
    bool attached_ = true;
};
