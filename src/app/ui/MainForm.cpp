#include "app/ui/MainForm.h"
#include "dialogs/FileVersionInfo.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QSvgRenderer>
#include <QToolButton>
#include <QTranslator>
#include <algorithm>
#include <climits>
#include <exception>
#include <iterator>
#include <map>

#include "app/AppState.h"
#include "app/StartUp.h"
#include "app/ui/LibraryCommands.h"
#include "app/ui/LibraryPanel.h"
#include "app/ui/MainFormFilter.h"
#include "app/ui/ReadmeDocument.h"
#include "archive/ZipArchiver.h"
#include "catalogue/ui/MissionGrid.h"
#include "dialogs/SetupLogic.h"
#include "dialogs/ui/Setup.h"
#include "game/Games.h"
#include "platform/AppPaths.h"
#include "platform/IniFile.h"
#include "platform/Prompter.h"
#include "platform/Settings.h"
#include "platform/TextUtil.h"
#include "platform/ui/QtPrompter.h"
#include "state/LanguageTable.h"

#ifdef _WIN32
#include <windows.h>
#endif

// Resources of a static library are registered by name from outside any namespace.
static void initMainFormResources() {
    Q_INIT_RESOURCE(mainform);
}

Tmainform* mainform = nullptr;

namespace {

constexpr int kCurrentBarHeight = 19;
constexpr int kStatusBarHeight = 17;
constexpr int kPanel2Height = 41;
constexpr int kPanel3Width = 337;
// Room the dragged bars leave: the list's least height, the read-me's, the list's width.
constexpr int kShortestList = 60;
constexpr int kShortestReadme = 40;
constexpr int kNarrowestList = 200;
// How far on each side of an edge its bar reaches for the mouse.
constexpr int kSplitReach = 2;
constexpr int kBevel = 2;  // raised inner plus lowered outer bevel

// Rendered for the densest screen, so that the image stays sharp at any scaling; its
// logical size is width x height.
QPixmap renderSvg(const QString& resource, int width, int height) {
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pm(qRound(width * ratio), qRound(height * ratio));
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    QPainter p(&pm);
    renderer.render(&p, QRectF(0, 0, width, height));
    return pm;
}

QFrame* makePanel(QWidget* parent, const char* name) {
    auto* f = new QFrame(parent);
    f->setObjectName(name);
    f->setFrameShape(QFrame::Panel);
    f->setFrameShadow(QFrame::Raised);
    f->setLineWidth(kBevel);
    return f;
}

// The widths the player gave the grid's columns, in section "window" as the window's place
// and size: "column width 1" for the first column on. A column without one is fitted. The
// title's width is never kept: it takes the room the others leave, on any screen and scale.

void restoreColumnWidths(TStringGridEx& grid) {
    const IniFile* s = app().settings.get();
    if (!s) return;
    for (int c = 0; c < grid.ColCount(); ++c)
        if (c != grid.StretchColumn())
            grid.SetUserColWidth(c, std::max(0, settings::get(s, settings::columnWidth(c))));
}

// Writes only what changed: a file the player never resized a column in stays as it was.
void saveColumnWidths(const TStringGridEx& grid) {
    IniFile* s = app().settings.get();
    if (!s) return;
    for (int c = 0; c < grid.ColCount(); ++c) {
        const settings::Number key = settings::columnWidth(c);
        const int width = c == grid.StretchColumn() ? 0 : grid.UserColWidth(c);
        if (width > 0 && settings::get(s, key) != width)
            settings::set(*s, key, width);
        else if (width <= 0 && settings::has(s, key))
            settings::erase(*s, key);
    }
}

// A bar between two parts of the window, dragged with the mouse: it reports the position
// the drag asks for, from the value `start` gave when the button went down.
class SplitHandle final : public QWidget {
  public:
    SplitHandle(QWidget* parent, const char* name, Qt::Orientation bar, int sign,
                std::function<int()> start, std::function<void(int)> dragTo)
        : QWidget(parent),
          bar_(bar),
          sign_(sign),
          start_(std::move(start)),
          dragTo_(std::move(dragTo)) {
        setObjectName(name);
        setCursor(bar == Qt::Horizontal ? Qt::SplitVCursor : Qt::SplitHCursor);
    }

