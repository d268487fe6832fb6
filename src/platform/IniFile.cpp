#include "platform/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <unordered_map>

#include "base/DurableWrite.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/TextUtil.h"

namespace {

constexpr size_t kMaxValueLength = 1023;
constexpr size_t kSectionBufferSize = 8192;

#ifdef _WIN32
constexpr const char* kDefaultEol = "\r\n";
#else
constexpr const char* kDefaultEol = "\n";
#endif

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trimBlanks(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b])) ++b;
    while (e > b && isBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// Value text as a reader sees it: blanks dropped, one pair of enclosing quotes removed,
// cut to the longest value a reader gets.
std::string readerValue(std::string_view raw) {
    std::string_view v = trimBlanks(raw);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    if (v.size() > kMaxValueLength) v = v.substr(0, kMaxValueLength);
    return std::string(v);
}

// Identity of a file on disk; any difference means the file has changed.
struct FileStamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};

    static FileStamp of(const struct stat& st) {
        FileStamp s;
        s.exists = true;
        s.dev = st.st_dev;
        s.ino = st.st_ino;
        s.size = st.st_size;
        s.mtime = st.st_mtim;
        s.ctime = st.st_ctim;
        return s;
    }
    bool operator==(const FileStamp& o) const {
        if (exists != o.exists) return false;
        if (!exists) return true;
        return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
               ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

// Names as the file holds them: blanks around them are not part of them.
std::string lowerName(std::string_view name) {
    return text::lowerAscii(std::string(trimBlanks(name)));
}

// One line of the file, with its line end as it was.
struct RawLine {
    std::string text;  // without line end
    std::string eol;   // "\n", "\r\n" or "" for a last line without one
};

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;   // section or key name, blanks dropped
    std::string_view value;  // raw value text after "=" (keys only)
};

// Parses one line (without its line end). A byte-order mark on the first line is skipped.
ParsedLine parseLine(std::string_view line) {
    ParsedLine p;
    std::string_view s = trimBlanks(line);
    if (s.empty() || s.front() == ';') return p;
    if (s.front() == '[') {
        size_t close = s.find(']');
        std::string_view name = s.substr(1, close == std::string_view::npos ? s.npos : close - 1);
        p.kind = LineKind::Section;
        p.name = trimBlanks(name);
        return p;
    }
    size_t eq = s.find('=');
    if (eq == std::string_view::npos) return p;
    p.kind = LineKind::Key;
    p.name = trimBlanks(s.substr(0, eq));
    p.value = s.substr(eq + 1);
    return p;
}

struct Section {
    std::string name;
    std::vector<std::string> keys;                        // in file order, duplicates kept
    std::unordered_map<std::string, std::string> values;  // lower-case key -> first value
};

// The file split into lines, with the sections a reader sees.
struct Contents {
    std::vector<RawLine> lines;
    std::string eol = kDefaultEol;                         // line end for new lines
    std::vector<Section> sections;                         // first occurrence of each name only
    std::unordered_map<std::string, size_t> sectionIndex;  // lower-case name -> sections[]

    void load(const std::string& data) {
        lines.clear();
        size_t pos = 0;
        bool eolKnown = false;
        while (pos < data.size()) {
            size_t nl = data.find('\n', pos);
            size_t end = nl == std::string::npos ? data.size() : nl;
            const char* lineEnd = "";
            if (nl != std::string::npos) {
                lineEnd = "\n";
                if (end > pos && data[end - 1] == '\r') {
                    --end;
                    lineEnd = "\r\n";
                }
                if (!eolKnown) {
                    eol = lineEnd;
                    eolKnown = true;
                }
            }
            lines.emplace_back(RawLine{data.substr(pos, end - pos), std::string(lineEnd)});
            pos = nl == std::string::npos ? data.size() : nl + 1;
        }
        index();
    }

    std::string serialise() const {
        std::string out;
        size_t total = 0;
        for (const RawLine& l : lines) total += l.text.size() + l.eol.size();
        out.reserve(total);
        for (const RawLine& l : lines) {
            out += l.text;
            out += l.eol;
        }
        return out;
    }

