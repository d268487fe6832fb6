#pragma once
// Mission records: one settings section per mission archive (and one per game's own
// state), named by the record key of its grid row, holding "type", "title", "finished",
// "date" and the content counts. Rows are the grid's cells (column 0..6, see the catalogue).

#include <string>
#include <vector>

class IniFile;

// The section name of a grid row: mission row (column 4 not empty): column 2 + "." +
// column 4 with every "]" removed; game row: column 2 from its second character, at most
// 30 characters (a game row's text without its leading blank). Missing cells read empty.
std::string RecordKey(const std::vector<std::string>& row);

// A title as a record holds it, as shown: titles are stored as UTF-8, but earlier versions
// stored them as the 8-bit text of the mission, which is decoded as mission texts are.
std::string ShownTitle(const std::string& stored);

// Copies the row's record into columns 0 ("type" + "1"), 1 (its ShownTitle), 5 ("F" when finished)
// and 6 (day number of the last start). The row is widened to 7 cells when shorter. A game row
// keeps its own mark ("10"/"20") in column 0 and its text in column 1.
void LoadRecordIntoRow(const IniFile& settings, std::vector<std::string>& row);
void LoadRecordIntoRow(std::vector<std::string>& row);  // the program's settings store

// The finished box of the selected row changed: writes "finished" into the row's record,
// then sets column 5 ("F" or empty). When the write fails the error propagates and the row
// keeps its old mark.
void SetRowFinished(IniFile& settings, std::vector<std::string>& row, bool checked);
void SetRowFinished(std::vector<std::string>& row, bool checked);

// The archive of a mission row: `dir` + `name` + the first mission archive extension (".zip",
// ".7z", ".rar") whose file has the row's size; else `dir` + `name` when the name ends in
// such an extension and that file has the row's size; else the first that exists; else
// ".zip". Foo.zip and Foo.7z of different sizes are two rows of the same name; of the same
// size, the second is named "Foo.7z" by the catalogue scan, so that it has its own record.
std::string MissionArchivePath(const std::string& dir, const std::string& name,
                               const std::string& sizeText);
