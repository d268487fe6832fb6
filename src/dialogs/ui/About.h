#pragma once
// The about box: the program's name, version and legal line, and links to the author's
// web page and mail address. Shown modally from the main window and, cut short, as the
// splash window of the start-up.

#include <QDialog>
#include <functional>
#include <string>

#include "game/GameState.h"
#include "platform/Prompter.h"

class QEvent;
class QFrame;
class QLabel;
class QPushButton;
class TFileVersionInfo;

// The author's web page and mail address.
inline constexpr const char* kAuthorWebAddress = "https://tallowmere.example.org";
inline constexpr const char* kAuthorMailAddress = kContactAddress;

// Height of the about box shown as a splash: everything above the OK button.
inline constexpr int kSplashHeight = 260;

class TAboutForm : public QDialog, public ModalDialog {
    Q_OBJECT
  public:
    // `info` gives the version and legal line (the program's own by default); it must
    // outlive the form.
    explicit TAboutForm(QWidget* parent = nullptr);
    TAboutForm(const TFileVersionInfo& info, QWidget* parent = nullptr);

    QFrame* Panel1;
    QLabel* Label1;
    QLabel* Version;
    QLabel* Copyright;
    QLabel* Label8;
    QLabel* Label5;
    QLabel* URL;
    QLabel* Mail;
    QPushButton* OKBtn;

    // The link the mail label opens: "mailto:" + address + "?subject=Tallowmere v" +
    // product version, the subject's blanks and reserved characters percent-encoded.
    std::string MailLink() const;

    // Events.
    void FormCreate();
    void URLClick();
    void MailClick();
    void OKBtnClick();

    // ModalDialog
    std::string dialogName() const override;
    int execModal() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    const TFileVersionInfo& info_;
};

// Shows the about box modally over `parent` (the main window), its OK button captioned
// with language slot 73.
void ShowAboutBox(QWidget* parent);

// Shows the about box cut to the splash height, without its OK button and without
// waiting, while `work` runs; the box is gone when this returns (or throws).
void ShowSplashWhile(const std::function<void()>& work);
