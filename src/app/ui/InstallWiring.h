#pragma once
// The install-and-launch operation run on the main window's controls.

// Builds the operation's context from the main window (selected grid row, language
// choice, archive components, status line and progress bar) and runs it. Does nothing
// without a main window or a selected row.
void InstallAndLaunchFromMainForm();

// At start-up, once the games are known: finishes or rolls back an install or uninstall
// that was interrupted, then refreshes what the window shows. A failure is reported and
// the program goes on.
void RecoverFromMainForm();
