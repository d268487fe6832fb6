#include "catalogue/ui/CatalogueScan.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "archive/MissionArchive.h"
#include "catalogue/ui/MissionGrid.h"
#include "catalogue/ui/QuestGridDraw.h"
#include "game/GameDir.h"
#include "game/GameState.h"
#include "game/Games.h"
#include "game/InstallState.h"
#include "game/MissionFolders.h"
#include "game/MissionRecords.h"
#include "game/TypeDetection.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Prompter.h"
#include "platform/Settings.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

unsigned g_fullScans = 0;

// Column titles, by column (the finished box's caption without its key).
constexpr int kTitleSlots[columnOf(MissionColumn::Count)] = {
    78, 75, 77, 79, 76, 14, 80, libraryslot::kFinishedOn, 218, 219, 220, 221, 222, 223, 224};

// The first row whose mission's `field`, passed through `form`, equals `value` without
// regard to case; 0 when there is none.
int findRow(const TMissionGrid& grid, std::string Mission::*field, const std::string& value,
            std::string (*form)(const std::string&) = nullptr) {
    return grid.FindMission([&](const Mission& mission) {
        const std::string& text = mission.*field;
        return text::equalsNoCase(form ? form(text) : text, value);
    });
}

// The record keys of the missions installed in mission folders: one listing of the mission
// path of each configured game that uses them, whatever the number of rows.
std::set<std::string> folderInstalledKeys(const IniFile& settings, GameRecords& records) {
    std::set<std::string> keys;
    for (const games::Game& game : games::all()) {
        const std::string& gameDir = records[game.number].gameDir;
        if (gameDir.empty() || !missionfolders::enabled(&settings, game.number, gameDir)) continue;
        for (std::string& key : missionfolders::installedRecords(settings, game.number, gameDir))
            keys.insert(std::move(key));
    }
    return keys;
}

// True when `mission` is what game `number` holds in its game directory, as its finished
// marker says: its own row for the original game, else the mission of the archive's folder
// and name whose size is the marker's identity (or, for a marker of an earlier version,
// whose checksum is; an archive that cannot be read then is none).
bool holds(int number, const GameRecord& game, const Mission& mission) {
    if (game.gameDir.empty() || game.installedCheck == kUnfinished) return false;
    if (game.installed == " Original") return mission.gameRow && mission.game == number;
    if (mission.gameRow) return false;
    const std::string name = text::extractFileName(game.installed);
    const std::string folder = game.installed.substr(0, game.installed.size() - name.size());
    if (!folder.empty() && !text::equalsNoCase(text::withTrailingDelim(folder), mission.dir))
        return false;
    const std::string stem = name.substr(0, name.size() - missionArchiveExtension(name).size());
    if (mission.name != name && mission.name != stem) return false;
    if (game.installedCheck == mission.sizeText) return true;
    if (game.installedCheck.empty() || game.installedCheck[0] != '$') return false;
    try {
        return ArchiveChecksum()(mission.archivePath) == game.installedCheck;
    } catch (...) {
        return false;
    }
}

// Marks the missions installed in their mission folders, and only those (a set look-up
// a row); what the game directories hold is bold.
void markInstalledRows(TMissionGrid& grid, const IniFile& settings, GameRecords& records) {
    const std::set<std::string> installed = folderInstalledKeys(settings, records);
    for (int r = 1; r < grid.RowCount(); ++r) {
        const Mission* listed = grid.MissionAt(r);
        if (listed == nullptr) continue;
        Mission mission = *listed;
        mission.inFolder = !mission.gameRow && installed.count(mission.recordKey) != 0;
        mission.held = false;
        for (const games::Game& game : games::all())
            mission.held = mission.held || holds(game.number, records[game.number], mission);
        if (mission.inFolder != listed->inFolder || mission.held != listed->held)
            grid.SetMission(r, std::move(mission));
    }
}

// A mission archive file of a mission directory.
struct ArchiveFile {
    std::string dir;  // with trailing separator
    fsx::DirEntry entry;
    std::string ext;    // ".zip", ".7z", ".rar"
    std::string key;    // the record key its name without extension would give, lower case
    size_t format = 0;  // the extension's place in missionArchiveExtensions()
};

