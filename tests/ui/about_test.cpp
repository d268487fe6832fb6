// The about box: layout and texts from the version information, its links, the modal
// showing through the prompter and the start-up splash.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "app/AppState.h"
#include "dialogs/FileVersionInfo.h"
#include "dialogs/ui/About.h"
#include "support/TestSupport.h"

namespace {

// The about boxes that exist now.
std::vector<TAboutForm*> aboutForms() {
    std::vector<TAboutForm*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* f = qobject_cast<TAboutForm*>(w)) found.push_back(f);
    return found;
}

void click(QWidget* w, Qt::MouseButton button = Qt::LeftButton) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), button, button,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), button, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QApplication::sendEvent(w, &release);
}

// Replaces PATH for the life of the object.
struct PathGuard {
    std::string saved = getenv("PATH") ? getenv("PATH") : "";
    explicit PathGuard(const std::string& path) { setenv("PATH", path.c_str(), 1); }
    ~PathGuard() { setenv("PATH", saved.c_str(), 1); }
};

// Waits up to five seconds for the fake xdg-open to finish its record.
std::string waitForRecord(const std::string& path) {
    for (int i = 0; i < 250; ++i) {
        std::string s = readFile(path);
        if (s.find("end\n") != std::string::npos) return s;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return readFile(path);
}

QString expectedFamily(const char* family) {
    return QFontDatabase::hasFamily(family) ? QString(family) : QApplication::font().family();
}

QColor textColour(const QWidget* w) {
    return w->palette().color(QPalette::WindowText);
}

}  // namespace

