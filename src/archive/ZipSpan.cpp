// Spanned sets and self-extractor stubs. Joining and writing sets and building stubs are
// not available yet: each branch reports a clean failure, and the request that needed it
// does nothing.

#include <cstdlib>
#include <string>
#include <vector>

#include "archive/ZipArchiver.h"
#include "platform/FileSystem.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {
constexpr int kSfxNotAvailable = -3;  // as when the stub cannot be opened
}

bool TZipArchiver::JoinSpannedSet(std::string& tempArchive) {
    tempArchive.clear();
    ReportMessage(11024, "Spanned archives cannot be read yet.");
    return false;
}

bool TZipArchiver::WriteSpannedSet(const std::string& /*tempArchive*/) {
    ReportMessage(11024, "Spanned archives cannot be written yet.");
    return false;
}

int TZipArchiver::WriteSFXStub(const std::string& /*archive*/) {
    return kSfxNotAvailable;
}

std::string TZipArchiver::MakeTempArchiveName() {
    std::string dir;
    if (!TempDir.empty()) {
        if (TempDir.back() != fsx::kPathDelim) TempDir += fsx::kPathDelim;
        dir = fsx::resolve(TempDir);
    } else {
#ifdef _WIN32
        char buf[MAX_PATH + 1];
        DWORD n = GetTempPathA(sizeof buf, buf);
        if (n > 0 && n <= MAX_PATH) dir.assign(buf, n);
#else
        const char* env = std::getenv("TMPDIR");
        dir = (env && *env) ? env : "/tmp";
#endif
        if (!dir.empty() && dir.back() != fsx::kPathDelim) dir += fsx::kPathDelim;
    }
#ifdef _WIN32
    char name[MAX_PATH + 1];
    if (GetTempFileNameA(dir.c_str(), "zip", 0, name) == 0) return std::string();
    std::string made = name;
#else
    std::string pattern = dir + "zipXXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    int fd = ::mkstemp(buf.data());
    if (fd < 0) return std::string();
    ::close(fd);
    std::string made = buf.data();
#endif
    // The name only reserves the place: the file itself goes, the name gets ".zip".
    fsx::deleteFile(made);
    size_t dot = made.rfind('.');
    size_t sep = made.find_last_of("\\/");
    if (dot != std::string::npos && (sep == std::string::npos || dot > sep)) made.erase(dot);
    return made + ".zip";
}
