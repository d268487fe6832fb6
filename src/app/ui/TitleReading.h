#pragma once
// The titles a catalogue scan finds missing: those that read quickly (ZIP archives, and
// .7z/.rar missions with a cache) are read into their rows at once; the others on a thread
// of their own, which hands its titles to the window a few times a second and says in the
// status line how many are left. Each title is stored in its mission's record, so that the
// next scan reads none.

#include <memory>
#include <vector>

#include "catalogue/ui/CatalogueScan.h"

class TMissionGrid;
class TStatusLine;

class TitleReading {
  public:
    TitleReading(TMissionGrid& grid, TStatusLine& status);
    ~TitleReading();  // stops the thread and waits for it
    TitleReading(const TitleReading&) = delete;
    TitleReading& operator=(const TitleReading&) = delete;

    // The scan's hook: reads the titles of `reads`, stopping the reads of an earlier scan.
    void read(std::vector<TitleRead> reads);
    // Reads what the archives of `reads` say of themselves (author, release date, tags) on a
    // thread of its own, without a note, and keeps it in their records where the player
    // has not written the same already; stops the reads of an earlier scan.
    void readFacts(std::vector<TitleRead> reads);
    // True while titles are being read in the background.
    bool busy() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
