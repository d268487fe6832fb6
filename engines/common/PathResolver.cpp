#include "PathResolver.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "EngineCommon.h"

namespace tmeng {

bool splitMemberName(std::string_view name, std::vector<std::string>& parts) {
    parts.clear();
    if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
    if (name.find('\0') != std::string_view::npos || name.find(':') != std::string_view::npos)
        return false;
    std::string cur;
    auto flush = [&]() -> bool {
        if (cur == "..") return false;
        if (!cur.empty() && cur != ".") parts.push_back(cur);
        cur.clear();
        return true;
    };
    for (char c : name) {
        if (c == '/' || c == '\\') {
            if (!flush()) return false;
        } else {
            cur.push_back(c);
        }
    }
    return flush();
}

PathResolver::PathResolver() {
    char buf[PATH_MAX];
    if (::realpath(".", buf)) baseReal_ = buf;
}

PathResolver::Listing& PathResolver::listing(const std::string& dir) {
    auto it = listings_.find(dir);
    if (it != listings_.end()) return it->second;
    Listing& l = listings_[dir];
    if (DIR* d = ::opendir(dir.empty() ? "." : dir.c_str())) {
        while (dirent* de = ::readdir(d)) {
            std::string n = de->d_name;
            if (n == "." || n == "..") continue;
            l.emplace(foldCase(n), n);  // the first spelling met wins
        }
        ::closedir(d);
    }
    return l;
}

bool PathResolver::insideBase(const std::string& path) {
    char buf[PATH_MAX];
    if (baseReal_.empty() || !::realpath(path.c_str(), buf)) return false;
    std::string real = buf;
    if (baseReal_ == "/") return true;
    return real == baseReal_ ||
           (real.size() > baseReal_.size() && real.compare(0, baseReal_.size(), baseReal_) == 0 &&
            real[baseReal_.size()] == '/');
}

bool PathResolver::resolveDir(const std::vector<std::string>& parts, bool create, std::string& out,
                              std::string& why) {
    std::string key;
    for (const auto& p : parts) key += foldCase(p) + '/';
    if (auto it = resolved_.find(key); it != resolved_.end()) {
        out = it->second;
        return true;
    }
    std::string cur;
    for (const auto& part : parts) {
        Listing& l = listing(cur);
        auto it = l.find(foldCase(part));
        std::string actual = it != l.end() ? it->second : part;
        std::string path = cur + actual;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            if (S_ISLNK(st.st_mode)) {
                struct stat target {};
                if (::stat(path.c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) {
                    why = "\"" + path + "\" is not a folder";
                    return false;
                }
                if (!insideBase(path)) {
                    why = "folder \"" + path + "\" leads outside the target folder";
                    return false;
                }
            } else if (!S_ISDIR(st.st_mode)) {
                why = "\"" + path + "\" exists and is not a folder";
                return false;
            }
        } else if (create) {
            if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
                why = "cannot create folder \"" + path + "\": " + std::strerror(errno);
                return false;
            }
            l.emplace(foldCase(actual), actual);
        } else {
            out = path + '/';
            return true;  // not there: nothing below it exists either
        }
        cur = path + '/';
    }
    out = cur;
    resolved_[key] = cur;
    return true;
}

std::string PathResolver::resolveName(const std::string& dir, const std::string& name) {
    Listing& l = listing(dir);
    auto it = l.find(foldCase(name));
    return it != l.end() ? it->second : name;
}

void PathResolver::claim(const std::string& dir, const std::string& name) {
    listing(dir).emplace(foldCase(name), name);
}

}  // namespace tmeng
