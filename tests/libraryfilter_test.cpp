#include <gtest/gtest.h>

#include "catalogue/FilterWords.h"
#include "catalogue/LibraryFilter.h"

namespace {

constexpr int32_t kToday = 45000;

Mission mission(const std::string& title, const std::string& author, std::vector<std::string> tags,
                int rating, const std::string& type) {
    Mission m = missionOfArchive("/m/", title.substr(0, 4) + ".zip", ".zip", 1000, false);
    m.title = title;
    m.author = author;
    m.tags = std::move(tags);
    m.rating = rating;
    m.type = type;
    return m;
}

// Missions A..F (D System Shock 2's) and the games' own rows G (Thief 1) and H (Thief 2).
std::vector<Mission> library() {
    std::vector<Mission> l;
    l.push_back(mission("Lost City", "Alice Smith", {"genre:heist", "setting:city"}, 8, "2"));
    l.back().finished = true;
    l.back().finishedOn = {"Expert"};
    l.back().lastStart = std::to_string(kToday - 10);
    l.back().dateAdded = kToday - 100;
    l.back().releaseDate = "2004-06-01";
    l.push_back(mission("The Café Vault", "Bob", {"genre:horror"}, 4, "1"));
    l.back().dateAdded = kToday - 3;
    l.back().releaseDate = "2010";
    l.push_back(mission("Shadow Keep", "Élise", {"genre:heist", "misc:short"}, 10, "2"));
    l.back().finishedOn = {"Normal"};
    l.back().lastStart = std::to_string(kToday - 40) + ".5";
    l.back().releaseDate = "2015-06-20";
    l.push_back(mission("Ink Tower", "", {}, -1, "3"));  // System Shock 2
    l.back().lastStart = std::to_string(kToday);
    l.push_back(mission("Dark Heist Party", "Carol", {"genre:mystery"}, 8, "1"));
    l.back().releaseDate = "2015-06";
    l.push_back(mission("Alchemist's Den", "Alan", {"genre:heist"}, 9, "2"));
    l.back().releaseDate = "2015";
    l.push_back(missionOfGame(1));
    l.push_back(missionOfGame(2));
    return l;
}

std::string matching(LibraryFilter& filter, const std::vector<Mission>& l) {
    std::string out;
    for (size_t i = 0; i < l.size(); ++i) {
        if (filter.matches(l[i], kToday)) out += static_cast<char>('A' + i);
    }
    return out;
}

}  // namespace

TEST(LibraryFilter, WordsSelectMissions) {
    const struct {
        const char* typed;
        const char* expected;
    } cases[] = {
        {"", "ABCDEFGH"},
        {"  -  ", "ABCDEFGH"},
        {"heist", "ACEF"},
        {"HÉIST", "ACEF"},
        {"-heist", "BDGH"},
        {"city heist", "A"},
        {"\"city heist\"", ""},
        {"\"heist party\"", "E"},
        {"alan", "F"},
        {"cafe", "B"},
        {"original", "GH"},
        {"tag:heist", "ACF"},
        {"Tag:Genre:Heist", "ACF"},
        {"tag:\"genre:heist\"", "ACF"},
        {"-tag:horror", "ACDEFGH"},
        {"tag:", "ABCEF"},
        {"-tag:", "DGH"},
        {"\"tag:heist\"", ""},
        {"genre:mystery", "E"},
        {"foo:bar", ""},
        {"rating>=8", "ACEF"},
        {"rating>8", "CF"},
        {"rating<5", "B"},
        {"rating<=4", "B"},
        {"rating=10", "C"},
        {"rating:4", "B"},
        {"-rating>=8", "BDGH"},
        {"rating>=", "ABCDEFGH"},
        {"rating>=x", ""},
        {"finished", "AC"},
        {"unfinished", "BDEFGH"},
        {"-finished", "BDEFGH"},
        {"finished:expert", "A"},
        {"finished:norm", "C"},
        {"finished:", "AC"},
        {"author:al", "AF"},
        {"author:elise", "C"},
        {"-author:", "DGH"},
        {"game:1", "BEG"},
        {"game:2", "ACFH"},
        {"game:3", "D"},
        {"game:", "ABCDEFGH"},
        {"played<30d", "AD"},
        {"played<6w", "ACD"},
        {"played<1d", "D"},
        {"played>30d", "BCEFGH"},
        {"played>1m", "BCEFGH"},
        {"played<1y", "ACD"},
        {"played<10", "D"},
        {"played<11", "AD"},
        {"played<3x", ""},
        {"added<7d", "B"},
        {"added>7d", "ACDEFGH"},
        {"released>=2010", "BCEF"},
        {"released<2010", "A"},
        {"released<2015-06", "AB"},
        {"released<=2015-06", "ABCEF"},
        {"released>2015-06-01", "C"},
        {"released=2015", "CEF"},
        {"released:2015-06", "CEF"},
        {"-released>=2010", "ADGH"},
        {"released>=", "ABCDEFGH"},
        {"released>=20x", ""},
        {"released<2015-13", ""},
        {"tag:heist rating>=8 unfinished author:al", "F"},
        {"tag:heist rating>=8 unfinished author:", "F"},
    };
    const std::vector<Mission> l = library();
    LibraryFilter filter;
    for (const auto& c : cases) {
        filter.setText(QString::fromUtf8(c.typed));
        EXPECT_EQ(matching(filter, l), c.expected) << c.typed;
        // A text whose words are all still being typed keeps every row.
        EXPECT_EQ(filter.active(), std::string(c.expected) != "ABCDEFGH") << c.typed;
    }
    // A mission whose texts change is folded again.
    std::vector<Mission> changed = l;
    changed[3].tags = {"genre:heist"};
    filter.setText("tag:heist");
    EXPECT_EQ(matching(filter, changed), "ACDF");
}

