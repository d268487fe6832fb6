#pragma once
// Start-up and close logic that needs no window: the first-run test, the window mode,
// the stored window geometry.

#include <cstdint>

// True while "options"/"compression level" reads as never set (setup never completed).
bool isFirstRun();
// True when the store keeps the window's place and size ("window"/"top" is set and not
// 9999); false = start maximised and never remember the geometry.
bool remembersWindowGeometry();

struct WindowGeometry {
    int32_t top = 0;
    int32_t left = 0;
    int32_t height = 460;
    int32_t width = 610;
};
// Section "window" with the defaults 0, 0, 460 and 610.
WindowGeometry readWindowGeometry();
// Writes top, left, height and width, in that order.
void writeWindowGeometry(const WindowGeometry& g);

// Deletes the editor script "tallowmere.dromed" in each configured game directory.
void deleteEditorScripts();

// n / d rounded to the nearest integer, halves to even (d > 0).
int64_t roundHalfEven(int64_t n, int64_t d);
