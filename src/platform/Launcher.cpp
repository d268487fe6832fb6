#include "platform/Launcher.h"

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <fstream>
#include <string_view>

#include "platform/FileSystem.h"

#ifdef _WIN32
#include <shellapi.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace launcher {

namespace {

#ifndef _WIN32
QString q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// An absolute form of a path, so that a bare name is never looked up on PATH.
std::string absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    std::string cwd = fsx::currentDirectory();
    if (cwd.empty()) return path;
    if (cwd.back() != '/') cwd += '/';
    return cwd + path;
}

bool startDetached(const QString& program, const QStringList& args, const std::string& dir) {
    // startDetached reports false when the program could not be executed (or the working
    // directory could not be entered), true only once exec has succeeded.
    return QProcess::startDetached(program, args, dir.empty() ? QString() : q(dir));
}
#endif

}  // namespace

bool isWindowsProgram(const std::string& path) {
    std::ifstream in(fsx::resolve(path), std::ios::binary);
    if (!in) return false;
    unsigned char head[64];
    if (!in.read(reinterpret_cast<char*>(head), sizeof head)) return false;
    if (head[0] != 'M' || head[1] != 'Z') return false;
    uint32_t peOffset = uint32_t(head[0x3C]) | (uint32_t(head[0x3D]) << 8) |
                        (uint32_t(head[0x3E]) << 16) | (uint32_t(head[0x3F]) << 24);
    if (peOffset < sizeof head) return false;  // the signature follows the DOS header
    char sig[4];
    in.seekg(std::streamoff(peOffset));
    if (!in || !in.read(sig, 4)) return false;
    return sig[0] == 'P' && sig[1] == 'E' && sig[2] == '\0' && sig[3] == '\0';
}

bool startProgram(const std::string& program, const std::string& workingDir) {
    if (program.empty()) return false;
#ifdef _WIN32
    auto r = reinterpret_cast<intptr_t>(
        ShellExecuteA(nullptr, "open", program.c_str(), nullptr,
                      workingDir.empty() ? nullptr : workingDir.c_str(), SW_SHOWNORMAL));
    return r > 32;
#else
    std::string exe = absolute(fsx::resolve(program));
    std::string dir = workingDir.empty() ? std::string() : absolute(fsx::resolve(workingDir));
    if (!dir.empty() && !fsx::directoryExists(dir)) return false;

    struct stat st;
    if (::stat(exe.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;

    if (isWindowsProgram(exe)) {
        QString wine = QStandardPaths::findExecutable(QStringLiteral("wine"));
        if (wine.isEmpty()) return false;
        return startDetached(wine, {q(exe)}, dir);
    }
    if ((st.st_mode & 0111) == 0) return false;
    return startDetached(q(exe), {}, dir);
#endif
}

bool openLink(const std::string& link) {
    if (link.empty()) return false;
#ifdef _WIN32
    auto r = reinterpret_cast<intptr_t>(
        ShellExecuteA(nullptr, "open", link.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return r > 32;
#else
    std::string target = link;
    auto hasScheme = [&](std::string_view scheme) {
        if (target.size() < scheme.size()) return false;
        for (size_t i = 0; i < scheme.size(); ++i) {
            char c = target[i];
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
            if (c != scheme[i]) return false;
        }
        return true;
    };
    if (!hasScheme("http://") && !hasScheme("https://") && !hasScheme("mailto:")) {
        // A document: its path as it exists on disk, never mistaken for an option.
        target = absolute(fsx::resolve(target));
        if (!fsx::pathExists(target)) return false;
    }
    QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) return false;
    return startDetached(opener, {q(target)}, std::string());
#endif
}

}  // namespace launcher
