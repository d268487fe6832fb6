#pragma once
// Message table of the archive component and its exception class.

#include <cstdint>
#include <stdexcept>
#include <string>

// Text of a message id; for an id the table lacks:
// "The message table is probably not linked to the executable\nMissing String ID is: <id>".
std::string ZipMessageText(int id);
// True when the table holds the id.
bool ZipMessageExists(int id);
// The text of id, or `def` when the table lacks it.
std::string ZipMessageTextOr(int id, const std::string& def);

// A failure inside the archive component, carrying its message id.
class EZipArchiver : public std::runtime_error {
public:
    EZipArchiver(int id, bool show);               // message := text of id
    EZipArchiver(int id, int64_t arg);             // text of id formatted with an integer
    EZipArchiver(int id, const std::string& arg);  // text of id formatted with a string
    bool ShowToUser;
    int32_t MessageId;
};