// The mission archive files of every existing mission directory, in the listings' order;
// later volumes of RAR sets are read through their first volume and left out.
std::vector<ArchiveFile> missionArchiveFiles(const IniFile& settings) {
    std::vector<ArchiveFile> files;
    const std::vector<std::string>& extensions = missionArchiveExtensions();
    for (const std::string& key : settings::missionDirectories(settings)) {
        if (!fsx::directoryExists(key)) continue;
        const std::string dir = text::withTrailingDelim(key);
        for (const fsx::DirEntry& entry : fsx::listDirectory(dir, "*")) {
            if (entry.isDirectory) continue;
            ArchiveFile file{dir, entry, missionArchiveExtension(entry.name), "", 0};
            if (file.ext.empty() || (file.ext == ".rar" && isLaterVolume(dir, entry.name)))
                continue;
            file.format = static_cast<size_t>(
                std::find(extensions.begin(), extensions.end(), file.ext) - extensions.begin());
            const std::string stem = entry.name.substr(0, entry.name.size() - file.ext.size());
            file.key =
                text::lowerAscii(recordKeyOf(stem, std::to_string(entry.size))) + "/" + file.ext;
            files.push_back(std::move(file));
        }
    }
    return files;
}

std::string g_scannedArchives;

std::string signatureOf(const std::vector<ArchiveFile>& files) {
    std::string text;
    for (const ArchiveFile& f : files)
        text += f.dir + '\n' + f.entry.name + '\n' + std::to_string(f.entry.size) + '\n';
    return text;
}

// Archives of the same name and size in two formats (Foo.7z and Foo.rar) would share one
// record: the one of the first format (.zip, .7z, .rar) keeps the name without extension,
// the others are named with theirs. Returns their keys.
std::set<std::string> namedWithExtension(const std::vector<ArchiveFile>& files) {
    std::map<std::string, size_t> firstFormat;  // record key -> first format seen
    for (const ArchiveFile& file : files) {
        const std::string shared = file.key.substr(0, file.key.rfind('/'));
        auto [it, added] = firstFormat.emplace(shared, file.format);
        if (!added) it->second = std::min(it->second, file.format);
    }
    std::set<std::string> named;
    for (const ArchiveFile& file : files) {
        if (firstFormat[file.key.substr(0, file.key.rfind('/'))] != file.format)
            named.insert(file.key);
    }
    return named;
}

// The mission test under the archive's own record `key`, for an archive named with its
// extension: a record with a type is a mission; otherwise the archive is one when it
// cannot be read (its panel says why) or lists a mission file, which gives its record a
// type of 0.
bool isMissionUnder(IniFile& settings, const std::string& key, const std::string& path) {
    MissionStore store(settings);
    if (store.type(key, -1) != -1) return true;
    std::unique_ptr<MissionArchive> archive = openMissionArchive(path);
    const ArchiveStatus status = archive->status();
    if (status == ArchiveStatus::NotFound || status == ArchiveStatus::NotArchive) return false;
    if (status == ArchiveStatus::Ok) {
        const auto& members = archive->members();
        if (std::none_of(members.begin(), members.end(), [](const ArchiveMember& m) {
                return text::lowerAscii(m.name).find(".mis") != std::string::npos;
            }))
            return false;
        store.setType(key, FoundMissionType(members));
    }
    return true;
}

// The records of archives no longer listed, by the name their key begins with (lower case):
// where a newer version of an archive finds the library of the one it replaced. Built at
// the first question, from every record of the settings.
class EarlierVersions {
  public:
    EarlierVersions(const IniFile& settings, const std::vector<ArchiveFile>& listed)
        : settings_(settings) {
        for (const ArchiveFile& file : listed) {
            const std::string size = std::to_string(file.entry.size);
            const std::string stem =
                file.entry.name.substr(0, file.entry.name.size() - file.ext.size());
            listed_.insert(text::lowerAscii(recordKeyOf(stem, size)));
            listed_.insert(text::lowerAscii(recordKeyOf(file.entry.name, size)));
        }
    }

    // The record of an archive of `mission`'s name and another size, no longer listed, that
    // holds a library; the one started last when there are several. Empty when none.
    std::string of(const Mission& mission, const MissionStore& store) {
        if (!indexed_) index();
        const auto found = byName_.find(text::lowerAscii(text::removeChars(mission.name, "]")));
        if (found == byName_.end()) return {};
        std::string best;
        int32_t bestStart = -1;
        for (const std::string& key : found->second) {
            if (listed_.count(text::lowerAscii(key)) != 0 || !store.holdsLibrary(key)) continue;
            const int32_t started = store.lastStartDay(key);
            if (started > bestStart) {
                best = key;
                bestStart = started;
            }
        }
        return best;
    }

