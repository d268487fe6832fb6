#include "catalogue/LibraryFilter.h"

#include <QSet>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string_view>

#include "catalogue/RowFilter.h"
#include "platform/TextUtil.h"

namespace {

QString fold(const QString& typed) {
    return foldForSearch(text::fromDisplay(typed));
}

// Appends `s` as foldForSearch folds it, quicker for the plain ASCII most record texts are:
// folding leaves such a text as it is but for its capitals.
void appendFolded(QString& out, const std::string& s) {
    for (const char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            out += foldForSearch(s);
            return;
        }
    }
    for (const char c : s) out += QLatin1Char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

QString foldText(const std::string& s) {
    QString out;
    appendFolded(out, s);
    return out;
}

// The typed text cut into words: blanks separate them outside double quotes; inside quotes
// a blank (or a line break) is one space of the word.
struct Token {
    QString text;
    qsizetype at = 0, end = 0;  // where it stands in the typed text
    bool negated = false;
    bool literal = false;  // began with a quote: no key is read from it
};

std::vector<Token> tokens(const QString& typed) {
    std::vector<Token> out;
    const qsizetype n = typed.size();
    qsizetype i = 0;
    while (i < n) {
        if (typed[i].isSpace()) {
            ++i;
            continue;
        }
        Token t;
        t.at = i;
        if (typed[i] == u'-') {
            t.negated = true;
            ++i;
        }
        t.literal = i < n && typed[i] == u'"';
        bool quoted = false;
        for (; i < n; ++i) {
            const QChar c = typed[i];
            if (c == u'"') {
                quoted = !quoted;
                continue;
            }
            if (c.isSpace() || c.category() == QChar::Other_Control) {
                if (!quoted) break;
                t.text += u' ';
            } else {
                t.text += c;
            }
        }
        t.end = i;
        // A lone "-" (or "-" before empty quotes) is the start of a negated word.
        if (!t.text.isEmpty()) out.push_back(std::move(t));
    }
    return out;
}

// Digits only, at most nine of them.
bool readCount(QStringView s, int64_t& out) {
    if (s.isEmpty() || s.size() > 9) return false;
    out = 0;
    for (const QChar c : s) {
        if (c < u'0' || c > u'9') return false;
        out = out * 10 + (c.unicode() - u'0');
    }
    return true;
}

// A count of days: digits and an optional unit (d, w, m = 30 days, y = 365 days).
bool readDays(QStringView s, int64_t& out) {
    int64_t unit = 1;
    if (!s.isEmpty() && s.back().isLetter()) {
        switch (s.back().unicode()) {
            case u'd':
                unit = 1;
                break;
            case u'w':
                unit = 7;
                break;
            case u'm':
                unit = 30;
                break;
            case u'y':
                unit = 365;
                break;
            default:
                return false;
        }
        s.chop(1);
    }
    if (!readCount(s, out)) return false;
    out *= unit;
    return true;
}

// The day number at the start of a stored day text ("45123", or with a time of day after
// a decimal point); 0 when it holds none.
int32_t dayOf(const std::string& s) {
    int32_t day = 0;
    const std::from_chars_result read = std::from_chars(s.data(), s.data() + s.size(), day);
    return read.ec == std::errc() && day > 0 ? day : 0;
}

// The number of known parts of a release date number: 1 (year), 2 (month) or 3 (day).
int dateParts(int64_t date) {
    return date % 100 != 0 ? 3 : date % 10000 != 0 ? 2 : 1;
}

// A release date number with only its first `parts` parts.
int64_t dateCut(int64_t date, int parts) {
    return parts >= 3 ? date : parts == 2 ? date / 100 * 100 : date / 10000 * 10000;
}

bool compare(int64_t value, LibraryFilter::Op op, int64_t against) {
    using Op = LibraryFilter::Op;
    switch (op) {
        case Op::Less:
            return value < against;
        case Op::LessEqual:
            return value <= against;
        case Op::Equal:
            return value == against;
        case Op::GreaterEqual:
            return value >= against;
        case Op::Greater:
            return value > against;
    }
    return false;
}

// The comparison at the start of `s` (">=", "<=", ">", "<", "=", or ":" for "="), and its
// length; 0 when there is none.
int readOp(QStringView s, LibraryFilter::Op& op) {
    using Op = LibraryFilter::Op;
    if (s.startsWith(u">=")) return op = Op::GreaterEqual, 2;
    if (s.startsWith(u"<=")) return op = Op::LessEqual, 2;
    if (s.startsWith(u'>')) return op = Op::Greater, 1;
    if (s.startsWith(u'<')) return op = Op::Less, 1;
    if (s.startsWith(u'=') || s.startsWith(u':')) return op = Op::Equal, 1;
    return 0;
}

enum class Read { Word, Typing, Plain };

// Reads a folded word as a key word; Typing for a key word without its value yet.
Read readKey(const QString& w, LibraryFilter::Word& out) {
    using Key = LibraryFilter::Key;
    using Op = LibraryFilter::Op;
    if (w == u"finished") return out.key = Key::Finished, Read::Word;
    if (w == u"unfinished") return out.key = Key::Unfinished, Read::Word;
    qsizetype nameEnd = 0;
    while (nameEnd < w.size() && w[nameEnd] >= u'a' && w[nameEnd] <= u'z') ++nameEnd;
    if (nameEnd == 0) return Read::Plain;
    const QStringView name = QStringView(w).left(nameEnd);
    const QStringView rest = QStringView(w).mid(nameEnd);
    if (rest.startsWith(u':')) {
        const QStringView value = rest.mid(1);
        static const std::pair<const char16_t*, Key> textKeys[] = {
            {u"tag", Key::Tag}, {u"author", Key::Author}, {u"finished", Key::FinishedOn}};
        for (const auto& [key, kind] : textKeys) {
            if (name == QStringView(key)) {
                out.key = kind;
                out.text = value.toString();
                return Read::Word;
            }
        }
        if (name == u"game") {
            out.key = Key::Game;
            if (value.isEmpty()) return Read::Typing;
            return readCount(value, out.number) ? Read::Word : Read::Plain;
        }
    }
    if (name == u"rating") {
        const int opLength = readOp(rest, out.op);
        if (opLength == 0) return Read::Plain;
        out.key = Key::Rating;
        const QStringView value = rest.mid(opLength);
        if (value.isEmpty()) return Read::Typing;
        return readCount(value, out.number) ? Read::Word : Read::Plain;
    }
    if (name == u"released") {
        const int opLength = readOp(rest, out.op);
        if (opLength == 0) return Read::Plain;
        out.key = Key::Released;
        const QStringView value = rest.mid(opLength);
        if (value.isEmpty()) return Read::Typing;
        out.number = releaseDateNumber(value.toString().toStdString());
        return out.number != 0 ? Read::Word : Read::Plain;
    }
    if (name == u"played" || name == u"added") {
        if (!rest.startsWith(u'<') && !rest.startsWith(u'>')) return Read::Plain;
        out.key = name == u"played" ? Key::Played : Key::Added;
        out.op = rest.startsWith(u'<') ? Op::Less : Op::Greater;
        const QStringView value = rest.mid(1);
        if (value.isEmpty()) return Read::Typing;
        return readDays(value, out.number) ? Read::Word : Read::Plain;
    }
    return Read::Plain;
}

void appendFoldedLines(QString& out, const std::vector<std::string>& texts) {
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i > 0) out += u'\n';
        appendFolded(out, texts[i]);
    }
}

