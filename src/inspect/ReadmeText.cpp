#include "inspect/ReadmeText.h"

#include <iconv.h>
#include <uchardet/uchardet.h>

#include <QRegularExpression>
#include <QString>
#include <cstring>
#include <memory>

#include "platform/TextUtil.h"

namespace {

bool startsWith(const std::string& s, const char* prefix, size_t n) {
    return s.size() >= n && memcmp(s.data(), prefix, n) == 0;
}

bool validUtf8(const std::string& s) {
    return QString::fromUtf8(s).toUtf8() == QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

std::string detectedCodePage(const std::string& bytes) {
    std::unique_ptr<std::remove_pointer_t<uchardet_t>, void (*)(uchardet_t)> detector(
        uchardet_new(), uchardet_delete);
    if (uchardet_handle_data(detector.get(), bytes.data(), bytes.size()) != 0) return "";
    uchardet_data_end(detector.get());
    const char* name = uchardet_get_charset(detector.get());
    return name ? name : "";
}

// ISO-8859 pages of the detector mapped to the Windows pages read-mes are written in:
// they agree on the letters and Windows fills the C1 range with punctuation.
std::string windowsPageFor(const std::string& detected) {
    static const std::pair<const char*, const char*> pages[] = {
        {"ISO-8859-1", "WINDOWS-1252"}, {"ISO-8859-15", "WINDOWS-1252"},
        {"ISO-8859-2", "WINDOWS-1250"}, {"ISO-8859-5", "WINDOWS-1251"},
        {"ASCII", "WINDOWS-1252"},      {"", "WINDOWS-1252"}};
    for (const auto& [from, to] : pages) {
        if (detected == from) return to;
    }
    return detected;
}

void appendUtf8(std::string& out, uint32_t code) {
    out += QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1).toStdString();
}

}  // namespace

bool isRichReadmeExtension(const std::string& lowerExt) {
    return lowerExt == ".rtf" || lowerExt == ".html" || lowerExt == ".htm" || lowerExt == ".glml";
}

std::string fromCodePage(const std::string& bytes, const std::string& codePage) {
    iconv_t cd = iconv_open("UTF-8", codePage.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) cd = iconv_open("UTF-8", "WINDOWS-1252");
    std::string out;
    std::string in = bytes;
    char* src = in.data();
    size_t left = in.size();
    char buffer[4096];
    while (left > 0) {
        char* dst = buffer;
        size_t room = sizeof buffer;
        const size_t rc = iconv(cd, &src, &left, &dst, &room);
        out.append(buffer, static_cast<size_t>(dst - buffer));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            // A byte the page does not define: shown as the replacement character.
            out += "\xEF\xBF\xBD";
            ++src;
            --left;
        }
    }
    iconv_close(cd);
    return out;
}

std::string decodeText(const std::string& bytes) {
    if (startsWith(bytes, "\xEF\xBB\xBF", 3)) return bytes.substr(3);
    if (startsWith(bytes, "\xFF\xFE", 2)) return fromCodePage(bytes.substr(2), "UTF-16LE");
    if (startsWith(bytes, "\xFE\xFF", 2)) return fromCodePage(bytes.substr(2), "UTF-16BE");
    if (validUtf8(bytes)) return bytes;
    return fromCodePage(bytes, windowsPageFor(detectedCodePage(bytes)));
}

