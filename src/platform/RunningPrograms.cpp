#include "platform/RunningPrograms.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "platform/FileSystem.h"
#include "platform/Launcher.h"
#include "platform/Prompter.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h.
#include <tlhelp32.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#endif

namespace running {

namespace {

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// True when `path` is the folder `dir` (no trailing separator) or lies below it, compared
// without regard to case.
bool inside(const std::string& path, const std::string& dir) {
    if (dir.empty() || path.size() < dir.size()) return false;
    if (lowerAscii(path.substr(0, dir.size())) != lowerAscii(dir)) return false;
    const char sep = fsx::kPathDelim;
    return path.size() == dir.size() || dir.back() == sep || path[dir.size()] == sep ||
           path[dir.size()] == '/';
}

#ifndef _WIN32

bool endsWithNoCase(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && lowerAscii(s.substr(s.size() - tail.size())) == tail;
}

// The path with its links followed, as it exists (in the case it is written in); empty when
// it does not exist.
std::string realPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return std::string();
    std::string out(real);
    std::free(real);
    return out;
}

// A path as the kernel names it: found without regard to case, links followed, no trailing
// separator (as given where it does not exist).
std::string canonical(const std::string& path) {
    const std::string resolved = fsx::resolve(path);
    const std::string real = realPath(resolved);
    return real.empty() ? resolved : real;
}

std::string readLink(const std::string& path) {
    std::string target(4096, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n <= 0 || size_t(n) >= target.size()) return std::string();
    target.resize(size_t(n));
    // The kernel marks a program file that was removed or replaced since it started.
    const std::string deleted = " (deleted)";
    if (target.size() > deleted.size() &&
        target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0)
        target.resize(target.size() - deleted.size());
    return target;
}

// The NUL-separated words of a /proc file (command line, environment), at most 64 KB.
std::vector<std::string> readWords(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> words;
    if (!in) return words;
    std::string data;
    char chunk[4096];
    while (data.size() < 64 * 1024 && in.read(chunk, sizeof chunk).gcount() > 0)
        data.append(chunk, size_t(in.gcount()));
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\0', start);
        if (end == std::string::npos) end = data.size();
        words.push_back(data.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

std::string environmentValue(const std::vector<std::string>& environment, const std::string& name) {
    for (const std::string& entry : environment)
        if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
            entry[name.size()] == '=')
            return entry.substr(name.size() + 1);
    return std::string();
}

// A Windows path taken apart: its drive letter (lower case) and the rest with "/".
struct WindowsPath {
    char drive = 0;
    std::string rest;
};

std::optional<WindowsPath> windowsPath(std::string word) {
    if (word.rfind("\\\\?\\", 0) == 0) word.erase(0, 4);
    if (word.size() < 3 || word[1] != ':' || (word[2] != '\\' && word[2] != '/')) return {};
    const char drive = lowerAscii(word.substr(0, 1))[0];
    if (drive < 'a' || drive > 'z') return {};
    std::string rest = word.substr(3);
    // The whole command line may stand in the first word: the program ends with ".exe".
    if (!endsWithNoCase(rest, ".exe")) {
        const size_t at = lowerAscii(rest).find(".exe ");
        if (at != std::string::npos) rest.resize(at + 4);
    }
    std::replace(rest.begin(), rest.end(), '\\', '/');
    return WindowsPath{drive, rest};
}

// The folders a drive letter stands for, in the Wine prefixes that may hold the process.
std::vector<std::string> driveRoots(char drive, const std::vector<std::string>& prefixes) {
    std::vector<std::string> roots;
    for (std::string prefix : prefixes) {
        while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
        const std::string link = prefix + "/dosdevices/" + drive + ":";
        if (fsx::directoryExists(link))
            roots.push_back(canonical(link));
        else if (drive == 'c' && fsx::directoryExists(prefix + "/drive_c"))
            roots.push_back(canonical(prefix + "/drive_c"));
    }
    if (roots.empty() && drive == 'z') roots.push_back("/");
    return roots;
}

// What one process tells of its program and where it runs.
struct Process {
    std::string entry;  // its /proc folder, with a trailing "/"
    std::string exe;
    std::vector<std::string> words;
    std::string cwd;  // its working folder, empty when it cannot be read
};

// The Unix paths a Windows path stands for: one for each Wine prefix that maps its drive
// (the game's own, then the one the process names in its environment, else ~/.wine).
// Empty when none maps it.
std::vector<std::string> unixPaths(const Process& p, const WindowsPath& program,
                                   const std::string& gamePrefix) {
    std::vector<std::string> prefixes;
    if (!gamePrefix.empty()) prefixes.push_back(gamePrefix);
    if (program.drive != 'z') {
        const std::vector<std::string> environment = readWords(p.entry + "environ");
        const std::string own = environmentValue(environment, "WINEPREFIX");
        const std::string home = environmentValue(environment, "HOME");
        if (!own.empty())
            prefixes.push_back(own);
        else if (!home.empty())
            prefixes.push_back(home + "/.wine");
    }
    std::vector<std::string> paths;
    for (const std::string& root : driveRoots(program.drive, prefixes))
        paths.push_back(root == "/" ? "/" + program.rest : root + "/" + program.rest);
    return paths;
}

// An absolute path with its "." and ".." components and doubled separators taken out, as
// written: no link is followed.
std::string tidy(const std::string& path) {
    std::vector<std::string> parts;
    for (size_t i = 0; i <= path.size();) {
        size_t end = path.find('/', i);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(i, end - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = end + 1;
    }
    std::string out;
    for (const std::string& part : parts) out += "/" + part;
    return out.empty() ? "/" : out;
}

// A program file there: one with a run bit, or a Windows program or batch file.
bool isProgramFile(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return (st.st_mode & 0111) != 0 || endsWithNoCase(path, ".exe") ||
           endsWithNoCase(path, ".bat") || endsWithNoCase(path, ".cmd");
}

// The program file at `path` when it lies in `dir`, found as the kernel names it. Names are
// matched without regard to case (as Windows programs and Wine name them) only where the path
// as written lies in `dir`: elsewhere that would list a folder for every word of every
// process, and only a link can lead from there into `dir`.
std::optional<std::string> programFileIn(const std::string& path, const std::string& dir) {
    const std::string written = tidy(path);
    const std::string found = inside(written, dir) ? canonical(written) : realPath(written);
    if (found.empty() || !inside(found, dir) || !isProgramFile(found)) return {};
    return found;
}

// The program a Windows path names: the process's own (its first word) when it lies in
// `dir`, else a program file there. The process's own on a drive no prefix maps counts when
// the process works in `dir`.
bool windowsProgramIn(const Process& p, const WindowsPath& program, bool own,
                      const std::string& dir, const std::string& gamePrefix) {
    const std::vector<std::string> paths = unixPaths(p, program, gamePrefix);
    for (const std::string& path : paths)
        if (own ? inside(canonical(path), dir) : programFileIn(path, dir).has_value()) return true;
    return own && paths.empty() && inside(p.cwd, dir);
}

// The program in `dir` that command word `i` names, options left out. The first word is the
// process's own program: Wine puts there the Windows path or the name it was started by
// ("game.exe", ".\game.exe"). A later one is the script an interpreter runs after any
// number of options ("sh -e -x game.exe") or the program handed to Wine or Proton. A
// relative name (with "/" or "\") is taken from the process's working folder.
std::optional<std::string> programNamedBy(const Process& p, size_t i, const std::string& dir,
                                          const std::string& gamePrefix) {
    std::string word = p.words[i];
    if (word.empty() || word[0] == '-') return {};
    if (const std::optional<WindowsPath> program = windowsPath(word)) {
        if (windowsProgramIn(p, *program, i == 0, dir, gamePrefix)) return word;
        return {};
    }
    if (word[0] == '/') {
        if (i > 0) return programFileIn(word, dir);
        if (inside(canonical(word), dir)) return word;
        return {};
    }
    if (p.cwd.empty()) return {};
    std::replace(word.begin(), word.end(), '\\', '/');
    return programFileIn(p.cwd + "/" + word, dir);
}

std::optional<Program> programIn(const Process& p, long pid, const std::string& dir,
                                 const std::string& gamePrefix) {
    if (!p.exe.empty() && inside(p.exe, dir)) return Program{pid, p.exe};
    for (size_t i = 0; i < p.words.size(); ++i)
        if (std::optional<std::string> named = programNamedBy(p, i, dir, gamePrefix))
            return Program{pid, std::move(*named)};
    return {};
}

#endif

}  // namespace

#ifdef _WIN32

std::vector<Program> programsFrom(const std::string& dir, const std::string& /*procRoot*/) {
    std::vector<Program> found;
    std::string base = dir;
    while (base.size() > 3 && (base.back() == '\\' || base.back() == '/')) base.pop_back();
    if (base.empty()) return found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return found;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    const DWORD self = GetCurrentProcessId();
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == self) continue;
        // Processes of other users and protected ones cannot be opened: skipped.
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (!process) continue;
        char image[MAX_PATH * 4];
        DWORD size = DWORD(sizeof image);
        if (QueryFullProcessImageNameA(process, 0, image, &size) &&
            inside(std::string(image, size), base))
            found.push_back(Program{long(entry.th32ProcessID), std::string(image, size)});
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return found;
}

#else

std::vector<Program> programsFrom(const std::string& dir, const std::string& procRoot) {
    std::vector<Program> found;
    if (dir.empty()) return found;
    const std::string base = canonical(dir);
    const std::string gamePrefix = launcher::findWinePrefix(base);
    DIR* folder = ::opendir(procRoot.c_str());
    if (!folder) return found;
    const long self = long(::getpid());
    while (const dirent* e = ::readdir(folder)) {
        const std::string name = e->d_name;
        if (name.empty() ||
            !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const long pid = std::strtol(name.c_str(), nullptr, 10);
        if (pid == self) continue;
        Process p;
        p.entry = procRoot + "/" + name + "/";
        p.exe = readLink(p.entry + "exe");
        p.words = readWords(p.entry + "cmdline");
        p.cwd = readLink(p.entry + "cwd");
        if (std::optional<Program> program = programIn(p, pid, base, gamePrefix))
            found.push_back(std::move(*program));
    }
    ::closedir(folder);
    return found;
}

#endif

std::optional<Program> stillRunningFrom(const std::string& dir, std::chrono::milliseconds grace,
                                        const std::string& procRoot) {
    const auto until = std::chrono::steady_clock::now() + grace;
    for (;;) {
        const std::vector<Program> found = programsFrom(dir, procRoot);
        if (found.empty()) return std::nullopt;
        if (std::chrono::steady_clock::now() >= until) return found.front();
        // The window stays live while the game has its moment to go.
        prompter().processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::string describe(const std::string& text, const Program& program) {
    std::string out = text;
    const size_t at = out.find("%s");
    if (at != std::string::npos)
        out.replace(at, 2, program.path);
    else
        out += (out.empty() ? "" : " ") + program.path;
    return out;
}

}  // namespace running