// The panel's choice written as words in place of the panel's words of the typed text, the
// typist's other words kept; the words read back give the same choice.
TEST(LibraryFilter, PanelWordsRoundTrip) {
    using F = PanelChoice::Finished;
    const struct {
        const char* typed;
        PanelChoice read;  // of the typed text
        PanelChoice choice;
        const char* written;
    } cases[] = {
        {"heist", {}, {}, "heist"},
        {"heist \"open quote", {}, {.game = 1}, "heist \"open quote\" game:1"},
        {"heist  -foo",
         {},
         {{"genre:heist"}, {"misc:long mission"}, 7, 10, F::On, "Expert", 2, "2010", "2015-06"},
         "heist -foo tag:genre:heist -tag:\"misc:long mission\" rating>=7 rating<=10 "
         "finished:Expert game:2 released>=2010 released<=2015-06"},
        {"tag:Old rating>=3 \"tag:lit\" rating>4 -game:1 played<30d released>=2010-05-01 "
         "unfinished game:9 rating<=",
         {.includeTags = {"Old"}, .ratingFrom = 3, .finished = F::Unfinished},
         {.excludeTags = {"genre:horror"}, .finished = F::OnAny},
         "\"tag:lit\" rating>4 -game:1 played<30d released>=2010-05-01 game:9 rating<= "
         "-tag:genre:horror finished"},
        {"Rating=8 FINISHED:hard released=2015-06 rating>=2 tag:\"Genre:Long Heist\" game:1",
         {{"Genre:Long Heist"}, {}, 2, 8, F::On, "hard", 1, "2015-06", "2015-06"},
         {.ratingTo = 0, .finished = F::Unfinished, .releasedFrom = "1999"},
         "rating<=0 unfinished released>=1999"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(panelChoiceOf(c.typed), c.read) << c.typed;
        const std::string written = withPanelWords(c.typed, c.choice);
        EXPECT_EQ(written, c.written) << c.typed;
        EXPECT_EQ(panelChoiceOf(written), c.choice) << c.typed;
        EXPECT_EQ(withPanelWords(written, panelChoiceOf(written)), written) << c.typed;
    }
}

TEST(LibraryFilter, TitleSortKey) {
    const struct {
        const char* title;
        const char* key;
    } cases[] = {
        {"The Keep", "keep"},
        {"  the   Keep ", "keep"},
        {"A Night Out", "night out"},
        {"A", "a"},
        {"The", "the"},
        {"The ...", "the ..."},
        {"Theatre", "theatre"},
        {"A-Team", "a-team"},
        {"\"The Keep\"", "keep\""},
        {"'Twas Night", "twas night"},
        {"...And Then", "and then"},
        {"« Le Château »", "chateau »"},
        {"Les Misérables", "miserables"},
        {"La Cité", "cite"},
        {"El Dorado", "dorado"},
        {"Der Turm", "turm"},
        {"Die Burg", "burg"},
        {"Das Boot", "boot"},
        {"L'Auberge", "auberge"},
        {"L’Été", "ete"},
        {"L'Hôtel", "l'hotel"},
        {"The \"Quoted\" Keep", "quoted\" keep"},
        {"Ánother Day", "another day"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(titleSortKey(c.title), QString::fromUtf8(c.key)) << c.title;
}

TEST(LibraryFilter, TagsRoundTrip) {
    using Tags = std::vector<std::string>;
    const struct {
        const char* text;
        Tags tags;
    } cases[] = {
        {"genre:heist, author:Alice", {"genre:heist", "author:Alice"}},
        {" Genre : Heist ,short", {"genre:Heist", "misc:short"}},
        {"genre:heist, GENRE:HÉIST, genre:heist", {"genre:heist"}},
        {",, :x, y:, ", {"misc:x"}},
        {"short, misc:Short", {"misc:short"}},
        {"a:b:c", {"a:b:c"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseTags(c.text), c.tags) << c.text;
        EXPECT_EQ(parseTags(tagsText(c.tags)), c.tags) << c.text;
    }
    EXPECT_EQ(tagsText({"genre:heist", "author:Alice"}), "genre:heist, author:Alice");
}
