#pragma once
// The language table: the user-interface texts read from the language file, in the language
// chosen in the settings, with English as the fallback of each text separately.

#include <functional>

// Slots 1 to 80 are the original table; later texts are numbered from 81 on, in blocks per
// subject: 81-99 install and uninstall, 100-119 mission archives and read-mes, 120-139
// desktop integration and game start, 140-159 catalogue and dialogs, 160-169 starts through
// the game's launcher, 170-179 the games found and the start commands of the setup dialog,
// 180-184 the end of an install: a cancel, the start under way; 185-189 the titles a
// catalogue scan reads in the background; 195-199 the directory chooser; 200-204 the setup
// dialog's captions with keys of their own (OK, Cancel, Thief 2's folder box, the command
// labels); 205 the grid's sort menu; 206-211 saved games kept and brought back; 212 a mission without a read-me.
inline constexpr int kLanguageSlotCount = 216;

// Fills app().languageSlots from app().languageFile (slots stay empty without one) and
// then runs the apply hook, so that the main window takes its captions and hints at once.
void LoadLanguageTable();

// The function that applies the table to the main window; empty = none. Returns the
// previous one.
std::function<void()> setLanguageApplyHook(std::function<void()> hook);
