#include "app/ui/LibraryCommands.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QMenu>
#include <QRandomGenerator>
#include <QSignalBlocker>
#include <algorithm>
#include <functional>
#include <set>

#include "app/AppState.h"
#include "app/ui/LibraryPanel.h"
#include "app/ui/MainForm.h"
#include "catalogue/LibraryFilter.h"
#include "catalogue/ui/MissionGrid.h"
#include "catalogue/ui/QuestGridDraw.h"
#include "game/Games.h"
#include "game/MissionRecords.h"
#include "platform/Errors.h"
#include "platform/Prompter.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

using Change = std::function<void(MissionStore& store, Mission& mission)>;

QString shown(int n) {
    return text::display(slot(n));
}

// The missions of the selected rows (game rows left out), each changed through the store
// and shown again.
// A failed write is shown; the rows changed before it stay changed, as their records are.
void changeSelected(Tmainform& form, const Change& change) {
    Tmainform::RunHandler([&form, &change] {
        if (!app().settings) return;
        MissionStore store(*app().settings);
        TMissionGrid& grid = *form.QuestGrid;
        for (const int row : grid.SelectedRows()) {
            const Mission* listed = grid.MissionAt(row);
            if (listed == nullptr || listed->gameRow) continue;
            Mission mission = *listed;
            change(store, mission);
            grid.SetMission(row, std::move(mission));
        }
    });
    showLibraryPanel(form);
}

std::vector<std::string> selectedTags(const TMissionGrid& grid) {
    std::set<std::string> tags;
    for (const int row : grid.SelectedRows())
        if (const Mission* m = grid.MissionAt(row)) tags.insert(m->tags.begin(), m->tags.end());
    return {tags.begin(), tags.end()};
}

std::vector<std::string> selectedDifficulties(const TMissionGrid& grid) {
    std::vector<std::string> names;
    for (const int row : grid.SelectedRows())
        if (const Mission* m = grid.MissionAt(row); m && !m->gameRow)
            for (const std::string& name : difficultiesOf(*m))
                if (std::find(names.begin(), names.end(), name) == names.end())
                    names.push_back(name);
    return names;
}

void fillFinishedMenu(Tmainform& form, QMenu& menu) {
    menu.clear();
    for (const std::string& name : selectedDifficulties(*form.QuestGrid)) {
        menu.addAction(text::display(name), &form, [&form, name] {
            changeSelected(form, [&name](MissionStore& store, Mission& m) {
                std::vector<std::string> on = m.finishedOn;
                if (std::find(on.begin(), on.end(), name) == on.end()) on.push_back(name);
                store.setFinishedOn(m, on);
            });
        });
    }
    menu.addSeparator();
    menu.addAction(shown(libraryslot::kNotFinished), &form, [&form] {
        changeSelected(form, [](MissionStore& store, Mission& m) {
            store.setFinishedOn(m, {});
            store.setFinished(m, false);
        });
    });
}

void fillRateMenu(Tmainform& form, QMenu& menu) {
    menu.clear();
    for (int rating = 10; rating >= -1; --rating) {
        const QString label =
            rating < 0 ? shown(libraryslot::kNoRating) : RatingStarsText(std::to_string(rating));
        menu.addAction(label, &form, [&form, rating] {
            changeSelected(
                form, [rating](MissionStore& store, Mission& m) { store.setRating(m, rating); });
        });
    }
}

void fillRemoveTagMenu(Tmainform& form, QMenu& menu) {
    menu.clear();
    for (const std::string& tag : selectedTags(*form.QuestGrid)) {
        menu.addAction(text::display(tag), &form, [&form, tag] {
            changeSelected(form, [&tag](MissionStore& store, Mission& m) {
                std::vector<std::string> tags = m.tags;
                if (std::erase(tags, tag) > 0) store.setTags(m, tags);
            });
        });
    }
    menu.setEnabled(!menu.isEmpty());
}

