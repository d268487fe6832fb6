#include "inspect/ReadmeText.h"

#include <QRegularExpression>
#include <QString>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/TextDecode.h"
#include "platform/TextUtil.h"

namespace {

// What the memo can show quickly (Qt's text widgets take time per line, per element, per
// nesting level squared and per character of an unbroken line): a read-me beyond these
// bounds is shown in part, or as plain text.
constexpr size_t kPlainBytes = kReadmePlainBytes;
constexpr size_t kPlainLines = kReadmePlainLines;
constexpr size_t kLineChars = kReadmeLineBytes;
constexpr size_t kRichBytes = 128 << 10;
constexpr size_t kRichTags = 3000;
constexpr size_t kRichAttributes = 6000;
constexpr size_t kRichDepth = 32;
constexpr size_t kRichCells = 200;
constexpr size_t kRichTableDepth = 2;        // tables within tables
constexpr size_t kRichTableText = 32 << 10;  // characters of text inside tables
constexpr long kRichSpan = 64;               // colspan, rowspan
constexpr size_t kRichRun = 160;             // characters without a blank
constexpr size_t kRichParagraph = 4000;      // characters of text between two blocks
constexpr size_t kRtfDepth = 256;
// Of a larger read-me only the start is read: plain text shows no more of it.
constexpr size_t kScanBytes = 512 << 10;
// The line that stands for the rest of a read-me that is not shown.
constexpr const char* kCutMark = "\n[\xE2\x80\xA6]\n";

bool startsWith(const std::string& s, const char* prefix, size_t n) {
    return s.size() >= n && memcmp(s.data(), prefix, n) == 0;
}

void appendUtf8(std::string& out, char32_t code) {
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
    out += QString::fromUcs4(&code, 1).toStdString();
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    return (c | 0x20) - 'a' + 10;
}

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

namespace {

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The text as the memo shows it quickly: a line longer than kLineChars bytes is broken (at
// a blank near the limit, else at the limit, never inside a UTF-8 sequence); the text
// ends after kPlainLines lines or kPlainBytes bytes with a mark for the rest.
std::string boundedPlain(const std::string& s) {
    std::string out;
    out.reserve(std::min(s.size(), kPlainBytes) + 16);
    size_t lines = 0, column = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (lines >= kPlainLines || out.size() >= kPlainBytes) {
            out += kCutMark;
            break;
        }
        const char c = s[i];
        if (c == '\n' || c == '\r') {
            out += c;
            if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') out += s[++i];
            ++lines;
            column = 0;
            continue;
        }
        if (column >= kLineChars * 9 / 10 && c == ' ') {
            out += '\n';
            ++lines;
            column = 0;
            continue;
        }
        if (column >= kLineChars && !isContinuationByte(c)) {
            out += '\n';
            ++lines;
            column = 0;
        }
        out += c;
        ++column;
    }
    return out;
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// What the scan needs to know of an element, by its lower-case name.
enum ElementFlags : unsigned {
    kVoid = 1,          // never holds others
    kBlock = 2,         // starts a line of the plain text
    kCell = 4,          // a table cell
    kScript = 8,        // left out with its content
    kObject = 16,       // an embedded object: the tag is left out
    kStyle = 32,        // content that is no text
    kPicture = 64,      // an image: shown when the archive holds it, else its alt text
    kSiblingShift = 8,  // above: the kind of element that ends an open one of its kind
};

unsigned elementFlags(std::string_view name) {
    static const std::unordered_map<std::string_view, unsigned> table = [] {
        std::unordered_map<std::string_view, unsigned> t;
        for (const char* n : {"meta", "link", "input", "col", "area", "base", "param", "wbr",
                              "source", "track", "basefont", "frame", "isindex"})
            t[n] = kVoid;
        for (const char* n : {"div", "h1", "h2", "h3", "h4", "h5", "h6", "table", "ul", "ol", "pre",
                              "blockquote", "center", "title"})
            t[n] = kBlock;
        t["br"] = t["hr"] = kVoid | kBlock;
        t["p"] = kBlock | (1u << kSiblingShift);
        t["li"] = kBlock | (2u << kSiblingShift);
        t["dt"] = t["dd"] = kBlock | (3u << kSiblingShift);
        t["tr"] = kBlock | (4u << kSiblingShift);
        t["td"] = t["th"] = kCell | (5u << kSiblingShift);
        t["option"] = 6u << kSiblingShift;
        t["script"] = kScript;
        t["style"] = kStyle;
        for (const char* n : {"object", "embed", "iframe", "applet"}) t[n] = kObject;
        t["img"] = kVoid | kPicture;
        return t;
    }();
    const auto it = table.find(name);
    return it == table.end() ? 0 : it->second;
}

// The character a few named references stand for ("" for others).
const char* namedEntity(const std::string& name) {
    static const std::pair<const char*, const char*> entities[] = {{"amp", "&"},
                                                                   {"lt", "<"},
                                                                   {"gt", ">"},
                                                                   {"quot", "\""},
                                                                   {"apos", "'"},
                                                                   {"nbsp", "\xC2\xA0"},
                                                                   {"copy", "\xC2\xA9"},
                                                                   {"reg", "\xC2\xAE"},
                                                                   {"hellip", "\xE2\x80\xA6"},
                                                                   {"mdash", "\xE2\x80\x94"},
                                                                   {"ndash", "\xE2\x80\x93"}};
    for (const auto& [n, value] : entities) {
        if (name == n) return value;
    }
    return "";
}

// The text as an HTML element's content or quoted attribute value.
void appendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        if (c == '"')
            out += "&quot;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
}

// One pass over an HTML page: scripts, embedded objects and style imports left out, the
// page's shape measured against what the memo lays out quickly, and its text kept for
// when it is too large for rich text. Only the first kScanBytes of a page are read.
class HtmlScan {
  public:
    // `cut`: the page went on after `page`; `picture` names the pictures shown.
    HtmlScan(const std::string& page, bool cut, const ReadmePictureKey& picture)
        : page_(std::string_view(page).substr(0, kScanBytes)), picture_(picture) {
        lower_.resize(page_.size());
        std::transform(page_.begin(), page_.end(), lower_.begin(), lowerAscii);
        // Every element starts with "<", however a parser reads the rest.
        cut_ = cut || page.size() > kScanBytes;
        if (cut_ || static_cast<size_t>(std::count(page_.begin(), page_.end(), '<')) > kRichTags)
            rich_ = false;
        run();
        if (html_.size() > kRichBytes || attributes_ > kRichAttributes || cells_ > kRichCells)
            rich_ = false;
        if (cut_) plain_ += kCutMark;
    }

