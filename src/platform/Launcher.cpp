#include "platform/Launcher.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Settings.h"

#ifdef _WIN32
#include <shellapi.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace launcher {

namespace {

QString q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

#ifdef _WIN32
// The words as one parameter line the C runtime splits back into them: each in quotes,
// a quote and the backslashes before it escaped.
std::string windowsParameters(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty()) line += ' ';
        line += '"';
        size_t backslashes = 0;
        for (const char c : word) {
            if (c == '\\') {
                ++backslashes;
            } else {
                if (c == '"') line.append(backslashes + 1, '\\');
                backslashes = 0;
            }
            line += c;
        }
        line.append(backslashes, '\\');
        line += '"';
    }
    return line;
}
#else

// An absolute form of a path, so that a bare name is never looked up on PATH.
std::string absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    std::string cwd = fsx::currentDirectory();
    if (cwd.empty()) return path;
    if (cwd.back() != '/') cwd += '/';
    return cwd + path;
}
#endif

bool startDetached(const QString& program, const QStringList& args, const std::string& dir,
                   const QProcessEnvironment& environment) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(args);
    if (!dir.empty()) process.setWorkingDirectory(q(dir));
    process.setProcessEnvironment(environment);
    // startDetached reports false when the program could not be executed (or the working
    // directory could not be entered), true only once exec has succeeded.
    return process.startDetached();
}

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    return home ? std::string(home) : std::string();
}

std::string parentOf(const std::string& path) {
    const size_t sep = path.find_last_of('/');
    if (sep == std::string::npos) return std::string();
    return sep == 0 ? std::string("/") : path.substr(0, sep);
}

// The start command's words, `exe` and `arguments`, in the prefix holding `exe`.
StartResult startWindowsProgram(const std::string& exe, const std::string& dir,
                                const std::string& windowsCommand,
                                const std::vector<std::string>& arguments) {
    std::vector<std::string> words = splitStartCommand(windowsCommand);
    if (words.empty()) words = {kDefaultStartCommand};
    words.push_back(exe);
    words.insert(words.end(), arguments.begin(), arguments.end());
    Environment environment;
    const std::string prefix = findWinePrefix(parentOf(exe));
    if (!prefix.empty()) environment.emplace_back("WINEPREFIX", prefix);
    return startCommandWords(words, dir, environment);
}

}  // namespace

std::string findProgram(const std::string& program) {
    if (program.find('/') == std::string::npos)
        return QStandardPaths::findExecutable(q(program)).toStdString();
#ifndef _WIN32
    struct stat st;
    const std::string path = absolute(program);
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0)
        return path;
#endif
    return std::string();
}

StartResult startCommandWords(const std::vector<std::string>& words, const std::string& workingDir,
                              const Environment& environment) {
    if (words.empty()) return {StartFailure::programMissing, {}};
    const std::string program = findProgram(words.front());
    if (program.empty()) return {StartFailure::startCommandMissing, words.front()};
    QStringList args;
    for (size_t i = 1; i < words.size(); ++i) args << q(words[i]);
    QProcessEnvironment all = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : environment) all.insert(q(name), q(value));
    if (!startDetached(q(program), args, workingDir, all))
        return {StartFailure::notStarted, words.front()};
    return {StartFailure::none, words.front()};
}

std::string windowsPath(const std::string& path) {
    if (path.empty() || path.front() != '/') return path;
    std::string converted = "Z:" + path;
    for (char& c : converted)
        if (c == '/') c = '\\';
    return converted;
}

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

