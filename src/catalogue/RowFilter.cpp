#include "catalogue/RowFilter.h"

#include "game/Games.h"
#include "platform/TextUtil.h"

namespace {

// Letters that carry their stroke or ligature in themselves, so that no decomposition
// takes it off, written as a player types them without it.
QString withoutStroke(QChar c) {
    static const std::pair<char16_t, const char*> letters[] = {
        {u'Ł', "L"},  {u'ł', "l"},  {u'Ø', "O"},  {u'ø', "o"},  {u'Đ', "D"},  {u'đ', "d"},
        {u'Ħ', "H"},  {u'ħ', "h"},  {u'ı', "i"},  {u'Æ', "AE"}, {u'æ', "ae"}, {u'Œ', "OE"},
        {u'œ', "oe"}, {u'ß', "ss"}, {u'Þ', "Th"}, {u'þ', "th"}};
    for (const auto& [letter, plain] : letters) {
        if (c == QChar(letter)) return QString::fromLatin1(plain);
    }
    return QString(c);
}

QString foldQString(const QString& s) {
    const QString decomposed = s.normalized(QString::NormalizationForm_KD);
    QString out;
    out.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        const QChar::Category category = c.category();
        if (category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
            category == QChar::Mark_Enclosing)
            continue;
        if (c.unicode() < 0xC0)
            out += c;
        else
            out += withoutStroke(c);
    }
    return out.toCaseFolded();
}

}  // namespace

QString foldForSearch(std::string_view s) {
    return foldQString(text::display(s));
}

void RowFilter::setText(const QString& typed) {
    needle_ = foldQString(typed.trimmed());
}

bool RowFilter::matches(const std::string& title, const std::string& archive) {
    if (needle_.isEmpty()) return true;
    return folded(title).contains(needle_) || folded(archive).contains(needle_);
}

const QString& RowFilter::folded(const std::string& s) {
    auto found = cache_.find(s);
    if (found == cache_.end()) found = cache_.emplace(s, foldForSearch(s)).first;
    return found->second;
}
