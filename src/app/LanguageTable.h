#pragma once
// The language table: 80 user-interface texts read from the language file, in the language
// chosen in the settings, with English as the fallback of each text separately.

#include <functional>

inline constexpr int kLanguageSlotCount = 80;

// Fills app().languageSlots from app().languageFile (slots stay empty without one) and
// then runs the apply hook, so that the main window takes its captions and hints at once.
void LoadLanguageTable();

// The function that applies the table to the main window; empty = none. Returns the
// previous one.
std::function<void()> setLanguageApplyHook(std::function<void()> hook);