    bool rich() const { return rich_; }
    std::string html() const { return withoutImports(html_); }
    const std::string& plain() const { return plain_; }

  private:
    struct Attribute {
        std::string name;  // lower case, letters, digits, "-", "_" and ":" only
        std::string_view value;
        bool hasValue = false;
    };
    struct Tag {
        std::string_view name;  // lower case
        unsigned flags = 0;
        bool closing = false;
        size_t attributes = 0;
        long largestSpan = 0;
        std::vector<Attribute> kept;  // while the page may be rich text
        std::string_view src, alt;    // of a picture, as written
    };

    void run() {
        size_t i = 0;
        while (i < page_.size()) {
            if (!rich_ && (plain_.size() >= kPlainBytes || plainLines_ >= kPlainLines)) {
                cut_ = true;  // all that plain text shows is there
                return;
            }
            if (page_[i] != '<') {
                i = text(i);
            } else if (page_.compare(i, 4, "<!--") == 0) {
                i = skipThrough(i, "-->", 4);
            } else if (i + 1 < page_.size() && (page_[i + 1] == '!' || page_[i + 1] == '?')) {
                i = skipThrough(i, ">", 2);
            } else {
                i = tag(i);
            }
        }
    }

    // Leaves out a comment or declaration: the page from `at` through the first `end` found
    // after `skip` bytes (the rest of the page without one).
    size_t skipThrough(size_t at, std::string_view end, size_t skip) {
        const size_t found = page_.find(end, at + skip);
        return found == std::string_view::npos ? page_.size() : found + end.size();
    }