// The texts a mission's fold is made from, each after its length, so that two missions
// have the same source only when every text is the same. A Source either writes them or
// checks them against a source written before, without copying them.
class Source {
  public:
    explicit Source(std::string* out) : out_(out) {}
    explicit Source(std::string_view written) : written_(written) {}

    // Whether the source checked so far is the one written before.
    bool same() const { return same_ && at_ == written_.size(); }

    Source& operator<<(const Mission& m) {
        return *this << m.title << m.author << m.name << m.tags << m.finishedOn << m.lastStart;
    }
    Source& operator<<(const std::string& s) {
        size(s.size());
        if (out_) {
            *out_ += s;
        } else {
            same_ = same_ && written_.substr(at_, s.size()) == s;
            at_ += s.size();
        }
        return *this;
    }
    Source& operator<<(const std::vector<std::string>& texts) {
        size(texts.size());
        for (const auto& t : texts) *this << t;
        return *this;
    }

  private:
    void size(size_t n) {
        const auto size = static_cast<uint32_t>(n);
        const std::string_view bytes(reinterpret_cast<const char*>(&size), sizeof size);
        if (out_) {
            out_->append(bytes);
        } else {
            same_ = same_ && written_.substr(at_, bytes.size()) == bytes;
            at_ += bytes.size();
        }
    }

