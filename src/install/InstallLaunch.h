#pragma once
// The install-and-launch operation behind the play, DromEd and install-only buttons: makes
// sure the selected mission is the one installed in its game directory (removing the one
// installed before), brings back its saved games and starts the game or the editor.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "install/InstallUi.h"

class TZipArchiver;

// What the operation reads from and does to the main window.
struct InstallContext {
    InstallContext(TZipArchiver& zip, TZipArchiver& zip2) : Zip(zip), Zip2(zip2) {}

    TZipArchiver& Zip;   // the selected archive; every extraction
    TZipArchiver& Zip2;  // backup and saves archives

    // The grid's selected row R (its cells) and where its reloaded cells go back.
    std::vector<std::string> row;
    std::function<void(const std::vector<std::string>& cells)> storeRow;

    // LanguageCombo: its items and the text of its selected item.
    std::vector<std::string> languageItems;
    std::string selectedLanguage;

    InstallUi ui;

    std::function<void(bool busy)> setBusy;    // hourglass and disabled main window
    std::function<void()> disableInstallOnly;  // installonlybutton
    std::function<void()> refreshCatalogue;    // the refresh-only catalogue scan
};

void InstallAndLaunch(InstallContext& ctx);

// At start-up: in each configured game directory where an install or uninstall was
// interrupted, finishes the removal of the mission and brings back the game's own files
// and saved games, as a return to the original game does. True when anything was done.
bool RecoverInterruptedOperations(TZipArchiver& zip, TZipArchiver& zip2, const InstallUi& ui);

// Day number of a date: days since 30 December 1899.
int32_t DayNumber(int year, unsigned month, unsigned day);
// Today's day number (local time).
int32_t TodayDayNumber();

// True when a member name (or a name derived from it) stays inside the folder it is
// joined to: not absolute, no drive, no ".." leading out.
bool StaysInside(const std::string& relative);
