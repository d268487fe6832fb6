#pragma once
// The play time of a mission: once its game has been started, the clock watches for the
// game's process (started by us, by Steam or by another launcher, as running::programsFrom
// finds it) and, when it has gone, adds the seconds it ran to the mission's record. When the
// window closes first, the program started as a watcher (app/PlayWatch.h) goes on counting;
// without one, the seconds it ran until then are added.

#include <functional>
#include <string>

class QObject;

// Watches the game started from `gameDir` for the mission of record `recordKey`, for the
// life of `owner`. A game that does not appear within two minutes is not counted.
// `counted` runs after the seconds were added.
// The program to start as the watcher of a game that outlives the window (the program's
// own file); empty: none.
std::string& playWatcherProgram();

void watchPlayTime(QObject& owner, const std::string& gameDir, const std::string& recordKey,
                   std::function<void()> counted);
