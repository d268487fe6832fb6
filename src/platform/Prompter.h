#pragma once
// The one replaceable interface behind every message box, question and modal dialog,
// and behind the few things logic asks of the user interface (repaint, busy cursor).
// The widget library installs a Qt implementation; tests install a scripted one, so no
// test ever blocks.

#include <exception>
#include <functional>
#include <string>
#include <vector>

enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class PromptIcon { None, Information, Warning, Error, Question };
enum class PromptResult { Ok, Cancel, Yes, No, Retry };

// A modal dialog as the prompter sees it: something that can be run modally and that
// answers with a result code (1 = accepted/OK, 0 = rejected/Cancel, or a dialog's own).
class ModalDialog {
  public:
    virtual ~ModalDialog() = default;
    // The dialog's name (its objectName), by which a scripted prompter finds its answer.
    virtual std::string dialogName() const = 0;
    // Runs the dialog modally and returns its result.
    virtual int execModal() = 0;
};

class Prompter {
  public:
    virtual ~Prompter() = default;

    // A message box. `caption` empty means the application title. Texts are 8-bit
    // program texts (shown as UTF-8 when valid, else as Windows-1252).
    virtual PromptResult message(const std::string& text, PromptButtons buttons = PromptButtons::Ok,
                                 PromptIcon icon = PromptIcon::None,
                                 const std::string& caption = std::string(),
                                 PromptResult defaultButton = PromptResult::Ok) = 0;

    // The archive component's password dialog: returns true when confirmed with OK,
    // `text` then holds what was typed (at most 80 characters).
    virtual bool password(const std::string& title, const std::string& prompt,
                          std::string& text) = 0;

    // Runs a modal dialog and returns its result.
    virtual int runModal(ModalDialog& dialog) = 0;

    // Asks for a line of text, `text` its start: true when confirmed, `text` then holding
    // what was typed. `suggestions` complete what is typed. Cancelled by default.
    virtual bool line(const std::string& /*title*/, const std::string& /*prompt*/,
                      std::string& /*text*/, const std::vector<std::string>& /*suggestions*/) {
        return false;
    }
    // Asks for a file to write (`save`) or to read: its path, empty when cancelled.
    // `filter` is a file type as "Name (*.ext)"; `suggested` the path offered first.
    virtual std::string file(bool /*save*/, const std::string& /*title*/,
                             const std::string& /*filter*/, const std::string& /*suggested*/) {
        return std::string();
    }

    // Lets pending window events run (repaint, input). No-op without a window system.
    virtual void processEvents() {}
    // Shows or hides the busy (hourglass) cursor. Calls nest.
    virtual void setBusyCursor(bool /*busy*/) {}
};

// The process-wide prompter. Never null: without an installed one, a silent prompter
// answers every question with its default button and cancels every dialog.
Prompter& prompter();
// Installs `p` (not owned; nullptr restores the silent one). Returns the previous one.
Prompter* setPrompter(Prompter* p);

// Shows the busy cursor for the life of the object.
class BusyCursor {
  public:
    BusyCursor() { prompter().setBusyCursor(true); }
    ~BusyCursor() { prompter().setBusyCursor(false); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// Shows an error that escaped an operation, as the application's standard error display.
void showError(const std::string& message);
// The same for an exception: an OperationFailed (platform/Errors.h) with its own icon, any
// other with its text.
void showError(const std::exception& error);
