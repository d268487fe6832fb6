#include "inspect/MissionFacts.h"

#include <QRegularExpression>
#include <QString>
#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <map>
#include <set>
#include <string_view>

#include "inspect/ReadmeText.h"
#include "platform/TextDecode.h"
#include "platform/TextUtil.h"

namespace {

// Only what authors wrote at the top of a read-me is read, and no more of a line than a
// line of text holds.
constexpr size_t kReadmeLines = 60;
constexpr size_t kTitleLines = 15;
constexpr qsizetype kTitleLineChars = 100;
constexpr qsizetype kTitleWords = 8;
constexpr qsizetype kLineChars = 400;
constexpr int kNameChars = 60;
constexpr int kNameWords = 6;
constexpr int kFirstYear = 1998;
constexpr int kLastYear = 2030;
// What one look into an archive reads: fm.ini and at most this many read-mes, none larger
// than the cap (fm.ini and read-mes are a few kilobytes; a larger file is a manual with
// pictures, whose start the cap still holds when it is stored first).
constexpr size_t kReadmesRead = 3;
constexpr uint64_t kMemberCap = 384 << 10;

using Options = QRegularExpression::PatternOptions;
constexpr Options kNoCase = QRegularExpression::CaseInsensitiveOption;

// ---- Dates ----

bool leapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static constexpr std::array<int, 12> days = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leapYear(y) ? 29 : days[static_cast<size_t>(m - 1)];
}

std::string twoDigits(int n) {
    return (n < 10 ? "0" : "") + std::to_string(n);
}

// "YYYY-MM-DD", "YYYY-MM" or "YYYY" (month or day 0: not known); empty when the date is
// impossible or outside the years a mission can come from.
std::string dateText(int y, int m, int d) {
    if (y < kFirstYear || y > kLastYear || m < 0 || m > 12 || d < 0) return {};
    if (m == 0) return d == 0 ? std::to_string(y) : std::string();
    if (d > daysInMonth(y, m)) return {};
    std::string out = std::to_string(y) + "-" + twoDigits(m);
    if (d > 0) out += "-" + twoDigits(d);
    return out;
}

// The date of a Unix time (UTC).
std::string dateOfUnixTime(int64_t t) {
    if (t < 0) return {};
    // Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
    const int64_t z = t / 86400 + 719468;
    const int64_t era = z / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    if (y < kFirstYear || y > kLastYear) return {};
    return dateText(static_cast<int>(y), m, d);
}

// The month a name (English, German or French, full or short, any case) stands for; 0 for
// any other word.
int monthNumber(const QString& word) {
    static const std::map<QString, int> months = [] {
        std::map<QString, int> t;
        const std::pair<const char*, int> names[] = {
            {"january", 1},   {"jan", 1},       {"januar", 1},    {"jänner", 1},
            {"janvier", 1},   {"janv", 1},      {"february", 2},  {"feb", 2},
            {"februar", 2},   {"feber", 2},     {"février", 2},   {"fevrier", 2},
            {"févr", 2},      {"fevr", 2},      {"fév", 2},       {"march", 3},
            {"mar", 3},       {"märz", 3},      {"maerz", 3},     {"mär", 3},
            {"mars", 3},      {"april", 4},     {"apr", 4},       {"avril", 4},
            {"avr", 4},       {"may", 5},       {"mai", 5},       {"june", 6},
            {"jun", 6},       {"juni", 6},      {"juin", 6},      {"july", 7},
            {"jul", 7},       {"juli", 7},      {"juillet", 7},   {"juil", 7},
            {"august", 8},    {"aug", 8},       {"août", 8},      {"aout", 8},
            {"september", 9}, {"sep", 9},       {"sept", 9},      {"septembre", 9},
            {"october", 10},  {"oct", 10},      {"oktober", 10},  {"okt", 10},
            {"octobre", 10},  {"november", 11}, {"nov", 11},      {"novembre", 11},
            {"december", 12}, {"dec", 12},      {"dezember", 12}, {"dez", 12},
            {"décembre", 12}, {"decembre", 12}, {"déc", 12}};
        for (const auto& [name, number] : names) t[QString::fromUtf8(name)] = number;
        return t;
    }();
    const auto it = months.find(word.toLower());
    return it == months.end() ? 0 : it->second;
}

