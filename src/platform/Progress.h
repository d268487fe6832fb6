#pragma once
// What a long operation (scan, analysis, install, uninstall) shows while it runs, and how
// the player stops it. Every call has a no-op default, so that an operation run without a
// window (a test, a tool) needs nothing more than an instance of the base class.

#include <cstdint>
#include <string>

#include "platform/Prompter.h"

class ProgressSink {
  public:
    virtual ~ProgressSink() = default;

    // The status line: the step under way, or the file being worked on.
    virtual void status(const std::string& /*text*/) {}
    // The progress bar: shown or hidden, its end and its position (in bytes).
    virtual void showBar(bool /*shown*/) {}
    virtual void barMaximum(int64_t /*bytes*/) {}
    virtual void barPosition(int64_t /*bytes*/) {}
    virtual int64_t currentBarPosition() { return 0; }
    // While on, the player can stop the operation; turning it on forgets an earlier stop.
    virtual void cancellable(bool /*on*/) {}
    // True once the player asked to stop while the operation was cancellable.
    virtual bool cancelled() { return false; }
    // The window takes no input while an operation changes the game directory.
    virtual void busy(bool /*on*/) {}
    // Lets pending window events run (repaints, the key that cancels).
    virtual void processEvents() {}
    // What the player is told while the operation goes on (members left out, saved games
    // renamed, a game whose recovery waits): a message of its own, with its icon.
    virtual void notice(const std::string& /*text*/, PromptIcon /*icon*/) {}
};