    void newLine() {
        if (!plain_.empty() && plain_.back() == ' ') plain_.pop_back();
        plain_ += '\n';
        ++plainLines_;
    }

    size_t text(size_t at) {
        const char c = page_[at];
        if (rich_) html_ += c;
        if (inStyle_) return at + 1;  // a style sheet is not laid out
        runLength_ = isSpace(c) ? 0 : runLength_ + 1;
        if (runLength_ > kRichRun || ++paragraphLength_ > kRichParagraph) rich_ = false;
        if (tables_ > 0 && ++tableText_ > kRichTableText) rich_ = false;
        if (isSpace(c)) {
            if (!plain_.empty() && plain_.back() != ' ' && plain_.back() != '\n') plain_ += ' ';
            return at + 1;
        }
        if (c == '&') return entity(at);
        plain_ += c;
        return at + 1;
    }

    // A character reference, decoded into the plain text.
    size_t entity(size_t at) {
        size_t k = at + 1;
        while (k < page_.size() && k - at <= 10 &&
               (isAlpha(page_[k]) || isDigit(page_[k]) || page_[k] == '#'))
            ++k;
        if (k < page_.size() && page_[k] == ';' && k > at + 1) {
            const std::string_view name = page_.substr(at + 1, k - at - 1);
            std::string decoded;
            if (name[0] == '#') {
                const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
                uint32_t code = 0;
                bool ok = name.size() > (hex ? 2u : 1u);
                for (size_t d = hex ? 2 : 1; ok && d < name.size(); ++d) {
                    ok = hex ? isHexDigit(name[d]) : isDigit(name[d]);
                    if (ok)
                        code = std::min<uint32_t>(
                            code * (hex ? 16 : 10) + uint32_t(hexValue(name[d])), 0x110000);
                }
                if (ok) appendUtf8(decoded, code);
            } else {
                decoded = namedEntity(std::string(name));
            }
            if (!decoded.empty()) {
                if (rich_) html_.append(page_.substr(at + 1, k - at));
                plain_ += decoded;
                return k + 1;
            }
        }
        plain_ += '&';
        return at + 1;
    }

    size_t tag(size_t at) {
        Tag t;
        size_t k = at + 1;
        t.closing = k < page_.size() && page_[k] == '/';
        if (t.closing) ++k;
        if (k >= page_.size() || !isAlpha(page_[k])) {
            // Not a tag: a "<" of the text.
            if (rich_) html_ += "&lt;";
            plain_ += '<';
            runLength_ = 0;
            return at + 1;
        }
        const size_t nameStart = k;
        while (k < page_.size() &&
               (isAlpha(page_[k]) || isDigit(page_[k]) || page_[k] == '-' || page_[k] == ':'))
            ++k;
        t.name = std::string_view(lower_).substr(nameStart, k - nameStart);
        t.flags = elementFlags(t.name);
        const size_t end = attributes(k, t);
        runLength_ = 0;
        if (!t.closing && (t.flags & kScript)) return skipBlock(end, "</script");
        if (t.flags & kObject) return end;
        if (t.flags & kPicture) {
            if (!t.closing) picture(t);
            return end;
        }
        if (rich_) write(t);
        attributes_ += t.attributes;
        if (t.largestSpan > kRichSpan) rich_ = false;
        if (!t.closing && (t.flags & kCell)) ++cells_;
        nest(t);
        if (t.flags & kStyle) inStyle_ = !t.closing;
        // A line break stays within its paragraph, which Qt lays out as one.
        if ((t.flags & (kBlock | kCell)) && t.name != "br") paragraphLength_ = 0;
        if (t.name == "br" || ((t.flags & kBlock) && !plain_.empty() && plain_.back() != '\n'))
            newLine();
        else if ((t.flags & kCell) && !t.closing)
            plain_ += '\t';
        return end;
    }