// A date found in a text: where it starts and how much of it is known.
struct DateMatch {
    qsizetype at = -1;
    int precision = 0;  // 3: day, 2: month, 1: year
    std::string date;
};

// The first date of `line`: of the dates written in it, the one starting first, the most
// precise reading when several start at the same place.
std::string firstDate(const QString& line) {
    enum class Form { YMD, NumericDMY, MonthDY, DMonthY, MonthY, YM, MY, Y };
    struct Pattern {
        Form form;
        const char* regex;
    };
    static const Pattern patterns[] = {
        {Form::YMD, R"((?<!\d)(\d{4})([-./])(\d{1,2})\2(\d{1,2})(?!\d))"},
        {Form::NumericDMY, R"((?<![\d.])(\d{1,2})([-./])(\d{1,2})\2(\d{4})(?!\d))"},
        {Form::MonthDY,
         R"((?<!\p{L})(\p{L}+)\.?\s+(\d{1,2})(?:st|nd|rd|th)?\.?,?\s+(\d{4})(?!\d))"},
        {Form::DMonthY,
         R"((?<!\d)(\d{1,2})(?:st|nd|rd|th|er)?\.?[\s-]*(?:of\s+)?(\p{L}+)\.?,?[\s-]+(\d{4})(?!\d))"},
        {Form::MonthY, R"((?<!\p{L})(\p{L}+)\.?,?\s+(\d{4})(?!\d))"},
        {Form::YM, R"((?<![\d.])(\d{4})[-/](\d{1,2})(?![\d]))"},
        {Form::MY, R"((?<![\d.])(\d{1,2})[./](\d{4})(?!\d))"},
        {Form::Y, R"((?<![\d.])(\d{4})(?!\d))"},
    };
    thread_local const std::vector<QRegularExpression> compiled = [] {
        std::vector<QRegularExpression> out;
        for (const Pattern& p : patterns) out.emplace_back(QString::fromUtf8(p.regex), kNoCase);
        return out;
    }();
    DateMatch best;
    for (size_t i = 0; i < compiled.size(); ++i) {
        auto it = compiled[i].globalMatch(line);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            if (best.at >= 0 && m.capturedStart() > best.at) break;
            const auto n = [&m](int group) { return m.captured(group).toInt(); };
            std::string date;
            int precision = 3;
            switch (patterns[i].form) {
                case Form::YMD:
                    date = dateText(n(1), n(3), n(4));
                    break;
                case Form::NumericDMY: {
                    // Day first, as most of the world writes it, unless only the other way
                    // round is a date.
                    const int a = n(1), b = n(3);
                    date = a <= 12 && b > 12 ? dateText(n(4), a, b) : dateText(n(4), b, a);
                    break;
                }
                case Form::MonthDY:
                    if (const int month = monthNumber(m.captured(1)); month > 0)
                        date = dateText(n(3), month, n(2));
                    break;
                case Form::DMonthY:
                    if (const int month = monthNumber(m.captured(2)); month > 0)
                        date = dateText(n(3), month, n(1));
                    break;
                case Form::MonthY:
                    precision = 2;
                    if (const int month = monthNumber(m.captured(1)); month > 0)
                        date = dateText(n(2), month, 0);
                    break;
                case Form::YM:
                    precision = 2;
                    date = n(2) > 0 ? dateText(n(1), n(2), 0) : std::string();
                    break;
                case Form::MY:
                    precision = 2;
                    date = n(1) > 0 ? dateText(n(2), n(1), 0) : std::string();
                    break;
                case Form::Y:
                    precision = 1;
                    date = dateText(n(1), 0, 0);
                    break;
            }
            if (date.empty()) continue;
            if (best.at < 0 || m.capturedStart() < best.at ||
                (m.capturedStart() == best.at && precision > best.precision))
                best = {m.capturedStart(), precision, date};
            break;
        }
    }
    return best.date;
}