  protected:
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton) return;
        pressedAt_ = along(e->globalPosition().toPoint());
        startValue_ = start_();
        dragging_ = true;
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (dragging_)
            dragTo_(startValue_ + sign_ * (along(e->globalPosition().toPoint()) - pressedAt_));
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) dragging_ = false;
    }

  private:
    int along(const QPoint& p) const { return bar_ == Qt::Horizontal ? p.y() : p.x(); }
    Qt::Orientation bar_;
    int sign_;
    std::function<int()> start_;
    std::function<void(int)> dragTo_;
    bool dragging_ = false;
    int pressedAt_ = 0;
    int startValue_ = 0;
};

SetupHooks setupHooks() {
    SetupHooks h;
    h.maximiseMainWindow = [] {
        if (!mainform) return;
        if (mainform->isVisible())
            mainform->showMaximized();
        else
            mainform->setWindowState(mainform->windowState() | Qt::WindowMaximized);
    };
    h.saveWindowGeometry = [] { SaveWindowGeometry(); };
    h.scanCatalogue = [] {
        if (mainform) mainform->ScanCatalogue(false);
    };
    return h;
}

}  // namespace

MainFormHooks& mainFormHooks() {
    static MainFormHooks hooks;
    return hooks;
}

// --- TStatusLine ------------------------------------------------------------------------

TStatusLine::TStatusLine(QWidget* parent) : QLabel(parent) {
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setTextFormat(Qt::PlainText);
    setIndent(2);
}

void TStatusLine::SetSimpleText(const std::string& text) {
    text_ = text;
    setText(text::display(text));
}

// --- Tmainform --------------------------------------------------------------------------

Tmainform::Tmainform(QWidget* parent) : QWidget(parent) {
    initMainFormResources();
    mainform = this;
    setSetupMainWindowHooks(setupHooks());
    setObjectName("mainform");
    // The window's texts are laid out for a small font: 11 pixels high.
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);
    createControls();
    installLibrary(*this);
    Zip = std::make_unique<TZipArchiver>();
    Zip2 = std::make_unique<TZipArchiver>();
    setUpArchiver(*Zip);
    setUpArchiver(*Zip2);
    resize(643, 461);
    // Small enough for a 1600 x 1000 screen at twice the scale, with a taskbar.
    setMinimumSize(610, 400);
    FormCreate();
    FormResize();
}

Tmainform::~Tmainform() {
    setLanguageApplyHook(nullptr);
    if (mainform == this) mainform = nullptr;
}

void Tmainform::setUpArchiver(TZipArchiver& zip) {
    using S = AddStoreSuffixEnum;
    zip.AddCompLevel = 5;
    zip.ExtrOptions = {ExtrOptsEnum::ExtrDirNames, ExtrOptsEnum::ExtrOverWrite};
    zip.Verbose = false;
    zip.Unattended = false;
    zip.ConfirmErase = false;
    zip.AddStoreSuffixes = {S::assGIF, S::assPNG, S::assZ,   S::assZIP, S::assZOO, S::assARC,
                            S::assLZH, S::assARJ, S::assTAZ, S::assTGZ, S::assLHA};
    zip.SetDLLDirectory(apppaths::libraryDir(app().exeDir));
    // Neither component ever asks for a password on its own: an encrypted member without
    // the password given on purpose (Zip.Password) is not extracted.
    zip.OnPasswordError = [](TZipArchiver*, std::string& password, const std::string&,
                             uint32_t& repeat) {
        password.clear();
        repeat = 0;
    };
}

