#pragma once
// What installing, uninstalling and converting show on the main window while they run:
// the bottom status line, the operation text, the progress bar and the extraction total.
// The main window fills these in; tests record them.

#include <cstdint>
#include <functional>
#include <string>

struct InstallUi {
    std::function<void(const std::string&)> setStatus;         // bottom status line text
    std::function<void(const std::string&)> setOperationText;  // label of the progress lines
    std::function<void(bool shown)> showProgress;
    std::function<void(int64_t bytes)> setProgressPosition;
    std::function<int64_t()> progressPosition;
    std::function<void(int64_t bytes)> setProgressMax;
    std::function<void(int64_t bytes)> setExtractionTotal;  // 0 = none
    std::function<void()> repaint;                          // lets pending window events run
    // While on, the user can cancel (Escape sets the selected archive's Cancel).
    std::function<void(bool on)> setCancellable;

    // Calls that tolerate unset hooks.
    void status(const std::string& s) const {
        if (setStatus) setStatus(s);
    }
    void operation(const std::string& s) const {
        if (setOperationText) setOperationText(s);
    }
    void progressShown(bool b) const {
        if (showProgress) showProgress(b);
    }
    void position(int64_t v) const {
        if (setProgressPosition) setProgressPosition(v);
    }
    int64_t currentPosition() const { return progressPosition ? progressPosition() : 0; }
    void maximum(int64_t v) const {
        if (setProgressMax) setProgressMax(v);
    }
    void extractionTotal(int64_t v) const {
        if (setExtractionTotal) setExtractionTotal(v);
    }
    void paint() const {
        if (repaint) repaint();
    }
    void cancellable(bool on) const {
        if (setCancellable) setCancellable(on);
    }
};