StartResult startProgram(const std::string& program, const std::string& workingDir,
                         const std::string& windowsCommand,
                         const std::vector<std::string>& arguments) {
    StartResult result;
    if (program.empty()) return {StartFailure::programMissing, {}};
#ifdef _WIN32
    (void)windowsCommand;
    // ShellExecute takes one parameter line; each word is quoted as the C runtime splits it.
    const std::string parameters = windowsParameters(arguments);
    auto r = reinterpret_cast<intptr_t>(ShellExecuteA(
        nullptr, "open", program.c_str(), parameters.empty() ? nullptr : parameters.c_str(),
        workingDir.empty() ? nullptr : workingDir.c_str(), SW_SHOWNORMAL));
    if (r <= 32) result.failure = StartFailure::notStarted;
    return result;
#else
    std::string exe = absolute(fsx::resolve(program));
    std::string dir = workingDir.empty() ? std::string() : absolute(fsx::resolve(workingDir));
    if (!dir.empty() && !fsx::directoryExists(dir)) return {StartFailure::notStarted, {}};

    struct stat st;
    if (::stat(exe.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return {StartFailure::programMissing, {}};

    if (isWindowsProgram(exe)) return startWindowsProgram(exe, dir, windowsCommand, arguments);
    if ((st.st_mode & 0111) == 0) return {StartFailure::programMissing, {}};
    std::vector<std::string> words = {exe};
    words.insert(words.end(), arguments.begin(), arguments.end());
    if (!startCommandWords(words, dir)) result.failure = StartFailure::notStarted;
    return result;
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
    return startDetached(opener, {q(target)}, std::string(),
                         QProcessEnvironment::systemEnvironment());
#endif
}

std::string findWinePrefix(const std::string& dir) {
    std::string folder = dir;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder == "/") return std::string();
    folder = parentOf(folder);
    while (!folder.empty()) {
        const std::string base = folder == "/" ? folder : folder + "/";
        if (fsx::directoryExists(base + "drive_c") && fsx::fileExists(base + "system.reg"))
            return fsx::resolve(folder);
        const std::string parent = parentOf(folder);
        if (parent == folder) break;
        folder = parent;
    }
    return std::string();
}

std::vector<std::string> splitStartCommand(const std::string& command) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (quote) {
            if (c == quote) {
                quote = 0;
            } else if (c == '\\' && quote == '"' && i + 1 < command.size()) {
                word += command[++i];
            } else {
                word += c;
            }
        } else if (c == ' ' || c == '\t') {
            if (inWord) words.push_back(std::exchange(word, std::string()));
            inWord = false;
        } else {
            inWord = true;
            if (c == '\'' || c == '"') {
                quote = c;
            } else if (c == '\\' && i + 1 < command.size()) {
                word += command[++i];
            } else {
                word += c;
            }
        }
    }
    if (inWord) words.push_back(word);
    if (!words.empty() && words.front().rfind("~/", 0) == 0)
        words.front() = homeDirectory() + words.front().substr(1);
    return words;
}

std::string findStartCommand(const std::string& command) {
    const std::vector<std::string> words = splitStartCommand(command);
    if (words.empty()) return std::string();
    return findProgram(words.front());
}

namespace {

void storeCommand(IniFile& settings, const settings::Text& setting, const std::string& command) {
    // The store reads a value quoted at both ends without its outer quotes.
    const bool quotedWhole = command.size() >= 2 && command.front() == command.back() &&
                             (command.front() == '"' || command.front() == '\'');
    settings::set(settings, setting, quotedWhole ? '"' + command + '"' : command);
}

}  // namespace

std::string startCommandSetting(const IniFile* settings) {
    std::string command = settings::get(settings, settings::startCommand);
    return splitStartCommand(command).empty() ? std::string(kDefaultStartCommand) : command;
}

void storeStartCommand(IniFile& settings, const std::string& command) {
    storeCommand(settings, settings::startCommand, command);
}

std::string gameStartCommandSetting(const IniFile* settings, int game) {
    const std::string command = settings::get(settings, settings::gameStartCommand(game));
    return splitStartCommand(command).empty() ? std::string() : command;
}

void storeGameStartCommand(IniFile& settings, int game, const std::string& command) {
    storeCommand(settings, settings::gameStartCommand(game), command);
}

}  // namespace launcher