TEST(AboutForm, LayoutAndTexts) {
    TAboutForm f;
    EXPECT_EQ(f.objectName(), "AboutForm");
    EXPECT_EQ(f.dialogName(), "AboutForm");
    EXPECT_EQ(f.size(), QSize(247, 326));
    EXPECT_TRUE(f.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(f.palette().color(QPalette::Window), QColor(Qt::black));
    f.show();
    EXPECT_EQ(f.Panel1->geometry(), f.rect());
    EXPECT_EQ(f.Panel1->lineWidth(), 2);
    EXPECT_EQ(f.Panel1->frameShadow(), QFrame::Raised);

    // Full width inside the bevel, one below the other.
    const std::pair<QLabel*, int> rows[] = {{f.Label1, 31}, {f.Version, 33}, {f.Copyright, 48},
                                            {f.Label8, 54}, {f.Label5, 53},  {f.URL, 20},
                                            {f.Mail, 14}};
    int y = 2;
    for (auto [label, height] : rows) {
        EXPECT_EQ(label->geometry(), QRect(2, y, 243, height)) << label->objectName().toStdString();
        EXPECT_TRUE(label->alignment() & Qt::AlignHCenter);
        y += height;
    }
    EXPECT_LE(y, 260);  // all of them above the splash cut

    EXPECT_EQ(f.Label1->text(), "Tallowmere");
    EXPECT_EQ(f.Label1->font().pixelSize(), 27);
    EXPECT_EQ(f.Label1->font().family(), expectedFamily("Comic Sans MS"));
    EXPECT_EQ(textColour(f.Label1), QColor(Qt::red));
    EXPECT_EQ(f.Version->text().toStdString(), std::string("Version ") + TM_VERSION);
    EXPECT_EQ(f.Version->font().pixelSize(), 16);
    EXPECT_EQ(textColour(f.Version), QColor(0xC0, 0xC0, 0xC0));
    EXPECT_EQ(f.Copyright->text().toStdString(), ProgramVersionInfo().Entry(viLegalCopyright));
    EXPECT_FALSE(f.Copyright->text().isEmpty());
    EXPECT_EQ(textColour(f.Copyright), QColor(0xC0, 0xC0, 0xC0));
    EXPECT_EQ(f.Label8->font().pixelSize(), 13);
    EXPECT_TRUE(f.Label8->wordWrap());
    EXPECT_FALSE(f.Label8->text().isEmpty());
    EXPECT_EQ(f.Label5->font().pixelSize(), 11);
    EXPECT_EQ(f.Label5->font().family(), expectedFamily("MS Sans Serif"));
    EXPECT_TRUE(f.Label5->wordWrap());
    EXPECT_FALSE(f.Label5->text().isEmpty());
    EXPECT_EQ(textColour(f.Label5), QColor(Qt::white));

    EXPECT_EQ(f.URL->text(), "https://tallowmere.example.org");
    EXPECT_EQ(f.URL->toolTip(), "https://tallowmere.example.org");
    EXPECT_EQ(f.URL->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(f.Mail->text(), "eMail: tallowmere@example.org");
    EXPECT_EQ(f.Mail->toolTip(), "mailto:tallowmere@example.org");
    EXPECT_EQ(f.Mail->cursor().shape(), Qt::DragCopyCursor);

    EXPECT_EQ(f.OKBtn->geometry(), QRect(83, 270, 86, 47));
    EXPECT_TRUE(f.OKBtn->isFlat());
    EXPECT_FALSE(f.OKBtn->icon().isNull());
    EXPECT_EQ(f.OKBtn->palette().color(QPalette::ButtonText), QColor(Qt::white));
    EXPECT_TRUE(f.OKBtn->isVisibleTo(&f));
}

TEST(AboutForm, FileWithoutVersionResource) {
    TempDir t;
    TFileVersionInfo info(t.write("plain.exe", "no resource here"));
    TAboutForm f(info);
    EXPECT_EQ(f.Version->text(), "Version ");
    EXPECT_EQ(f.Copyright->text(), "");
    EXPECT_EQ(f.MailLink(), "mailto:tallowmere@example.org?subject=Tallowmere%20v");
}

TEST(AboutForm, OkClosesTheBox) {
    TAboutForm f;
    f.show();
    ASSERT_TRUE(f.isVisible());
    f.OKBtn->click();
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(f.result(), QDialog::Accepted);
}

TEST(AboutForm, LinksGoToTheDesktop) {
    TempDir t;
    const std::string record = t.path() + "open.txt";
    const std::string opener =
        t.write("bin/xdg-open", "#!/bin/sh\n{ echo \"args:$*\"; echo end; } > '" + record + "'\n");
    ::chmod(opener.c_str(), 0755);
    ScriptedPrompter prompts;
    TAboutForm f;
    f.show();
    {
        PathGuard path(t.path() + "bin");
        click(f.URL);
        EXPECT_EQ(waitForRecord(record), "args:https://tallowmere.example.org\nend\n");
        ::unlink(record.c_str());
        click(f.Mail);
        EXPECT_EQ(waitForRecord(record), std::string("args:mailto:tallowmere@example.org?subject="
                                                     "Tallowmere%20v") +
                                             TM_VERSION + "\nend\n");
    }
    {
        // No desktop handler: nothing is reported, the box stays.
        PathGuard path(t.path() + "nothing");
        f.URLClick();
        f.MailClick();
        EXPECT_TRUE(prompts.messages.empty());
        EXPECT_TRUE(f.isVisible());
    }
}

TEST(AboutForm, ShownModallyThroughThePrompter) {
    ScriptedPrompter prompts;
    app().languageSlots[73] =
        "Schlie\xC3\x9F"
        "en";
    int seen = 0;
    prompts.dialogs["AboutForm"] = [&](ModalDialog& d) {
        auto* f = dynamic_cast<TAboutForm*>(&d);
        EXPECT_NE(f, nullptr);
        if (!f) return 0;
        EXPECT_EQ(f->OKBtn->text(), QString::fromUtf8("Schließen"));
        EXPECT_EQ(f->height(), 326);
        EXPECT_EQ(aboutForms().size(), 1u);
        ++seen;
        return 1;
    };
    ShowAboutBox(nullptr);
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(prompts.dialogsRun, std::vector<std::string>{"AboutForm"});
    EXPECT_TRUE(aboutForms().empty());  // destroyed afterwards
    app().languageSlots[73].clear();
}

TEST(AboutForm, SplashWhileWorkRuns) {
    ScriptedPrompter prompts;
    int ran = 0;
    ShowSplashWhile([&] {
        ++ran;
        std::vector<TAboutForm*> forms = aboutForms();
        ASSERT_EQ(forms.size(), 1u);
        TAboutForm* f = forms[0];
        EXPECT_TRUE(f->isVisible());
        EXPECT_FALSE(f->isModal());
        EXPECT_EQ(f->size(), QSize(247, 260));
        // The OK button (top at 270) lies below the cut.
        EXPECT_EQ(f->OKBtn->y(), 270);
        EXPECT_FALSE(f->rect().intersects(f->OKBtn->geometry()));
        EXPECT_TRUE(f->rect().contains(f->Mail->geometry()));
        EXPECT_EQ(f->Version->text().toStdString(), std::string("Version ") + TM_VERSION);
        EXPECT_GE(prompts.processEventsCalls, 1);
    });
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(prompts.dialogsRun.empty());  // not modal
    EXPECT_TRUE(aboutForms().empty());

    // A failing scan still takes the splash away.
    EXPECT_THROW(ShowSplashWhile([] { throw std::runtime_error("scan failed"); }),
                 std::runtime_error);
    EXPECT_TRUE(aboutForms().empty());
}
