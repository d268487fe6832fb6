#include "app/ui/InstallWiring.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QProgressBar>
#include <QToolButton>
#include <memory>

#include "app/ui/MainForm.h"
#include "archive/ZipArchiver.h"
#include "catalogue/ui/StringGridEx.h"
#include "install/InstallLaunch.h"
#include "platform/Prompter.h"
#include "platform/TextUtil.h"
#include "state/AppState.h"

namespace {

// Escape cancels the extraction and conversion of an install. The window is disabled while
// it runs, so the key is taken before it reaches any widget; a dialog open meanwhile (a
// message) keeps its own Escape.
class EscapeCancels final : public QObject {
  public:
    explicit EscapeCancels(TZipArchiver& zip) : zip_(zip) {}
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() != QEvent::KeyPress || static_cast<QKeyEvent*>(e)->key() != Qt::Key_Escape ||
            QApplication::activeModalWidget() != nullptr)
            return QObject::eventFilter(watched, e);
        zip_.Cancel = true;
        return true;
    }

  private:
    TZipArchiver& zip_;
};

InstallUi mainFormUi(Tmainform& f) {
    InstallUi ui;
    ui.setStatus = [&f](const std::string& t) { f.StatusBar->SetSimpleText(t); };
    ui.setOperationText = [](const std::string& t) { app().operationText = t; };
    ui.showProgress = [&f](bool shown) { f.ProgressBar->setVisible(shown); };
    ui.setProgressPosition = [&f](int64_t v) { f.SetProgressPosition(v); };
    ui.progressPosition = [&f] { return f.ProgressPosition(); };
    ui.setProgressMax = [&f](int64_t v) { f.SetProgressMax(v); };
    ui.setExtractionTotal = [&f](int64_t v) { f.ExtractionTotal = v; };
    ui.repaint = [] { prompter().processEvents(); };
    auto escape = std::make_shared<EscapeCancels>(*f.Zip);
    ui.setCancellable = [&f, escape](bool on) {
        if (on) {
            qApp->installEventFilter(escape.get());
            f.ProgressBar->setFormat(QStringLiteral("%p% \u2013 ") + text::display(slot(89)));
        } else {
            qApp->removeEventFilter(escape.get());
            f.ProgressBar->resetFormat();
        }
    };
    return ui;
}

}  // namespace

void RecoverFromMainForm() {
    if (!mainform) return;
    Tmainform& f = *mainform;
    try {
        if (RecoverInterruptedOperations(*f.Zip, *f.Zip2, mainFormUi(f))) f.ScanCatalogue(true);
    } catch (const std::exception& e) {
        f.ProgressBar->setVisible(false);
        prompter().message(e.what(), PromptButtons::Ok, PromptIcon::Error);
    }
}

void InstallAndLaunchFromMainForm() {
    if (!mainform) return;
    Tmainform& f = *mainform;
    TStringGridEx& grid = *f.QuestGrid;
    const int row = grid.Row();
    if (row < 1) return;

    InstallContext ctx(*f.Zip, *f.Zip2);
    ctx.row = grid.RowCells(row);
    ctx.storeRow = [&grid, row](const std::vector<std::string>& cells) {
        grid.SetRowCells(row, cells);
    };
    for (int i = 0; i < f.LanguageCombo->count(); ++i)
        ctx.languageItems.push_back(text::fromDisplay(f.LanguageCombo->itemText(i)));
    ctx.selectedLanguage = text::fromDisplay(f.LanguageCombo->currentText());

    ctx.ui = mainFormUi(f);
    ctx.setBusy = [&f](bool busy) {
        if (busy) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            f.setEnabled(false);
        } else {
            f.setEnabled(true);
            QApplication::restoreOverrideCursor();
        }
    };
    ctx.disableInstallOnly = [&f] { f.installonlybutton->setEnabled(false); };
    ctx.refreshCatalogue = [&f] { f.ScanCatalogue(true); };
    InstallAndLaunch(ctx);
}
