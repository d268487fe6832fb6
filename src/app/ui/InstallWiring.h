#pragma once
// The install-and-launch operation run on the main window's controls.

#include <memory>

#include "install/InstallLaunch.h"
#include "platform/Progress.h"

class Tmainform;
class SelectionHandler;

// The main window's progress: the status line, the progress bar, the busy state and
// Escape, which stops an extraction while the operation lets it.
std::unique_ptr<ProgressSink> mainFormProgress(Tmainform& form);

// Builds the request from the main window (the selection's mission, the grid's selected
// row, the language choice and the password given) and runs it; afterwards the row, the
// top bar and the command buttons show what is installed. Does nothing without a main
// window or a selected row.
void InstallAndLaunchFromMainForm(const SelectionHandler& selection, InstallAction action);
// How long the status line says that the game or DromEd is starting.
inline constexpr int kStartNoteMs = 6000;

// Removes the installed mission folder of the selected mission (the request built as for
// install-and-launch), its saved games and screenshots kept in its saves archive; afterwards
// the row, its mark and the commands show what is installed. Does nothing without a main
// window or a selected row.
void RemoveMissionFolderFromMainForm(const SelectionHandler& selection);

// Lists the older saved games the selected mission keeps and brings the one the player
// picks back in a free save slot, saying which.
void BringBackSavedGameFromMainForm(const SelectionHandler& selection);

// At start-up, once the games are known: finishes or rolls back an install or uninstall
// that was interrupted, then refreshes what the window shows. A failure is reported and
// the program goes on.
void RecoverFromMainForm();
