#pragma once
// The install-and-launch operation run on the main window's controls.

// Builds the operation's context from the main window (selected grid row, language
// choice, archive components, status line and progress bar) and runs it. Does nothing
// without a main window or a selected row.
void InstallAndLaunchFromMainForm();
