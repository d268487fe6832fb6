#pragma once
// Errors that travel out of an operation to the application's standard error display.

#include <stdexcept>
#include <string>

#include "platform/Prompter.h"

// Base of every error the program shows to the user through its general error handler.
class TmError : public std::runtime_error {
  public:
    explicit TmError(const std::string& message) : std::runtime_error(message) {}
};

// A failed read or write of a text file or a settings file.
class EInOutError : public TmError {
  public:
    explicit EInOutError(const std::string& message) : TmError(message) {}
};

// A settings store write that did not reach the disk: "Unable to write to <full path>".
class ESettingsWriteError : public EInOutError {
  public:
    explicit ESettingsWriteError(const std::string& path)
        : EInOutError("Unable to write to " + path), path_(path) {}
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// A failure that ends an operation with a message box of its own instead of the general
// error display's: the text shown and the box's icon. Whatever the operation had done
// stays as its description says; nothing of it is undone by the error itself.
class OperationFailed : public TmError {
  public:
    explicit OperationFailed(const std::string& text, PromptIcon icon = PromptIcon::Warning)
        : TmError(text), icon_(icon) {}
    PromptIcon icon() const { return icon_; }

  private:
    PromptIcon icon_;
};
