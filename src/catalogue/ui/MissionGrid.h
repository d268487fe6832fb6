#pragma once
// TMissionGrid: the catalogue's grid. Each data row shows one Mission (game/Mission.h): the
// grid keeps the entries and writes their texts into its cells, one column a field
// (MissionColumn); nothing else reads or writes the cells. Rows are sorted by the texts they
// show; an entry stays with its row.

#include <functional>
#include <string>
#include <vector>

#include "catalogue/ui/StringGridEx.h"
#include "game/Mission.h"

class MissionStore;

// The columns, in their order on screen. The library's columns come after the first seven
// and are hidden until the player shows them (missionColumnFlags).
enum class MissionColumn {
    Game,
    Title,
    Name,
    Folder,
    Size,
    Finished,
    LastStart,
    FinishedOn,
    Rating,
    Tags,
    Author,
    ReleaseDate,
    DateAdded,
    PlayTime,
    Format,
    Count
};

inline constexpr int columnOf(MissionColumn c) {
    return static_cast<int>(c);
}

// The text a column holds for `mission`: the game mark's code (a game row's game and "0",
// a mission's stored type and "1"), the title, the name, the folder, the size in bytes,
// "F" when finished, the day number of the last start; the difficulties finished on (or
// "?" when finished on none named), the rating 0..10, the tags, the author, the release
// date, the day number the archive was added, the seconds played (each empty when not
// known), the archive's extension. Numbers stay numbers, so that their columns sort as such.
std::string missionCellText(const Mission& mission, MissionColumn column);

// The column flags to apply ("1" shown, "0" hidden per column): the stored ones, and for a
// column they do not cover yet its default (the library's columns hidden).
std::string missionColumnFlags(const std::string& stored);

// The key a column's text sorts by: a title without its leading article ("The", "Der",
// "La", ...); other columns by their text.
std::string missionSortText(int col, const std::string& cell);

class TMissionGrid : public TStringGridEx {
    Q_OBJECT
  public:
    explicit TMissionGrid(QWidget* parent = nullptr);

    // A listing in steps: Begin empties the grid, Append adds a row at the end (the rows
    // shown so far stay on screen meanwhile), End closes the listing.
    void BeginMissions();
    // Returns the row the mission got.
    int AppendMission(Mission mission);
    void EndMissions();

    // The mission of a data row; nullptr for the title row and rows out of range.
    const Mission* MissionAt(int row) const;
    // The selected row's mission, nullptr when none.
    const Mission* SelectedMission() const { return MissionAt(Row()); }
    // Replaces the mission of `row` and shows it.
    void SetMission(int row, Mission mission);
    // Reads the record of `row`'s mission again and shows it; true when its title changed.
    bool ReloadMission(int row, const MissionStore& store);
    // The first data row whose mission `match` accepts; 0 when none.
    int FindMission(const std::function<bool(const Mission&)>& match) const;
    // Number of data rows that are missions (game rows left out).
    int MissionCount() const;

    // The column titles, in column order.
    void SetColumnTitles(const std::vector<std::string>& titles);

  private:
    void showRow(int row);

    std::vector<Mission> missions_;  // by row tag - 1
    bool listing_ = false;
};
