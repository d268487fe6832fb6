#include "platform/Prompter.h"

#include "platform/Errors.h"

namespace {

class SilentPrompter : public Prompter {
  public:
    PromptResult message(const std::string&, PromptButtons, PromptIcon, const std::string&,
                         PromptResult defaultButton) override {
        return defaultButton;
    }
    bool password(const std::string&, const std::string&, std::string& text) override {
        text.clear();
        return false;
    }
    int runModal(ModalDialog&) override { return 0; }
};

SilentPrompter g_silent;
Prompter* g_current = nullptr;

}  // namespace

Prompter& prompter() {
    return g_current ? *g_current : g_silent;
}

Prompter* setPrompter(Prompter* p) {
    Prompter* old = g_current;
    g_current = p;
    return old;
}

void showError(const std::string& message) {
    prompter().message(message, PromptButtons::Ok, PromptIcon::Error);
}

void showError(const std::exception& error) {
    const auto* failed = dynamic_cast<const OperationFailed*>(&error);
    prompter().message(error.what(), PromptButtons::Ok,
                       failed ? failed->icon() : PromptIcon::Error);
}
