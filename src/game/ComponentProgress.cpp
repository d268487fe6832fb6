#include "game/ComponentProgress.h"

#include "platform/Progress.h"
#include "state/LanguageTable.h"

ComponentProgress::ComponentProgress(TZipArchiver& zip, ProgressSink& sink, std::string stepText,
                                     int wordSlot, int64_t total)
    : zip_(zip),
      sink_(sink),
      stepText_(std::move(stepText)),
      wordSlot_(wordSlot),
      total_(total),
      saved_(zip.OnProgress) {
    zip_.OnProgress = [this](TZipArchiver* sender, ProgressType type, const std::string& name,
                             int64_t size) {
        if (saved_) saved_(sender, type, name, size);
        report(type, name, size);
    };
}

std::string fileStatus(const std::string& stepText, int wordSlot, const std::string& name) {
    return stepText + " " + slot(wordSlot) + " " + name + "...";
}

ComponentProgress::~ComponentProgress() {
    zip_.OnProgress = saved_;
}

void ComponentProgress::report(ProgressType type, const std::string& name, int64_t size) {
    switch (type) {
        case progNewFile:
            sink_.status(fileStatus(stepText_, wordSlot_, name));
            break;
        case progAdvance:
            sink_.barPosition(sink_.currentBarPosition() + size);
            break;
        case progTotalSize:
            sink_.barMaximum(total_ > 0 ? total_ : size);
            break;
        default:
            break;
    }
    if (sink_.cancelled()) zip_.Cancel = true;
    sink_.processEvents();
}
