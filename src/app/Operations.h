#pragma once
// The operations on the games as the program runs them: on its own games, settings and
// folder (app()), with every notice on the way shown as it comes and the failure that ends
// an operation shown once, each as a message of its own.

#include <cstdint>
#include <string>
#include <vector>

#include "dialogs/SetupLogic.h"
#include "game/GameContext.h"
#include "install/InstallLaunch.h"

class ProgressSink;
class TZipArchiver;

// The program's games, settings and folder. Throws EInOutError while the settings store is
// not open.
GameContext programContext();
// The program's settings store, language file and folder, as the setup reads and writes them.
SetupFiles programSetupFiles();

namespace operations {

// InstallAndLaunch; its failure is shown before the outcome returns.
InstallOutcome install(const InstallRequest& request, TZipArchiver& work, ProgressSink& progress);
// RecoverInterruptedOperations.
bool recover(TZipArchiver& work, ProgressSink& progress);
// The removal of game `game`'s installed mission on its own (UninstallMission); false when
// it stopped with a failure.
bool uninstall(uint8_t game, TZipArchiver& work, ProgressSink& progress);
// RemoveMissionFolder; false when nothing was removed.
bool removeMissionFolder(const InstallRequest& request, TZipArchiver& work, ProgressSink& progress);
// OlderSavedGames.
std::vector<std::string> olderSavedGames(const InstallRequest& request, TZipArchiver& work);
// BringBackSavedGame; empty when nothing was done.
std::string bringBackSavedGame(const InstallRequest& request, const std::string& version,
                               TZipArchiver& work, ProgressSink& progress);

}  // namespace operations
