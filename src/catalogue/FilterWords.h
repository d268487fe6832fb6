#pragma once
// The filter panel's choices as words of the filter field (catalogue/LibraryFilter.h), so
// that the field always shows what filters. The panel's words are the ones it can show:
//   tag:x  -tag:x                  a tag to include, to exclude
//   rating>=n  rating<=n  rating=n  the lowest and highest rating (=: both)
//   finished  unfinished  finished:x
//   game:n                         a game of the games table
//   released>=d  released<=d  released=d
//                                  the earliest and latest release (=: both), a year or a
//                                  year and month
// none of them negated but -tag:x. Every other word (plain words, other keys, other
// operators, a day in a date, words still being typed) is the typist's and stays as it is.
// Of two words for one choice (rating>=5 rating>=8) the last counts.

#include <string>
#include <vector>

struct Mission;

struct PanelChoice {
    std::vector<std::string> includeTags;  // "category:tag", every one present
    std::vector<std::string> excludeTags;  // none of them present
    int ratingFrom = -1;                   // 0..10 (half stars); -1 = any
    int ratingTo = -1;
    enum class Finished { Any, Unfinished, OnAny, On };
    Finished finished = Finished::Any;
    std::string difficulty;    // for On: a difficulty's name
    int game = 0;              // 0 = any
    std::string releasedFrom;  // "YYYY" or "YYYY-MM"; "" = any
    std::string releasedTo;

    bool operator==(const PanelChoice&) const = default;
};

// The typed text with its panel words replaced by those of `choice`: the other words as
// they were typed, in their order, then the panel's.
std::string withPanelWords(const std::string& typed, const PanelChoice& choice);
// The choice the panel words of a typed text make; the rest of the text is left.
PanelChoice panelChoiceOf(const std::string& typed);

// The tags the missions carry, each once (compared as the filter compares them), sorted
// without regard to case and accents; a tag holding a double quote cannot be written as a
// word and is left out.
std::vector<std::string> tagsInUse(const std::vector<const Mission*>& missions);
