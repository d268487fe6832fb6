#include "dialogs/ui/About.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "dialogs/FileVersionInfo.h"
#include "platform/Launcher.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

constexpr int kFormWidth = 247;
constexpr int kFormHeight = 326;
constexpr int kBevel = 2;

const QColor kSilver(0xC0, 0xC0, 0xC0);

// The named family at a pixel size; the application's own family where that one is not
// installed.
QFont FormFont(const char* family, int pixels) {
    QFont f = QFontDatabase::hasFamily(QString::fromLatin1(family))
                  ? QFont(QString::fromLatin1(family))
                  : QApplication::font();
    f.setPixelSize(pixels);
    return f;
}

void SetTextColour(QWidget* w, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::ButtonText, c);
    p.setColor(QPalette::Text, c);
    w->setPalette(p);
}

void SetBlack(QWidget* w) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, Qt::black);
    p.setColor(QPalette::Button, Qt::black);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

// The OK button's image: a green tick.
QPixmap TickImage() {
    QPixmap pm(20, 20);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(QColor(0x30, 0xC0, 0x30), 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    QPainterPath path;
    path.moveTo(3, 11);
    path.lineTo(8, 16);
    path.lineTo(17, 4);
    p.drawPath(path);
    return pm;
}

// Percent-encodes everything but the unreserved characters of a URI.
std::string UriEncode(const std::string& s) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

}  // namespace

TAboutForm::TAboutForm(QWidget* parent) : TAboutForm(ProgramVersionInfo(), parent) {}

TAboutForm::TAboutForm(const TFileVersionInfo& info, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), info_(info) {
    setObjectName("AboutForm");
    setFixedSize(kFormWidth, kFormHeight);
    SetBlack(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setLineWidth(kBevel);
    SetBlack(Panel1);
    {
        // The bevel in the usual button-face highlight and shadow, not shades of black.
        QPalette p = Panel1->palette();
        p.setColor(QPalette::Light, Qt::white);
        p.setColor(QPalette::Midlight, QColor(0xDF, 0xDF, 0xDF));
        p.setColor(QPalette::Mid, QColor(0xA0, 0xA0, 0xA0));
        p.setColor(QPalette::Dark, QColor(0x80, 0x80, 0x80));
        p.setColor(QPalette::Shadow, QColor(0x40, 0x40, 0x40));
        Panel1->setPalette(p);
    }
    layout->addWidget(Panel1);

    // The labels stack from the top, each the full width inside the bevel.
    int y = kBevel;
    auto label = [&](const char* name, int height, QFont font, const QColor& colour, bool wrap,
                     const QString& text) {
        auto* l = new QLabel(text, Panel1);
        l->setObjectName(name);
        l->setGeometry(kBevel, y, kFormWidth - 2 * kBevel, height);
        l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        l->setWordWrap(wrap);
        l->setFont(font);
        SetTextColour(l, colour);
        y += height;
        return l;
    };
    Label1 = label("Label1", 31, FormFont("Comic Sans MS", 27), Qt::red, false,
                   QStringLiteral("Tallowmere"));
    Version = label("Version", 33, FormFont("Comic Sans MS", 16), kSilver, false, QString());
    // Two lines of room: a legal line wider than the box wraps instead of being cut.
    Copyright = label("Copyright", 48, FormFont("Comic Sans MS", 16), kSilver, true, QString());
    Label8 = label("Label8", 54, FormFont("Comic Sans MS", 13), Qt::white, true,
                   QStringLiteral("With thanks to every fan mission author for keeping the "
                                  "City alive."));
    Label5 = label("Label5", 53, FormFont("MS Sans Serif", 11), Qt::white, true,
                   QStringLiteral("This program is free software and comes with ABSOLUTELY NO "
                                  "WARRANTY. Thief is a trademark of its owners."));
    URL = label("URL", 20, FormFont("MS Sans Serif", 11), Qt::white, false,
                QString::fromLatin1(kAuthorWebAddress));
    URL->setCursor(Qt::PointingHandCursor);
    URL->setToolTip(QString::fromLatin1(kAuthorWebAddress));
    URL->installEventFilter(this);
    Mail = label("Mail", 14, FormFont("MS Sans Serif", 11), Qt::white, false,
                 QStringLiteral("eMail: ") + QString::fromLatin1(kAuthorMailAddress));
    Mail->setCursor(Qt::DragCopyCursor);
    Mail->setToolTip(QStringLiteral("mailto:") + QString::fromLatin1(kAuthorMailAddress));
    Mail->installEventFilter(this);

    OKBtn = new QPushButton(Panel1);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setFlat(true);
    OKBtn->setIcon(QIcon(TickImage()));
    OKBtn->setIconSize(QSize(20, 20));
    OKBtn->setGeometry(83, 270, 86, 47);
    OKBtn->setFont(FormFont("MS Sans Serif", 11));
    SetTextColour(OKBtn, Qt::white);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kFormWidth / 2, kFormHeight / 2));
    }
    FormCreate();
}

void TAboutForm::FormCreate() {
    Copyright->setText(text::display(info_.Entry(viLegalCopyright)));
    Version->setText(text::display("Version " + info_.Entry(viProductVersion)));
}

std::string TAboutForm::MailLink() const {
    return std::string("mailto:") + kAuthorMailAddress +
           "?subject=" + UriEncode("Tallowmere v" + info_.Entry(viProductVersion));
}

void TAboutForm::URLClick() {
    // A missing browser is not reported.
    launcher::openLink(kAuthorWebAddress);
}

void TAboutForm::MailClick() {
    launcher::openLink(MailLink());
}

void TAboutForm::OKBtnClick() {
    accept();
}

std::string TAboutForm::dialogName() const {
    return objectName().toStdString();
}

int TAboutForm::execModal() {
    return exec();
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* e) {
    if ((watched == URL || watched == Mail) && e->type() == QEvent::MouseButtonRelease) {
        auto* me = static_cast<QMouseEvent*>(e);
        auto* w = static_cast<QWidget*>(watched);
        if (me->button() == Qt::LeftButton && w->rect().contains(me->position().toPoint())) {
            if (watched == URL)
                URLClick();
            else
                MailClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, e);
}

void ShowAboutBox(QWidget* parent) {
    TAboutForm form(parent);
    form.OKBtn->setText(text::display(slot(73)));
    prompter().runModal(form);
}

void ShowSplashWhile(const std::function<void()>& work) {
    TAboutForm splash;
    splash.setFixedHeight(kSplashHeight);
    splash.show();
    prompter().processEvents();
    work();
}
