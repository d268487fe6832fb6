#pragma once
// For the crash tests: a piece of work run in a forked child that ends itself with SIGKILL at
// a chosen file-system step (or, through the shim of powercut/PowerCut.h, is cut off as by
// a power cut or sees a write fail there), and how many steps lie between two tried.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "powercut/PowerCut.h"
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

// What a child has done at a step: Kill, PowerCut or Fail (step 0 = nothing).
struct Fault {
    powercut::Mode mode = powercut::Mode::Kill;
    long step = 0;
};

// How a child ended, whether it came to the step of its fault, and what that step was.
struct ChildRun {
    Outcome outcome;
    bool reached;
    std::string step;
};

// Runs `body` in a child process with the shim armed for the files below `root` (only with
// a fault). A child that ends early through an error, or shows a warning, leaves its words
// in `why` (when given).
inline ChildRun runChild(const Fault& fault, const std::string& root,
                         const std::function<void()>& body, const ScriptedPrompter& prompts,
                         const std::string& why) {
    constexpr int kReached = 16;  // added to the exit status
    const pid_t pid = ::fork();
    if (pid == 0) {
        fsx::detail::setFolderIndexEnabled(true);
        fsx::detail::setCrashStep(0);
        if (fault.step > 0) powercut::arm(root, fault.mode, fault.step);
        const size_t shown = prompts.messages.size();
        std::string failure;
        try {
            body();
        } catch (const std::exception& e) {
            failure = std::string("error: ") + e.what();
        } catch (...) {
            failure = "error";
        }
        const int reached = fault.step > 0 && powercut::reached() ? kReached : 0;
        powercut::disarm();
        for (size_t i = shown; i < prompts.messages.size(); ++i)
            if (prompts.messages[i].icon != PromptIcon::Information)
                failure += " message: " + prompts.messages[i].text;
        if (failure.empty()) ::_exit(reached);
        if (!why.empty()) writeFile(why, failure);
        ::_exit(3 + reached);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const std::string step = powercut::stepNote(root);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return {Outcome::Killed, true, step};
    if (!WIFEXITED(status)) return {Outcome::Failed, false, step};
    const int code = WEXITSTATUS(status);
    return {code % kReached == 0 ? Outcome::Ended : Outcome::Failed, code >= kReached, step};
}

// Every how many steps a crash is tried: TALLOWMERE_CRASH_STRIDE when set (1 = every step),
// else the test's own sample.
inline long crashStride(long sample) {
    const char* text = std::getenv("TALLOWMERE_CRASH_STRIDE");
    return text ? std::max(1L, std::atol(text)) : sample;
}

// The steps tried of operation `operation`: from `firstStep` on every `stride`-th, while
// nextStep gives more (0: no more). The first moves from one operation to the next, so that a
// sample does not always hit the same kind of step. TALLOWMERE_CRASH_POINT=<operation>:<step>
// tries that one alone, to look again at a point a run reported.
inline long firstStep(int operation, long stride) {
    if (const char* point = std::getenv("TALLOWMERE_CRASH_POINT")) {
        const char* colon = std::strchr(point, ':');
        return colon && std::atoi(point) == operation ? std::atol(colon + 1) : 0;
    }
    return 1 + operation % stride;
}
inline long nextStep(long step, long stride) {
    return std::getenv("TALLOWMERE_CRASH_POINT") ? 0 : step + stride;
}

// A mode's part of a test's name.
inline std::string modeLabel(powercut::Mode mode) {
    return mode == powercut::Mode::Kill       ? "Killed"
           : mode == powercut::Mode::PowerCut ? "PowerCut"
                                              : "WriteFails";
}

// One run of a crash test's scenario: the first mission's archive (".zip" or ".7z"), what
// is done at the steps tried, and every how many steps one is tried by default.
struct CrashSample {
    const char* aExtension;
    powercut::Mode mode;
    long stride;
};
inline void PrintTo(const CrashSample& sample, std::ostream* out) {
    *out << sample.aExtension << ", " << powercut::name(sample.mode) << ", every " << sample.stride
         << " steps";
}
// The sample's part of a test's name: "ZipKilled", "SevenZipPowerCut", ...
inline std::string crashSampleName(const ::testing::TestParamInfo<CrashSample>& info) {
    return (info.param.aExtension == std::string(".7z") ? "SevenZip" : "Zip") +
           modeLabel(info.param.mode);
}

// The modes tried: those TALLOWMERE_CRASH_MODES names ("kill", "powercut", "fail",
// separated by commas) when set, else all three.
inline bool modeTried(powercut::Mode mode) {
    const char* text = std::getenv("TALLOWMERE_CRASH_MODES");
    if (!text) return true;
    const std::string wanted = std::string(",") + text + ",";
    const char* word = mode == powercut::Mode::Kill       ? ",kill,"
                       : mode == powercut::Mode::PowerCut ? ",powercut,"
                                                          : ",fail,";
    return wanted.find(word) != std::string::npos;
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
        return report("operation " + std::to_string(operation) + ", step " + std::to_string(step));
    }
    bool report(int operation, const Fault& fault, const ChildRun& run) const {
        return report("operation " + std::to_string(operation) + ", " + powercut::name(fault.mode) +
                      " step " + std::to_string(fault.step) + " (" + run.step + ")");
    }
    bool report(const std::string& where) const {
        if (lost.empty()) return false;
        std::string text;
        for (const std::string& l : lost) text += "\n  " + l;
        ADD_FAILURE() << where << ":" << text;
        return true;
    }
};