QCheckBox* Tmainform::makeContentBox(const char* name, int x, int y, int width) {
    auto* box = new QCheckBox(Panel3);
    box->setObjectName(name);
    box->setGeometry(x, y, width, 17);
    box->setFocusPolicy(Qt::NoFocus);
    box->installEventFilter(this);
    // A mark rather than a box to tick: what the mission has, which no click changes.
    box->setStyleSheet(QStringLiteral(
        "QCheckBox::indicator { width: 12px; height: 12px; border: none; }"
        "QCheckBox::indicator:checked { image: url(:/mainform/icons/has.svg); }"
        "QCheckBox::indicator:unchecked { image: url(:/mainform/icons/lacks.svg); }"));
    return box;
}

QToolButton* Tmainform::makeButton(const char* name, const char* glyph, int x, int width) {
    auto* b = new QToolButton(Panel2);
    b->setObjectName(name);
    b->setAutoRaise(true);
    b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    b->setIcon(QIcon(renderSvg(QString(":/mainform/icons/%1.svg").arg(glyph), 24, 24)));
    b->setIconSize(QSize(24, 24));
    b->setGeometry(x, 3, width, 36);
    return b;
}

void Tmainform::createControls() {
    createGridPanel();
    createInfoPanel();
    createMemoAndCommands();
    createSplitHandles();
    // Tab goes as the window is read: the filter above the grid, the grid, the panel beside
    // it, the read-me, the finished box and the commands.
    QWidget* const chain[] = {FilterEdit,   QuestGrid,         LanguageCombo, PasswordButton,
                              questMemo,    Library,           finished,      playbutton,
                              dromedbutton, installonlybutton, removebutton,  SetupButton,
                              AboutButton};
    for (size_t i = 1; i < std::size(chain); ++i) setTabOrder(chain[i - 1], chain[i]);
}

// The installed-state bar, the grid and the filter field.
void Tmainform::createGridPanel() {
    CurrentBar = new TStatusLine(this);
    CurrentBar->setObjectName("CurrentBar");

    Panel1 = makePanel(this, "Panel1");
    QuestGrid = new TMissionGrid(Panel1);
    QuestGrid->setObjectName("QuestGrid");
    QuestGrid->SetRowCount(2);
    // The title takes the room the other columns leave; type-ahead goes by the title, or
    // by the archive's name while a mission has no title.
    QuestGrid->SetStretchColumn(columnOf(MissionColumn::Title));
    QuestGrid->TypeAheadColumns = {columnOf(MissionColumn::Title), columnOf(MissionColumn::Name)};
    restoreColumnWidths(*QuestGrid);
    if (const IniFile* settings = app().settings.get()) {
        listShare_ = std::clamp(settings::get(settings, settings::listShare), 0, 900);
        panelWidth_ = std::max(kPanel3Width, settings::get(settings, settings::infoPanelWidth));
    }
    QuestGrid->OnDrawCell = [this](TStringGridEx* s, int c, int r, const QRect& rect, QPainter& p,
                                   bool sel) {
        RunHandler([&] { QuestGridDrawCell(s, c, r, rect, p, sel); });
    };
    QuestGrid->OnSelectCell = [this](TStringGridEx* s, int c, int r, bool& can) {
        RunHandler([&] { QuestGridSelectCell(s, c, r, can); });
    };
    FilterEdit = new QLineEdit(Panel1);
    FilterEdit->setObjectName("FilterEdit");
    FilterEdit->setClearButtonEnabled(true);
    installMissionFilter(*this, *FilterEdit, *QuestGrid, [this] {
        for (QWidget* command : {playbutton, dromedbutton, installonlybutton})
            command->setEnabled(false);
        removeaction->setEnabled(false);
    });
    QuestGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(QuestGrid, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { RunHandler([&] { QuestGridContextMenu(pos); }); });
}