// The release date an fm.ini's ReleaseDate value gives: a Unix time in hexadecimal (as
// loaders write it, "0x" before it or not) or decimal, "YYYYMMDD", or a written date.
std::string releaseDateValue(const std::string& raw) {
    std::string v = text::trim(raw);
    const bool prefixed = v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X');
    if (prefixed) v.erase(0, 2);
    const auto all = [&v](const char* digits) {
        return !v.empty() && v.find_first_not_of(digits) == std::string::npos;
    };
    if (all("0123456789abcdefABCDEF") && v.size() <= 12) {
        const std::string date = dateOfUnixTime(static_cast<int64_t>(std::stoull(v, nullptr, 16)));
        if (!date.empty() || prefixed) return date;
    }
    if (all("0123456789") && v.size() <= 12) {
        if (std::string date = dateOfUnixTime(std::stoll(v)); !date.empty()) return date;
        if (v.size() == 8) {
            return dateText(std::stoi(v.substr(0, 4)), std::stoi(v.substr(4, 2)),
                            std::stoi(v.substr(6, 2)));
        }
    }
    return dateFromText(raw);
}

// ---- fm.ini ----

struct FmIni {
    MissionFacts facts;
    std::string infoFile;
};

// The value without one pair of enclosing double or single quotes.
std::string unquoted(const std::string& v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

// A Descr value with its escapes read: "\n" a line break, "\t" a tab, "\"" and "\\" the
// character; "\r" goes (a break is written "\r\n" as often as "\n").
std::string unescaped(const std::string& v) {
    std::string out;
    out.reserve(v.size());
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '\\' || i + 1 == v.size()) {
            out += v[i];
            continue;
        }
        switch (v[i + 1]) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                break;
            case '"':
            case '\\':
                out += v[i + 1];
                break;
            default:
                out += v[i];
                continue;
        }
        ++i;
    }
    return out;
}

std::vector<std::string> tagsOf(const std::string& value) {
    std::vector<std::string> tags;
    size_t from = 0;
    while (from <= value.size()) {
        size_t end = value.find(',', from);
        if (end == std::string::npos) end = value.size();
        const std::string item = text::trim(value.substr(from, end - from));
        from = end + 1;
        const size_t colon = item.find(':');
        std::string category = colon == std::string::npos
                                   ? std::string()
                                   : text::lowerAscii(text::trim(item.substr(0, colon)));
        const std::string tag =
            text::trim(colon == std::string::npos ? item : item.substr(colon + 1));
        if (tag.empty()) continue;
        if (category.empty()) category = "misc";
        std::string full = category + ":" + tag;
        if (std::find(tags.begin(), tags.end(), full) == tags.end()) tags.push_back(full);
    }
    return tags;
}

FmIni parseFmIni(const std::string& text) {
    FmIni ini;
    std::set<std::string> seen;  // the first of a key repeated counts
    std::string_view rest(text);
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
    while (!rest.empty()) {
        const size_t end = std::min(rest.find_first_of("\r\n"), rest.size());
        const std::string line = text::trim(std::string(rest.substr(0, end)));
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (line.empty() || line[0] == ';' || line[0] == '#' || line[0] == '[') continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = text::lowerAscii(text::trim(line.substr(0, eq)));
        if (!seen.insert(key).second) continue;
        const std::string value = unquoted(text::trim(line.substr(eq + 1)));
        if (key == "nicename") {
            ini.facts.title = text::trim(value);
        } else if (key == "releasedate") {
            ini.facts.releaseDate = releaseDateValue(value);
        } else if (key == "tags") {
            ini.facts.tags = tagsOf(value);
        } else if (key == "descr") {
            ini.facts.description = unescaped(value);
        } else if (key == "infofile") {
            ini.infoFile = text::trim(value);
            std::replace(ini.infoFile.begin(), ini.infoFile.end(), '/', '\\');
        }
    }
    for (const std::string& tag : ini.facts.tags) {
        if (tag.compare(0, 7, "author:") != 0) continue;
        if (!ini.facts.author.empty()) ini.facts.author += ", ";
        ini.facts.author += tag.substr(7);
    }
    return ini;
}

// ---- Read-mes ----

