#include "archive/ui/PasswordDlg.h"

#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "archive/ZipMessages.h"
#include "platform/TextUtil.h"

TPasswordDlg::TPasswordDlg(const std::string& title, const std::string& prompt, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName("PasswordDlg");
    setModal(true);
    QFont f("Arial");
    f.setPixelSize(12);
    f.setBold(true);
    setFont(f);
    setFixedSize(344, 137);
    setWindowTitle(text::display(title));

    label = new QLabel(text::display(prompt), this);
    label->setObjectName("PromptLabel");
    label->setGeometry(20, 8, 297, 18);
    label->setWordWrap(false);

    edit = new QLineEdit(this);
    edit->setObjectName("PasswordEdit");
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet("QLineEdit { lineedit-password-character: 42; }");  // '*'
    edit->setMaxLength(kMaxLength);
    edit->setGeometry(20, 40, 297, edit->sizeHint().height());

    okButton = new QPushButton(text::display(ZipMessageText(10152)), this);
    okButton->setObjectName("OkButton");
    okButton->setGeometry(44, 72, 90, 28);
    okButton->setDefault(true);
    okButton->setAutoDefault(true);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);

    cancelButton = new QPushButton(text::display(ZipMessageText(10153)), this);
    cancelButton->setObjectName("CancelButton");
    cancelButton->setGeometry(205, 72, 90, 28);
    cancelButton->setAutoDefault(false);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    edit->setFocus();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

std::string TPasswordDlg::text() const {
    return text::fromDisplay(edit->text());
}

bool RunPasswordDialog(const std::string& title, const std::string& prompt, std::string& text) {
    TPasswordDlg dlg(title, prompt);
    bool confirmed = dlg.exec() == QDialog::Accepted;
    text = confirmed ? dlg.text() : std::string();
    return confirmed;
}
