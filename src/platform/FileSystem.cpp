#include "platform/FileSystem.h"

#include "base/DurableWrite.h"
#include "base/NameLimits.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>

#ifdef _WIN32
#include <direct.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace fsx {

namespace {

bool isAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

// Strict UTF-8 validation (no overlongs, no surrogates, at most U+10FFFF).
bool isValidUtf8(const std::string& s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t n = s.size(), i = 0;
    while (i < n) {
        unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint32_t cp;
        if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
            cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

char foldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// Wildcard match ("*" any run, "?" one element) over already case-folded sequences.
template <typename S>
bool wildMatch(const S& pat, const S& name) {
    size_t p = 0, n = 0, starP = S::npos, starN = 0;
    while (n < name.size()) {
        if (p < pat.size() && pat[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pat.size() && (pat[p] == '?' || pat[p] == name[n])) {
            ++p;
            ++n;
        } else if (starP != S::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pat.size() && pat[p] == '*') ++p;
    return p == pat.size();
}

bool wildMatchNoCase(const std::string& pattern, const std::string& name) {
    if (isAscii(pattern) && isAscii(name)) {
        std::string p(pattern), n(name);
        std::transform(p.begin(), p.end(), p.begin(), foldAscii);
        std::transform(n.begin(), n.end(), n.begin(), foldAscii);
        return wildMatch(p, n);
    }
    if (isValidUtf8(pattern) && isValidUtf8(name)) {
        std::u32string p = QString::fromUtf8(pattern.data(), qsizetype(pattern.size()))
                               .toCaseFolded()
                               .toStdU32String();
        std::u32string n =
            QString::fromUtf8(name.data(), qsizetype(name.size())).toCaseFolded().toStdU32String();
        return wildMatch(p, n);
    }
    std::string p(pattern), n(name);
    std::transform(p.begin(), p.end(), p.begin(), foldAscii);
    std::transform(n.begin(), n.end(), n.begin(), foldAscii);
    return wildMatch(p, n);
}

// Windows pattern rules: "*.*" matches every name, and "name.*" also matches "name".
bool patternMatches(const std::string& pattern, const std::string& name) {
    if (pattern.empty() || pattern == "*" || pattern == "*.*") return true;
    if (wildMatchNoCase(pattern, name)) return true;
    if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
        name.find('.') == std::string::npos)
        return wildMatchNoCase(pattern.substr(0, pattern.size() - 2), name);
    return false;
}

// Key under which names that differ only in case meet: the Unicode case folding of a valid
// UTF-8 name (the folding QString::compare uses without regard to case), ASCII lower case
// of any other byte string.
std::string foldKey(const char* name, size_t len) {
    bool ascii = true;
    for (size_t i = 0; i < len && ascii; ++i) ascii = (unsigned char)name[i] < 0x80;
    std::string s(name, len);
    if (!ascii && isValidUtf8(s)) {
        QByteArray folded = QString::fromUtf8(name, qsizetype(len)).toCaseFolded().toUtf8();
        return std::string(folded.constData(), size_t(folded.size()));
    }
    std::transform(s.begin(), s.end(), s.begin(), foldAscii);
    return s;
}

bool hasWildcards(const std::string& s) {
    return s.find_first_of("*?") != std::string::npos;
}

bool isSep(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

// Splits a path into its directory part (with trailing separator, or empty) and last name.
void splitLast(const std::string& path, std::string& dir, std::string& name) {
    size_t i = path.size();
    while (i > 0 && !isSep(path[i - 1])) --i;
    dir = path.substr(0, i);
    name = path.substr(i);
}

int32_t clampSize(int64_t size) {
    // Callers take sizes as signed 32-bit numbers; larger files report the largest one.
    if (size > INT32_MAX) return INT32_MAX;
    return int32_t(size);
}

#ifndef _WIN32

bool lstatOk(const std::string& p, struct stat* st = nullptr) {
    struct stat tmp;
    return ::lstat(p.c_str(), st ? st : &tmp) == 0;
}

bool statOk(const std::string& p, struct stat* st) {
    return ::stat(p.c_str(), st) == 0;
}

bool isDotOrDotDot(const char* n) {
    return n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'));
}

// Case-folded name index of recently searched directories. Extracting a mission resolves
// every new file against its folder, and listing a large folder for each of them would make
// the extraction quadratic; the index is kept exact through inotify, whose events the kernel
// queues before the changing call returns, so every change made before a lookup is seen by
// it. Without inotify every lookup lists the folder.
class NameIndex {
  public:
    // Sets `best` to the first (byte order) entry of `dir` whose key is `key`, empty when none.
    // False when the index cannot serve the folder.
    bool lookup(const std::string& dir, const std::string& key, std::string& best) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fd_ == kUntried) fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0) return false;
        drain();
        struct stat st;
        if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
        Folder* f = nullptr;
        auto it = byInode_.find({st.st_dev, st.st_ino});
        if (it != byInode_.end()) {
            f = &folders_[it->second];
        } else {
            f = add(dir, st);
            if (!f) return false;
        }
        f->lastUse = ++clock_;
        best.clear();
        auto hit = f->byKey.find(key);
        if (hit != f->byKey.end())
            for (const auto& n : hit->second)
                if (best.empty() || n < best) best = n;
        return true;
    }

  private:
    static constexpr int kUntried = -2;
    static constexpr size_t kMaxFolders = 128;
    static constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                      IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

    struct Folder {
        std::pair<dev_t, ino_t> inode;
        uint64_t lastUse = 0;
        std::unordered_map<std::string, std::vector<std::string>> byKey;

        void insert(const char* name) {
            auto& v = byKey[foldKey(name, std::strlen(name))];
            if (std::find(v.begin(), v.end(), name) == v.end()) v.emplace_back(name);
        }
        void erase(const char* name) {
            auto it = byKey.find(foldKey(name, std::strlen(name)));
            if (it == byKey.end()) return;
            auto& v = it->second;
            v.erase(std::remove(v.begin(), v.end(), name), v.end());
            if (v.empty()) byKey.erase(it);
        }
    };

    // Folders on network and user-space file systems can change without local events.
    static bool eventsComplete(const std::string& dir) {
        struct statfs fs;
        if (::statfs(dir.c_str(), &fs) != 0) return false;
        switch (static_cast<unsigned long>(fs.f_type)) {
            case 0x6969:      // NFS
            case 0x517B:      // SMB
            case 0xFF534D42:  // CIFS
            case 0xFE534D42:  // SMB2
            case 0x65735546:  // FUSE
            case 0x01021997:  // 9P
            case 0x00C36400:  // Ceph
            case 0x73757245:  // Coda
            case 0x5346414F:  // AFS
            case 0x7461636F:  // OCFS2
            case 0x01161970:  // GFS2
                return false;
            default:
                return true;
        }
    }

    Folder* add(const std::string& dir, const struct stat& st) {
        if (!eventsComplete(dir)) return nullptr;
        if (folders_.size() >= kMaxFolders) evictOldest();
        int wd = ::inotify_add_watch(fd_, dir.c_str(), kMask);
        if (wd < 0) return nullptr;
        // The watch must be on the folder that was examined, not on one put in its place.
        struct stat again;
        if (::stat(dir.c_str(), &again) != 0 || again.st_dev != st.st_dev ||
            again.st_ino != st.st_ino || folders_.count(wd)) {
            if (!folders_.count(wd)) ::inotify_rm_watch(fd_, wd);
            return nullptr;
        }
        Folder& f = folders_[wd];
        f.inode = {st.st_dev, st.st_ino};
        byInode_[f.inode] = wd;
        // Changes made while the listing runs are queued on the watch and applied below.
        DIR* d = ::opendir(dir.c_str());
        if (!d) {
            drop(wd, true);
            return nullptr;
        }
        while (dirent* e = ::readdir(d))
            if (!isDotOrDotDot(e->d_name)) f.insert(e->d_name);
        ::closedir(d);
        drain();
        auto it = folders_.find(wd);
        return it == folders_.end() ? nullptr : &it->second;
    }

    void drop(int wd, bool removeWatch) {
        auto it = folders_.find(wd);
        if (it == folders_.end()) return;
        byInode_.erase(it->second.inode);
        folders_.erase(it);
        if (removeWatch) ::inotify_rm_watch(fd_, wd);
    }

    void evictOldest() {
        auto oldest = folders_.begin();
        for (auto it = folders_.begin(); it != folders_.end(); ++it)
            if (it->second.lastUse < oldest->second.lastUse) oldest = it;
        if (oldest != folders_.end()) drop(oldest->first, true);
    }

    void reset() {
        // Events were lost: start afresh (closing the descriptor removes every watch).
        ::close(fd_);
        fd_ = kUntried;
        folders_.clear();
        byInode_.clear();
    }

    void drain() {
        alignas(struct inotify_event) char buf[16384];
        for (;;) {
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (n < 0 && errno != EAGAIN) reset();
                return;
            }
            for (ssize_t off = 0; off < n;) {
                auto* ev = reinterpret_cast<struct inotify_event*>(buf + off);
                off += ssize_t(sizeof(struct inotify_event) + ev->len);
                if (ev->mask & IN_Q_OVERFLOW) {
                    reset();
                    return;
                }
                auto it = folders_.find(ev->wd);
                if (it == folders_.end()) continue;
                if (ev->mask & (IN_IGNORED | IN_UNMOUNT)) {
                    drop(ev->wd, false);
                } else if (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                    drop(ev->wd, true);
                } else if (ev->len > 0) {
                    if (ev->mask & (IN_CREATE | IN_MOVED_TO)) it->second.insert(ev->name);
                    if (ev->mask & (IN_DELETE | IN_MOVED_FROM)) it->second.erase(ev->name);
                }
            }
        }
    }

    std::mutex mutex_;
    int fd_ = kUntried;
    uint64_t clock_ = 0;
    std::unordered_map<int, Folder> folders_;
    std::map<std::pair<dev_t, ino_t>, int> byInode_;
};

std::atomic<bool> folderIndexEnabled{true};

NameIndex& nameIndex() {
    static NameIndex* index = new NameIndex;  // lives to the end of the process
    return *index;
}

// The entry of directory `dir` ("" for the current directory) whose name equals `name`
// without regard to case; the first in byte order when several do. Empty when none.
std::string findNoCase(const std::string& dir, const std::string& name) {
    const std::string folder = dir.empty() ? std::string(".") : dir;
    const std::string key = foldKey(name.data(), name.size());
    std::string best;
    if (folderIndexEnabled.load(std::memory_order_relaxed) && nameIndex().lookup(folder, key, best))
        return best;
    DIR* d = ::opendir(folder.c_str());
    if (!d) return {};
    while (dirent* e = ::readdir(d)) {
        if (isDotOrDotDot(e->d_name)) continue;
        if (foldKey(e->d_name, std::strlen(e->d_name)) != key) continue;
        if (best.empty() || best > e->d_name) best = e->d_name;
    }
    ::closedir(d);
    return best;
}

bool copyRegularFile(const std::string& from, const std::string& to, bool failIfExists);
bool removeTree(const std::string& path);
bool copyTree(const std::string& from, const std::string& to);

#endif

}  // namespace

