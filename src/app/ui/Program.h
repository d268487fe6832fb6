#pragma once
// The program's start-up sequence and its end.

#include <QApplication>
#include <memory>
#include <string>

#include "game/SelectedMission.h"

class Tmainform;

// The application object: an error that escapes an event handler is shown through the
// prompter and the program goes on.
class TmApplication : public QApplication {
  public:
    TmApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;
};

// One run of the program against the files of `exeDir` (ending in the separator).
// The constructor opens the settings store and the language file; the destructor
// destroys the main window and closes both files.
class Program {
  public:
    explicit Program(const std::string& exeDir);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Creates the main window, sets its window mode, loads the language table, runs the
    // first-run setup and, when setup is complete, scans the catalogue behind the splash
    // and shows the main window. Returns whether the main window is shown. An error on
    // the way is shown and ends the start (false).
    bool Start();
    // Runs the event loop until the main window has closed.
    int Exec();

    Tmainform* MainForm() const { return form_.get(); }

  private:
    std::unique_ptr<Tmainform> form_;
};

// Connects the main window's events and the start-up to the features that carry them out
// (catalogue scan, selection, install and launch, setup dialog, about box and splash).
// Called once by main() before the start-up (it also starts the selection state afresh);
// tests call it for each main window they create.
void InstallFeatureHooks();

// The mission the window's selection stands for: what Play installs.
const SelectedMission& WindowSelectedMission();

// The whole program: Start, then (when the window is shown and `enterEventLoop`) Exec.
int RunProgram(const std::string& exeDir, bool enterEventLoop = true);

// True when a window system is reachable (always on Windows and macOS; on other systems
// DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM is set).
bool haveDisplay();
