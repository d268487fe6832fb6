#pragma once
// Message table of the archive component and its exception class.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// Text of a message id; for an id the table lacks:
// "The message table is probably not linked to the executable\nMissing String ID is: <id>".
std::string ZipMessageText(int id);
// True when the table holds the id.
bool ZipMessageExists(int id);
// The text of id, or `def` when the table lacks it.
std::string ZipMessageTextOr(int id, const std::string& def);

// Replaces the text of one id for the rest of the process (a translation). An empty
// optional removes the id from the table; ResetZipMessages() restores the built-in texts.
void SetZipMessageText(int id, const std::optional<std::string>& text);
void ResetZipMessages();

// Formats a table text with its arguments without ever handing the text to printf.
// Conversions: %d %i %u (optionally with flags, width and ".precision", e.g. "%.1d"),
// %s, %x and %%. Each conversion takes the next argument as text; an integer argument
// given as decimal text gets the width and precision applied. A conversion without an
// argument left yields nothing; an unknown conversion is copied as it stands.
std::string ZipFormat(const std::string& format, const std::vector<std::string>& args);

// A failure inside the archive component, carrying its message id.
class EZipArchiver : public std::runtime_error {
  public:
    EZipArchiver(int id, bool show);               // message := text of id
    EZipArchiver(int id, int64_t arg);             // text of id formatted with an integer
    EZipArchiver(int id, const std::string& arg);  // text of id formatted with a string
    EZipArchiver(int id, int arg) : EZipArchiver(id, static_cast<int64_t>(arg)) {}
    EZipArchiver(int id, const char* arg) : EZipArchiver(id, std::string(arg)) {}
    bool ShowToUser;
    int32_t MessageId;
};