// ---------------------------------------------------------------------------------------
// Resolution

std::string foldKey(const std::string& name) {
    return foldKey(name.data(), name.size());
}

bool sameName(const std::string& a, const std::string& b) {
    return a == b || foldKey(a) == foldKey(b);
}

std::vector<std::string> namesLike(const std::string& dir, const std::string& name) {
    std::vector<std::string> out;
    const std::string key = foldKey(name);
    for (const DirEntry& e : listDirectory(dir, "*"))
        if (foldKey(e.name) == key) out.push_back(e.name);
    std::sort(out.begin(), out.end());
    return out;
}

#ifndef _WIN32
namespace {
// No "." or ".." components and no doubled separators (a trailing one is fine).
bool plainPath(const std::string& path) {
    size_t i = path[0] == '/' ? 1 : 0;
    while (i < path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        const size_t n = j - i;
        if (n == 0 && j < path.size()) return false;
        if ((n == 1 && path[i] == '.') || (n == 2 && path[i] == '.' && path[i + 1] == '.'))
            return false;
        i = j + 1;
    }
    return true;
}
}  // namespace
#endif

std::string resolve(const std::string& path) {
#ifdef _WIN32
    return path;  // the file system ignores case already
#else
    if (path.empty() || lstatOk(path)) return path;

    std::string result;
    size_t i = 0;
    // Only the components below the deepest folder that exists as written need a look-up,
    // and that folder is usually the parent. A path with "." or ".." components or doubled
    // separators is walked from the top, which also tidies its separators.
    if (plainPath(path)) {
        size_t end = path.size();
        while (end > 1 && path[end - 1] == '/') --end;
        for (size_t cut = path.rfind('/', end - 1); cut != std::string::npos && cut > 0;
             cut = path.rfind('/', cut - 1)) {
            if (lstatOk(path.substr(0, cut))) {
                i = cut + 1;
                result = path.substr(0, i);
                break;
            }
        }
    }
    if (i == 0 && path[0] == '/') {
        result.push_back('/');
        while (i < path.size() && path[i] == '/') ++i;
    }
    bool missing = false;  // once a component is missing, nothing below it can exist
    while (i < path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        std::string comp = path.substr(i, j - i);
        std::string chosen = comp;
        if (!missing && comp != "." && comp != "..") {
            if (!lstatOk(result + comp)) {
                std::string other = findNoCase(result, comp);
                if (other.empty())
                    missing = true;
                else
                    chosen = other;
            }
        }
        result += chosen;
        // Keep one separator between components and a trailing one when given.
        if (j < path.size()) result += '/';
        i = j;
        while (i < path.size() && path[i] == '/') ++i;
    }
    return result;
#endif
}

