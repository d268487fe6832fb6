#pragma once
// For the crash tests: a piece of work run in a forked child that ends itself with SIGKILL at
// a chosen file-system step, and how many steps lie between two crashes tried.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "support/TestSupport.h"

// A forked child would share its parent's inotify descriptor, and with it the events that
// keep the folder index behind fsx::resolve() exact: those one process reads the other never
// sees. So the parent looks names up without the index (this before its first look-up), and
// each child builds an index of its own, as a fresh process does.
inline void keepFolderIndexOutOfParent() {
    fsx::detail::setFolderIndexEnabled(false);
}

// How a child process ended.
enum class Outcome { Killed, Ended, Failed };

// Runs `body` in a child process with a crash at `step` (0 = none). A child that ends
// early through an error, or shows a warning, leaves its words in `why` (when given).
inline Outcome runChild(long step, const std::function<void()>& body,
                        const ScriptedPrompter& prompts, const std::string& why) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        fsx::detail::setFolderIndexEnabled(true);
        fsx::detail::setCrashStep(step);
        const size_t shown = prompts.messages.size();
        std::string failure;
        try {
            body();
        } catch (const std::exception& e) {
            failure = std::string("error: ") + e.what();
        } catch (...) {
            failure = "error";
        }
        for (size_t i = shown; i < prompts.messages.size(); ++i)
            if (prompts.messages[i].icon != PromptIcon::Information)
                failure += " message: " + prompts.messages[i].text;
        if (failure.empty()) ::_exit(0);
        if (!why.empty()) writeFile(why, failure);
        ::_exit(3);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return Outcome::Killed;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Outcome::Ended : Outcome::Failed;
}

// Every how many steps a crash is tried: TALLOWMERE_CRASH_STRIDE when set (1 = every step),
// else the test's own sample.
inline long crashStride(long sample) {
    const char* text = std::getenv("TALLOWMERE_CRASH_STRIDE");
    return text ? std::max(1L, std::atol(text)) : sample;
}

// What a crash cost, gathered from the fresh processes that go on after it.
struct Losses {
    const ScriptedPrompter& prompts;
    std::string why;                // where a child leaves its words
    std::function<void()> startUp;  // what every fresh process does first
    std::vector<std::string> lost;

    // Runs `body` in a fresh process after start-up; its failure or warning is a loss.
    void part(const std::string& what, const std::function<void()>& body) {
        std::remove(why.c_str());
        const auto run = [&] {
            startUp();
            body();
        };
        if (runChild(0, run, prompts, why) != Outcome::Ended)
            lost.push_back(what + " failed" +
                           (fsx::fileExists(why) ? " (" + readFile(why) + ")" : ""));
    }
    void check(const std::string& what, const std::vector<std::string>& found) {
        for (const std::string& f : found) lost.push_back(what + ": " + f);
    }
    // Fails the test with every loss of the crash at `step` of `operation`; true when any.
    bool report(int operation, long step) const {
        if (lost.empty()) return false;
        std::string text;
        for (const std::string& l : lost) text += "\n  " + l;
        ADD_FAILURE() << "operation " << operation << ", step " << step << ":" << text;
        return true;
    }
};
