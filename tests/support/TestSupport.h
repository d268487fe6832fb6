#pragma once
// Helpers shared by the tests.

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/Progress.h"
#include "platform/Prompter.h"

// A fresh directory under the system's temporary directory, removed with the object.
// path() ends in the separator.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // path() + relative ("/" separators), parents created for write().
    std::string file(const std::string& relative) const;
    // Writes `content` to path() + relative, creating parent directories.
    std::string write(const std::string& relative, const std::string& content) const;

  private:
    std::string path_;
};

std::string readFile(const std::string& path);
// Adds every file below `dir` (ending in the separator) to `out`, named `prefix` + its path
// below `dir` ("/" separators), with its content; entries whose name so formed is in `skip`
// are left out with all they hold.
void snapshot(const std::string& dir, const std::string& prefix,
              std::map<std::string, std::string>& out, const std::set<std::string>& skip = {});
void writeFile(const std::string& path, const std::string& content);
// Runs a shell command, returns its exit status; output goes to `output` when given.
int runCommand(const std::string& command, std::string* output = nullptr);
// True when a program is on the PATH.
bool haveProgram(const std::string& name);

// Puts a folder holding stand-ins for the given programs (each exits 0) first on the PATH for
// the life of the object, so that a test does not depend on what the machine has installed.
class StandInPrograms {
  public:
    explicit StandInPrograms(const std::vector<std::string>& names);
    ~StandInPrograms();
    StandInPrograms(const StandInPrograms&) = delete;
    StandInPrograms& operator=(const StandInPrograms&) = delete;

  private:
    TempDir dir_;
    std::string savedPath_;
};

// Writes a ZIP archive with Python's zipfile: members in the given order, names stored as
// given ("/" separators), deflated unless `stored`. Returns false when python3 fails.
bool makeZip(const std::string& zipPath,
             const std::vector<std::pair<std::string, std::string>>& members, bool stored = false);

// A prompter that records every prompt and answers from scripts; installed for its life.
// A progress sink that records what an operation shows: every status text, the bar's
// visibility and the busy state, with the bar's position kept as a window keeps it.
// `onStatus` runs on each status text; `cancelAt` answers cancelled() once set.
class RecordingProgress : public ProgressSink {
  public:
    std::vector<std::string> statuses;
    std::vector<bool> barShown, busyStates;
    int64_t position = 0, maximum = 0;
    bool cancelRequested = false;
    std::function<void(const std::string&)> onStatus;

    void status(const std::string& text) override {
        statuses.push_back(text);
        if (onStatus) onStatus(text);
    }
    void showBar(bool shown) override { barShown.push_back(shown); }
    void barMaximum(int64_t bytes) override { maximum = bytes; }
    void barPosition(int64_t bytes) override { position = bytes; }
    int64_t currentBarPosition() override { return position; }
    bool cancelled() override { return cancelRequested; }
    void busy(bool on) override { busyStates.push_back(on); }
};

class ScriptedPrompter : public Prompter {
  public:
    ScriptedPrompter();
    ~ScriptedPrompter() override;

    struct Shown {
        std::string text, caption;
        PromptButtons buttons;
        PromptIcon icon;
    };
    std::vector<Shown> messages;
    std::deque<PromptResult> answers;  // next message answers; default button when empty

    struct PasswordPrompt {
        std::string title, prompt;
    };
    std::vector<PasswordPrompt> passwordPrompts;
    std::deque<std::pair<bool, std::string>> passwords;  // next password answers

    // Next answers of line() (false: cancelled) and file() (empty: cancelled).
    std::deque<std::pair<bool, std::string>> lines;
    std::deque<std::string> files;

    // Handlers by dialog name; a dialog without one returns 0 (cancelled).
    std::map<std::string, std::function<int(ModalDialog&)>> dialogs;
    std::vector<std::string> dialogsRun;

    int busyDepth = 0;
    int processEventsCalls = 0;
    // Runs where the window would let its events run (a test's way into a long operation).
    std::function<void()> onProcessEvents;

    PromptResult message(const std::string& text, PromptButtons buttons, PromptIcon icon,
                         const std::string& caption, PromptResult defaultButton) override;
    bool password(const std::string& title, const std::string& prompt, std::string& text) override;
    int runModal(ModalDialog& dialog) override;
    bool line(const std::string&, const std::string&, std::string& text,
              const std::vector<std::string>&) override {
        if (lines.empty()) return false;
        const auto [ok, typed] = lines.front();
        lines.pop_front();
        if (ok) text = typed;
        return ok;
    }
    std::string file(bool, const std::string&, const std::string&, const std::string&) override {
        if (files.empty()) return std::string();
        std::string path = files.front();
        files.pop_front();
        return path;
    }
    void processEvents() override {
        ++processEventsCalls;
        if (onProcessEvents) onProcessEvents();
    }
    void setBusyCursor(bool busy) override { busyDepth += busy ? 1 : -1; }

  private:
    Prompter* previous_;
};