    std::string_view lineView(size_t i) const {
        std::string_view s = lines[i].text;
        if (i == 0 && s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);
        return s;
    }

    void index() {
        sections.clear();
        sectionIndex.clear();
        Section* current = nullptr;
        for (size_t i = 0; i < lines.size(); ++i) {
            ParsedLine p = parseLine(lineView(i));
            if (p.kind == LineKind::Section) {
                std::string lower = text::lowerAscii(std::string(p.name));
                auto [it, added] = sectionIndex.emplace(lower, sections.size());
                if (added) {
                    sections.push_back(Section{std::string(p.name), {}, {}});
                    current = &sections.back();
                } else {
                    current = nullptr;  // a repeated section is not read
                }
            } else if (p.kind == LineKind::Key && current) {
                current->keys.emplace_back(p.name);
                current->values.emplace(text::lowerAscii(std::string(p.name)),
                                        readerValue(p.value));
            }
        }
    }

    const Section* find(const std::string& section) const {
        auto it = sectionIndex.find(lowerName(section));
        return it == sectionIndex.end() ? nullptr : &sections[it->second];
    }

    // Line index of the first header of the section, or -1.
    long headerLine(const std::string& section) const {
        for (size_t i = 0; i < lines.size(); ++i) {
            ParsedLine p = parseLine(lineView(i));
            if (p.kind == LineKind::Section && text::equalsNoCase(p.name, section))
                return static_cast<long>(i);
        }
        return -1;
    }

    // Applies many key writes in one pass over the lines, each as setValue would: the first
    // matching key of the section's first header is replaced, a new key goes after the
    // section's last key, a new section is appended at the end. `pending` lists sections
    // in the order of their first write, each with its keys in the order of their first
    // write.
    struct PendingSection {
        std::string name;
        std::vector<std::pair<std::string, std::string>> keys;  // name on line, value
    };
    void applyWrites(const std::vector<PendingSection>& pending) {
        std::unordered_map<std::string, size_t> bySection;
        for (size_t i = 0; i < pending.size(); ++i)
            bySection.emplace(text::lowerAscii(pending[i].name), i);
        std::vector<bool> sectionSeen(pending.size(), false);
        std::vector<RawLine> out;
        out.reserve(lines.size() + pending.size() * 4);

        const PendingSection* current = nullptr;
        std::vector<bool> keyDone;
        size_t lastKeyOut = 0;  // index in `out` after which new keys go
        auto finishSection = [&] {
            if (!current) return;
            std::vector<RawLine> added;
            for (size_t k = 0; k < current->keys.size(); ++k) {
                if (!keyDone[k])
                    added.push_back(
                        RawLine{current->keys[k].first + "=" + current->keys[k].second, eol});
            }
            if (!added.empty()) {
                // A line without a line end gets one before anything follows it.
                if (out[lastKeyOut].eol.empty()) out[lastKeyOut].eol = eol;
                out.insert(out.begin() + static_cast<long>(lastKeyOut) + 1, added.begin(),
                           added.end());
            }
            current = nullptr;
        };
        for (size_t i = 0; i < lines.size(); ++i) {
            ParsedLine p = parseLine(lineView(i));
            if (p.kind == LineKind::Section) {
                finishSection();
                auto it = bySection.find(text::lowerAscii(std::string(p.name)));
                out.push_back(std::move(lines[i]));
                if (it != bySection.end() && !sectionSeen[it->second]) {
                    sectionSeen[it->second] = true;
                    current = &pending[it->second];
                    keyDone.assign(current->keys.size(), false);
                    lastKeyOut = out.size() - 1;
                }
                continue;
            }
            if (current && p.kind == LineKind::Key) {
                for (size_t k = 0; k < current->keys.size(); ++k) {
                    if (!keyDone[k] && text::equalsNoCase(p.name, current->keys[k].first)) {
                        std::string& t = lines[i].text;
                        t = t.substr(0, t.find('=') + 1) + current->keys[k].second;
                        keyDone[k] = true;
                        break;
                    }
                }
                out.push_back(std::move(lines[i]));
                lastKeyOut = out.size() - 1;
                continue;
            }
            out.push_back(std::move(lines[i]));
        }
        finishSection();
        lines = std::move(out);
        for (size_t i = 0; i < pending.size(); ++i) {
            if (sectionSeen[i]) continue;
            insertLine(lines.size(), "[" + pending[i].name + "]");
            for (const auto& [key, value] : pending[i].keys)
                insertLine(lines.size(), key + "=" + value);
        }
        index();
    }