// The first lines of a read-me, each cut to kLineChars characters.
std::vector<QString> readmeLines(const std::string& text) {
    std::vector<QString> lines;
    size_t at = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) at = 3;
    while (at < text.size() && lines.size() < kReadmeLines) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        QString line = QString::fromUtf8(text.data() + at, static_cast<qsizetype>(end - at));
        if (line.size() > kLineChars) line.truncate(kLineChars);
        lines.push_back(line.trimmed());
        at = end + 1;
    }
    return lines;
}

// The text after a label on line `i`, or the next line holding text when the label stands
// alone ("Author:" above the name).
QString afterLabel(const std::vector<QString>& lines, size_t i, const QString& rest) {
    if (std::any_of(rest.begin(), rest.end(), [](QChar c) { return c.isLetterOrNumber(); }))
        return rest;
    for (size_t k = i + 1; k < lines.size() && k <= i + 2; ++k) {
        if (!lines[k].isEmpty()) return lines[k];
    }
    return {};
}

// A name as written after its label, without e-mail addresses, web addresses and what
// follows in another column or clause.
QString cleanName(QString s) {
    thread_local const QRegularExpression contact(
        R"([<(\[][^<>()\[\]]*(?:@|https?:|www\.)[^<>()\[\]]*[>)\]]|\S*@\S*|(?:https?://|www\.)\S*)",
        kNoCase);
    thread_local const QRegularExpression column(
        R"(\t|\s{2,}|\s+[|\x{2013}\x{2014}-]\s+|,\s*\d|\s+\p{L}+\s*:(?!//))");
    thread_local const QRegularExpression clause(
        R"(\s+(?:for|using|with|in|on|at|from|and\s+released|und|pour|avec|dans|f(?:ü|ue)r|mit)\s)",
        kNoCase);
    s.remove(contact);
    for (const QRegularExpression* cut : {&column, &clause}) {
        const QRegularExpressionMatch m = cut->match(s);
        if (m.hasMatch()) s.truncate(m.capturedStart());
    }
    s = s.trimmed();
    static const QString trailing = QStringLiteral(".,;:!-=*~_#|/\\\"'()[]<>\x2013\x2014");
    while (!s.isEmpty() && (s.back().isSpace() || trailing.contains(s.back()))) s.chop(1);
    static const QString leading = QStringLiteral("\"'([<:=-");
    while (!s.isEmpty() && (s.front().isSpace() || leading.contains(s.front()))) s.remove(0, 1);
    return s.trimmed();
}

// True when `name` reads as a person's name or handle: 1 to 60 characters with a letter,
// a few words, no sentence, no word that starts a phrase rather than a name.
bool plausibleName(const QString& name) {
    if (name.isEmpty() || name.toUcs4().size() > kNameChars) return false;
    if (!std::any_of(name.begin(), name.end(), [](QChar c) { return c.isLetter(); })) return false;
    const QStringList words = name.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() > kNameWords) return false;
    if (name.contains(QLatin1Char('!')) || name.contains(QLatin1Char('?'))) return false;
    // A full stop after a word (not an initial or a title such as "Dr.") ends a sentence.
    thread_local const QRegularExpression sentence(R"(\p{L}{3,}\.\s)");
    if (sentence.match(name).hasMatch()) return false;
    static const std::set<QString> notNames = {
        "the",     "a",   "an",   "this",  "that", "these", "those",   "my",    "me",    "our",
        "your",    "his", "her",  "their", "its",  "it",    "default", "far",   "way",   "using",
        "means",   "now", "then", "some",  "all",  "any",   "none",    "n/a",   "name",  "you",
        "unknown", "le",  "la",   "les",   "un",   "une",   "der",     "die",   "das",   "den",
        "dem",     "ein", "eine", "night", "day",  "hand",  "myself",  "email", "e-mail"};
    return notNames.count(words.front().toLower()) == 0;
}

// The plausible name the first line matching `label` gives after it (group 1), cleaned.
std::string nameAfter(const std::vector<QString>& lines, const QRegularExpression& label) {
    for (size_t i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch m = label.match(lines[i]);
        if (!m.hasMatch()) continue;
        const QString name = cleanName(afterLabel(lines, i, m.captured(1)));
        if (plausibleName(name)) return name.toStdString();
    }
    return {};
}

}  // namespace

MissionFacts factsFromFmIni(const std::string& text) {
    return parseFmIni(text).facts;
}