// ---------------------------------------------------------------------------------------
// Existence and size

bool fileExists(const std::string& path) {
#ifdef _WIN32
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
#else
    struct stat st;
    return !path.empty() && statOk(resolve(path), &st) && !S_ISDIR(st.st_mode);
#endif
}

bool directoryExists(const std::string& path) {
#ifdef _WIN32
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
#else
    struct stat st;
    return !path.empty() && statOk(resolve(path), &st) && S_ISDIR(st.st_mode);
#endif
}

bool pathExists(const std::string& path) {
#ifdef _WIN32
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    struct stat st;
    return !path.empty() && statOk(resolve(path), &st);
#endif
}

int32_t fileSize(const std::string& path) {
    std::string dir, name;
    splitLast(path, dir, name);
    if (name.empty()) return -1;
    if (hasWildcards(name)) {
        auto entries = listDirectory(dir, name);
        if (entries.empty()) return -1;
        return clampSize(entries.front().size);
    }
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
    return clampSize((int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
#else
    struct stat st;
    std::string p = resolve(path);
    if (!statOk(p, &st) && !lstatOk(p, &st)) return -1;
    if (S_ISDIR(st.st_mode)) return 0;
    return clampSize(int64_t(st.st_size));
#endif
}

int64_t fileSize64(const std::string& path) {
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
    return (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
#else
    struct stat st;
    if (path.empty() || !statOk(resolve(path), &st) || S_ISDIR(st.st_mode)) return -1;
    return int64_t(st.st_size);
#endif
}

std::vector<DirEntry> listDirectory(const std::string& dir, const std::string& pattern) {
    std::vector<DirEntry> out;
#ifdef _WIN32
    std::string base = dir;
    if (!base.empty() && !isSep(base.back())) base += kPathDelim;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((base + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        std::string name(fd.cFileName);
        if (name == "." || name == "..") continue;
        if (!patternMatches(pattern, name)) continue;
        DirEntry e;
        e.name = name;
        e.isDirectory = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        e.size = e.isDirectory ? 0 : ((int64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow);
        out.push_back(std::move(e));
    } while (FindNextFileA(h, &fd));
    FindClose(h);
#else
    std::string base = dir.empty() ? std::string(".") : resolve(dir);
    DIR* d = ::opendir(base.c_str());
    if (!d) return out;
    int fd = ::dirfd(d);
    while (dirent* de = ::readdir(d)) {
        std::string name(de->d_name);
        if (name == "." || name == "..") continue;
        if (!patternMatches(pattern, name)) continue;
        DirEntry e;
        e.name = name;
        struct stat st;
        if (::fstatat(fd, de->d_name, &st, 0) == 0 ||
            ::fstatat(fd, de->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            e.isDirectory = S_ISDIR(st.st_mode);
            e.size = e.isDirectory ? 0 : int64_t(st.st_size);
        }
        out.push_back(std::move(e));
    }
    ::closedir(d);
#endif
    return out;
}

// ---------------------------------------------------------------------------------------
// DOS date-time

uint32_t unixToDos(int64_t t) {
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
#ifdef _WIN32
    if (localtime_s(&tm, &tt) != 0) return (0u << 25) | (1u << 21) | (1u << 16);
#else
    if (!::localtime_r(&tt, &tm)) return (0u << 25) | (1u << 21) | (1u << 16);
#endif
    int year = tm.tm_year + 1900;
    // The DOS format covers 1980-01-01 to 2107-12-31; times outside clamp to its ends.
    if (year < 1980) return (0u << 25) | (1u << 21) | (1u << 16);
    if (year > 2107)
        return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
    uint32_t date =
        (uint32_t(year - 1980) << 9) | (uint32_t(tm.tm_mon + 1) << 5) | uint32_t(tm.tm_mday);
    uint32_t time =
        (uint32_t(tm.tm_hour) << 11) | (uint32_t(tm.tm_min) << 5) | uint32_t(tm.tm_sec / 2);
    return (date << 16) | time;
}

int64_t dosToUnix(uint32_t dos) {
    std::tm tm{};
    uint32_t date = dos >> 16, time = dos & 0xFFFF;
    tm.tm_year = int((date >> 9) & 0x7F) + 80;
    tm.tm_mon = int((date >> 5) & 0x0F) - 1;
    tm.tm_mday = int(date & 0x1F);
    tm.tm_hour = int((time >> 11) & 0x1F);
    tm.tm_min = int((time >> 5) & 0x3F);
    tm.tm_sec = int(time & 0x1F) * 2;
    tm.tm_isdst = -1;
    // A zero day or month (an unset stamp) is read as the first.
    if (tm.tm_mon < 0) tm.tm_mon = 0;
    if (tm.tm_mday == 0) tm.tm_mday = 1;
    return int64_t(std::mktime(&tm));
}

int32_t fileAgeDos(const std::string& path) {
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
    FILETIME local;
    WORD d, t;
    if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) ||
        !FileTimeToDosDateTime(&local, &d, &t))
        return -1;
    return int32_t((uint32_t(d) << 16) | t);
#else
    struct stat st;
    if (path.empty() || !statOk(resolve(path), &st) || S_ISDIR(st.st_mode)) return -1;
    return int32_t(unixToDos(int64_t(st.st_mtime)));
#endif
}

// ---------------------------------------------------------------------------------------
// Changes

bool clearAttributes(const std::string& path) {
    crashPoint();
#ifdef _WIN32
    return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
#else
    std::string p = resolve(path);
    struct stat st;
    if (p.empty() || !statOk(p, &st)) return false;
    if (st.st_mode & S_IWUSR) return true;
    return ::chmod(p.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
#endif
}

bool deleteFile(const std::string& path) {
    crashPoint();
#ifdef _WIN32
    return DeleteFileA(path.c_str()) != 0;
#else
    std::string p = resolve(path);
    struct stat st;
    if (p.empty() || !lstatOk(p, &st) || S_ISDIR(st.st_mode)) return false;
    return ::unlink(p.c_str()) == 0;
#endif
}

bool moveFile(const std::string& from, const std::string& to) {
    crashPoint();
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED) != 0;
#else
    std::string src = resolve(from);
    struct stat st;
    if (src.empty() || to.empty() || !lstatOk(src, &st)) return false;
    std::string dst = resolve(to);
    if (dst == src) {
        // Same entry: a rename that changes only the case of the last name.
        std::string dDir, dName, sDir, sName;
        splitLast(to, dDir, dName);
        splitLast(src, sDir, sName);
        if (dName == sName) return true;
        dst = sDir + dName;
        return ::rename(src.c_str(), dst.c_str()) == 0;
    }
    // As on Windows, an existing target is never replaced.
    if (lstatOk(dst)) return false;
    if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EINVAL || errno == ENOSYS) {
        // File systems without the no-replace flag: the check above has to do.
        if (::rename(src.c_str(), dst.c_str()) == 0) return true;
    }
    if (errno != EXDEV) return false;
    // Across file systems: copy, then remove the source only when the copy is complete.
    if (S_ISDIR(st.st_mode)) {
        if (!copyTree(src, dst)) {
            removeTree(dst);
            return false;
        }
        return removeTree(src);
    }
    if (!S_ISREG(st.st_mode)) return false;
    if (!copyRegularFile(src, dst, true)) return false;
    if (::unlink(src.c_str()) != 0) {
        ::unlink(dst.c_str());
        return false;
    }
    return true;
#endif
}

bool copyFile(const std::string& from, const std::string& to, bool failIfExists) {
    crashPoint();
#ifdef _WIN32
    return CopyFileA(from.c_str(), to.c_str(), failIfExists ? TRUE : FALSE) != 0;
#else
    std::string src = resolve(from);
    std::string dst = resolve(to);
    if (src.empty() || dst.empty()) return false;
    return copyRegularFile(src, dst, failIfExists);
#endif
}

bool createDirectory(const std::string& path) {
    crashPoint();
#ifdef _WIN32
    return CreateDirectoryA(path.c_str(), nullptr) != 0;
#else
    std::string p = resolve(path);
    if (p.empty()) return false;
    if (::mkdir(p.c_str(), 0777) != 0) return false;
    // Until its parent is synced, a power cut may take the new folder away with whatever
    // was made lasting inside it.
    std::string parent, name;
    while (p.size() > 1 && isSep(p.back())) p.pop_back();
    splitLast(p, parent, name);
    return syncPath(parent.empty() ? "." : parent);
#endif
}

bool forceDirectories(const std::string& path) {
    if (path.empty()) return false;
    std::string p = path;
    while (p.size() > 1 && isSep(p.back())) p.pop_back();
    if (directoryExists(p)) return true;
    std::string parent, name;
    splitLast(p, parent, name);
    if (!parent.empty() && parent != p && !forceDirectories(parent)) return false;
    if (name.empty()) return directoryExists(p);
    return createDirectory(p) || directoryExists(p);
}

bool removeDirectory(const std::string& path) {
    crashPoint();
#ifdef _WIN32
    return RemoveDirectoryA(path.c_str()) != 0;
#else
    std::string p = resolve(path);
    if (p.empty()) return false;
    return ::rmdir(p.c_str()) == 0;
#endif
}

namespace {

long crashStep = -1;  // -1 = not read from the environment yet; 0 = never
long stepsTaken = 0;
void (*crashHook)() = nullptr;

}  // namespace

void crashPoint() {
    if (crashHook) crashHook();
    if (crashStep < 0) {
        const char* v = std::getenv("TALLOWMERE_CRASH_STEP");
        crashStep = v ? std::strtol(v, nullptr, 10) : 0L;
    }
    if (crashStep <= 0 || ++stepsTaken != crashStep) return;
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), 9);
#else
    std::raise(SIGKILL);
#endif
}

namespace detail {

void setCrashStep(long step) {
    crashStep = step;
    stepsTaken = 0;
}

void setCrashHook(void (*hook)()) {
    crashHook = hook;
}

}  // namespace detail

namespace {

// Flushes what `path` names to the disk: 0, or the error of the open or the sync.
int flushPath(const std::string& path, int openFlags) {
#ifdef _WIN32
    (void)path;
    (void)openFlags;
    return 0;
#else
    const int fd = ::open(resolve(path).c_str(), O_RDONLY | O_CLOEXEC | openFlags);
    if (fd < 0) return errno;
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error;
#endif
}

}  // namespace

bool syncPath(const std::string& path) {
    return flushPath(path, 0) == 0;
}

namespace {

// syncPath() for a name that may be gone or be a link: neither has anything to flush.
bool syncIfThere(const std::string& path) {
#ifdef _WIN32
    return flushPath(path, 0) == 0;
#else
    const int error = flushPath(path, O_NOFOLLOW);
    return error == 0 || error == ENOENT || error == ELOOP || error == ENOTDIR;
#endif
}

}  // namespace

bool syncAll(const std::vector<std::string>& paths) {
    constexpr unsigned kFlushThreads = 8;
    std::atomic<size_t> next{0};
    std::atomic<bool> synced{true};
    const auto flush = [&] {
        for (size_t i = next++; i < paths.size(); i = next++)
            if (!syncIfThere(paths[i])) synced = false;
    };
    std::vector<std::thread> helpers;
    helpers.reserve(kFlushThreads);
    for (unsigned n = 1; n < kFlushThreads && n < paths.size(); ++n) {
        try {
            helpers.emplace_back(flush);
        } catch (const std::system_error&) {
            break;  // no thread to be had: the ones there do it all
        }
    }
    flush();
    for (std::thread& helper : helpers) helper.join();
    return synced;
}

bool syncTree(const std::string& dir) {
    std::vector<std::string> paths;
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(resolve(dir), ec), end; !ec && it != end;
         it.increment(ec))
        if (!it->is_symlink()) paths.push_back(it->path().string());
    return !ec && syncAll(paths) && syncPath(dir);
}