void addTag(Tmainform& form) {
    std::string typed;
    if (!prompter().line(slot(libraryslot::kAddTag), slot(libraryslot::kTagToAdd), typed,
                         tagsInUse(*form.QuestGrid)))
        return;
    const std::vector<std::string> added = parseTags(typed);
    if (added.empty()) return;
    changeSelected(form, [&added](MissionStore& store, Mission& m) {
        std::vector<std::string> tags = m.tags;
        for (const std::string& tag : added)
            if (std::find(tags.begin(), tags.end(), tag) == tags.end()) tags.push_back(tag);
        if (tags != m.tags) store.setTags(m, tags);
    });
}

std::string libraryFilter() {
    return slot(libraryslot::kFileType) + " (*.tmlibrary)";
}

void exportLibrary() {
    if (!app().settings) return;
    const std::string path =
        prompter().file(true, slot(libraryslot::kExport), libraryFilter(),
                        QDir::home().filePath("Tallowmere.tmlibrary").toStdString());
    if (path.empty()) return;
    try {
        const size_t count = MissionStore(*app().settings).exportLibrary(path);
        prompter().message(text::withArgument(slot(libraryslot::kExported), std::to_string(count)),
                           PromptButtons::Ok, PromptIcon::Information);
    } catch (const TmError& e) {
        prompter().message(e.what(), PromptButtons::Ok, PromptIcon::Error);
    }
}

void importLibrary(Tmainform& form) {
    if (!app().settings) return;
    const std::string path = prompter().file(false, slot(libraryslot::kImport), libraryFilter(),
                                             QDir::homePath().toStdString());
    if (path.empty()) return;
    size_t count = 0;
    try {
        count = MissionStore(*app().settings).importLibrary(path);
    } catch (const TmError& e) {
        prompter().message(slot(libraryslot::kNotImported) + "\n\n" + e.what(), PromptButtons::Ok,
                           PromptIcon::Error);
        return;
    }
    TMissionGrid& grid = *form.QuestGrid;
    const MissionStore store(*app().settings);
    for (int row = 1; row < grid.RowCount(); ++row) grid.ReloadMission(row, store);
    grid.SortRows();
    showLibraryPanel(form);
    prompter().message(text::withArgument(slot(libraryslot::kImported), std::to_string(count)),
                       PromptButtons::Ok, PromptIcon::Information);
}

// A change in the panel, to the mission it was made to (found by its record key and place,
// wherever the list moved it meanwhile).
void applyEdit(Tmainform& form, const std::string& key, const std::string& place,
               const LibraryPanel::Edit& change) {
    if (!app().settings) return;
    TMissionGrid& grid = *form.QuestGrid;
    const int row = grid.FindMission(
        [&](const Mission& m) { return m.recordKey == key && m.place() == place; });
    const Mission* listed = grid.MissionAt(row);
    if (listed == nullptr) return;
    Mission mission = *listed;
    MissionStore store(*app().settings);
    change(store, mission);
    const bool current = row == grid.Row();
    grid.SetMission(row, std::move(mission));
    if (current) {
        const QSignalBlocker block(form.finished);
        form.finished->setChecked(grid.MissionAt(row)->finished);
    }
}

}  // namespace

std::vector<std::string> tagsInUse(const TMissionGrid& grid) {
    std::set<std::string> tags;
    for (int row = 1; row < grid.RowCount(); ++row)
        if (const Mission* m = grid.MissionAt(row)) tags.insert(m->tags.begin(), m->tags.end());
    return {tags.begin(), tags.end()};
}

std::vector<std::string> difficultiesOf(const Mission& mission) {
    if (const games::Game* game = games::find(mission.markedGame())) return game->difficulties;
    std::vector<std::string> names;
    for (const games::Game& game : games::all())
        for (const std::string& name : game.difficulties)
            if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    return names;
}

void showLibraryPanel(Tmainform& form, int row) {
    const Mission* mission = form.QuestGrid->MissionAt(row > 0 ? row : form.QuestGrid->Row());
    form.Library->showMission(mission,
                              mission ? difficultiesOf(*mission) : std::vector<std::string>(),
                              tagsInUse(*form.QuestGrid));
    if (mission) {
        // A change of the finished box by way of the difficulties shows in the box.
        const QSignalBlocker block(form.finished);
        form.finished->setChecked(mission->finished);
    }
}