std::string infoFileFromFmIni(const std::string& text) {
    return parseFmIni(text).infoFile;
}

std::string authorFromReadme(const std::string& text) {
    const std::vector<QString> lines = readmeLines(text);
    // "Author: Name", in English, German and French, with ":", "=", " - " or a column gap.
    thread_local const QRegularExpression label(
        R"(^[^\p{L}\p{N}]*(?:(?:mission|fm|level)\s+)?(?:author\(s\)|authors?|autor\(en\)|autoren|autor|auteur\(s\)|auteurs?))"
        R"((?:\s*(?:[:=]|-(?=\s))|\t|\s{2,})\s*(.*)$)",
        kNoCase);
    if (std::string name = nameAfter(lines, label); !name.empty()) return name;
    // "Created by Name" and its kin at the start of a line.
    thread_local const QRegularExpression made(
        R"(^[^\p{L}\p{N}]*(?:created|made|designed|built|mission|erstellt|gemacht|entworfen|cr[ée]{2}e?|r[ée]alis[ée]e?|con[çc]ue?))"
        R"(\s+(?:by|von|par)(?!\p{L})\s*:?\s*(.+)$)",
        kNoCase);
    if (std::string name = nameAfter(lines, made); !name.empty()) return name;
    // "Title by Name" on a title line: a short line at the top whose name is written as a
    // name (not "by the way", not "by pressing F1").
    thread_local const QRegularExpression by(R"(^(.{0,80})(?<!\p{L})by\s*:?\s+(.+)$)", kNoCase);
    for (size_t i = 0; i < lines.size() && i < kTitleLines; ++i) {
        if (lines[i].size() > kTitleLineChars) continue;
        const QRegularExpressionMatch m = by.match(lines[i]);
        if (!m.hasMatch()) continue;
        const QChar first = m.captured(2).at(0);
        if ((first >= QLatin1Char('a') && first <= QLatin1Char('z')) ||
            m.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts).size() > kTitleWords)
            continue;
        const QString name = cleanName(m.captured(2));
        if (plausibleName(name)) return name.toStdString();
    }
    return {};
}

namespace {

// A title as written on its line: without the frame around it ("### Proov ###", "*** X ***",
// quotes) and runs of blanks; empty when what is left is no title (no letter or digit, too
// long, a sentence, or the read-me naming itself).
QString cleanTitle(QString s) {
    static const QString frame = QStringLiteral("#*=~_|+<>[]\"'-:.\x2013\x2014");
    while (!s.isEmpty() && (s.front().isSpace() || frame.contains(s.front()))) s.remove(0, 1);
    while (!s.isEmpty() && (s.back().isSpace() || frame.contains(s.back()))) s.chop(1);
    s = s.simplified();
    if (s.isEmpty() || s.size() > kTitleLineChars) return {};
    if (!std::any_of(s.begin(), s.end(), [](QChar c) { return c.isLetterOrNumber(); })) return {};
    if (s.split(QLatin1Char(' '), Qt::SkipEmptyParts).size() > kTitleWords) return {};
    thread_local const QRegularExpression notTitle(
        R"(read\s*-?\s*me|liesmich|lisez|\.txt$|^(?:version|v\d|date|datum|author|autor|auteur)\b)"
        R"(|^(?:name|file\s*name|e-?mail|contact|game|size)\s*:)"
        R"(|^(?:system\s*shock\s*2?|thief(?:\s*(?:2|ii|gold|\d?\s*:?\s*the\s+(?:dark\s+project|metal\s+age)))?)$)",
        kNoCase);
    return notTitle.match(s).hasMatch() ? QString() : s;
}

}  // namespace

