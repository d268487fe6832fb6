#pragma once
// The grid's selection handler: makes the selected row the selected mission and brings the
// information panel and the command buttons into line with it.

#include <functional>
#include <string>

#include "game/Mission.h"
#include "inspect/ContentAnalysis.h"
#include "inspect/InfoPanel.h"

class ProgressSink;
class TZipArchiver;

// What the handler needs of the grid and the main window.
struct SelectionEnv {
    std::function<int()> rowCount;
    std::function<const Mission*(int row)> mission;  // nullptr for a row of none
    std::function<void(int row)> reloadRow;          // reads the row's record again
    std::function<void()> fullScan;                  // full catalogue scan
    std::function<void()> showPanel;                 // mirrors the panel onto the controls
    ProgressSink* progress = nullptr;                // the analysis's steps; none: not shown
};

class SelectionHandler {
  public:
    // The selection event for (col, row). Does nothing when the row's key equals the last
    // one handled. Whatever fails on the way, the row ends up selected: the panel, mission()
    // and `zip` all stand for it; a row whose analysis failed says so in
    // the notes and starts nothing (failed()). An archive found unreadable loses the type
    // stored in its record, and its row shows no game mark.
    void QuestGridSelectCell(int col, int row, TZipArchiver& zip, InfoPanel& panel,
                             const SelectionEnv& env);

    // Asks once for the password of the selected archive (`row`, whose panel offers one).
    // A password that opens an encrypted member is kept in zip.Password and the archive is
    // analysed again with it; a wrong one is forgotten and said so in the notes; a
    // cancelled prompt changes nothing. Returns whether the password opened the archive.
    bool EnterPassword(int row, TZipArchiver& zip, InfoPanel& panel, const SelectionEnv& env);

    // False while the handler runs: selections made by events meanwhile are not handled.
    bool attached() const { return attached_; }
    const std::string& lastSelectionKey() const { return lastKey_; }
    // True when the analysis of the last selection failed.
    bool failed() const { return failed_; }
    // What the selection and its analysis found: the mission Play installs.
    const SelectedMission& mission() const { return mission_; }

  private:
    void selectRow(int row, TZipArchiver& zip, InfoPanel& panel, const SelectionEnv& env);
    void analyseRow(int row, const std::string& archive, TZipArchiver& zip, InfoPanel& panel,
                    const SelectionEnv& env);

    SelectedMission mission_;
    std::string lastKey_;
    bool attached_ = true;
    bool failed_ = false;
};