// The information panel: heading, content boxes, notes, language and password controls.
void Tmainform::createInfoPanel() {
    Panel3 = makePanel(Panel1, "Panel3");
    Questinfo = new QLabel(Panel3);
    Questinfo->setObjectName("Questinfo");
    Questinfo->setTextFormat(Qt::PlainText);
    Questinfo->setGeometry(9, 10, kPanel3Width - 18, 17);
    QFont bold = Questinfo->font();
    bold.setBold(true);
    Questinfo->setFont(bold);

    goalscheck = makeContentBox("goalscheck", 8, 34, 110);
    mapcheck = makeContentBox("mapcheck", 8, 66, 110);
    automapcheck = makeContentBox("automapcheck", 8, 82, 110);
    texturecheck = makeContentBox("texturecheck", 120, 34, 110);
    soundscheck = makeContentBox("soundscheck", 120, 50, 110);
    objectscheck = makeContentBox("objectscheck", 120, 66, 110);
    creaturescheck = makeContentBox("creaturescheck", 120, 82, 110);
    gamesyscheck = makeContentBox("gamesyscheck", 232, 34, 100);
    bookscheck = makeContentBox("bookscheck", 232, 50, 100);
    moviescheck = makeContentBox("moviescheck", 232, 66, 100);
    contentBoxes_ = {goalscheck,   mapcheck,       automapcheck, texturecheck, soundscheck,
                     objectscheck, creaturescheck, gamesyscheck, bookscheck,   moviescheck};

    NotesCaption = new QLabel(Panel3);
    NotesCaption->setObjectName("NotesCaption");
    NotesCaption->setTextFormat(Qt::PlainText);
    NotesCaption->setGeometry(11, 104, 100, 14);
    NotesCaption->setFont(bold);

    noteslabel = new QLabel(Panel3);
    noteslabel->setObjectName("noteslabel");
    noteslabel->setTextFormat(Qt::PlainText);
    noteslabel->setWordWrap(true);
    noteslabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    noteslabel->setGeometry(16, 118, 313, 70);

    LanguageCombo = new QComboBox(Panel3);
    LanguageCombo->setObjectName("LanguageCombo");
    // Beside the notes' caption, in the corner the content boxes leave free: it covers none
    // of the notes' text, which ends by asking for a language, however far that text runs.
    LanguageCombo->setGeometry(232, 94, 97, 21);
    LanguageCombo->hide();

    PasswordButton = new QPushButton(Panel3);
    PasswordButton->setObjectName("PasswordButton");
    PasswordButton->setGeometry(16, 160, 160, 24);
    PasswordButton->hide();
    connect(PasswordButton, &QPushButton::clicked, this, [this] {
        RunHandler([] {
            if (mainFormHooks().enterPassword) mainFormHooks().enterPassword();
        });
    });

    OrigPanel = makePanel(Panel3, "OrigPanel");
    // Opaque, so that it hides the panel's contents when it is shown over them.
    OrigPanel->setAutoFillBackground(true);
    OrigPanel->hide();
}

// The read-me memo, the finished box, the command buttons and the status lines below.
void Tmainform::createMemoAndCommands() {
    questMemo = new ReadmeView(this);
    questMemo->setObjectName("questMemo");
    questMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    {
        QPalette pal = questMemo->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::Button));
        questMemo->setPalette(pal);
    }

    Library = new LibraryPanel(this);

    finished = new QCheckBox(this);
    finished->setObjectName("finished");
    finished->resize(65, 17);
    connect(finished, &QCheckBox::clicked, this,
            [this] { RunHandler([this] { finishedClick(); }); });

    Panel2 = makePanel(this, "Panel2");
    playbutton = makeButton("playbutton", "play", 8, 85);
    dromedbutton = makeButton("dromedbutton", "dromed", 104, 85);
    installonlybutton = makeButton("installonlybutton", "install", 200, 110);
    removebutton = makeButton("removebutton", "remove", 321, 90);
    removeaction = new QAction(removebutton->icon(), QString(), this);
    removeaction->setObjectName("removeaction");
    removeaction->setEnabled(false);
    removebutton->setDefaultAction(removeaction);
    GridMenu = new QMenu(this);
    GridMenu->setObjectName("GridMenu");
    GridMenu->addAction(removeaction);
    oldersavesaction = new QAction(this);
    oldersavesaction->setObjectName("oldersavesaction");
    GridMenu->addAction(oldersavesaction);
    SetupButton = makeButton("SetupButton", "setup", 440, 93);
    AboutButton = makeButton("AboutButton", "about", 536, 85);
    connect(playbutton, &QToolButton::clicked, this,
            [this] { RunHandler([this] { playbuttonClick(); }); });
    connect(dromedbutton, &QToolButton::clicked, this,
            [this] { RunHandler([this] { DromedButtonClick(); }); });
    connect(installonlybutton, &QToolButton::clicked, this,
            [this] { RunHandler([this] { installonlybuttonClick(); }); });
    connect(removeaction, &QAction::triggered, this,
            [this] { RunHandler([this] { removeactionTriggered(); }); });
    connect(oldersavesaction, &QAction::triggered, this,
            [this] { RunHandler([this] { oldersavesactionTriggered(); }); });
    connect(SetupButton, &QToolButton::clicked, this,
            [this] { RunHandler([this] { SetupButtonClick(); }); });
    connect(AboutButton, &QToolButton::clicked, this,
            [this] { RunHandler([this] { AboutButtonClick(); }); });

    ProgressBar = new QProgressBar(Panel2);
    ProgressBar->setObjectName("ProgressBar");
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->hide();

    StatusBar = new TStatusLine(this);
    StatusBar->setObjectName("StatusBar");

    for (const games::Game& game : games::all())
        ImageList.games[game.number] = renderSvg(
            QString(":/mainform/icons/%1.svg").arg(QString::fromStdString(game.mark)), 16, 16);
    ImageList.finished = renderSvg(":/mainform/icons/finished.svg", 16, 16);
}

