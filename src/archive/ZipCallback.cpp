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

// The questions an engine asks: each handler's answer put into the record, or the
// engine's default when no handler is assigned.

void answerNewName(TZipArchiver& zip, engine::EngineCallbackRecord& record,
                   const std::string& text) {
    if (!zip.OnSetNewName) return;
    std::string name = text;
    bool changed = false;
    zip.OnSetNewName(&zip, name, changed);
    if (changed) {
        putText(record, name, kMaxNewName);
        record.arg1 = 1;
    } else {
        record.arg1 = 0;
    }
}

void answerPassword(TZipArchiver& zip, engine::EngineCallbackRecord& record,
                    const std::string& text) {
    const bool adding = (record.arg1 & 1) != 0;
    std::string newPassword;
    uint32_t repeat = static_cast<uint32_t>(record.arg2);
    if (zip.OnPasswordError) {
        zip.OnPasswordError(&zip, newPassword, text, repeat);
    } else {
        newPassword = adding ? zip.AskAddPassword() : zip.AskExtractPassword();
    }
    if (!newPassword.empty()) {
        putText(record, newPassword, kMaxPassword);
        record.arg1 = 1;
    } else {
        record.arg1 = 0;
        repeat = 0;
    }
    record.arg2 = static_cast<int32_t>(std::min(repeat, kMaxRepeatCount));
}

void answerCrcError(TZipArchiver& zip, engine::EngineCallbackRecord& record,
                    const std::string& text) {
    if (!zip.OnCRC32Error) {
        record.arg1 = 2;
        return;
    }
    bool doExtract = true;
    zip.OnCRC32Error(&zip, text, static_cast<uint32_t>(record.arg1),
                     static_cast<uint32_t>(record.arg2), doExtract);
    record.arg1 = doExtract ? 1 : 0;
}

void answerOverwrite(TZipArchiver& zip, engine::EngineCallbackRecord& record,
                     const std::string& text) {
    if (!zip.OnExtractOverwrite) return;
    bool doOverwrite = (record.arg2 & 0xFF) != 0;
    zip.OnExtractOverwrite(&zip, text, (record.arg1 & 1) != 0, doOverwrite);
    record.arg2 = doOverwrite ? 1 : 0;
}

void answerFileComment(TZipArchiver& zip, engine::EngineCallbackRecord& record,
                       const std::string& text) {
    if (!zip.OnFileComment) return;
    // The handler starts from an empty comment: the engines do not hand over the member's
    // current one.
    std::string comment;
    bool changed = false;
    zip.OnFileComment(&zip, text, comment, changed);
    if (changed && !comment.empty()) {
        putText(record, comment, kMaxNewName);
    } else {
        record.text[0] = '\0';
    }
    record.arg1 = changed ? 1 : 0;
    // The length of what the text field now holds: 0 when it was emptied.
    record.arg2 = changed ? static_cast<int32_t>(std::min(comment.size(), kMaxNewName)) : 0;
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
            answerNewName(*this, record, text);
            break;
        case engine::cbPassword:
            answerPassword(*this, record, text);
            break;
        case engine::cbCrcError:
            answerCrcError(*this, record, text);
            break;
        case engine::cbOverwrite:
            answerOverwrite(*this, record, text);
            break;
        case engine::cbSkipped:
            if (record.arg1 != 0) {
                ErrCode = record.arg1 & 0xFF;
                FullErrCode = record.arg1;
            }
            if (OnExtractSkipped) OnExtractSkipped(this, text, record.arg2 & 0xFF, record.arg1);
            break;
        case engine::cbFileComment:
            answerFileComment(*this, record, text);
            break;
        default:
            break;
    }

    prompter().processEvents();
    return Cancel ? -1 : 0;
}