// A mission picked at random among the rows shown that are not finished (among every row
// shown when all are), selected as a click selects it.
void pickRandomMission(Tmainform& form) {
    TMissionGrid& grid = *form.QuestGrid;
    std::vector<int> shown, unfinished;
    for (int row = 1; row < grid.RowCount(); ++row) {
        const Mission* mission = grid.MissionAt(row);
        if (mission == nullptr || mission->gameRow || grid.isRowHidden(row - 1)) continue;
        shown.push_back(row);
        if (!mission->finished) unfinished.push_back(row);
    }
    const std::vector<int>& from = unfinished.empty() ? shown : unfinished;
    if (from.empty()) return;
    const int row = from[QRandomGenerator::global()->bounded(static_cast<quint32>(from.size()))];
    bool canSelect = true;
    if (grid.OnSelectCell) grid.OnSelectCell(&grid, 0, row, canSelect);
    if (!canSelect) return;
    grid.SetRow(row);
    grid.scrollTo(grid.model()->index(row - 1, 0));
}

void installLibrary(Tmainform& form) {
    form.Library->onEdit = [&form](const std::string& key, const std::string& place,
                                   const LibraryPanel::Edit& change) {
        Tmainform::RunHandler([&] { applyEdit(form, key, place, change); });
    };

    QMenu& menu = *form.GridMenu;
    menu.addSeparator();
    auto* finishedMenu = menu.addMenu(QString());
    finishedMenu->setObjectName("finishedonmenu");
    auto* rateMenu = menu.addMenu(QString());
    rateMenu->setObjectName("ratemenu");
    auto* addTagAction = menu.addAction(QString());
    addTagAction->setObjectName("addtagaction");
    auto* removeTagMenu = menu.addMenu(QString());
    removeTagMenu->setObjectName("removetagmenu");
    menu.addSeparator();
    auto* exportAction = menu.addAction(QString());
    exportAction->setObjectName("exportlibraryaction");
    auto* importAction = menu.addAction(QString());
    importAction->setObjectName("importlibraryaction");
    menu.addSeparator();
    auto* randomAction = menu.addAction(QString());
    randomAction->setObjectName("randommissionaction");

    QObject::connect(&menu, &QMenu::aboutToShow, &form,
                     [&form, finishedMenu, rateMenu, removeTagMenu] {
                         fillFinishedMenu(form, *finishedMenu);
                         fillRateMenu(form, *rateMenu);
                         fillRemoveTagMenu(form, *removeTagMenu);
                     });
    QObject::connect(addTagAction, &QAction::triggered, &form,
                     [&form] { Tmainform::RunHandler([&form] { addTag(form); }); });
    QObject::connect(exportAction, &QAction::triggered, &form,
                     [] { Tmainform::RunHandler(exportLibrary); });
    QObject::connect(importAction, &QAction::triggered, &form,
                     [&form] { Tmainform::RunHandler([&form] { importLibrary(form); }); });
    QObject::connect(randomAction, &QAction::triggered, &form,
                     [&form] { Tmainform::RunHandler([&form] { pickRandomMission(form); }); });
    applyLibraryLanguage(form);
}

void applyLibraryLanguage(Tmainform& form) {
    const std::pair<const char*, int> menus[] = {{"finishedonmenu", libraryslot::kMarkFinishedOn},
                                                 {"ratemenu", libraryslot::kRate},
                                                 {"removetagmenu", libraryslot::kRemoveTag}};
    for (const auto& [name, n] : menus)
        if (auto* menu = form.GridMenu->findChild<QMenu*>(name)) menu->setTitle(shown(n));
    const std::pair<const char*, int> actions[] = {
        {"addtagaction", libraryslot::kAddTag},
        {"exportlibraryaction", libraryslot::kExport},
        {"importlibraryaction", libraryslot::kImport},
        {"randommissionaction", libraryslot::kRandomMission}};
    for (const auto& [name, n] : actions)
        if (auto* action = form.GridMenu->findChild<QAction*>(name)) action->setText(shown(n));
    form.Library->applyLanguage();
}
