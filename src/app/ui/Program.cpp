#include "app/ui/Program.h"

#include <QEventLoop>
#include <cstdlib>
#include <exception>

#include "app/AppState.h"
#include "app/PlayWatch.h"
#include "app/StartUp.h"
#include "app/ui/InstallWiring.h"
#include "app/ui/MainForm.h"
#include "catalogue/ui/MissionGrid.h"
#include "dialogs/SetupLogic.h"
#include "platform/Prompter.h"
#include "state/LanguageTable.h"

bool TmApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        showError(e.what());
    } catch (...) {
        showError("Unknown error");
    }
    return false;
}

namespace {

// Hands the grid's current row to the selection handler; an error on the way is shown and
// the start goes on.
void selectGridRow(Tmainform& form) {
    Tmainform::RunHandler([&form] {
        bool canSelect = true;
        form.QuestGridSelectCell(form.QuestGrid, 0, form.QuestGrid->Row(), canSelect);
    });
}

}  // namespace

Program::Program(const std::string& exeDir) {
    openAppFiles(exeDir);
    // The play time watchers counted since the last start; a record that cannot be
    // written keeps its file for the next start.
    if (app().settings) {
        try {
            playwatch::merge(*app().settings, playwatch::pendingDir(app().settings->fileName()));
        } catch (const std::exception&) {
        }
    }
}

Program::~Program() {
    form_.reset();
    closeAppFiles();
}

bool Program::Start() {
    try {
        form_ = std::make_unique<Tmainform>();
        if (!remembersWindowGeometry()) {
            form_->setWindowState(form_->windowState() | Qt::WindowMaximized);
        } else {
            form_->RestoreWindowGeometry();
        }
        LoadLanguageTable();
        if (isFirstRun()) RunSetupDialog();
        if (isFirstRun()) return false;

        Tmainform* form = form_.get();
        // The scan's row is selected only after the recovery: the recovery changes what is
        // installed, and no archive the row names keeps it from running.
        auto scan = [form] {
            const std::function<void(bool)> hold = mainFormHooks().holdSelection;
            if (hold) hold(true);
            try {
                form->ScanCatalogue(false);
            } catch (...) {
                if (hold) hold(false);
                throw;
            }
            if (hold) hold(false);
        };
        if (mainFormHooks().splash) {
            mainFormHooks().splash(scan);
        } else {
            scan();
        }
        RecoverFromMainForm();
        selectGridRow(*form);
        if (form_->windowState() & Qt::WindowMaximized) {
            form_->showMaximized();
        } else {
            form_->show();
        }
        return true;
    } catch (const std::exception& e) {
        showError(e.what());
    } catch (...) {
        showError("Unknown error");
    }
    return false;
}

int Program::Exec() {
    if (!form_ || !form_->isVisible()) return 0;
    QEventLoop loop;
    // The loop ends when the main window has been closed (hidden by its close event;
    // a minimised window stays visible).
    struct Watcher : QObject {
        QWidget* form;
        QEventLoop* loop;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (o == form && e->type() == QEvent::Hide && !form->isVisible()) loop->quit();
            return false;
        }
    } watcher;
    watcher.form = form_.get();
    watcher.loop = &loop;
    form_->installEventFilter(&watcher);
    const int rc = loop.exec();
    form_->removeEventFilter(&watcher);
    return rc;
}

int RunProgram(const std::string& exeDir, bool enterEventLoop) {
    Program program(exeDir);
    if (program.Start() && enterEventLoop) return program.Exec();
    return 0;
}

bool haveDisplay() {
#if defined(_WIN32) || defined(__APPLE__)
    return true;
#else
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* v = std::getenv(name);
        if (v && *v) return true;
    }
    return false;
#endif
}