void Tmainform::ApplyLanguage() {
    auto caption = [](QAbstractButton* b, int n) { b->setText(text::display(slot(n))); };
    auto hint = [](QWidget* w, int n) { w->setToolTip(text::display(slot(n))); };
    caption(AboutButton, 6);
    hint(AboutButton, 7);
    caption(installonlybutton, 8);
    hint(installonlybutton, 9);
    dromedbutton->setText("&DromEd");
    hint(dromedbutton, 10);
    caption(playbutton, 11);
    hint(playbutton, 12);
    // The button shows the action's short text and hint; the menu its full text.
    removeaction->setIconText(text::display(slot(140)));
    removeaction->setToolTip(text::display(slot(141)));
    removeaction->setText(text::display(slot(142)));
    oldersavesaction->setText(text::display(slot(206)));
    caption(finished, 14);
    NotesCaption->setText(text::display(slot(25)));
    caption(PasswordButton, 117);
    setContentCaptions(contentCaptions_);
    caption(SetupButton, 72);
    hint(SetupButton, 67);
    FilterEdit->setPlaceholderText(text::display(slot(104)));
    applyLibraryLanguage(*this);
    applyInterfaceLocale();
    QuestGrid->viewport()->update();  // dates and sizes as the language writes them
}

void Tmainform::applyInterfaceLocale() {
    // Qt's own words (Yes, No, OK, Cancel in its boxes) and the dates follow the
    // interface's language, not the system's.
    static const std::map<std::string, const char*> kLocales = {
        {"english", "en"}, {"german", "de"}, {"french", "fr"}, {"spanish", "es"}};
    const auto found = kLocales.find(app().interfaceLanguage);
    const QLocale wanted(QString::fromLatin1(found == kLocales.end() ? "en" : found->second));
    // The system's own when it speaks the language: its country's way of writing a date.
    const QLocale system = QLocale::system();
    const QLocale locale =
        system.language() == wanted.language() ||
                (wanted.language() == QLocale::English && system.language() == QLocale::C)
            ? system
            : wanted;
    QLocale::setDefault(locale);
    static QTranslator* qtWords = nullptr;
    if (!qApp) return;
    if (qtWords) {
        QCoreApplication::removeTranslator(qtWords);
        delete qtWords;
        qtWords = nullptr;
    }
    auto* words = new QTranslator(qApp);
    if (locale.language() != QLocale::English &&
        words->load(locale, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(words);
        qtWords = words;
    } else {
        delete words;
    }
}

int Tmainform::Panel1HeightFor(int clientHeight) {
    return static_cast<int>(roundHalfEven(static_cast<int64_t>(clientHeight) * 5, 11));
}

// The list's height: as the player dragged it, kept clear of the window's edges, else 5/11.
int Tmainform::listHeightFor(int clientHeight) const {
    if (listShare_ <= 0) return Panel1HeightFor(clientHeight);
    const int most =
        clientHeight - kCurrentBarHeight - kStatusBarHeight - kPanel2Height - kShortestReadme;
    const auto share = static_cast<int>(roundHalfEven(int64_t{clientHeight} * listShare_, 1000));
    return std::clamp(share, std::min(kShortestList, most), std::max(kShortestList, most));
}

void Tmainform::createSplitHandles() {
    ListSplit = new SplitHandle(
        this, "ListSplit", Qt::Horizontal, 1, [this] { return Panel1->height(); },
        [this](int listHeight) {
            listShare_ = std::max(1, static_cast<int>(roundHalfEven(int64_t{listHeight} * 1000,
                                                                    std::max(1, height()))));
            FormResize();
        });
    PanelSplit = new SplitHandle(
        Panel1, "PanelSplit", Qt::Vertical, -1, [this] { return Panel3->width(); },
        [this](int width) {
            panelWidth_ = std::max(kPanel3Width, width);
            FormResize();
        });
}

void Tmainform::FormCreate() {
    // Product name and version from the program's version information; a build without it
    // falls back to the build's own values.
    const TFileVersionInfo& version = ProgramVersionInfo();
    const std::string product = version.Entry(viProductName);
    const std::string productVersion = version.Entry(viProductVersion);
    app().applicationTitle = (product.empty() ? std::string(TM_PRODUCT) : product) + " v" +
                             (productVersion.empty() ? std::string(TM_VERSION) : productVersion);
    setWindowTitle(text::display(app().applicationTitle));
    if (qApp) qApp->setProperty(kApplicationTitleProperty, windowTitle());
#ifdef _WIN32
    autoPlayMessage_ = static_cast<uint16_t>(RegisterWindowMessageW(L"QueryCancelAutoPlay"));
#endif
    setLanguageApplyHook([this] { ApplyLanguage(); });
}

void Tmainform::FormResize() {
    const int w = width();
    const int h = height();
    // Docked controls: status lines and Panel2 at the edges, the memo between.
    CurrentBar->setGeometry(0, 0, w, kCurrentBarHeight);
    const int panel1Height = listHeightFor(h);
    Panel1->setGeometry(0, kCurrentBarHeight, w, panel1Height);
    StatusBar->setGeometry(0, h - kStatusBarHeight, w, kStatusBarHeight);
    const int panel2Top = h - kStatusBarHeight - kPanel2Height;
    Panel2->setGeometry(0, panel2Top, w, kPanel2Height);
    const int memoTop = kCurrentBarHeight + panel1Height;
    const int memoHeight = std::max(0, panel2Top - memoTop);

    // Inside Panel1: Panel3 on the right, the grid fills the rest.
    const int innerHeight = std::max(0, panel1Height - 2 * kBevel);
    const int panelWidth =
        std::clamp(panelWidth_, kPanel3Width, std::max(kPanel3Width, w - kNarrowestList));
    const int panel3Left = std::max(kBevel, w - kBevel - panelWidth);
    Panel3->setGeometry(panel3Left, kBevel, panelWidth, innerHeight);
    // The read-me below the grid, the library below the panel.
    questMemo->setGeometry(0, memoTop, panel3Left, memoHeight);
    Library->setGeometry(panel3Left, memoTop, w - panel3Left, memoHeight);
    Questinfo->resize(panelWidth - 18, Questinfo->height());
    noteslabel->resize(panelWidth - 24, noteslabel->height());
    // The filter field above the grid.
    const int gridWidth = std::max(0, panel3Left - kBevel);
    const int filterHeight = std::min(innerHeight, FilterEdit->sizeHint().height());
    FilterEdit->setGeometry(kBevel, kBevel, gridWidth, filterHeight);
    QuestGrid->setGeometry(kBevel, kBevel + filterHeight, gridWidth, innerHeight - filterHeight);
    OrigPanel->setGeometry(0, 0, panelWidth, innerHeight);
    // The bars the mouse drags, over the edges they move.
    ListSplit->setGeometry(0, memoTop - kSplitReach, w, 2 * kSplitReach + 1);
    ListSplit->raise();
    PanelSplit->setGeometry(panel3Left - kSplitReach, kBevel, 2 * kSplitReach + 1, innerHeight);
    PanelSplit->raise();
    ProgressBar->setGeometry(0, 0, w, kPanel2Height);

    // The layout rule.
    AboutButton->move(Panel2->width() - AboutButton->width() - 5, AboutButton->y());
    SetupButton->move(AboutButton->x() - SetupButton->width() - 10, SetupButton->y());
    finished->move(w - 70, questMemo->y() - 25);
    finished->raise();
}

void Tmainform::SaveWindowGeometry() {
    writeWindowGeometry({pos().y(), pos().x(), height(), width()});
}

// The remembered place and size, kept whole on the screen it was on (or the window's own
// screen): a window remembered on a larger screen, or at a larger scale, shrinks to fit.
void Tmainform::RestoreWindowGeometry() {
    const WindowGeometry g = readWindowGeometry();
    const QRect wanted(g.left, g.top, g.width, g.height);
    const QScreen* on = QGuiApplication::screenAt(wanted.center());
    if (!on) on = screen();
    const QRect room = on->availableGeometry();
    const QSize size = wanted.size().boundedTo(room.size()).expandedTo(minimumSize());
    const int left = std::clamp(wanted.left(), room.left(),
                                std::max(room.left(), room.right() + 1 - size.width()));
    const int top = std::clamp(wanted.top(), room.top(),
                               std::max(room.top(), room.bottom() + 1 - size.height()));
    move(left, top);
    resize(size);
}

void Tmainform::FormClose() {
    Library->commitTyped();
    deleteEditorScripts();
    if (remembersWindowGeometry()) SaveWindowGeometry();
    saveColumnWidths(*QuestGrid);
    if (IniFile* settings = app().settings.get()) {
        if (listShare_ > 0 && settings::get(settings, settings::listShare) != listShare_)
            settings::set(*settings, settings::listShare, listShare_);
        if (panelWidth_ > kPanel3Width &&
            settings::get(settings, settings::infoPanelWidth) != panelWidth_)
            settings::set(*settings, settings::infoPanelWidth, panelWidth_);
    }
    const std::string flags = QuestGrid->ColumnFlags();
    if (!flags.empty() && app().settings) settings::set(*app().settings, settings::columns, flags);
}

void Tmainform::playbuttonClick() {
    InstallAndLaunch(InstallAction::Play);
}

void Tmainform::DromedButtonClick() {
    InstallAndLaunch(InstallAction::Editor);
}

void Tmainform::installonlybuttonClick() {
    InstallAndLaunch(InstallAction::InstallOnly);
}

void Tmainform::removeactionTriggered() {
    if (mainFormHooks().removeMissionFolder) mainFormHooks().removeMissionFolder();
}

void Tmainform::oldersavesactionTriggered() {
    if (mainFormHooks().bringBackSavedGame) mainFormHooks().bringBackSavedGame();
}

void Tmainform::SetupButtonClick() {
    RunSetupDialog();
}

void Tmainform::AboutButtonClick() {
    if (mainFormHooks().aboutBox) mainFormHooks().aboutBox();
}

void Tmainform::finishedClick() {
    if (mainFormHooks().finishedClick) mainFormHooks().finishedClick();
}

void Tmainform::QuestGridDrawCell(TStringGridEx* sender, int col, int row, const QRect& rect,
                                  QPainter& painter, bool selected) {
    if (mainFormHooks().drawCell)
        mainFormHooks().drawCell(sender, col, row, rect, painter, selected);
}

void Tmainform::QuestGridSelectCell(TStringGridEx* sender, int col, int row, bool& canSelect) {
    if (mainFormHooks().selectCell) mainFormHooks().selectCell(sender, col, row, canSelect);
}

void Tmainform::QuestGridContextMenu(const QPoint& pos) {
    const QModelIndex index = QuestGrid->indexAt(pos);
    const int row = index.row() + 1;
    // A game row has no archive, and no menu.
    const Mission* mission = index.isValid() ? QuestGrid->MissionAt(row) : nullptr;
    if (mission == nullptr || mission->gameRow) return;
    if (row != QuestGrid->Row()) {
        bool canSelect = true;
        QuestGridSelectCell(QuestGrid, index.column(), row, canSelect);
        if (!canSelect) return;
        // A click on one of several selected rows keeps them selected, for the library's
        // commands that act on them all.
        const std::vector<int> selected = QuestGrid->SelectedRows();
        if (std::find(selected.begin(), selected.end(), row) != selected.end())
            QuestGrid->SetCurrentRowInSelection(row);
        else
            QuestGrid->SetRow(row);
    }
    GridMenu->popup(QuestGrid->viewport()->mapToGlobal(pos));
}

int64_t Tmainform::ProgressPosition() const {
    // A position set on the bar itself (for example a reset to 0) wins over the count.
    const int64_t shown = std::min(progressPosition_, progressMax_) >> progressShift_;
    if (ProgressBar->value() != shown)
        progressPosition_ = static_cast<int64_t>(ProgressBar->value()) << progressShift_;
    return progressPosition_;
}

void Tmainform::SetProgressPosition(int64_t bytes) {
    progressPosition_ = std::max<int64_t>(0, bytes);
    ProgressBar->setValue(
        static_cast<int>(std::min(progressPosition_, progressMax_) >> progressShift_));
}

void Tmainform::SetProgressMax(int64_t bytes) {
    const int64_t position = ProgressPosition();
    // A bar of range 0..0 would show a busy animation instead of an empty bar.
    progressMax_ = std::max<int64_t>(1, bytes);
    progressShift_ = 0;
    while ((progressMax_ >> progressShift_) > INT_MAX) ++progressShift_;
    ProgressBar->setRange(0, static_cast<int>(progressMax_ >> progressShift_));
    SetProgressPosition(position);
}

void Tmainform::ScanCatalogue(bool refreshOnly) {
    if (mainFormHooks().scanCatalogue) mainFormHooks().scanCatalogue(refreshOnly);
}

void Tmainform::InstallAndLaunch(InstallAction action) {
    if (mainFormHooks().installAndLaunch) mainFormHooks().installAndLaunch(action);
}

void Tmainform::RunHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        showError(e.what());
    } catch (...) {
        showError("Unknown error");
    }
}

