#pragma once
// The library's filter: the typed text as words that each must hold for a mission, and the
// keys the library sorts and groups by (title sort key, tags as typed).
//
// Words are separated by blanks; double quotes group blanks into one word, and a word that
// begins with a quote is taken literally (never as a key). Texts compare folded as
// foldForSearch folds them. A word is one of:
//   heist            the title, author, archive name or a tag contains it
//   tag:heist        some tag ("category:tag") contains it; "tag:" alone: has a tag
//   author:alice     the author contains it; "author:" alone: has an author
//   finished         finished (the finished box, or finished on some difficulty)
//   unfinished       not finished
//   finished:expert  finished on a difficulty whose name contains it
//   rating>=8        the rating (0..10) compares so (>=, >, <=, <, =, or ":" for =); a
//                    mission without a rating fails every comparison
//   game:2           the mission's game (a game row's own, else the game its mark shows)
//   played<30d       last started less than 30 days before today; played>30d is the
//                    exact opposite (never played passes it). Units d, w (7 days), m (30),
//                    y (365), none = days
//   added<7d         the same for the day the archive was first seen (0 = not known)
//   released>=2010   the release date compares so (operators as rating; 2010, 2010-06 or
//                    2010-06-15), as far as both dates are known: 2015-06-20 is neither
//                    before nor after 2015-06, and 2015 equals 2015-06; a mission without a
//                    release date fails every comparison
// A leading "-" negates a word. A word with an unknown key, or a known key with a value
// that does not read (rating>=x), is a plain word. A comparison or game word with nothing
// after its operator, and a lone "-", are being typed and hold for every mission.

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "game/Mission.h"

class LibraryFilter {
  public:
    // The typed text; one without a word keeps every row.
    void setText(const QString& typed);
    bool active() const { return !words_.empty(); }
    // Whether every word holds for `m` on day number `today` (days since 30 December 1899).
    bool matches(const Mission& m, int32_t today);

    // A word as setText reads it.
    enum class Key {
        Plain,
        Tag,
        Author,
        Finished,
        Unfinished,
        FinishedOn,
        Rating,
        Game,
        Played,
        Added,
        Released
    };
    enum class Op { Less, LessEqual, Equal, GreaterEqual, Greater };
    struct Word {
        Key key = Key::Plain;
        bool negated = false;
        Op op = Op::Equal;
        QString text;        // folded, for the text keys
        int64_t number = 0;  // rating, game, days, or date (releaseDateNumber)
    };
    // A word as it stands in the typed text.
    struct Typed {
        qsizetype at = 0, end = 0;  // where it stands, its "-" and quotes included
        Word word;                  // as setText reads it
        QString value;              // a key word's text after its ":" or operator, as typed
        bool typing = false;        // a key word without its value yet (setText skips it)
    };
    // The words of a typed text as setText reads them.
    static std::vector<Typed> read(const QString& typed);

  private:
    // What the words read of one mission, folded once and kept per record key while the
    // texts it was made from (its source) stay the same: one text of the title, author,
    // archive name, tags and difficulties finished on, a line each (a tag or difficulty each).
    struct Folded {
        std::string source;
        QString text;
        qsizetype authorAt = 0, authorEnd = 0, tagsAt = 0, tagsEnd = 0, finishedAt = 0;
        int32_t lastStartDay = 0;  // 0 = never played
        QStringView part(qsizetype at, qsizetype end) const {
            return QStringView(text).mid(at, end - at);
        }
    };
    const Folded& folded(const Mission& m);
    bool holds(const Word& w, const Mission& m, const Folded& f, int32_t today) const;

    std::vector<Word> words_;
    std::unordered_map<std::string, Folded> cache_;
};

// A release date as a number: year * 10000 + month * 100 + day, the parts not known 0
// ("2015-06" is 20150600); 0 for a text that is not "YYYY", "YYYY-MM" or "YYYY-MM-DD".
int64_t releaseDateNumber(std::string_view date);

// The key a title sorts by: folded, without leading quote marks and punctuation and without
// a leading article ("The", "A", "Der", "Die", "Das", "Le", "La", "Les", "El", or "L'"
// before a vowel) when more text follows it.
QString titleSortKey(const std::string& title);

// The tags of a text as typed ("genre:heist, author:Alice"): comma-separated, each trimmed
// around its category and tag; a tag without a category goes under "misc"; categories in
// lower case; a tag whose folded form repeats an earlier one, or with nothing after its
// category, is dropped.
std::vector<std::string> parseTags(const std::string& text);
// The tags as parseTags reads them back: joined with ", ".
std::string tagsText(const std::vector<std::string>& tags);