  private:
    void index() {
        indexed_ = true;
        for (const std::string& section : settings_.Sections()) {
            const size_t dot = section.rfind('.');
            if (dot == std::string::npos || dot + 1 == section.size() ||
                section.find_first_not_of("0123456789", dot + 1) != std::string::npos)
                continue;
            byName_[text::lowerAscii(section.substr(0, dot))].push_back(section);
        }
    }

    const IniFile& settings_;
    std::set<std::string> listed_;
    std::map<std::string, std::vector<std::string>> byName_;
    bool indexed_ = false;
};

// The scan's busy cursor and its one store of the settings, both let go while the setup
// dialog runs.
struct ScanState {
    IniFile& settings;
    std::optional<BusyCursor> busy;
    std::optional<IniBatch> batch;

    explicit ScanState(IniFile& store) : settings(store) { hold(); }
    void hold() {
        busy.emplace();
        batch.emplace(settings);
    }
    void commit() {
        if (batch) batch->Commit();
        batch.reset();
    }
    void release() {
        commit();
        busy.reset();
    }
};

// One row per configured game, with its language and installed state; the setup dialog
// when a game directory has no "install.cfg". False when that dialog ran a full scan of its
// own: this scan's rows would come twice. `lastGameRow` gets the text of the last game row.
bool addGameRows(const ScanEnv& env, ScanState& state, unsigned myScan, std::string& lastGameRow) {
    std::string bar = slot(16);
    if (env.setCurrentBar) env.setCurrentBar(bar);
    for (const games::Game& known : games::all()) {
        GameRecord& game = (*env.games)[known.number];
        if (game.gameDir.empty()) continue;
        Mission own = missionOfGame(known.number);
        MissionStore(state.settings).load(own);
        lastGameRow = own.name;
        env.grid->AppendMission(std::move(own));

        if (fsx::fileExists(gamedir::path(game.gameDir, gamedir::kInstallCfg))) {
            ReadGameLanguage(game);
        } else {
            state.release();
            if (env.runSetupDialog) env.runSetupDialog();
            if (g_fullScans != myScan) return false;
            state.hold();
        }
        ReadInstalledState(game);
        bar += CurrentBarPart(known.number, game, &state.settings);
        if (env.setCurrentBar) env.setCurrentBar(bar);
    }
    return true;
}

// One row per mission archive of every mission directory, in the listing's order. Returns
// the rows whose record holds no title yet; `firstSeen` gets those seen for the first time.
std::vector<TitleRead> addMissionRows(const ScanEnv& env, IniFile& settings,
                                      std::vector<TitleRead>& firstSeen) {
    std::vector<TitleRead> untitled;
    const std::vector<ArchiveFile> archives = missionArchiveFiles(settings);
    g_scannedArchives = signatureOf(archives);
    const std::set<std::string> ownNames = namedWithExtension(archives);
    MissionStore store(settings);
    EarlierVersions earlier(settings, archives);
    std::vector<std::string> added;
    for (const ArchiveFile& file : archives) {
        const fsx::DirEntry& entry = file.entry;
        // Named with its extension when it shares name and size with an archive of another
        // format, so that its record is its own.
        const bool ownName = ownNames.count(file.key) != 0;
        Mission mission = missionOfArchive(file.dir, entry.name, file.ext,
                                           static_cast<int64_t>(entry.size), ownName);
        if (ownName ? !isMissionUnder(settings, mission.recordKey, mission.archivePath)
                    : !IsMissionArchive(settings, file.dir, entry.name))
            continue;
        store.load(mission);
        const bool titled = store.hasTitle(mission.recordKey);
        const bool seen = mission.dateAdded != 0;
        // A newer version of an archive carries on the library of the one it replaced.
        if (!seen && !holdsLibrary(mission))
            if (const std::string from = earlier.of(mission, store); !from.empty())
                store.carryLibrary(mission, from);
        // Its day added is written after the listing: writes between reads cost the store
        // a merge each.
        if (mission.dateAdded == 0 && env.today > 0) {
            mission.dateAdded = env.today;
            added.push_back(mission.recordKey);
        }
        const std::string key = mission.recordKey;
        const int row = env.grid->AppendMission(std::move(mission));
        if (!titled) untitled.push_back({key, file.dir + entry.name, row});
        if (!seen) firstSeen.push_back({key, file.dir + entry.name, row});
    }
    for (const std::string& key : added) store.setDateAdded(key, env.today);
    return untitled;
}

