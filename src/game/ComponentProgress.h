#pragma once
// An archive component's progress events shown through a progress sink, for as long as
// the object lives: each file as the step text, a word and its name on the status line
// ("Installing mission: file miss20.mis..."), its bytes on the bar. The component's own
// handler, if it has one, still receives every event first.

#include <cstdint>
#include <string>

#include "archive/ZipArchiver.h"

class ProgressSink;

class ComponentProgress {
  public:
    // `wordSlot`: the language slot of the word before each file's name. The bar's end is
    // `total` when it is above 0, else the total the component announces.
    ComponentProgress(TZipArchiver& zip, ProgressSink& sink, std::string stepText, int wordSlot,
                      int64_t total = 0);
    ~ComponentProgress();
    ComponentProgress(const ComponentProgress&) = delete;
    ComponentProgress& operator=(const ComponentProgress&) = delete;

  private:
    void report(ProgressType type, const std::string& name, int64_t size);

    TZipArchiver& zip_;
    ProgressSink& sink_;
    const std::string stepText_;
    const int wordSlot_;
    const int64_t total_;
    const TProgressEvent saved_;
};

// The status line while `name` is worked on: the step text, the word of language slot
// `wordSlot` and the name ("Installing mission: file miss20.mis...").
std::string fileStatus(const std::string& stepText, int wordSlot, const std::string& name);

// The word slots of the component's two kinds of work.
inline constexpr int kExtractWordSlot = 18;  // "file"
inline constexpr int kAddWordSlot = 19;      // "adding"
inline constexpr int kConvertWordSlot = 74;  // "converting"
