#pragma once
// The catalogue scan: builds the mission grid from scratch (one row per configured game and
// one per mission archive in the mission directories) and reads the games' installed
// state, or in its refresh form only re-reads the installed state. Either form marks the
// rows of the missions installed in mission folders (TStringGridEx::RowMarked).

#include <functional>
#include <string>

class TStringGridEx;
class TZipArchiver;

struct ScanEnv {
    TStringGridEx* grid = nullptr;
    TZipArchiver* zip2 = nullptr;  // tests archives, so that Zip keeps its archive
    std::function<void(const std::string&)> setCurrentBar;
    std::function<void(const std::string&)> setCaption;
    std::function<void()> runSetupDialog;
    std::function<void(int col, int row)> selectCell;  // the grid's selection handler
};

void ScanCatalogue(bool refreshOnly, const ScanEnv& env);

// Number of full scans started so far. A scan that opened the setup dialog and finds that
// the dialog ran a full scan of its own abandons itself.
unsigned FullScanCount();
