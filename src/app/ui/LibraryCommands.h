#pragma once
// The player's library in the main window: the panel's fields written into the records, and
// the grid menu's library commands, which act on every selected mission at once (finished
// on a difficulty, a rating, a tag added or taken away) or on the whole library (export,
// import).

#include <string>
#include <vector>

class Tmainform;
class TMissionGrid;
struct Mission;

// Connects the library panel and adds the library's commands to the grid's menu.
void installLibrary(Tmainform& form);
// Captions of the library's commands and panel in the interface's language.
void applyLibraryLanguage(Tmainform& form);
// Shows the mission of `row` (the current row when 0) in the library panel.
void showLibraryPanel(Tmainform& form, int row = 0);

// The tags the grid's missions carry, each once, sorted.
std::vector<std::string> tagsInUse(const TMissionGrid& grid);
// The difficulties a mission can be finished on: its game's, or, for a mission of no decided
// game, those of every game, each once in the order the games name them.
std::vector<std::string> difficultiesOf(const Mission& mission);