    // Reads the attributes of the tag whose name ends at `at`; returns the position after
    // the tag's ">" (the end of what is read when there is none).
    size_t attributes(size_t at, Tag& t) {
        size_t k = at;
        while (k < page_.size()) {
            const char c = page_[k];
            if (c == '>') return k + 1;
            if (isSpace(c) || c == '/') {
                ++k;
                continue;
            }
            const size_t nameStart = k;
            while (k < page_.size() && !isSpace(page_[k]) && page_[k] != '=' && page_[k] != '>')
                ++k;
            const std::string_view name = std::string_view(lower_).substr(nameStart, k - nameStart);
            ++t.attributes;
            Attribute* kept = nullptr;
            if (rich_) {
                std::string clean;
                for (char n : name) {
                    if (isAlpha(n) || isDigit(n) || n == '-' || n == '_' || n == ':') clean += n;
                }
                if (!clean.empty())
                    kept = &t.kept.emplace_back(Attribute{std::move(clean), {}, false});
            }
            while (k < page_.size() && isSpace(page_[k])) ++k;
            if (k >= page_.size() || page_[k] != '=') continue;
            ++k;
            while (k < page_.size() && isSpace(page_[k])) ++k;
            size_t valueStart = k, valueEnd;
            if (k < page_.size() && (page_[k] == '"' || page_[k] == '\'')) {
                const size_t close = page_.find(page_[k], k + 1);
                valueStart = k + 1;
                valueEnd = close == std::string_view::npos ? page_.size() : close;
                k = close == std::string_view::npos ? page_.size() : close + 1;
            } else {
                while (k < page_.size() && !isSpace(page_[k]) && page_[k] != '>') ++k;
                valueEnd = k;
            }
            if (kept) {
                kept->value = page_.substr(valueStart, valueEnd - valueStart);
                kept->hasValue = true;
            }
            if (name == "src") t.src = page_.substr(valueStart, valueEnd - valueStart);
            if (name == "alt") t.alt = page_.substr(valueStart, valueEnd - valueStart);
            if (name == "colspan" || name == "rowspan") {
                long span = 0;
                for (size_t d = valueStart; d < valueEnd && isDigit(page_[d]); ++d)
                    span = std::min(span * 10 + (page_[d] - '0'), 1L << 30);
                t.largestSpan = std::max(t.largestSpan, span);
            }
        }
        return page_.size();
    }

    // The tag as read: Qt's parser sees exactly the elements and attributes this scan saw
    // (names cleaned, values quoted), whatever the page's own spelling.
    void write(const Tag& t) {
        html_ += t.closing ? "</" : "<";
        html_ += t.name;
        for (const Attribute& a : t.kept) {
            // The page's text colour goes with its background colour: Qt takes it as a style.
            if (t.name == "body" && a.name == "text") {
                if (a.hasValue && !a.value.empty() &&
                    std::all_of(a.value.begin(), a.value.end(),
                                [](char c) { return c == '#' || isAlpha(c) || isDigit(c); })) {
                    html_ += " style=\"color:";
                    html_ += a.value;
                    html_ += '"';
                }
                continue;
            }
            html_ += ' ';
            html_ += a.name;
            if (!a.hasValue) continue;
            html_ += "=\"";
            appendEscaped(html_, a.value);
            html_ += '"';
        }
        html_ += '>';
    }

    // A picture the caller names, with nothing of the page's own but its alt text (Qt's
    // layout can loop without end on an image given a width but no image data); any other
    // as its alt text, or its file name when it has none.
    void picture(const Tag& t) {
        std::string_view shown = t.alt;
        while (!shown.empty() && isSpace(shown.front())) shown.remove_prefix(1);
        while (!shown.empty() && isSpace(shown.back())) shown.remove_suffix(1);
        if (shown.empty()) {
            shown = t.src.substr(0, t.src.find_first_of("?#"));
            const size_t slash = shown.find_last_of("/\\");
            if (slash != std::string_view::npos) shown.remove_prefix(slash + 1);
        }
        // The view shows the alt text (the file name when there is none) of a picture it
        // cannot read.
        const std::string key = rich_ && picture_ ? picture_(std::string(t.src)) : std::string();
        if (!key.empty()) {
            html_ += "<img src=\"";
            appendEscaped(html_, key);
            html_ += "\" alt=\"";
            appendEscaped(html_, shown);
            html_ += "\">";
            return;
        }
        if (rich_) appendEscaped(html_, shown);
        plain_.append(shown);
    }

