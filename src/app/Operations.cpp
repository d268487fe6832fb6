#include "app/Operations.h"

#include "app/AppState.h"
#include "install/FolderInstall.h"
#include "install/Uninstall.h"
#include "platform/Errors.h"
#include "platform/Progress.h"
#include "platform/Prompter.h"
#include "platform/Settings.h"

namespace {

// The progress of the caller, with each notice shown to the player as it comes.
class ToldProgress final : public ProgressSink {
  public:
    explicit ToldProgress(ProgressSink& shown) : shown_(shown) {}

    void status(const std::string& text) override { shown_.status(text); }
    void showBar(bool shown) override { shown_.showBar(shown); }
    void barMaximum(int64_t bytes) override { shown_.barMaximum(bytes); }
    void barPosition(int64_t bytes) override { shown_.barPosition(bytes); }
    int64_t currentBarPosition() override { return shown_.currentBarPosition(); }
    void cancellable(bool on) override { shown_.cancellable(on); }
    bool cancelled() override { return shown_.cancelled(); }
    void busy(bool on) override { shown_.busy(on); }
    void processEvents() override { shown_.processEvents(); }
    void notice(const std::string& text, PromptIcon icon) override {
        prompter().message(text, PromptButtons::Ok, icon);
    }

  private:
    ProgressSink& shown_;
};

}  // namespace

GameContext programContext() {
    AppState& a = app();
    if (!a.settings) throw EInOutError("The settings store is not open");
    return {*a.settings, a.thiefdata, a.exeDir};
}

SetupFiles programSetupFiles() {
    const AppState& a = app();
    return {a.settings.get(), a.languageFile.get(), a.exeDir};
}

namespace operations {

InstallOutcome install(const InstallRequest& request, TZipArchiver& work, ProgressSink& progress) {
    GameContext context = programContext();
    ToldProgress told(progress);
    InstallOutcome outcome = InstallAndLaunch(context, request, work, told);
    if (outcome.failure) showError(*outcome.failure);
    return outcome;
}

bool recover(TZipArchiver& work, ProgressSink& progress) {
    GameContext context = programContext();
    ToldProgress told(progress);
    return RecoverInterruptedOperations(context, work, told);
}

bool uninstall(uint8_t game, TZipArchiver& work, ProgressSink& progress) {
    GameContext context = programContext();
    ToldProgress told(progress);
    try {
        UninstallMission(context.games[game],
                         settings::get(&context.settings, settings::compressionLevel), work, told);
    } catch (const OperationFailed& failure) {
        showError(failure);
        return false;
    }
    return true;
}

bool removeMissionFolder(const InstallRequest& request, TZipArchiver& work,
                         ProgressSink& progress) {
    GameContext context = programContext();
    ToldProgress told(progress);
    try {
        RemoveMissionFolder(context, request, work, told);
    } catch (const OperationFailed& failure) {
        showError(failure);
        return false;
    }
    return true;
}

std::vector<std::string> olderSavedGames(const InstallRequest& request, TZipArchiver& work) {
    return OlderSavedGames(programContext(), request, work);
}

std::string bringBackSavedGame(const InstallRequest& request, const std::string& version,
                               TZipArchiver& work, ProgressSink& progress) {
    GameContext context = programContext();
    ToldProgress told(progress);
    try {
        return BringBackSavedGame(context, request, version, work, told);
    } catch (const OperationFailed& failure) {
        showError(failure);
        return {};
    }
}

}  // namespace operations