    std::string* out_ = nullptr;
    std::string_view written_;
    size_t at_ = 0;
    bool same_ = true;
};

bool isFinished(const Mission& m) {
    return m.finished || !m.finishedOn.empty();
}

// Whether a mission started on day `day` (0 = never) was started less than `days` days
// before `today`.
bool within(int32_t day, int32_t today, int64_t days) {
    return day > 0 && int64_t{today} - day < days;
}

}  // namespace

std::vector<LibraryFilter::Typed> LibraryFilter::read(const QString& typed) {
    std::vector<Typed> out;
    for (Token& t : tokens(typed)) {
        Typed& typedWord = out.emplace_back();
        typedWord.at = t.at;
        typedWord.end = t.end;
        Word& w = typedWord.word;
        w.negated = t.negated;
        const QString folded = fold(t.text);
        const Read read = t.literal ? Read::Plain : readKey(folded, w);
        typedWord.typing = read == Read::Typing;
        if (read == Read::Plain) {
            w = Word{};
            w.negated = t.negated;
            w.text = folded;
            continue;
        }
        // The key's name is letters and its ":" or operator the first of these characters.
        qsizetype op = 0;
        while (op < t.text.size() && !QStringView(u":<>=").contains(t.text[op])) ++op;
        Op unused = Op::Equal;
        typedWord.value = t.text.mid(op + readOp(QStringView(t.text).mid(op), unused));
    }
    return out;
}

void LibraryFilter::setText(const QString& typed) {
    words_.clear();
    for (Typed& t : read(typed)) {
        if (!t.typing) words_.push_back(std::move(t.word));
    }
}

bool LibraryFilter::matches(const Mission& m, int32_t today) {
    if (words_.empty()) return true;
    const Folded& f = folded(m);
    for (const Word& w : words_) {
        if (holds(w, m, f, today) == w.negated) return false;
    }
    return true;
}

bool LibraryFilter::holds(const Word& w, const Mission& m, const Folded& f, int32_t today) const {
    switch (w.key) {
        case Key::Plain:
            return QStringView(f.text).left(f.tagsEnd).contains(w.text);
        case Key::Tag:
            return !m.tags.empty() && f.part(f.tagsAt, f.tagsEnd).contains(w.text);
        case Key::Author:
            return !m.author.empty() && f.part(f.authorAt, f.authorEnd).contains(w.text);
        case Key::Finished:
            return isFinished(m);
        case Key::Unfinished:
            return !isFinished(m);
        case Key::FinishedOn:
            return w.text.isEmpty() ? isFinished(m)
                                    : !m.finishedOn.empty() &&
                                          QStringView(f.text).mid(f.finishedAt).contains(w.text);
        case Key::Rating:
            return m.rating >= 0 && compare(m.rating, w.op, w.number);
        case Key::Game:
            return (m.gameRow ? m.game : m.markedGame()) == w.number;
        case Key::Played:
            return within(f.lastStartDay, today, w.number) == (w.op == Op::Less);
        case Key::Added:
            return within(m.dateAdded, today, w.number) == (w.op == Op::Less);
        case Key::Released: {
            const int64_t released = releaseDateNumber(m.releaseDate);
            const int parts = std::min(dateParts(released), dateParts(w.number));
            return released != 0 &&
                   compare(dateCut(released, parts), w.op, dateCut(w.number, parts));
        }
    }
    return false;
}

