#pragma once
// The start of a game or of DromEd from the install operation: the way the game's launcher
// starts it (Steam, the Wine build Heroic or Lutris keep for it, or the start command of
// Windows programs in its prefix), unless the player named a start command for the game,
// and the message when it fails.

#include <string>
#include <vector>

#include "game/GameSources.h"
#include "platform/Launcher.h"

class IniFile;

// Starts `exeName` of game `game`'s directory `gameDir` with `arguments`, as
// startWithRunner does with the runner gamesources::runnerFor recognises and the start
// commands `settings` name (the game's own, the one of Windows programs).
launcher::StartResult startFromGameDir(const IniFile* settings, int game,
                                       const std::string& gameDir, const std::string& exeName,
                                       const std::vector<std::string>& arguments = {});

// Starts `exeName` of `gameDir` with `arguments`, not waited for:
// - `customCommand` not blank: its words, the program and the arguments, in the nearest
//   prefix above the game directory (launcher::startProgram);
// - a program that is no Windows program (a script with its run bit) starts by itself;
// - Steam: "steam -applaunch <app id> <arguments>" (or Steam's Flatpak); DromEd, which
//   Steam does not start, with the start command of Windows programs in the game's Proton
//   prefix;
// - Heroic, Lutris: their Wine build (or "<proton> run") in their prefix;
// - a plain prefix: the start command of Windows programs in the nearest prefix.
// Absolute paths among the arguments of a Windows program are handed over as "Z:\..." paths.
// `startCommand` is the player's start command of Windows programs (empty: the default one).
launcher::StartResult startWithRunner(const gamesources::GameRunner& runner,
                                      const std::string& gameDir, const std::string& exeName,
                                      const std::vector<std::string>& arguments,
                                      const std::string& customCommand,
                                      const std::string& startCommand);

// The message for a failed start: `failed` (the language text naming the program), and
// what is missing when the start command, Steam or the game's Wine build could not be found.
std::string startFailureMessage(const std::string& failed, const launcher::StartResult& result);