    // Leaves out everything up to the end of the element ("</script...>"), or the rest of
    // the page when it is not closed.
    size_t skipBlock(size_t at, std::string_view closing) {
        const size_t found = lower_.find(closing, at);
        if (found == std::string::npos) return page_.size();
        const size_t end = page_.find('>', found);
        return end == std::string_view::npos ? page_.size() : end + 1;
    }

    // Follows the nesting of elements as far as rich text may go.
    void nest(const Tag& t) {
        if (!rich_ || (t.flags & kVoid)) return;
        const unsigned kind = t.flags >> kSiblingShift;
        for (size_t d = open_.size(); d > 0; --d) {
            const auto& [name, openKind] = open_[d - 1];
            if (t.closing ? name == t.name : kind != 0 && openKind == kind) {
                open_.resize(d - 1);
                break;
            }
        }
        // Tables within tables, counted on their own: a row or cell closes its like in an
        // enclosing table above.
        if (t.name == "table" && t.closing && tables_ > 0) --tables_;
        if (t.name == "table" && !t.closing && ++tables_ > kRichTableDepth) rich_ = false;
        if (t.closing) return;
        open_.emplace_back(t.name, kind);
        if (open_.size() > kRichDepth) rich_ = false;
    }

    // The page without CSS imports ("@import ...;").
    static std::string withoutImports(const std::string& html) {
        std::string lower(html.size(), '\0');
        std::transform(html.begin(), html.end(), lower.begin(), lowerAscii);
        std::string out;
        size_t from = 0;
        for (;;) {
            const size_t at = lower.find("@import", from);
            const size_t end = at == std::string::npos ? at : lower.find(';', at);
            if (end == std::string::npos) break;
            out.append(html, from, at - from);
            from = end + 1;
        }
        out.append(html, from, std::string::npos);
        return out;
    }