    void insertLine(size_t at, std::string textLine) {
        // A last line without a line end gets one before anything follows it.
        if (at == lines.size() && !lines.empty() && lines.back().eol.empty())
            lines.back().eol = eol;
        lines.insert(lines.begin() + static_cast<long>(at), RawLine{std::move(textLine), eol});
    }

    void setValue(const std::string& section, const std::string& key, const std::string& value) {
        long header = headerLine(section);
        if (header < 0) {
            insertLine(lines.size(), "[" + section + "]");
            insertLine(lines.size(), key + "=" + value);
            index();
            return;
        }
        size_t lastKey = static_cast<size_t>(header);
        for (size_t i = static_cast<size_t>(header) + 1; i < lines.size(); ++i) {
            ParsedLine p = parseLine(lineView(i));
            if (p.kind == LineKind::Section) break;
            if (p.kind != LineKind::Key) continue;
            if (text::equalsNoCase(p.name, key)) {
                // Keep the name as spelt in the file and whatever stood before "=".
                std::string& t = lines[i].text;
                t = t.substr(0, t.find('=') + 1) + value;
                index();
                return;
            }
            lastKey = i;
        }
        insertLine(lastKey + 1, key + "=" + value);
        index();
    }

    // Removes the key from the section's first header on (every line of it there).
    bool eraseKey(const std::string& section, const std::string& key) {
        const long header = headerLine(section);
        if (header < 0) return false;
        bool changed = false;
        for (size_t i = static_cast<size_t>(header) + 1; i < lines.size();) {
            ParsedLine p = parseLine(lineView(i));
            if (p.kind == LineKind::Section) break;
            if (p.kind == LineKind::Key && text::equalsNoCase(p.name, key)) {
                lines.erase(lines.begin() + static_cast<long>(i));
                changed = true;
            } else {
                ++i;
            }
        }
        if (changed) index();
        return changed;
    }

    bool eraseSection(const std::string& section) {
        bool changed = false;
        bool inside = false;
        std::vector<RawLine> kept;
        kept.reserve(lines.size());
        for (size_t i = 0; i < lines.size(); ++i) {
            ParsedLine p = parseLine(lineView(i));
            if (p.kind == LineKind::Section) inside = text::equalsNoCase(p.name, section);
            if (inside) {
                changed = true;
                continue;
            }
            kept.push_back(std::move(lines[i]));
        }
        lines = std::move(kept);
        index();
        return changed;
    }
};

// Line breaks and NULs inside a name or value would split or cut the line; they become
// blanks.
std::string singleLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r' || c == '\0') c = ' ';
    return s;
}

std::string nameOnLine(const std::string& name) {
    return singleLine(std::string(trimBlanks(name)));
}

std::string absolutePath(const std::string& path) {
    if (path.empty() || path.front() == '/') return path;
    char buf[PATH_MAX];
    if (!getcwd(buf, sizeof buf)) return path;
    std::string dir = buf;
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir + path;
}