void Tmainform::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    FormResize();
}

void Tmainform::closeEvent(QCloseEvent* e) {
    // A failed settings write is shown, but never keeps the window from closing.
    RunHandler([this] { FormClose(); });
    e->accept();
}

void Tmainform::setContentCaptions(const std::array<int, 10>& captionSlots) {
    contentCaptions_ = captionSlots;
    for (size_t i = 0; i < contentBoxes_.size(); ++i)
        contentBoxes_[i]->setText(text::display(slot(contentCaptions_[i])));
}

bool Tmainform::eventFilter(QObject* watched, QEvent* e) {
    // The content check boxes show the analysis result only: the user cannot change them.
    for (QCheckBox* box : contentBoxes_) {
        if (watched != box) continue;
        switch (e->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
                return true;
            default:
                return false;
        }
    }
    return QWidget::eventFilter(watched, e);
}

#ifdef _WIN32
bool Tmainform::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    if (eventType == "windows_generic_MSG") {
        const MSG* msg = static_cast<const MSG*>(message);
        if (autoPlayMessage_ != 0 && msg->message == autoPlayMessage_) {
            *result = 1;
            return true;
        }
    }
    return QWidget::nativeEvent(eventType, message, result);
}
#endif

void SaveWindowGeometry() {
    if (mainform) mainform->SaveWindowGeometry();
}

void RestoreWindowGeometry() {
    if (mainform) mainform->RestoreWindowGeometry();
}