std::string titleFromReadme(const std::string& text) {
    const std::vector<QString> lines = readmeLines(text);
    const size_t top = std::min(lines.size(), kTitleLines);
    // "Name:" alone names the author as often as the mission: only "Mission name:".
    thread_local const QRegularExpression label(
        R"(^[^\p{L}\p{N}]*(?:(?:mission|fm|level)\s+(?:title|name)|title|titel|titre|t[ií]tulo))"
        R"((?:\s*[:=]|\t|\s{2,})\s*(.*)$)",
        kNoCase);
    for (size_t i = 0; i < top; ++i) {
        const QRegularExpressionMatch m = label.match(lines[i]);
        if (!m.hasMatch()) continue;
        if (QString title = cleanTitle(afterLabel(lines, i, m.captured(1))); !title.isEmpty())
            return title.toStdString();
    }
    // Else the first line, when the lines below it say what it is the title of: "a fan
    // mission for System Shock 2", "by Thomas Green".
    size_t first = 0;
    while (first < top && lines[first].isEmpty()) ++first;
    if (first >= top) return {};
    thread_local const QRegularExpression says(
        R"(fan\s*-?\s*mission|\bmission\s+(?:for|f(?:ü|ue)r|pour|para)\b|\bcampaign\b|^(?:by|von|par|por)\s)",
        kNoCase);
    thread_local const QRegularExpression titleBy(R"(^(.+?)\s+(?:by|von|par|por)\s+\S.*$)",
                                                  kNoCase);
    QString line = lines[first];
    if (says.match(line).hasMatch()) {
        // "Arboretum by Thomas Green" on one line.
        const QRegularExpressionMatch m = titleBy.match(line);
        return m.hasMatch() ? cleanTitle(m.captured(1)).toStdString() : std::string();
    }
    for (size_t k = first + 1, seen = 0; k < top && seen < 3; ++k) {
        if (lines[k].isEmpty()) continue;
        ++seen;
        if (says.match(lines[k]).hasMatch()) return cleanTitle(line).toStdString();
    }
    return {};
}

std::string dateFromReadme(const std::string& text) {
    const std::vector<QString> lines = readmeLines(text);
    thread_local const QRegularExpression label(
        R"(^[^\p{L}\p{N}]*(?:release\s+date|date\s+of\s+release|released(?:\s+on)?|release|date|datum)"
        R"(|erscheinungsdatum|erschienen(?:\s+am)?|ver(?:ö|oe)ffentlicht(?:\s+am)?|ver(?:ö|oe)ffentlichung)"
        R"(|date\s+de\s+sortie|sortie|date\s+de\s+publication|publi[ée]e?(?:\s+le)?))"
        R"((?!\p{L})(.*)$)",
        kNoCase);
    for (size_t i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch m = label.match(lines[i]);
        if (!m.hasMatch()) continue;
        if (std::string date = firstDate(afterLabel(lines, i, m.captured(1))); !date.empty())
            return date;
    }
    thread_local const QRegularExpression version(R"(^[^\p{L}\p{N}]*(?:version|ver\.?|v(?=\d)))",
                                                  kNoCase);
    for (const QString& line : lines) {
        if (!version.match(line).hasMatch()) continue;
        if (std::string date = firstDate(line); !date.empty()) return date;
    }
    return {};
}