bool readAll(int fd, std::string& out) {
    out.clear();
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        out.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace

struct IniFile::Impl {
    std::string givenPath;  // absolute, as given
    std::string absPath;    // resolved without regard to case
    FileStamp stamp;
    bool loaded = false;
    Contents contents;
    int batchDepth = 0;  // > 0: writes wait for the end of the batch
    bool dirty = false;  // the batch holds changes not yet stored
    // Writes of the running batch, not yet in `contents`.
    std::vector<Contents::PendingSection> pending;
    // lower-case section -> index in pending; lower-case section + "\n" + key -> (section
    // index, key index)
    std::unordered_map<std::string, size_t> pendingSections;
    std::unordered_map<std::string, std::pair<size_t, size_t>> pendingKeys;

    void addPending(const std::string& section, const std::string& key, const std::string& value) {
        const std::string ls = text::lowerAscii(section);
        auto [sit, newSection] = pendingSections.emplace(ls, pending.size());
        if (newSection) pending.push_back(Contents::PendingSection{section, {}});
        const std::string lk = ls + "\n" + text::lowerAscii(key);
        auto kit = pendingKeys.find(lk);
        if (kit != pendingKeys.end()) {
            pending[kit->second.first].keys[kit->second.second].second = value;
        } else {
            auto& keys = pending[sit->second].keys;
            pendingKeys.emplace(lk, std::make_pair(sit->second, keys.size()));
            keys.emplace_back(key, value);
        }
        dirty = true;
    }
    // A pending value as a reader sees it, or nullptr.
    const std::string* pendingValue(const std::string& section, const std::string& key) const {
        if (pendingKeys.empty()) return nullptr;
        auto it = pendingKeys.find(text::lowerAscii(section) + "\n" + text::lowerAscii(key));
        if (it == pendingKeys.end()) return nullptr;
        return &pending[it->second.first].keys[it->second.second].second;
    }
    void applyPending() {
        if (pending.empty()) return;
        contents.applyWrites(pending);
        pending.clear();
        pendingSections.clear();
        pendingKeys.clear();
    }

    // The parsed file, re-read when the file on disk differs from the one parsed. Within a
    // batch the cached contents (with the batch's writes) are what counts.
    const Contents& current() {
        if (batchDepth > 0 && loaded) return contents;
        struct stat st;
        FileStamp now;
        if (::stat(absPath.c_str(), &st) == 0) {
            now = FileStamp::of(st);
        } else {
            // Not (or no longer) there: a name of other case may have appeared.
            std::string resolved = fsx::resolve(givenPath);
            if (resolved != absPath) {
                absPath = resolved;
                if (::stat(absPath.c_str(), &st) == 0) now = FileStamp::of(st);
            }
        }
        if (loaded && now == stamp) return contents;
        reload();
        return contents;
    }

    void reload() {
        std::string data;
        FileStamp now;
        int fd = ::open(absPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            struct stat st;
            if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
                now = FileStamp::of(st);
                if (!readAll(fd, data)) data.clear();  // unreadable: as empty
            }
            ::close(fd);
        } else {
            struct stat st;
            if (::stat(absPath.c_str(), &st) == 0) now = FileStamp::of(st);
        }
        contents = Contents{};
        contents.load(data);
        stamp = now;
        loaded = true;
    }

    [[noreturn]] void fail() { throw ESettingsWriteError(absPath); }

    // Replaces the file with the new contents: a temporary file in the same directory,
    // flushed to disk, renamed over the old one, and the directory flushed. A symbolic link
    // stays a link; its target is replaced, keeping its owner and mode.
    void store(Contents next) {
        struct stat old;
        bool hadFile = ::stat(absPath.c_str(), &old) == 0;
        if (hadFile && !S_ISREG(old.st_mode)) fail();
        // A file without any write permission is read-only, also for a privileged user.
        if (hadFile && (old.st_mode & 0222) == 0) fail();
        // Nor is a file of another user that this one may not write.
        if (hadFile && ::access(absPath.c_str(), W_OK) != 0) fail();

        durable::Options options;
        options.keepOwnerAndMode = true;
        options.followLink = true;
        durable::DurableFile file;
        if (!file.open(absPath, options) || !file.write(next.serialise())) fail();
        const bool committed = file.commit();
        if (!committed && !file.renamed()) fail();

        contents = std::move(next);
        struct stat st;
        stamp = ::stat(absPath.c_str(), &st) == 0 ? FileStamp::of(st) : FileStamp{};
        loaded = true;
        if (!committed) fail();  // in place, but the folder could not be flushed
    }
};

