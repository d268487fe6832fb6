#include "catalogue/FilterWords.h"

#include <QStringList>
#include <algorithm>
#include <map>

#include "catalogue/LibraryFilter.h"
#include "catalogue/RowFilter.h"
#include "game/Games.h"
#include "game/Mission.h"
#include "platform/TextUtil.h"

namespace {

using Key = LibraryFilter::Key;
using Op = LibraryFilter::Op;
using Finished = PanelChoice::Finished;

// A release date number as the panel shows it, "YYYY" or "YYYY-MM"; "" for one with a day.
std::string panelDate(int64_t date) {
    if (date % 100 != 0) return {};
    std::string text = std::to_string(date / 10000);
    text.insert(0, 4 - std::min<size_t>(4, text.size()), '0');
    if (const int64_t month = date / 100 % 100; month != 0)
        text += (month < 10 ? "-0" : "-") + std::to_string(month);
    return text;
}

// Sets the lower and upper end of a range from a word's operator; false for one it has no
// end for (<, >).
template <typename T>
bool takeRange(Op op, const T& value, T& from, T& to) {
    if (op != Op::GreaterEqual && op != Op::LessEqual && op != Op::Equal) return false;
    if (op != Op::LessEqual) from = value;
    if (op != Op::GreaterEqual) to = value;
    return true;
}

// Takes a word into `choice` when it is one of the panel's words.
bool takeWord(const LibraryFilter::Typed& typed, PanelChoice& choice) {
    const LibraryFilter::Word& w = typed.word;
    if (typed.typing) return false;
    if (w.key == Key::Tag) {
        if (typed.value.isEmpty()) return false;
        (w.negated ? choice.excludeTags : choice.includeTags)
            .push_back(text::fromDisplay(typed.value));
        return true;
    }
    if (w.negated) return false;
    switch (w.key) {
        case Key::Rating: {
            if (w.number > 10) return false;
            const int rating = static_cast<int>(w.number);
            return takeRange(w.op, rating, choice.ratingFrom, choice.ratingTo);
        }
        case Key::Unfinished:
        case Key::Finished:
        case Key::FinishedOn:
            choice.finished = w.key == Key::Unfinished ? Finished::Unfinished
                              : typed.value.isEmpty()  ? Finished::OnAny
                                                       : Finished::On;
            choice.difficulty = text::fromDisplay(typed.value);
            return true;
        case Key::Game:
            if (!games::known(static_cast<int>(w.number))) return false;
            choice.game = static_cast<int>(w.number);
            return true;
        case Key::Released: {
            const std::string date = panelDate(w.number);
            return !date.empty() && takeRange(w.op, date, choice.releasedFrom, choice.releasedTo);
        }
        default:
            return false;
    }
}

// A key and its value as one word, the value in quotes when it holds a blank.
QString word(const char* key, const std::string& value) {
    const QString shown = text::display(value);
    QString out = QLatin1String(key);
    if (std::any_of(shown.begin(), shown.end(), [](QChar c) { return c.isSpace(); }))
        out += QChar(u'"') + shown + QChar(u'"');
    else
        out += shown;
    return out;
}

bool writable(const std::string& value) {
    return !value.empty() && value.find('"') == std::string::npos;
}

void appendPanelWords(QStringList& words, const PanelChoice& choice) {
    for (const auto& [key, tags] :
         {std::pair{"tag:", &choice.includeTags}, std::pair{"-tag:", &choice.excludeTags}}) {
        for (const std::string& tag : *tags)
            if (writable(tag)) words << word(key, tag);
    }
    if (choice.ratingFrom >= 0) words << word("rating>=", std::to_string(choice.ratingFrom));
    if (choice.ratingTo >= 0) words << word("rating<=", std::to_string(choice.ratingTo));
    if (choice.finished == Finished::Unfinished) words << QStringLiteral("unfinished");
    if (choice.finished == Finished::OnAny ||
        (choice.finished == Finished::On && !writable(choice.difficulty)))
        words << QStringLiteral("finished");
    if (choice.finished == Finished::On && writable(choice.difficulty))
        words << word("finished:", choice.difficulty);
    if (choice.game > 0) words << word("game:", std::to_string(choice.game));
    for (const auto& [key, date] : {std::pair{"released>=", &choice.releasedFrom},
                                    std::pair{"released<=", &choice.releasedTo}}) {
        const int64_t number = releaseDateNumber(*date);
        if (number != 0 && !panelDate(number).empty()) words << word(key, *date);
    }
}

}  // namespace

std::string withPanelWords(const std::string& typed, const PanelChoice& choice) {
    const QString text = text::display(typed);
    QStringList words;
    PanelChoice replaced;
    for (const LibraryFilter::Typed& t : LibraryFilter::read(text)) {
        if (takeWord(t, replaced)) continue;
        QString typedWord = text.mid(t.at, t.end - t.at);
        // A quote left open would take in the words after it.
        if (typedWord.count(u'"') % 2 != 0) typedWord += u'"';
        words << typedWord;
    }
    appendPanelWords(words, choice);
    return text::fromDisplay(words.join(u' '));
}

PanelChoice panelChoiceOf(const std::string& typed) {
    PanelChoice choice;
    for (const LibraryFilter::Typed& t : LibraryFilter::read(text::display(typed)))
        takeWord(t, choice);
    return choice;
}

std::vector<std::string> tagsInUse(const std::vector<const Mission*>& missions) {
    std::map<QString, std::string> byFolded;
    for (const Mission* mission : missions) {
        for (const std::string& tag : mission->tags)
            if (writable(tag)) byFolded.emplace(foldForSearch(tag), tag);
    }
    std::vector<std::string> tags;
    tags.reserve(byFolded.size());
    for (auto& [folded, tag] : byFolded) tags.push_back(std::move(tag));
    return tags;
}