// The headings, column widths and flags, the sort and the caption.
void finishGrid(const ScanEnv& env, IniFile& settings) {
    TMissionGrid& grid = *env.grid;
    grid.EndMissions();
    std::vector<std::string> titles;
    for (const int titleSlot : kTitleSlots) titles.push_back(text::withoutKeyMark(slot(titleSlot)));
    grid.SetColumnTitles(titles);
    grid.SortMenuTitle = text::display(slot(205));
    const std::string flags = missionColumnFlags(settings::get(&settings, settings::columns));
    grid.AutoSizeColumns(QuestGridCellText, flags);
    grid.ApplyColumnFlags(flags);
    grid.SortIndex = columnOf(MissionColumn::Title);
    grid.SortRows();
    if (env.setCaption)
        env.setCaption(env.applicationTitle + "  -  " + std::to_string(grid.MissionCount()) + " " +
                       slot(15));
}

// The row to select: the remembered one, else the last game row, else the first.
int rowToSelect(const TMissionGrid& grid, IniFile& settings, const std::string& lastGameRow) {
    if (settings::get(&settings, settings::lastSelection, "@") == "@")
        settings::set(settings, settings::lastSelection, lastGameRow);
    const std::string remembered = settings::get(&settings, settings::lastSelection, "@");
    int selected = findRow(grid, &Mission::name, remembered);
    // A stored value loses the blanks around it (a game row's text begins with one): then
    // the row is found without them.
    if (selected == 0) selected = findRow(grid, &Mission::name, remembered, text::trim);
    if (selected == 0 && !lastGameRow.empty())
        selected = findRow(grid, &Mission::title, lastGameRow);
    if (selected == 0 && grid.RowCount() > 1) selected = 1;
    return selected;
}

}  // namespace

unsigned FullScanCount() {
    return g_fullScans;
}

void ScanCatalogue(bool refreshOnly, const ScanEnv& env) {
    if (refreshOnly) {
        if (env.setCurrentBar) env.setCurrentBar(RefreshInstalledState(env.settings, *env.games));
        if (env.grid && env.settings) markInstalledRows(*env.grid, *env.settings, *env.games);
        return;
    }
    const unsigned myScan = ++g_fullScans;
    IniFile& settings = *env.settings;
    TMissionGrid& grid = *env.grid;
    // The scan writes the type of every archive seen for the first time: one store for all.
    ScanState state(settings);

    // Keep the column layout (a layout stored already is not stored again).
    const std::string flags = grid.ColumnFlags();
    if (!flags.empty() && settings::get(&settings, settings::columns) != flags)
        settings::set(settings, settings::columns, flags);

    grid.BeginMissions();
    for (const games::Game& game : games::all())
        (*env.games)[game.number].gameDir = text::withTrailingDelim(
            settings::get(&settings, settings::gameDirectory(game.dirSetting)));

    std::string lastGameRow;
    if (!addGameRows(env, state, myScan, lastGameRow)) return;
    std::vector<TitleRead> firstSeen;
    std::vector<TitleRead> untitled = addMissionRows(env, settings, firstSeen);
    if (env.readTitles && !untitled.empty()) env.readTitles(std::move(untitled));
    if (env.readFacts && !firstSeen.empty()) env.readFacts(std::move(firstSeen));
    finishGrid(env, settings);
    markInstalledRows(grid, settings, *env.games);
    const int selected = rowToSelect(grid, settings, lastGameRow);
    state.commit();
    grid.SetRow(selected);
    state.release();
    if (env.selectCell) env.selectCell(0, grid.Row());
}

std::vector<std::string> MissionDirectories(const IniFile& settings) {
    std::vector<std::string> dirs;
    for (const std::string& key : settings::missionDirectories(settings))
        if (fsx::directoryExists(key)) dirs.push_back(key);
    return dirs;
}

std::string MissionArchivesNow(const IniFile& settings) {
    return signatureOf(missionArchiveFiles(settings));
}

const std::string& ScannedMissionArchives() {
    return g_scannedArchives;
}
