#pragma once
// The prompter of the running program: Qt message boxes, the password dialog, modal
// dialogs, event processing and the busy cursor.

#include <QElapsedTimer>
#include <functional>
#include <string>

#include "platform/Prompter.h"

// Name of the application property holding the application title (a QString), the caption
// of message boxes given without one.
inline constexpr char kApplicationTitleProperty[] = "applicationTitle";

class QtPrompter : public Prompter {
  public:
    // Asks for a password: true when confirmed, `text` then holding it, else empty.
    using PasswordQuestion =
        std::function<bool(const std::string& title, const std::string& prompt, std::string& text)>;

    // The password dialog lives above this layer; the program passes it in. Without one
    // every password question reads as cancelled.
    explicit QtPrompter(PasswordQuestion askPassword = {});

    PromptResult message(const std::string& text, PromptButtons buttons, PromptIcon icon,
                         const std::string& caption, PromptResult defaultButton) override;
    bool password(const std::string& title, const std::string& prompt, std::string& text) override;
    int runModal(ModalDialog& dialog) override;
    bool line(const std::string& title, const std::string& prompt, std::string& text,
              const std::vector<std::string>& suggestions) override;
    std::string file(bool save, const std::string& title, const std::string& filter,
                     const std::string& suggested) override;
    void processEvents() override;
    void setBusyCursor(bool busy) override;

  private:
    PasswordQuestion askPassword_;
    int busyDepth_ = 0;
    QElapsedTimer sinceEvents_;
};