bool syncBelow(const std::string& root, const std::vector<std::string>& files) {
    std::string top = resolve(root);
    while (top.size() > 1 && isSep(top.back())) top.pop_back();
    std::vector<std::string> resolved, folders;
    std::set<std::string> seen;
    for (const std::string& file : files) {
        resolved.push_back(resolve(file));
        std::string p = resolved.back();
        while (p.size() > top.size() && p.compare(0, top.size(), top) == 0) {
            std::string parent, name;
            splitLast(p, parent, name);
            while (parent.size() > 1 && isSep(parent.back())) parent.pop_back();
            if (parent.size() < top.size() || !seen.insert(parent).second) break;
            folders.push_back(parent);
            p = parent;
        }
    }
    // The files first: a folder's entry for a file is worth little before its content.
    return syncAll(resolved) && syncAll(folders);
}

bool atomicWrite(const std::string& path, const std::string& content) {
    crashPoint();
    durable::Options options;
    options.beforeRename = crashPoint;
    return durable::durableWrite(resolve(path), content, options);
}

// ---------------------------------------------------------------------------------------
// Current and program directories

std::string currentDirectory() {
#ifdef _WIN32
    char buf[MAX_PATH + 1];
    DWORD n = GetCurrentDirectoryA(sizeof buf, buf);
    if (n == 0 || n > MAX_PATH) return {};
    return std::string(buf, n);
#else
    std::string buf(4096, '\0');
    for (;;) {
        if (::getcwd(buf.data(), buf.size())) return std::string(buf.c_str());
        if (errno != ERANGE) return {};
        buf.resize(buf.size() * 2);
    }
#endif
}

