#pragma once
// The play time of a mission: once its game has been started, the clock watches for the
// game's process (started by us, by Steam or by another launcher, as running::programsFrom
// finds it) and, when it has gone, adds the seconds it ran to the mission's record; when the
// window closes first, the seconds it ran until then.

#include <functional>
#include <string>

class QObject;

// Watches the game started from `gameDir` for the mission of record `recordKey`, for the
// life of `owner`. A game that does not appear within two minutes is not counted.
// `counted` runs after the seconds were added.
void watchPlayTime(QObject& owner, const std::string& gameDir, const std::string& recordKey,
                   std::function<void()> counted);