std::string dateFromText(const std::string& text) {
    return firstDate(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

std::string dateFromMembers(const std::vector<ArchiveMember>& members) {
    uint32_t newest = 0;
    std::string date;
    for (const ArchiveMember& m : members) {
        const uint32_t dos = m.dosTime >> 16;
        const std::string d =
            dateText(1980 + static_cast<int>(dos >> 9), static_cast<int>((dos >> 5) & 0x0F),
                     static_cast<int>(dos & 0x1F));
        if (d.size() != 10 || m.dosTime <= newest) continue;
        newest = m.dosTime;
        date = d;
    }
    return date;
}

namespace {

// How well a root file's name says it is the read-me (lower is better); -1 for no read-me.
int readmeRank(const std::string& lowerName, const std::string& archiveStem) {
    const std::string ext = text::extractFileExt(lowerName);
    static const std::vector<std::string> kinds = {".txt",  ".rtf",  ".htm",
                                                   ".html", ".glml", ".wri"};
    const auto kind = std::find(kinds.begin(), kinds.end(), ext);
    if (kind == kinds.end()) return -1;
    const std::string stem = lowerName.substr(0, lowerName.size() - ext.size());
    static const std::vector<std::string> names = {
        "readme",   "read me",   "read_me",   "read-me", "liesmich", "lies mich",
        "lisezmoi", "lisez-moi", "lisez moi", "leame",   "leggimi"};
    int rank = 2 * static_cast<int>(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        if (stem.find(names[i]) != std::string::npos) {
            rank = static_cast<int>(i);
            break;
        }
    }
    if (rank == 2 * static_cast<int>(names.size()) && !archiveStem.empty() && stem == archiveStem)
        rank = static_cast<int>(names.size());
    return rank * static_cast<int>(kinds.size()) + static_cast<int>(kind - kinds.begin());
}

}  // namespace

MissionFacts findMissionFacts(MissionArchive& archive) {
    MissionFacts facts;
    std::string readmeAuthor, readmeDate, readmeTitle;
    try {
        const std::vector<ArchiveMember>& members = archive.members();
        const std::string root = MemberRoot(members);
        const std::string archiveName = text::lowerAscii(text::extractFileName(archive.path()));
        const std::string archiveStem =
            archiveName.substr(0, archiveName.size() - text::extractFileExt(archiveName).size());
        std::string fmIni;
        std::vector<std::pair<int, std::string>> readmes;  // rank, member
        std::map<std::string, std::string> byName;         // lower-case name below the root
        for (const ArchiveMember& m : members) {
            if (m.size > kMemberCap) continue;
            std::string lower = text::lowerAscii(WithoutMemberRoot(m.name, root));
            std::replace(lower.begin(), lower.end(), '/', '\\');
            byName.emplace(lower, m.name);
            if (lower.find('\\') != std::string::npos) continue;
            if (lower == "fm.ini") {
                if (fmIni.empty()) fmIni = m.name;
            } else if (const int rank = readmeRank(lower, archiveStem); rank >= 0 && m.size > 0) {
                readmes.emplace_back(rank, m.name);
            }
        }
        std::sort(readmes.begin(), readmes.end());
        if (readmes.size() > kReadmesRead) readmes.resize(kReadmesRead);

        std::map<std::string, std::string> data;
        const auto read = [&](const std::set<std::string>& names) {
            if (names.empty()) return;
            archive.readMembers(names, kMemberCap, [&](const ArchiveMember& m, std::string& bytes) {
                data[m.name] = std::move(bytes);
                return true;
            });
        };
        std::set<std::string> wanted;
        if (!fmIni.empty()) wanted.insert(fmIni);
        for (const auto& [rank, name] : readmes) wanted.insert(name);
        read(wanted);

        std::vector<std::string> order;  // read-mes, the one fm.ini names first
        if (const auto ini = data.find(fmIni); !fmIni.empty() && ini != data.end()) {
            const std::string decoded = text::decodeText(ini->second);
            facts = factsFromFmIni(decoded);
            const std::string infoFile = text::lowerAscii(infoFileFromFmIni(decoded));
            if (const auto named = byName.find(infoFile); !infoFile.empty() &&
                                                          named != byName.end() &&
                                                          readmeRank(infoFile, archiveStem) >= 0) {
                order.push_back(named->second);
                // The one read-me the others may not have included: a second pass reads it,
                // and only when fm.ini leaves something to find.
                if (!data.count(named->second) &&
                    (facts.author.empty() || facts.releaseDate.empty()))
                    read({named->second});
            }
        }
        for (const auto& [rank, name] : readmes) {
            if (std::find(order.begin(), order.end(), name) == order.end()) order.push_back(name);
        }
        for (const std::string& name : order) {
            const auto it = data.find(name);
            if (it == data.end()) continue;
            if (!readmeAuthor.empty() && !readmeDate.empty() && !readmeTitle.empty()) break;
            const std::string text = readmePlainText(name, it->second);
            if (readmeAuthor.empty()) readmeAuthor = authorFromReadme(text);
            if (readmeDate.empty()) readmeDate = dateFromReadme(text);
            if (readmeTitle.empty()) readmeTitle = titleFromReadme(text);
        }
    } catch (const std::exception&) {
        // A damaged archive: what was read so far stands.
    }
    if (facts.title.empty()) facts.title = readmeTitle;
    if (facts.author.empty()) facts.author = readmeAuthor;
    if (facts.releaseDate.empty()) facts.releaseDate = readmeDate;
    if (facts.releaseDate.empty()) facts.releaseDate = dateFromMembers(archive.members());
    return facts;
}
