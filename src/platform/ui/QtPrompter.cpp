#include "platform/ui/QtPrompter.h"

#include <QApplication>
#include <QCompleter>
#include <QCursor>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QStringList>
#include <utility>

#include "platform/TextUtil.h"

namespace {

QMessageBox::StandardButton toStandard(PromptResult r) {
    switch (r) {
        case PromptResult::Ok:
            return QMessageBox::Ok;
        case PromptResult::Cancel:
            return QMessageBox::Cancel;
        case PromptResult::Yes:
            return QMessageBox::Yes;
        case PromptResult::No:
            return QMessageBox::No;
        case PromptResult::Retry:
            return QMessageBox::Retry;
    }
    return QMessageBox::Ok;
}

QMessageBox::StandardButtons buttonsOf(PromptButtons b) {
    switch (b) {
        case PromptButtons::Ok:
            return QMessageBox::Ok;
        case PromptButtons::OkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case PromptButtons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case PromptButtons::YesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case PromptButtons::RetryCancel:
            return QMessageBox::Retry | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

// What closing the box without a button (Escape, the title bar's close) answers.
PromptResult escapeResult(PromptButtons b) {
    switch (b) {
        case PromptButtons::Ok:
            return PromptResult::Ok;
        case PromptButtons::YesNo:
            return PromptResult::No;
        default:
            return PromptResult::Cancel;
    }
}

QMessageBox::Icon iconOf(PromptIcon i) {
    switch (i) {
        case PromptIcon::None:
            return QMessageBox::NoIcon;
        case PromptIcon::Information:
            return QMessageBox::Information;
        case PromptIcon::Warning:
            return QMessageBox::Warning;
        case PromptIcon::Error:
            return QMessageBox::Critical;
        case PromptIcon::Question:
            return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

PromptResult QtPrompter::message(const std::string& text, PromptButtons buttons, PromptIcon icon,
                                 const std::string& caption, PromptResult defaultButton) {
    QString title = text::display(caption);
    if (title.isEmpty()) title = qApp->property(kApplicationTitleProperty).toString();
    if (title.isEmpty()) title = QApplication::applicationName();
    QMessageBox box(iconOf(icon), title, text::display(text), buttonsOf(buttons),
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    const QMessageBox::StandardButton def = toStandard(defaultButton);
    if (box.button(def)) box.setDefaultButton(def);
    // A message must be readable even while an operation shows the busy cursor.
    const bool busy = busyDepth_ > 0;
    if (busy) QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int r = box.exec();
    if (busy) QApplication::restoreOverrideCursor();
    switch (r) {
        case QMessageBox::Ok:
            return PromptResult::Ok;
        case QMessageBox::Cancel:
            return PromptResult::Cancel;
        case QMessageBox::Yes:
            return PromptResult::Yes;
        case QMessageBox::No:
            return PromptResult::No;
        case QMessageBox::Retry:
            return PromptResult::Retry;
        default:
            return escapeResult(buttons);
    }
}

QtPrompter::QtPrompter(PasswordQuestion askPassword) : askPassword_(std::move(askPassword)) {}

bool QtPrompter::password(const std::string& title, const std::string& prompt, std::string& text) {
    if (askPassword_) return askPassword_(title, prompt, text);
    text.clear();
    return false;
}

int QtPrompter::runModal(ModalDialog& dialog) {
    return dialog.execModal();
}

bool QtPrompter::line(const std::string& title, const std::string& prompt, std::string& text,
                      const std::vector<std::string>& suggestions) {
    QInputDialog dialog(QApplication::activeWindow());
    dialog.setObjectName("LineDialog");
    dialog.setWindowTitle(text::display(title));
    dialog.setLabelText(text::display(prompt));
    dialog.setTextValue(QString::fromStdString(text));
    // The completer goes onto the dialog's own line edit once it exists.
    QStringList words;
    for (const std::string& s : suggestions) words << QString::fromStdString(s);
    auto* completer = new QCompleter(words, &dialog);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setFilterMode(Qt::MatchContains);
    dialog.show();
    if (auto* edit = dialog.findChild<QLineEdit*>()) edit->setCompleter(completer);
    if (dialog.exec() != QDialog::Accepted) return false;
    text = dialog.textValue().toStdString();
    return true;
}

std::string QtPrompter::file(bool save, const std::string& title, const std::string& filter,
                             const std::string& suggested) {
    QWidget* parent = QApplication::activeWindow();
    const QString path = save ? QFileDialog::getSaveFileName(parent, text::display(title),
                                                             QString::fromStdString(suggested),
                                                             text::display(filter))
                              : QFileDialog::getOpenFileName(parent, text::display(title),
                                                             QString::fromStdString(suggested),
                                                             text::display(filter));
    return path.toStdString();
}

// Long operations call this for every member and every block they write; the window is
// repainted and its input read at most about sixty times a second, which looks the same
// and leaves the time to the operation.
void QtPrompter::processEvents() {
    constexpr qint64 kEventsEveryMs = 16;
    if (sinceEvents_.isValid() && !sinceEvents_.hasExpired(kEventsEveryMs)) return;
    QApplication::processEvents();
    sinceEvents_.start();
}

void QtPrompter::setBusyCursor(bool busy) {
    if (busy) {
        ++busyDepth_;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (busyDepth_ > 0) {
        --busyDepth_;
        QApplication::restoreOverrideCursor();
    }
}
