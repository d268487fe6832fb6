#pragma once
// Removing the installed mission of the current game: its files, its saved games (into its
// saves archive) and the game's own files back from the backup archive.

#include <cstdint>
#include <string>

struct GameRecord;
class ProgressSink;
class TZipArchiver;

// The archive base name of a path: its file-name part without leading and trailing blanks
// and, when its extension in upper case is ".ZIP", without its last four characters
// (" Original" gives "Original").
std::string ArchiveBaseName(const std::string& path);

// The file name of the saves archive of an installed archive path (the marker's first line,
// the selected archive), the one derivation both the uninstall (storing) and the install
// (restoring) use. Always one safe file name directly inside "allsaves", whose temporary
// name fits too. An ordinary mission file name keeps the name saves archives have always
// had, ArchiveBaseName + "_saves.zip" ("Foo.zip" -> "Foo_saves.zip", "Foo.7z" ->
// "Foo.7z_saves.zip", " Original" -> "Original_saves.zip"); any other name (upper-case or
// unknown extension, "X.7z.zip", "Original.zip", control characters, separators,
// characters Windows refuses, a leading blank, a long name) gives the name made safe and
// cut, "~", 16 hexadecimal digits of a hash of the exact file name, "_saves.zip".
std::string SavesArchiveName(const std::string& installed);

// The saves archive of an installed archive path in game directory `gameDir`:
// gameDir + "allsaves" + separator + SavesArchiveName(installed).
std::string SavesArchivePath(const std::string& gameDir, const std::string& installed);

// The saves archive earlier versions kept for an archive whose name now gives another one:
// an otherwise ordinary name with its extension in other than lower case ("FOO.ZIP" ->
// "FOO_saves.zip", "FOO.7Z" -> "FOO.7Z_saves.zip") with no archive of the same name in
// another case beside it (whose saves those are). Empty for every other name. The install
// brings saved games back from it, never changing it, while the mission has no saves archive
// of its own yet, so that saves stored before are not hidden by the newer name.
std::string EarlierSavesArchivePath(const std::string& gameDir, const std::string& installed);

// Uninstalls the mission installed in the game of record `game`, the one line 1 of its
// marker names: stores the saved games first (at `compressionLevel`), then deletes the
// mission's files and restores the game's own files, through the component `work`. Throws
// EInOutError, having removed nothing, when the saved games could not be stored;
// OperationFailed when the backup archive could not be completely restored (it stays).
void UninstallMission(GameRecord& game, int compressionLevel, TZipArchiver& work,
                      ProgressSink& progress);