bool setCurrentDirectory(const std::string& path) {
#ifdef _WIN32
    return SetCurrentDirectoryA(path.c_str()) != 0;
#else
    std::string p = resolve(path);
    return !p.empty() && ::chdir(p.c_str()) == 0;
#endif
}

std::string exeDirectory() {
    std::string exe;
#ifdef _WIN32
    char buf[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    if (n > 0 && n <= MAX_PATH) exe.assign(buf, n);
#else
    std::string buf(4096, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n > 0 && size_t(n) < buf.size()) exe.assign(buf.data(), size_t(n));
#endif
    std::string dir, name;
    splitLast(exe, dir, name);
    if (dir.empty()) {
        dir = currentDirectory();
        if (!dir.empty() && !isSep(dir.back())) dir += kPathDelim;
    }
    return dir;
}

std::string joinMember(const std::string& dir, const std::string& member) {
    std::string out = dir;
    if (!out.empty() && !isSep(out.back())) out += kPathDelim;
    size_t i = 0;
    while (i < member.size() && (member[i] == '\\' || member[i] == '/')) ++i;
    for (; i < member.size(); ++i) {
        char c = member[i];
        out += (c == '\\' || c == '/') ? kPathDelim : c;
    }
    return out;
}

namespace {

int64_t diskSpace(const std::string& path, bool total) {
#ifdef _WIN32
    ULARGE_INTEGER avail, size;
    if (!GetDiskFreeSpaceExA(path.empty() ? nullptr : path.c_str(), &avail, &size, nullptr))
        return -1;
    return int64_t(total ? size.QuadPart : avail.QuadPart);
#else
    // The volume of the nearest existing folder when the path does not exist yet.
    std::string p = path.empty() ? std::string(".") : resolve(path);
    struct stat st;
    while (!statOk(p, &st)) {
        size_t end = p.find_last_not_of('/');
        size_t k = end == std::string::npos ? 0 : p.rfind('/', end);
        if (k == std::string::npos) {
            p.assign(1, '.');  // a relative path: the current folder
            break;
        }
        p.resize(k == 0 ? 1 : k);
        if (k == 0) break;
    }
    struct statvfs vfs;
    if (::statvfs(p.c_str(), &vfs) != 0) return -1;
    return total ? int64_t(vfs.f_blocks) * int64_t(vfs.f_frsize)
                 : int64_t(vfs.f_bavail) * int64_t(vfs.f_frsize);
#endif
}

}  // namespace

void detail::setFolderIndexEnabled(bool enabled) {
#ifndef _WIN32
    folderIndexEnabled.store(enabled, std::memory_order_relaxed);
#else
    (void)enabled;
#endif
}

int64_t freeDiskSpace(const std::string& path) {
    return diskSpace(path, false);
}

int64_t totalDiskSpace(const std::string& path) {
    return diskSpace(path, true);
}

// ---------------------------------------------------------------------------------------
// Copy helpers

#ifndef _WIN32
namespace {

// Everything from `in` to `out`.
bool copyContents(int in, durable::DurableFile& out) {
    std::vector<char> buf(1 << 20);
    for (;;) {
        ssize_t r = ::read(in, buf.data(), buf.size());
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) return true;
        if (!out.write(buf.data(), size_t(r))) return false;
    }
}

// Copies a regular file into a temporary name beside the target and renames it into place,
// so that the target is never left half written. Keeps the modification time and mode.
bool copyRegularFile(const std::string& from, const std::string& to, bool failIfExists) {
    struct stat st;
    if (!statOk(from, &st) || !S_ISREG(st.st_mode)) return false;
    struct stat dst;
    bool exists = lstatOk(to, &dst);
    if (exists && (failIfExists || S_ISDIR(dst.st_mode))) return false;
    if (exists && dst.st_dev == st.st_dev && dst.st_ino == st.st_ino) return false;

    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    durable::Options options;
    options.mode = 0600;
    options.noReplace = failIfExists;
    durable::DurableFile out;
    if (!out.open(to, options)) {
        ::close(in);
        return false;
    }
    bool ok = copyContents(in, out);
    ::close(in);
    if (ok) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.fd(), times);
        ::fchmod(out.fd(), st.st_mode & 07777);
    }
    return ok && out.commit();
}

