#include "catalogue/ui/MissionGrid.h"

#include "catalogue/LibraryFilter.h"
#include "game/MissionRecords.h"

namespace {

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
}

}  // namespace

std::string missionCellText(const Mission& mission, MissionColumn column) {
    switch (column) {
        case MissionColumn::Game:
            return mission.gameRow ? std::to_string(mission.game) + "0" : mission.type + "1";
        case MissionColumn::Title:
            return mission.title;
        case MissionColumn::Name:
            return mission.name;
        case MissionColumn::Folder:
            return mission.dir;
        case MissionColumn::Size:
            return mission.sizeText;
        case MissionColumn::Finished:
            return mission.finished ? "F" : "";
        case MissionColumn::LastStart:
            return mission.lastStart;
        case MissionColumn::FinishedOn:
            return !mission.finishedOn.empty() ? joined(mission.finishedOn)
                   : mission.finished          ? "?"
                                               : "";
        case MissionColumn::Rating:
            return mission.rating >= 0 ? std::to_string(mission.rating) : "";
        case MissionColumn::Tags:
            return joined(mission.tags);
        case MissionColumn::Author:
            return mission.author;
        case MissionColumn::ReleaseDate:
            return mission.releaseDate;
        case MissionColumn::DateAdded:
            return mission.dateAdded > 0 ? std::to_string(mission.dateAdded) : "";
        case MissionColumn::PlayTime:
            return mission.playSeconds > 0 ? std::to_string(mission.playSeconds) : "";
        case MissionColumn::Format:
            return mission.gameRow || mission.format.empty() ? "" : mission.format.substr(1);
        case MissionColumn::Count:
            break;
    }
    return std::string();
}

std::string missionColumnFlags(const std::string& stored) {
    constexpr int kFirstLibraryColumn = columnOf(MissionColumn::FinishedOn);
    std::string flags = stored.substr(0, columnOf(MissionColumn::Count));
    for (int c = static_cast<int>(flags.size()); c < columnOf(MissionColumn::Count); ++c)
        flags += c < kFirstLibraryColumn ? '1' : '0';
    return flags;
}

std::string missionSortText(int col, const std::string& cell) {
    return col == columnOf(MissionColumn::Title) ? titleSortKey(cell).toStdString() : cell;
}

TMissionGrid::TMissionGrid(QWidget* parent) : TStringGridEx(parent) {
    SetColCount(columnOf(MissionColumn::Count));
    SortText = missionSortText;
}

void TMissionGrid::BeginMissions() {
    missions_.clear();
    // The last row is the working row, empty until a mission fills it.
    SetRowCount(2);
    SetRowCells(1, {});
    SetRowTag(1, 0);
    listing_ = true;
}

int TMissionGrid::AppendMission(Mission mission) {
    if (!listing_) BeginMissions();
    const int row = RowCount() - 1;
    missions_.push_back(std::move(mission));
    SetRowTag(row, missions_.size());
    showRow(row);
    SetRowCount(RowCount() + 1);
    SetRowCells(RowCount() - 1, {});
    return row;
}

void TMissionGrid::EndMissions() {
    if (listing_) SetRowCount(RowCount() - 1);
    listing_ = false;
}

const Mission* TMissionGrid::MissionAt(int row) const {
    if (row < 1 || row >= RowCount()) return nullptr;
    const size_t tag = RowTag(row);
    return tag >= 1 && tag <= missions_.size() ? &missions_[tag - 1] : nullptr;
}

void TMissionGrid::SetMission(int row, Mission mission) {
    if (MissionAt(row) == nullptr) return;
    missions_[RowTag(row) - 1] = std::move(mission);
    showRow(row);
}

bool TMissionGrid::ReloadMission(int row, const MissionStore& store) {
    const Mission* listed = MissionAt(row);
    if (listed == nullptr) return false;
    Mission mission = *listed;
    store.load(mission);
    const bool retitled = mission.title != listed->title;
    SetMission(row, std::move(mission));
    return retitled;
}

int TMissionGrid::FindMission(const std::function<bool(const Mission&)>& match) const {
    for (int row = 1; row < RowCount(); ++row) {
        const Mission* mission = MissionAt(row);
        if (mission && match(*mission)) return row;
    }
    return 0;
}

int TMissionGrid::MissionCount() const {
    int count = 0;
    for (int row = 1; row < RowCount(); ++row) {
        const Mission* mission = MissionAt(row);
        count += mission && !mission->gameRow ? 1 : 0;
    }
    return count;
}

void TMissionGrid::SetColumnTitles(const std::vector<std::string>& titles) {
    for (size_t c = 0; c < titles.size(); ++c) SetCell(static_cast<int>(c), 0, titles[c]);
}

void TMissionGrid::showRow(int row) {
    const Mission& mission = *MissionAt(row);
    std::vector<std::string> cells;
    cells.reserve(static_cast<size_t>(MissionColumn::Count));
    for (int c = 0; c < columnOf(MissionColumn::Count); ++c)
        cells.push_back(missionCellText(mission, static_cast<MissionColumn>(c)));
    SetRowCells(row, std::move(cells));
    SetRowMarked(row, mission.inFolder);
    SetRowBold(row, mission.held);
}