    const std::string_view page_;
    const ReadmePictureKey& picture_;
    std::string lower_, html_, plain_;
    std::vector<std::pair<std::string_view, unsigned>> open_;  // name, sibling kind
    size_t attributes_ = 0, cells_ = 0, runLength_ = 0, paragraphLength_ = 0, plainLines_ = 0;
    size_t tables_ = 0, tableText_ = 0;  // tables open, text inside tables
    bool inStyle_ = false;
    bool rich_ = true;
    bool cut_ = false;
};

}  // namespace

bool isRichReadmeExtension(const std::string& lowerExt) {
    return lowerExt == ".rtf" || lowerExt == ".html" || lowerExt == ".htm" || lowerExt == ".glml";
}

std::string rtfToText(const std::string& rtf) {
    struct Group {
        bool skip = false;
        int unicodeSkip = 1;
    };
    std::vector<Group> groups{Group{}};
    size_t untracked = 0;  // groups opened beyond kRtfDepth, which take their parent's state
    std::string codePage = "WINDOWS-1252";
    int pageChanges = 0;
    text::PageDecoder decoder(codePage);
    std::string out, pending;  // pending: bytes of the document's code page
    auto flush = [&] {
        if (!pending.empty()) decoder.append(pending, out);
        pending.clear();
    };
    int skipChars = 0;      // fallback characters after \uN still to drop
    char32_t highHalf = 0;  // the first half of a surrogate pair given as two \uN
    auto emitByte = [&](char c) {
        if (groups.back().skip) return;
        if (skipChars > 0) {
            --skipChars;
            return;
        }
        pending += c;
    };
    static const char* const kSkipped[] = {"fonttbl", "colortbl", "stylesheet", "info",     "pict",
                                           "header",  "footer",   "object",     "themedata"};
    const size_t size = rtf.size();
    size_t i = 0;
    bool starred = false;
    while (i < size) {
        const char c = rtf[i];
        if (c == '{') {
            if (groups.size() < kRtfDepth)
                groups.push_back(groups.back());
            else
                ++untracked;
            ++i;
        } else if (c == '}') {
            if (untracked > 0)
                --untracked;
            else if (groups.size() > 1)
                groups.pop_back();
            skipChars = 0;
            ++i;
        } else if (c == '\r' || c == '\n') {
            ++i;
        } else if (c != '\\') {
            emitByte(c);
            ++i;
        } else if (i + 1 < size && !isAlpha(rtf[i + 1])) {
            const char sym = rtf[i + 1];
            i += 2;
            if (sym == '\'') {
                // A byte in hexadecimal; an escape without two hexadecimal digits is
                // left out and what follows it read as text.
                if (i + 1 < size && isHexDigit(rtf[i]) && isHexDigit(rtf[i + 1])) {
                    emitByte(static_cast<char>(hexValue(rtf[i]) * 16 + hexValue(rtf[i + 1])));
                    i += 2;
                }
            } else if (sym == '*') {
                starred = true;
            } else if (sym == '~') {
                emitByte('\xA0');
            } else if (sym == '\\' || sym == '{' || sym == '}') {
                emitByte(sym);
            }
        } else {
            size_t j = i + 1;
            while (j < size && isAlpha(rtf[j])) ++j;
            const std::string word = rtf.substr(i + 1, j - i - 1);
            size_t k = j;
            const bool negative = k < size && rtf[k] == '-';
            if (negative) ++k;
            long number = 0;
            const size_t digits = k;
            while (k < size && isDigit(rtf[k]))
                number = std::min(number * 10 + (rtf[k++] - '0'), 1L << 30);
            const bool hasNumber = k > digits;
            if (!hasNumber && negative) k = j;
            if (negative) number = -number;
            if (k < size && rtf[k] == ' ') ++k;
            i = k;
            if (word == "bin" && hasNumber) {
                // Binary data of the stated length, never text.
                i += std::min<size_t>(static_cast<size_t>(std::max(number, 0L)), size - i);
                continue;
            }
            Group& group = groups.back();
            if (starred) group.skip = true;
            starred = false;
            for (const char* skipped : kSkipped) {
                if (word == skipped) group.skip = true;
            }
            if (group.skip) continue;
            if (word == "ansicpg" && hasNumber && number > 0) {
                const std::string page = "CP" + std::to_string(number);
                // A document names its code page once; a flood of changes is not followed.
                if (page != codePage && pageChanges < 16) {
                    flush();
                    codePage = page;
                    ++pageChanges;
                    decoder.open(codePage);
                }
            } else if (word == "uc" && hasNumber) {
                group.unicodeSkip = static_cast<int>(std::clamp(number, 0L, 16L));
            } else if (word == "u" && hasNumber) {
                flush();
                const auto code = static_cast<char32_t>(number < 0 ? number + 65536 : number);
                if (code >= 0xD800 && code <= 0xDBFF) {
                    highHalf = code;
                } else if (code >= 0xDC00 && code <= 0xDFFF && highHalf != 0) {
                    appendUtf8(out, 0x10000 + ((highHalf - 0xD800) << 10) + (code - 0xDC00));
                    highHalf = 0;
                } else {
                    appendUtf8(out, code);
                }
                skipChars = group.unicodeSkip;
            } else if (word == "par" || word == "line" || word == "sect" || word == "page") {
                pending += '\n';  // the same byte in every code page an RTF names
            } else if (word == "tab") {
                pending += '\t';
            }
        }
    }
    flush();
    return out;
}

namespace {

// The HTML of one GLML tag ("[GLTITLE]", "[/GLNL]", ...) given its name in upper case
// with the "/" of a closing tag; tags of other names stand for nothing.
const char* glmlTag(const std::string& name) {
    static const std::pair<const char*, const char*> tags[] = {{"GLTITLE", "<h1>"},
                                                               {"/GLTITLE", "</h1>"},
                                                               {"GLSUBTITLE", "<h2>"},
                                                               {"/GLSUBTITLE", "</h2>"},
                                                               {"GLLANGUAGE", "<h3>"},
                                                               {"/GLLANGUAGE", "</h3>"},
                                                               {"GLWARNING", "<p><b>"},
                                                               {"/GLWARNING", "</b></p>"},
                                                               {"GLWARNINGS", "<p><b>"},
                                                               {"/GLWARNINGS", "</b></p>"},
                                                               {"GLCENTER", "<p align=center>"},
                                                               {"/GLCENTER", "</p>"},
                                                               {"GLNL", "<br>"}};
    for (const auto& [tag, html] : tags) {
        if (name == tag) return html;
    }
    return "";
}

bool isGlmlSpace(char c) {
    return isSpace(c) || c == '\v';
}

}  // namespace

std::string glmlToHtml(const std::string& glml) {
    const std::string source = text::decodeText(glml);
    std::string html;
    html.reserve(source.size() + source.size() / 8);
    for (size_t i = 0; i < source.size();) {
        const char c = source[i];
        if (c == '[') {
            // "[GL...]" or "[/GL...]" with letters only.
            size_t k = i + 1 + (i + 1 < source.size() && source[i + 1] == '/');
            const size_t nameStart = k;
            while (k < source.size() && isAlpha(source[k])) ++k;
            if (k < source.size() && source[k] == ']' && k - nameStart >= 2 &&
                (source[nameStart] | 0x20) == 'g' && (source[nameStart + 1] | 0x20) == 'l') {
                html += glmlTag(text::upperAscii(source.substr(i + 1, k - i - 1)));
                i = k + 1;
                continue;
            }
        }
        if (c == '\n' || (c == '\r' && i + 1 < source.size() && source[i + 1] == '\n')) {
            // A blank line (line breaks with only blanks between) starts a paragraph; a
            // single line break is a blank.
            const size_t after = source.find('\n', i) + 1;
            size_t k = after, lastBreak = std::string::npos;
            while (k < source.size() && isGlmlSpace(source[k])) {
                if (source[k] == '\n') lastBreak = k;
                ++k;
            }
            html += lastBreak == std::string::npos ? " " : "<p>";
            i = lastBreak == std::string::npos ? after : lastBreak + 1;
            continue;
        }
        switch (c) {
            case '<':
                html += "&lt;";
                break;
            case '>':
                html += "&gt;";
                break;
            case '&':
                html += "&amp;";
                break;
            case '"':
                html += "&quot;";
                break;
            default:
                html += c;
        }
        ++i;
    }
    return html;
}

namespace {

// The start of a read-me's bytes that can be shown (see kScanBytes), cut between two
// characters of UTF-8 or UTF-16.
std::string shownPart(const std::string& bytes) {
    if (bytes.size() <= kScanBytes) return bytes;
    size_t cut = kScanBytes;
    if (startsWith(bytes, "\xFF\xFE", 2) || startsWith(bytes, "\xFE\xFF", 2)) {
        cut &= ~size_t(1);
    } else {
        while (cut > kScanBytes - 4 && isContinuationByte(bytes[cut])) --cut;
    }
    return bytes.substr(0, cut);
}

// Rich text when the page is within the bounds of rich text, else its text.
ReadmeText richOrPlain(const std::string& page, bool cut, const ReadmePictureKey& picture = {}) {
    const HtmlScan scan(page, cut, picture);
    if (scan.rich()) return {scan.html(), true};
    return {boundedPlain(scan.plain()), false};
}

// Plain text within the bounds of the memo; `cut`: the read-me went on after it.
ReadmeText plain(const std::string& text, bool cut) {
    return {boundedPlain(cut ? text + kCutMark : text), false};
}

}  // namespace

ReadmeText readmeFromBytes(const std::string& fileName, const std::string& bytes,
                           const ReadmePictureKey& picture) {
    const std::string ext = text::lowerAscii(text::extractFileExt(fileName));
    const bool cut = bytes.size() > kScanBytes;
    if (ext == ".rtf") return plain(rtfToText(shownPart(bytes)), cut);
    if (ext == ".glml") return richOrPlain(glmlToHtml(shownPart(bytes)), cut);
    if (ext == ".html" || ext == ".htm")
        return richOrPlain(text::decodeText(shownPart(bytes)), cut, picture);
    return plain(text::decodeText(shownPart(bytes)), cut);
}

std::string readmePlainText(const std::string& fileName, const std::string& bytes) {
    const std::string ext = text::lowerAscii(text::extractFileExt(fileName));
    const std::string part = shownPart(bytes);
    if (ext == ".rtf") return rtfToText(part);
    if (ext == ".glml") return HtmlScan(glmlToHtml(part), false, {}).plain();
    if (ext == ".html" || ext == ".htm") return HtmlScan(text::decodeText(part), false, {}).plain();
    // A Write document: a header of 128 bytes ("\x31\xBE" or "\x32\xBE" first, then the end
    // of its text as a 32-bit offset at byte 14), then the text in the system's code page.
    if (ext == ".wri" && part.size() > 128 && (part[0] == '\x31' || part[0] == '\x32') &&
        part[1] == '\xBE') {
        uint32_t end = 0;
        for (int i = 3; i >= 0; --i) end = end << 8 | static_cast<unsigned char>(part[14 + i]);
        end = std::clamp<uint32_t>(end, 128, static_cast<uint32_t>(part.size()));
        return text::decodeText(part.substr(128, end - 128));
    }
    return text::decodeText(part);
}

std::string readmePicturePath(const std::string& readmeMember, const std::string& src) {
    // The reference as a path: "%XX" escapes decoded, a query or fragment left off.
    std::string ref;
    const std::string_view written = std::string_view(src).substr(0, src.find_first_of("?#"));
    for (size_t i = 0; i < written.size(); ++i) {
        if (written[i] == '%' && i + 2 < written.size() && isHexDigit(written[i + 1]) &&
            isHexDigit(written[i + 2])) {
            ref += static_cast<char>(hexValue(written[i + 1]) * 16 + hexValue(written[i + 2]));
            i += 2;
        } else {
            ref += written[i];
        }
    }
    while (!ref.empty() && isSpace(ref.back())) ref.pop_back();
    size_t start = 0;
    while (start < ref.size() && isSpace(ref[start])) ++start;
    ref.erase(0, start);
    // Nothing with a scheme or a drive ("file:", "http:", "data:", "C:"), nothing from the
    // root of a disk or a share, no control character.
    if (ref.empty() || ref.find(':') != std::string::npos || ref[0] == '/' || ref[0] == '\\')
        return "";
    for (char c : ref) {
        if (static_cast<unsigned char>(c) < 0x20) return "";
    }
    const std::string ext = text::lowerAscii(text::extractFileExt(ref));
    if (ext != ".png" && ext != ".jpg" && ext != ".jpeg" && ext != ".gif" && ext != ".bmp")
        return "";
    // The read-me's folder, then the reference's steps; ".." never leaves the archive.
    std::vector<std::string> parts;
    auto addSteps = [&parts](const std::string& path, bool lastIsFile) {
        size_t from = 0;
        for (;;) {
            const size_t end = path.find_first_of("/\\", from);
            const std::string step =
                path.substr(from, end == std::string::npos ? std::string::npos : end - from);
            const bool last = end == std::string::npos;
            if (last && lastIsFile) return true;
            if (step == "..") {
                if (parts.empty()) return false;
                parts.pop_back();
            } else if (!step.empty() && step != ".") {
                parts.push_back(step);
            }
            if (last) return true;
            from = end + 1;
        }
    };
    if (!addSteps(readmeMember, true) || !addSteps(ref, false) || parts.empty()) return "";
    std::string path;
    for (const std::string& part : parts) {
        if (!path.empty()) path += '\\';
        path += part;
    }
    return path;
}