bool removeTree(const std::string& path) {
    struct stat st;
    if (!lstatOk(path, &st)) return false;
    if (!S_ISDIR(st.st_mode)) return ::unlink(path.c_str()) == 0;
    DIR* d = ::opendir(path.c_str());
    if (!d) return false;
    bool ok = true;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
        std::string n(e->d_name);
        if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
    for (const auto& n : names) ok = removeTree(path + "/" + n) && ok;
    return ::rmdir(path.c_str()) == 0 && ok;
}

bool copyTree(const std::string& from, const std::string& to) {
    struct stat st;
    if (!lstatOk(from, &st)) return false;
    if (S_ISREG(st.st_mode)) return copyRegularFile(from, to, true);
    if (S_ISLNK(st.st_mode)) {
        std::string target(4096, '\0');
        ssize_t n = ::readlink(from.c_str(), target.data(), target.size());
        if (n < 0 || size_t(n) >= target.size()) return false;
        target.resize(size_t(n));
        return ::symlink(target.c_str(), to.c_str()) == 0;
    }
    if (!S_ISDIR(st.st_mode)) return false;
    if (::mkdir(to.c_str(), st.st_mode & 07777) != 0) return false;
    DIR* d = ::opendir(from.c_str());
    if (!d) return false;
    bool ok = true;
    while (dirent* e = ::readdir(d)) {
        std::string n(e->d_name);
        if (n == "." || n == "..") continue;
        if (!copyTree(from + "/" + n, to + "/" + n)) {
            ok = false;
            break;
        }
    }
    ::closedir(d);
    return ok;
}

}  // namespace
#endif

}  // namespace fsx
