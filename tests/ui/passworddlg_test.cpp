// The password prompt of the archive component: layout, the 80-character limit, and the
// outcome of running it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <functional>

#include "archive/ui/PasswordDlg.h"

namespace {

TEST(PasswordDlg, LayoutAndTexts) {
    TPasswordDlg dlg("Password", "Enter Password ");
    EXPECT_EQ(dlg.size(), QSize(344, 137));
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());  // fixed border
    EXPECT_EQ(dlg.windowTitle(), "Password");
    EXPECT_EQ(dlg.font().family(), "Arial");
    EXPECT_EQ(dlg.font().pixelSize(), 12);
    EXPECT_TRUE(dlg.font().bold());

    EXPECT_EQ(dlg.label->geometry(), QRect(20, 8, 297, 18));
    EXPECT_EQ(dlg.label->text(), "Enter Password ");
    EXPECT_EQ(dlg.edit->x(), 20);
    EXPECT_EQ(dlg.edit->y(), 40);
    EXPECT_EQ(dlg.edit->width(), 297);
    EXPECT_EQ(dlg.edit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(
        dlg.edit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, dlg.edit),
        '*');
    EXPECT_EQ(dlg.okButton->geometry(), QRect(44, 72, 90, 28));
    EXPECT_EQ(dlg.okButton->text(), "&Ok");
    EXPECT_TRUE(dlg.okButton->isDefault());
    EXPECT_EQ(dlg.cancelButton->geometry(), QRect(205, 72, 90, 28));
    EXPECT_EQ(dlg.cancelButton->text(), "&Cancel");
}

TEST(PasswordDlg, EditRefusesThe81stCharacter) {
    TPasswordDlg dlg("Password", "Enter Password ");
    dlg.show();
    for (int i = 0; i < 81; ++i) {
        const char c = static_cast<char>('a' + i % 26);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A + i % 26, Qt::NoModifier, QString(QChar(c)));
        QApplication::sendEvent(dlg.edit, &press);
    }
    EXPECT_EQ(dlg.edit->text().size(), 80);
    EXPECT_EQ(dlg.text().size(), 80u);
    EXPECT_EQ(dlg.text().substr(0, 3), "abc");
    dlg.edit->setText(QString(100, 'x'));
    EXPECT_EQ(dlg.edit->text().size(), 80);
}

// Acts on the modal password dialog once it is up.
void whenShown(std::function<void(TPasswordDlg*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* dlg = qobject_cast<TPasswordDlg*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(dlg);
        }
    });
    timer->start();
}

TEST(PasswordDlg, RunningItReturnsTheTypedTextOnlyWhenConfirmed) {
    std::string text = "old";
    whenShown([](TPasswordDlg* dlg) {
        EXPECT_EQ(dlg->windowTitle(), "Title");
        EXPECT_EQ(dlg->label->text(), "Prompt");
        dlg->edit->setText("S3cret \xC3\xBC");
        dlg->okButton->click();
    });
    EXPECT_TRUE(RunPasswordDialog("Title", "Prompt", text));
    EXPECT_EQ(text, "S3cret \xC3\xBC");

    whenShown([](TPasswordDlg* dlg) {
        dlg->edit->setText("typed");
        dlg->cancelButton->click();
    });
    EXPECT_FALSE(RunPasswordDialog("Title", "Prompt", text));
    EXPECT_EQ(text, "");

    whenShown([](TPasswordDlg* dlg) { dlg->okButton->click(); });
    EXPECT_TRUE(RunPasswordDialog("Title", "Prompt", text));
    EXPECT_EQ(text, "");

    // Escape closes it as Cancel does.
    whenShown([](TPasswordDlg* dlg) {
        dlg->edit->setText("typed");
        QTest::keyClick(dlg->edit, Qt::Key_Escape);
    });
    EXPECT_FALSE(RunPasswordDialog("Title", "Prompt", text));
    EXPECT_EQ(text, "");
}

}  // namespace
