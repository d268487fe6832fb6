#pragma once
// The archive component's password prompt: a small fixed dialog built in code.

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

class TPasswordDlg : public QDialog {
    Q_OBJECT
  public:
    TPasswordDlg(const std::string& title, const std::string& prompt, QWidget* parent = nullptr);

    // The typed password (program text), whatever the outcome.
    std::string text() const;

    QLabel* label = nullptr;
    QLineEdit* edit = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;

    static constexpr int kMaxLength = 80;
};

// Runs the dialog modally. Returns true when it was confirmed with OK; `text` is then what
// was typed, else empty.
bool RunPasswordDialog(const std::string& title, const std::string& prompt, std::string& text);