const LibraryFilter::Folded& LibraryFilter::folded(const Mission& m) {
    Folded& f = cache_[m.recordKey];
    if (!f.text.isEmpty() && (Source(f.source) << m).same()) return f;
    f.source.clear();
    Source(&f.source) << m;
    QString& t = f.text;
    t.clear();
    t.reserve(static_cast<qsizetype>(f.source.size()));
    appendFolded(t, m.title);
    t += u'\n';
    f.authorAt = t.size();
    appendFolded(t, m.author);
    f.authorEnd = t.size();
    t += u'\n';
    appendFolded(t, m.name);
    t += u'\n';
    f.tagsAt = t.size();
    appendFoldedLines(t, m.tags);
    f.tagsEnd = t.size();
    t += u'\n';
    f.finishedAt = t.size();
    appendFoldedLines(t, m.finishedOn);
    f.lastStartDay = dayOf(m.lastStart);
    return f;
}

int64_t releaseDateNumber(std::string_view date) {
    const auto part = [&](size_t at, size_t length, int64_t& out) {
        return date.size() >= at + length &&
               std::from_chars(date.data() + at, date.data() + at + length, out).ptr ==
                   date.data() + at + length;
    };
    int64_t year = 0, month = 0, day = 0;
    const size_t length = date.size();
    if (length != 4 && length != 7 && length != 10) return 0;
    if (!part(0, 4, year) || year < 1) return 0;
    if (length >= 7 && (date[4] != '-' || !part(5, 2, month) || month < 1 || month > 12)) return 0;
    if (length == 10 && (date[7] != '-' || !part(8, 2, day) || day < 1 || day > 31)) return 0;
    return year * 10000 + month * 100 + day;
}

QString titleSortKey(const std::string& title) {
    QString key = foldText(title).simplified();
    const auto skipPunctuation = [](QString& s) {
        qsizetype i = 0;
        while (i < s.size() && !s[i].isLetterOrNumber()) ++i;
        s.remove(0, i);
    };
    skipPunctuation(key);
    static const char16_t* const articles[] = {u"the", u"a",  u"der", u"die", u"das",
                                               u"le",  u"la", u"les", u"el"};
    const qsizetype space = key.indexOf(u' ');
    if (space > 0) {
        const QStringView first = QStringView(key).left(space);
        for (const char16_t* article : articles) {
            if (first != QStringView(article)) continue;
            QString rest = key.mid(space + 1);
            skipPunctuation(rest);
            if (!rest.isEmpty()) key = rest;
            return key;
        }
    }
    if (key.size() > 2 && key[0] == u'l' && (key[1] == u'\'' || key[1] == u'\u2019') &&
        QStringView(u"aeiou").contains(key[2]))
        key.remove(0, 2);
    return key;
}

std::vector<std::string> parseTags(const std::string& typed) {
    std::vector<std::string> out;
    QSet<QString> seen;
    for (const QString& piece : text::display(typed).split(u',')) {
        const qsizetype colon = piece.indexOf(u':');
        QString category = colon < 0 ? QString() : piece.left(colon).trimmed().toLower();
        const QString tag = (colon < 0 ? piece : piece.mid(colon + 1)).trimmed();
        if (tag.isEmpty()) continue;
        if (category.isEmpty()) category = QStringLiteral("misc");
        std::string whole = text::fromDisplay(category + u':' + tag);
        const QString key = foldForSearch(whole);
        if (seen.contains(key)) continue;
        seen.insert(key);
        out.push_back(std::move(whole));
    }
    return out;
}

std::string tagsText(const std::vector<std::string>& tags) {
    std::string out;
    for (const auto& tag : tags) {
        if (!out.empty()) out += ", ";
        out += tag;
    }
    return out;
}
