#pragma once
// Errors that travel out of an operation to the application's standard error display.

#include <stdexcept>
#include <string>

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