IniFile::IniFile(std::string path) : path_(std::move(path)), impl_(std::make_unique<Impl>()) {
    impl_->givenPath = absolutePath(path_);
    impl_->absPath = fsx::resolve(impl_->givenPath);
}

IniFile::~IniFile() = default;

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& def) const {
    if (const std::string* v = impl_->pendingValue(section, key)) return readerValue(*v);
    const Section* s = impl_->current().find(section);
    if (!s) return def;
    auto it = s->values.find(lowerName(key));
    return it == s->values.end() ? def : it->second;
}

int32_t IniFile::ReadInteger(const std::string& section, const std::string& key,
                             int32_t def) const {
    if (const std::string* p = impl_->pendingValue(section, key)) {
        int32_t v;
        return text::tryStrToInt(readerValue(*p), v) ? v : def;
    }
    const Section* s = impl_->current().find(section);
    if (!s) return def;
    auto it = s->values.find(lowerName(key));
    if (it == s->values.end()) return def;
    int32_t v;
    return text::tryStrToInt(it->second, v) ? v : def;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
    if (impl_->batchDepth > 0) {
        impl_->addPending(nameOnLine(section), nameOnLine(key), singleLine(value));
        return;
    }
    Contents next = impl_->current();
    next.setValue(nameOnLine(section), nameOnLine(key), singleLine(value));
    impl_->store(std::move(next));
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void IniFile::BeginBatch() {
    impl_->current();
    ++impl_->batchDepth;
}

void IniFile::EndBatch() {
    if (impl_->batchDepth == 0 || --impl_->batchDepth > 0 || !impl_->dirty) return;
    impl_->dirty = false;
    impl_->applyPending();
    try {
        impl_->store(Contents(impl_->contents));
    } catch (...) {
        // The cached contents hold the batch's writes; after a failed store the file is
        // what counts, so that no later write stores them unannounced.
        impl_->loaded = false;
        throw;
    }
}

void IniFile::EraseSection(const std::string& section) {
    if (impl_->batchDepth > 0) {
        impl_->applyPending();
        if (impl_->contents.eraseSection(nameOnLine(section))) impl_->dirty = true;
        return;
    }
    Contents next = impl_->current();
    if (!next.eraseSection(nameOnLine(section))) return;
    impl_->store(std::move(next));
}

void IniFile::DeleteKey(const std::string& section, const std::string& key) {
    if (impl_->batchDepth > 0) {
        impl_->applyPending();
        if (impl_->contents.eraseKey(nameOnLine(section), nameOnLine(key))) impl_->dirty = true;
        return;
    }
    Contents next = impl_->current();
    if (!next.eraseKey(nameOnLine(section), nameOnLine(key))) return;
    impl_->store(std::move(next));
}

std::vector<std::string> IniFile::ReadSection(const std::string& section) const {
    impl_->applyPending();
    std::vector<std::string> out;
    const Section* s = impl_->current().find(section);
    if (!s) return out;
    // Names are returned as through a buffer of NUL-terminated names ending in one more NUL;
    // a name that does not fit completely ends the list.
    size_t used = 0;
    for (const std::string& k : s->keys) {
        if (used + k.size() + 1 + 1 > kSectionBufferSize) break;
        used += k.size() + 1;
        out.push_back(k);
    }
    return out;
}

bool IniFile::SectionExists(const std::string& section) const {
    impl_->applyPending();
    return impl_->current().find(section) != nullptr;
}

std::vector<std::string> IniFile::Sections() const {
    impl_->applyPending();
    std::vector<std::string> names;
    for (const Section& s : impl_->current().sections) names.push_back(s.name);
    return names;
}

bool IniFile::ValueExists(const std::string& section, const std::string& key) const {
    impl_->applyPending();
    const Section* s = impl_->current().find(section);
    return s && s->values.count(lowerName(key)) > 0;
}
