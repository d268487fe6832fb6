// The callback both engines call from inside their exec function: progress, messages,
// new names, passwords, CRC and overwrite questions, skipped files and member comments.

#include <algorithm>
#include <cstring>
#include <string>

#include "archive/ZipArchiver.h"
#include "platform/Prompter.h"

namespace {

constexpr size_t kTextField = sizeof(engine::EngineCallbackRecord::text);  // 512
constexpr size_t kMaxNewName = kTextField - 1;                             // 511
constexpr size_t kMaxPassword = 80;
constexpr uint32_t kMaxRepeatCount = 15;

// The text field up to its first NUL, trailing blanks and control characters removed,
// "/" turned into "\".
std::string takeText(const engine::EngineCallbackRecord& record) {
    const char* text = record.text;
    size_t n = 0;
    while (n < kTextField && text[n] != '\0') ++n;
    std::string s(text, n);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.pop_back();
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

void putText(engine::EngineCallbackRecord& record, const std::string& s, size_t maxLen) {
    size_t n = std::min(s.size(), maxLen);
    std::memcpy(record.text, s.data(), n);
    record.text[n] = '\0';
}

// A size or count from the second argument: the 64-bit value when the engine sent one.
int64_t wideArg2(const engine::EngineCallbackRecord& record) {
    if (record.arg2Wide != 0) return record.arg2Wide;
    return static_cast<int64_t>(static_cast<uint32_t>(record.arg2));
}

}  // namespace

int32_t TM_ENGINE_CALL TZipArchiver::EngineCallbackEntry(engine::EngineCallbackRecord* record) {
    if (record == nullptr || record->caller == nullptr) return 0;
    auto* self = static_cast<TZipArchiver*>(record->caller);
    // Nothing may unwind through the engine's frames: a failure in a handler stops the
    // engine and is raised again once its exec call has returned.
    try {
        return self->HandleCallback(*record);
    } catch (...) {
        self->callbackFailed_ = true;
        return -1;
    }
}

int32_t TZipArchiver::HandleCallback(engine::EngineCallbackRecord& record) {
    std::string text = takeText(record);

    switch (record.actionCode) {
        case engine::cbNewFile:
            if (OnProgress) OnProgress(this, progNewFile, text, wideArg2(record));
            break;
        case engine::cbProgress:
            if (OnProgress) OnProgress(this, progAdvance, std::string(), wideArg2(record));
            break;
        case engine::cbEndOfBatch:
            if (OnProgress) OnProgress(this, progEndOfBatch, std::string(), 0);
            break;
        case engine::cbMessage:
            Message = text;
            if (record.arg1 != 0) {
                ErrCode = record.arg1 & 0xFF;
                FullErrCode = record.arg1;
            }
            if (OnMessage) OnMessage(this, record.arg1, text);
            break;
        case engine::cbTotalFiles:
            if (OnProgress) OnProgress(this, progTotalFiles, std::string(), wideArg2(record));
            break;
        case engine::cbTotalSize:
            totalSize_ = wideArg2(record);
            if (OnProgress) OnProgress(this, progTotalSize, std::string(), totalSize_);
            break;
        case engine::cbNewName:
            if (OnSetNewName) {
                std::string name = text;
                bool changed = false;
                OnSetNewName(this, name, changed);
                if (changed) {
                    putText(record, name, kMaxNewName);
                    record.arg1 = 1;
                } else {
                    record.arg1 = 0;
                }
            }
            break;
        case engine::cbPassword: {
            const bool adding = (record.arg1 & 1) != 0;
            std::string newPassword;
            uint32_t repeat = static_cast<uint32_t>(record.arg2);
            if (OnPasswordError) {
                OnPasswordError(this, newPassword, text, repeat);
            } else {
                newPassword = adding ? AskAddPassword() : AskExtractPassword();
            }
            if (!newPassword.empty()) {
                putText(record, newPassword, kMaxPassword);
                record.arg1 = 1;
            } else {
                record.arg1 = 0;
                repeat = 0;
            }
            record.arg2 = static_cast<int32_t>(std::min(repeat, kMaxRepeatCount));
            break;
        }
        case engine::cbCrcError:
            if (OnCRC32Error) {
                bool doExtract = true;
                OnCRC32Error(this, text, static_cast<uint32_t>(record.arg1),
                             static_cast<uint32_t>(record.arg2), doExtract);
                record.arg1 = doExtract ? 1 : 0;
            } else {
                record.arg1 = 2;
            }
            break;
        case engine::cbOverwrite:
            if (OnExtractOverwrite) {
                bool doOverwrite = (record.arg2 & 0xFF) != 0;
                OnExtractOverwrite(this, text, (record.arg1 & 1) != 0, doOverwrite);
                record.arg2 = doOverwrite ? 1 : 0;
            }
            break;
        case engine::cbSkipped:
            if (record.arg1 != 0) {
                ErrCode = record.arg1 & 0xFF;
                FullErrCode = record.arg1;
            }
            if (OnExtractSkipped) OnExtractSkipped(this, text, record.arg2 & 0xFF, record.arg1);
            break;
        case engine::cbFileComment:
            if (OnFileComment) {
                // The handler starts from an empty comment: the engines do not hand over the
                // member's current one.
                std::string comment;
                bool changed = false;
                OnFileComment(this, text, comment, changed);
                if (changed && !comment.empty()) {
                    putText(record, comment, kMaxNewName);
                } else {
                    record.text[0] = '\0';
                }
                record.arg1 = changed ? 1 : 0;
                // The length of what the text field now holds: 0 when it was emptied.
                record.arg2 =
                    changed ? static_cast<int32_t>(std::min(comment.size(), kMaxNewName)) : 0;
            }
            break;
        default:
            break;
    }

    prompter().processEvents();
    return Cancel ? -1 : 0;
}