std::string rtfToText(const std::string& rtf) {
    struct Group {
        bool skip = false;
        int unicodeSkip = 1;
    };
    std::vector<Group> groups{Group{}};
    std::string codePage = "WINDOWS-1252";
    std::string out, pending;  // pending: bytes of the document's code page
    auto flush = [&] {
        if (!pending.empty()) out += fromCodePage(pending, codePage);
        pending.clear();
    };
    int skipChars = 0;  // fallback characters after \uN still to drop
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
    size_t i = 0;
    bool starred = false;
    while (i < rtf.size()) {
        const char c = rtf[i];
        if (c == '{') {
            groups.push_back(groups.back());
            ++i;
        } else if (c == '}') {
            if (groups.size() > 1) groups.pop_back();
            skipChars = 0;
            ++i;
        } else if (c == '\r' || c == '\n') {
            ++i;
        } else if (c != '\\') {
            emitByte(c);
            ++i;
        } else if (i + 1 < rtf.size() && !isalpha(static_cast<unsigned char>(rtf[i + 1]))) {
            const char sym = rtf[i + 1];
            i += 2;
            if (sym == '\'' && i + 2 <= rtf.size()) {
                emitByte(static_cast<char>(std::stoi(rtf.substr(i, 2), nullptr, 16)));
                i += 2;
            } else if (sym == '*') {
                starred = true;
            } else if (sym == '~') {
                emitByte('\xA0');
            } else if (sym == '\\' || sym == '{' || sym == '}') {
                emitByte(sym);
            }
        } else {
            size_t j = i + 1;
            while (j < rtf.size() && isalpha(static_cast<unsigned char>(rtf[j]))) ++j;
            const std::string word = rtf.substr(i + 1, j - i - 1);
            size_t k = j;
            if (k < rtf.size() && (rtf[k] == '-' || isdigit(static_cast<unsigned char>(rtf[k]))))
                ++k;
            while (k < rtf.size() && isdigit(static_cast<unsigned char>(rtf[k]))) ++k;
            const bool hasNumber = k > j;
            const long number =
                hasNumber ? std::strtol(rtf.substr(j, k - j).c_str(), nullptr, 10) : 0;
            if (k < rtf.size() && rtf[k] == ' ') ++k;
            i = k;
            Group& group = groups.back();
            if (starred) group.skip = true;
            starred = false;
            for (const char* skipped : kSkipped) {
                if (word == skipped) group.skip = true;
            }
            if (group.skip) continue;
            if (word == "ansicpg" && hasNumber) {
                flush();
                codePage = "CP" + std::to_string(number);
            } else if (word == "uc" && hasNumber) {
                group.unicodeSkip = static_cast<int>(number);
            } else if (word == "u" && hasNumber) {
                flush();
                appendUtf8(out, static_cast<uint32_t>(number < 0 ? number + 65536 : number));
                skipChars = group.unicodeSkip;
            } else if (word == "par" || word == "line" || word == "sect" || word == "page") {
                flush();
                out += '\n';
            } else if (word == "tab") {
                flush();
                out += '\t';
            }
        }
    }
    flush();
    return out;
}

std::string glmlToHtml(const std::string& glml) {
    const QString source = QString::fromStdString(decodeText(glml)).toHtmlEscaped();
    QString html = source;
    static const std::pair<const char*, const char*> tags[] = {
        {R"(\[GLTITLE\])", "<h1>"},
        {R"(\[/GLTITLE\])", "</h1>"},
        {R"(\[GLSUBTITLE\])", "<h2>"},
        {R"(\[/GLSUBTITLE\])", "</h2>"},
        {R"(\[GLLANGUAGE\])", "<h3>"},
        {R"(\[/GLLANGUAGE\])", "</h3>"},
        {R"(\[GLWARNINGS?\])", "<p><b>"},
        {R"(\[/GLWARNINGS?\])", "</b></p>"},
        {R"(\[GLCENTER\])", "<p align=center>"},
        {R"(\[/GLCENTER\])", "</p>"},
        {R"(\[GLNL\])", "<br>"},
        {R"(\[/?GL[A-Z]*\])", ""}};
    for (const auto& [pattern, replacement] : tags) {
        html.replace(QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption),
                     replacement);
    }
    html.replace(QRegularExpression(R"(\r?\n\s*\r?\n)"), "<p>");
    html.replace(QRegularExpression(R"(\r?\n)"), " ");
    return html.toStdString();
}

std::string sanitizeHtml(const std::string& html) {
    QString page = QString::fromStdString(html);
    const QRegularExpression::PatternOptions flags =
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption;
    for (const char* pattern : {R"(<script\b.*?</script\s*>)", R"(<script\b[^>]*>)",
                                R"(<(object|embed|iframe)\b.*?>)", R"(@import[^;]*;)"}) {
        page.remove(QRegularExpression(pattern, flags));
    }
    return page.toStdString();
}

ReadmeText readmeFromBytes(const std::string& fileName, const std::string& bytes) {
    const std::string ext = text::lowerAscii(text::extractFileExt(fileName));
    if (ext == ".rtf") return {rtfToText(bytes), false};
    if (ext == ".glml") return {glmlToHtml(bytes), true};
    if (ext == ".html" || ext == ".htm") return {sanitizeHtml(decodeText(bytes)), true};
    return {decodeText(bytes), false};
}
