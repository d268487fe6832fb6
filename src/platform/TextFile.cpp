#include "platform/TextFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Errors.h"
#include "platform/FileSystem.h"

namespace textfile {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path, int err) {
    throw EInOutError(what + " " + path + ": " + std::strerror(err));
}

}  // namespace

std::vector<std::string> readLines(const std::string& path) {
    const std::string real = fsx::resolve(path);
    FILE* f = std::fopen(real.c_str(), "rb");
    if (!f) fail("Cannot open", path, errno);
    std::string content;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) content.append(buf, n);
    const bool failed = std::ferror(f) != 0;
    const int err = errno;
    std::fclose(f);
    if (failed) fail("Cannot read", path, err);

    std::vector<std::string> lines;
    size_t start = 0;
    const size_t size = content.size();
    while (start < size) {
        size_t end = content.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(content.substr(start));
            break;
        }
        lines.push_back(content.substr(start, end - start));
        start = end + 1;
        if (content[end] == '\r' && start < size && content[start] == '\n') ++start;
    }
    return lines;
}

void writeLines(const std::string& path, const std::vector<std::string>& lines) {
    Writer w(path);
    for (const std::string& line : lines) w.writeLine(line);
    w.close();
}

Writer::Writer(const std::string& path) : path_(path) {
    const std::string real = fsx::resolve(path);
    file_ = std::fopen(real.c_str(), "wb");
    if (!file_) fail("Cannot create", path, errno);
}

Writer::~Writer() {
    if (file_) std::fclose(static_cast<FILE*>(file_));
}

void Writer::writeLine(const std::string& line) {
    if (!file_) fail("Cannot write", path_, EBADF);
    FILE* f = static_cast<FILE*>(file_);
    if (std::fwrite(line.data(), 1, line.size(), f) != line.size() ||
        std::fwrite("\r\n", 1, 2, f) != 2)
        fail("Cannot write", path_, errno);
}

void Writer::close() {
    if (!file_) return;
    FILE* f = static_cast<FILE*>(file_);
    file_ = nullptr;
    const bool ok = std::fflush(f) == 0;
    const int err = errno;
    if (std::fclose(f) != 0 || !ok) fail("Cannot write", path_, ok ? errno : err);
}

}  // namespace textfile
