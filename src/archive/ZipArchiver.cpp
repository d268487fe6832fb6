#include "archive/ZipArchiver.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/Prompter.h"

// --- TZipStream ---------------------------------------------------------------------------

void TZipStream::SetPointer(void* memory, int64_t size) {
    owned_.reset();
    data_ = static_cast<char*>(memory);
    size_ = (memory && size > 0) ? size : 0;
    position_ = 0;
}

void TZipStream::SetSize(int64_t size) {
    if (size < 0) size = 0;
    if (size == 0) {
        Clear();
        return;
    }
    if (data_ == nullptr || data_ != owned_.get() || size > size_) {
        // A new block, left uninitialised: its pages are only taken from the system as
        // they are written, so a block larger than what arrives costs little.
        std::unique_ptr<char[]> block(new char[static_cast<size_t>(size)]);
        if (data_ != nullptr)
            std::memcpy(block.get(), data_, static_cast<size_t>(std::min(size, size_)));
        owned_ = std::move(block);
        data_ = owned_.get();
    }
    size_ = size;
    position_ = std::min(position_, size_);
}

void TZipStream::Clear() {
    owned_.reset();
    data_ = nullptr;
    size_ = 0;
    position_ = 0;
}

void TZipStream::SetPosition(int64_t pos) {
    position_ = std::clamp<int64_t>(pos, 0, size_);
}

int64_t TZipStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || position_ >= size_ || data_ == nullptr) return 0;
    int64_t n = std::min(count, size_ - position_);
    std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

std::vector<std::string> TZipStream::Lines() const {
    std::vector<std::string> lines;
    if (data_ == nullptr || size_ <= 0) return lines;
    const char* p = data_;
    const char* end = data_ + size_;
    while (p < end) {
        const char* start = p;
        while (p < end && *p != '\r' && *p != '\n') ++p;
        lines.emplace_back(start, p);
        if (p < end) {  // CR LF, CR or LF ends the line
            if (*p++ == '\r' && p < end && *p == '\n') ++p;
        }
    }
    return lines;
}

// --- TZipArchiver -------------------------------------------------------------------------

TZipArchiver::TZipArchiver() = default;

TZipArchiver::~TZipArchiver() {
    CloseInput();
}

void TZipArchiver::SetZipFileName(const std::string& name) {
    zipFileName_ = name;
    List();
}

void TZipArchiver::SetDLLDirectory(const std::string& dir) {
    dllDirectory_ = dir;
    if (dllDirectory_.size() > 1 && (dllDirectory_.back() == '\\' || dllDirectory_.back() == '/'))
        dllDirectory_.pop_back();
}

void TZipArchiver::SetPasswordReqCount(int n) {
    passwordReqCount_ = std::clamp(n, 0, 15);
}

// --- Messages -----------------------------------------------------------------------------

void TZipArchiver::ReportMessage(int id, const std::string& extra) {
    std::string text = ZipMessageText(id) + extra;
    Message = text;
    ErrCode = id;
    if (!Unattended) prompter().message(text, PromptButtons::Ok, PromptIcon::None, std::string());
    if (OnMessage) OnMessage(this, 0, text);
}

void TZipArchiver::ReportException(const EZipArchiver& e) {
    std::string text = e.what();
    if (e.ShowToUser && !Unattended)
        prompter().message(text, PromptButtons::Ok, PromptIcon::None, std::string());
    ErrCode = e.MessageId;
    Message = text;
    if (OnMessage) OnMessage(this, 0, text);
}

std::string TZipArchiver::AskAddPassword() {
    if (Unattended) {
        ReportMessage(10150);
        return std::string();
    }
    std::string first;
    if (!prompter().password(ZipMessageText(10154), ZipMessageText(10155), first) || first.empty())
        return std::string();
    std::string second;
    if (!prompter().password(ZipMessageText(10154), ZipMessageText(10156), second) ||
        second.empty())
        return std::string();
    if (first != second) {
        ReportMessage(10104);
        return std::string();
    }
    return first;
}

std::string TZipArchiver::AskExtractPassword() {
    if (Unattended) {
        ReportMessage(10151);
        return std::string();
    }
    std::string text;
    if (!prompter().password(ZipMessageText(10154), ZipMessageText(10155), text)) text.clear();
    return text;
}
