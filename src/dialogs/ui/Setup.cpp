#include "dialogs/ui/Setup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <algorithm>
#include <exception>
#include <initializer_list>
#include <utility>

#include "dialogs/ui/DirDlg.h"
#include "dialogs/ui/Hintctrl.h"
#include "platform/TextUtil.h"
#include "state/AppState.h"

namespace {

constexpr int kRadioCaptionHeight = 14;
constexpr int kRadioItemHeight = 17;
constexpr int kFoldersCaptionSlot = 150;    // Thief 1's; the same words with another key
constexpr int kT2FoldersCaptionSlot = 202;  // for Thief 2
constexpr int kFoldersHintSlot = 154;
constexpr int kFindGamesSlot = 170;
constexpr int kNoGameFoundSlot = 171;      // "No Thief game was found"
constexpr int kGameCommandHintSlot = 172;  // "Leave empty to start the game the way ..."
constexpr int kStartsThroughSlot = 173;    // "Starts through: %s"
constexpr int kUseGameSlot = 174;
constexpr int kSkippedFilesSlot = 175;  // heading of the launcher files not read
constexpr int kFindGamesHintSlot = 176;
constexpr int kFoundGamesHintSlot = 177;
constexpr int kT1CommandLabelSlot = 203;
constexpr int kT2CommandLabelSlot = 204;
// Between a label and the field it names.
constexpr int kLabelGap = 6;
// The right edge of the controls inside a group box.
constexpr int kBoxInnerRight = 321;

QByteArray bytes(const std::string& s) {
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

std::string itemPath(const QListWidgetItem* item) {
    return item->data(Qt::UserRole).toByteArray().toStdString();
}

SetupHooks& mainWindowHooks() {
    static SetupHooks hooks;
    return hooks;
}

GameLookup& gameLookup() {
    static GameLookup lookup = launcherGameLookup();
    return lookup;
}

// `text` with its first "%s" replaced by `argument`.
QString withArgument(const std::string& text, const std::string& argument) {
    QString shown = text::display(text);
    const qsizetype at = shown.indexOf(QStringLiteral("%s"));
    if (at >= 0) shown.replace(at, 2, text::display(argument));
    return shown;
}

// One line of the found-games list: "Thief 2 — <dir> (Steam)".
QString foundGameLine(const gamesources::FoundGame& game) {
    return QStringLiteral("Thief %1 \u2014 %2 (%3)")
        .arg(game.game)
        .arg(text::display(game.dir), text::display(game.runner.label));
}

// The launcher files not read, under their heading; empty when every one was read.
QString skippedFiles(const gamesources::Discovery& found) {
    if (found.skipped.empty()) return {};
    QString lines = text::display(slot(kSkippedFilesSlot));
    for (const std::string& file : found.skipped)
        lines += QStringLiteral("\n") + text::display(file);
    return lines;
}

}  // namespace

SetupHooks setSetupMainWindowHooks(SetupHooks hooks) {
    return std::exchange(mainWindowHooks(), std::move(hooks));
}

GameLookup setSetupGameLookup(GameLookup lookup) {
    return std::exchange(gameLookup(), std::move(lookup));
}

TRadioGroup::TRadioGroup(QWidget* parent) : QGroupBox(parent) {}

void TRadioGroup::AddItem(const QString& caption) {
    auto* item = new QRadioButton(caption, this);
    item->setObjectName(objectName() + QString::number(Items.size()));
    Items.push_back(item);
    if (itemIndex_ == static_cast<int>(Items.size()) - 1) item->setChecked(true);
    item->show();
    layoutItems();
}

int TRadioGroup::ItemIndex() const {
    for (size_t i = 0; i < Items.size(); ++i)
        if (Items[i]->isChecked()) return static_cast<int>(i);
    return -1;
}

void TRadioGroup::SetItemIndex(int index) {
    itemIndex_ = index;
    for (size_t i = 0; i < Items.size(); ++i) {
        // Radio buttons of one group uncheck each other only when one gets checked.
        Items[i]->setAutoExclusive(false);
        Items[i]->setChecked(static_cast<int>(i) == index);
        Items[i]->setAutoExclusive(true);
    }
}

void TRadioGroup::resizeEvent(QResizeEvent* e) {
    QGroupBox::resizeEvent(e);
    layoutItems();
}

void TRadioGroup::layoutItems() {
    const int n = static_cast<int>(Items.size());
    if (n == 0) return;
    const int columns = std::max(1, Columns);
    const int perColumn = (n + columns - 1) / columns;
    const int columnWidth = (width() - 16) / columns;
    for (int i = 0; i < n; ++i) {
        const int col = i / perColumn, row = i % perColumn;
        Items[static_cast<size_t>(i)]->setGeometry(8 + col * columnWidth,
                                                   kRadioCaptionHeight + row * kRadioItemHeight,
                                                   columnWidth, kRadioItemHeight);
    }
}

namespace {

QGroupBox* makeGroup(QWidget* parent, const char* name, int x, int y, int w, int h) {
    auto* box = new QGroupBox(parent);
    box->setObjectName(name);
    box->setGeometry(x, y, w, h);
    return box;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, int x, int y,
                        int w, int h) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setGeometry(x, y, w, h);
    b->setAutoDefault(false);
    return b;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, int x, int y) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    l->move(x, y);
    l->adjustSize();
    return l;
}

}  // namespace

TSetupDlg::TSetupDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      Hooks(mainWindowHooks()),
      Games(gameLookup()) {
    setObjectName("SetupDlg");
    setModal(true);
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPixelSize(11);  // 8 points at 96 dots per inch
    setFont(f);
    setFixedSize(345, 565);
    // The controls are placed below a caption that sits on the frame's top line; a style
    // that puts the caption above the frame would run the frame through the controls.
    setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 6px; padding: 0px 2px; }"));

    createDirectoryBoxes();
    createGameDetails();
    createGameSearch();
    createOptionBoxes();
    createButtons();
    addStartCommandField();
    addGameCommands();
    placeOnScreen();
}

// The mission directories and the two game directories, each game's row followed by three
// lines for its details, and below them the games found.
void TSetupDlg::createDirectoryBoxes() {
    MissionBox = makeGroup(this, "MissionBox", 8, 8, 329, 129);
    missiondirs = new THListBox(MissionBox);
    missiondirs->setObjectName("missiondirs");
    missiondirs->setGeometry(8, 14, 225, 105);
    missiondirs->SpHint = true;
    missiondirs->setSelectionMode(QAbstractItemView::ExtendedSelection);
    AddBtn = makeButton(MissionBox, "AddBtn", QString(), 241, 32, 72, 25);
    RemoveBtn = makeButton(MissionBox, "RemoveBtn", QString(), 241, 80, 72, 25);

    ThiefBox = makeGroup(this, "ThiefBox", 8, 140, 329, 236);
    // The game's name is the same in every language; its number is the key.
    Label3 = makeLabel(ThiefBox, "Label3", QStringLiteral("Thief &1"), 8, 20);
    Label2 = makeLabel(ThiefBox, "Label2", QStringLiteral("Thief &2"), 8, 97);
    t1dir = new THEdit(ThiefBox);
    t1dir->setObjectName("t1dir");
    t1dir->setGeometry(52, 16, 245, 21);
    t1dir->SpHint = true;
    t2dir = new THEdit(ThiefBox);
    t2dir->setObjectName("t2dir");
    t2dir->setGeometry(52, 93, 245, 21);
    t2dir->SpHint = true;
    Button3 = makeButton(ThiefBox, "Button3", QStringLiteral("..."), 300, 16, 21, 21);
    Button4 = makeButton(ThiefBox, "Button4", QStringLiteral("..."), 300, 93, 21, 21);
    Label3->setBuddy(t1dir);
    Label2->setBuddy(t2dir);
}

// Below each game directory: whether missions go into mission folders, the engine version
// of the game program and the launcher it starts through. All follow the directory box.
void TSetupDlg::createGameDetails() {
    auto folders = [this](const char* name, int captionSlot, int y, MissionFolderChoice& choice) {
        auto* box = new QCheckBox(text::display(slot(captionSlot)), ThiefBox);
        box->setObjectName(name);
        box->setGeometry(52, y, 269, 17);
        box->setToolTip(text::display(slot(kFoldersHintSlot)));
        connect(box, &QCheckBox::clicked, this, [&choice](bool on) { choice.choose(on); });
        return box;
    };
    auto line = [this](const char* name, int y) {
        auto* label = new QLabel(ThiefBox);
        label->setObjectName(name);
        label->setGeometry(52, y, 269, 15);
        return label;
    };
    t1folders = folders("t1folders", kFoldersCaptionSlot, 39, t1folders_);
    t1version = line("t1version", 56);
    t1runner = line("t1runner", 73);
    t2folders = folders("t2folders", kT2FoldersCaptionSlot, 116, t2folders_);
    t2version = line("t2version", 133);
    t2runner = line("t2runner", 150);
    connect(t1dir, &QLineEdit::textChanged, this, [this] { gameDirChanged(1); });
    connect(t2dir, &QLineEdit::textChanged, this, [this] { gameDirChanged(2); });
}

void TSetupDlg::gameDirChanged(int game) {
    const bool first = game == 1;
    const std::string dir = first ? pathOf(t1dir, t1text_) : pathOf(t2dir, t2text_);
    MissionFolderChoice& choice = first ? t1folders_ : t2folders_;
    choice.follow(dir);
    (first ? t1folders : t2folders)->setChecked(choice.on);
    (first ? t1version : t2version)->setText(text::display(engineVersionText(dir, game)));
    QString runner;
    if (!dir.empty() && Games.runner)
        runner = withArgument(slot(kStartsThroughSlot), Games.runner(dir).label);
    (first ? t1runner : t2runner)->setText(runner);
}

// The list of the games found, with Find games and Use beside it.
void TSetupDlg::createGameSearch() {
    foundgames = new THListBox(ThiefBox);
    foundgames->setObjectName("foundgames");
    foundgames->setGeometry(8, 172, 215, 56);
    foundgames->SpHint = true;
    foundgames->setToolTip(text::display(slot(kFoundGamesHintSlot)));
    findgames =
        makeButton(ThiefBox, "findgames", text::display(slot(kFindGamesSlot)), 230, 172, 91, 25);
    findgames->setToolTip(text::display(slot(kFindGamesHintSlot)));
    usegame = makeButton(ThiefBox, "usegame", text::display(slot(kUseGameSlot)), 230, 203, 91, 25);
    usegame->setEnabled(false);
    connect(foundgames, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { useFoundGame(foundgames->row(item)); });
}

// The compression level, the window option and the language.
void TSetupDlg::createOptionBoxes() {
    OptionBox = makeGroup(this, "OptionBox", 8, 379, 329, 50);
    CompressLabel = makeLabel(OptionBox, "CompressLabel", QString(), 8, 21);
    compresslevel = new QSpinBox(OptionBox);
    compresslevel->setObjectName("compresslevel");
    compresslevel->setGeometry(160, 17, 41, 22);
    compresslevel->setRange(kMinCompressLevel, kMaxCompressLevel);
    compresslevel->setValue(kDefaultCompressLevel);
    CompressLabel->setBuddy(compresslevel);
    compressrates = new QLabel(OptionBox);
    compressrates->setObjectName("compressrates");
    compressrates->setGeometry(208, 14, 113, 28);
    compressrates->setWordWrap(true);
    {
        QPalette p = compressrates->palette();
        p.setColor(QPalette::WindowText, p.color(QPalette::Disabled, QPalette::WindowText));
        compressrates->setPalette(p);
    }

    Window = new TRadioGroup(this);
    Window->setObjectName("Window");
    Window->Columns = 2;
    Window->setGeometry(8, 432, 329, 38);

    LangBox = makeGroup(this, "LangBox", 8, 473, 329, 46);
    Language = new QComboBox(LangBox);
    Language->setObjectName("Language");
    Language->setEditable(false);
    Language->setGeometry(8, 16, 313, Language->sizeHint().height());
}

// OK and Cancel, and the events of every button.
void TSetupDlg::createButtons() {
    OKBtn = makeButton(this, "OKBtn", QString(), 79, 531, 75, 25);
    OKBtn->setDefault(true);
    OKBtn->setAutoDefault(true);
    CancelBtn = makeButton(this, "CancelBtn", QString(), 199, 531, 75, 25);

    connect(AddBtn, &QPushButton::clicked, this, &TSetupDlg::AddBtnClick);
    connect(RemoveBtn, &QPushButton::clicked, this, &TSetupDlg::RemoveBtnClick);
    connect(Button3, &QPushButton::clicked, this, &TSetupDlg::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TSetupDlg::Button4Click);
    connect(findgames, &QPushButton::clicked, this, &TSetupDlg::FindGamesClick);
    connect(usegame, &QPushButton::clicked, this, &TSetupDlg::UseGameClick);
    connect(OKBtn, &QPushButton::clicked, this, &TSetupDlg::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &TSetupDlg::CancelBtnClick);
}

void TSetupDlg::placeOnScreen() {
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

TSetupDlg::~TSetupDlg() = default;

// A group below the language, the buttons moved down to make room for it.
void TSetupDlg::addStartCommandField() {
    constexpr int kRoom = 49;
    setFixedSize(width(), height() + kRoom);
    for (QPushButton* b : {OKBtn, CancelBtn}) b->move(b->x(), b->y() + kRoom);
    StartBox = new QGroupBox(text::display(slot(120)), this);
    StartBox->setObjectName("StartBox");
    StartBox->setGeometry(8, 522, 329, 46);
    StartBox->setToolTip(text::display(slot(122)));
    startcommand = new THEdit(StartBox);
    startcommand->setObjectName("startcommand");
    startcommand->setGeometry(8, 16, 313, 21);
    startcommand->SpHint = true;
}

// Below the command of Windows programs, each game's own, the box grown to hold them.
void TSetupDlg::addGameCommands() {
    constexpr int kRoom = 50;
    setFixedSize(width(), height() + kRoom);
    for (QPushButton* b : {OKBtn, CancelBtn}) b->move(b->x(), b->y() + kRoom);
    StartBox->resize(StartBox->width(), StartBox->height() + kRoom);
    auto command = [this](int captionSlot, const char* label, const char* name, int y,
                          QLabel*& caption) {
        caption = makeLabel(StartBox, label, text::display(slot(captionSlot)), 8, y + 4);
        auto* edit = new THEdit(StartBox);
        caption->setBuddy(edit);
        edit->setObjectName(name);
        edit->setGeometry(52, y, 269, 21);
        edit->SpHint = true;
        edit->setPlaceholderText(text::display(slot(kGameCommandHintSlot)));
        edit->setToolTip(edit->placeholderText());
        return edit;
    };
    t1command = command(kT1CommandLabelSlot, "t1commandLabel", "t1command", 41, t1commandLabel);
    t2command = command(kT2CommandLabelSlot, "t2commandLabel", "t2command", 66, t2commandLabel);
    // The key of a box's caption goes to the field the caption names.
    for (QGroupBox* box : {MissionBox, LangBox, StartBox}) box->installEventFilter(this);
}

bool TSetupDlg::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::Shortcut) {
        QWidget* field = watched == MissionBox ? static_cast<QWidget*>(missiondirs)
                         : watched == LangBox  ? static_cast<QWidget*>(Language)
                         : watched == StartBox ? static_cast<QWidget*>(startcommand)
                                               : nullptr;
        if (field) {
            field->setFocus(Qt::ShortcutFocusReason);
            return true;
        }
    }
    return QDialog::eventFilter(watched, e);
}

void TSetupDlg::showEvent(QShowEvent* e) {
    placeLabelledFields();
    orderTabs();
    QDialog::showEvent(e);
}

// The captions are set after the dialog is made and differ by language and font: each
// field starts a gap to the right of the widest label of its column, its label centred on it.
void TSetupDlg::placeLabelledFields() {
    auto fieldsLeft = [](std::initializer_list<QLabel*> labels) {
        int right = 0;
        for (QLabel* label : labels) {
            label->adjustSize();
            right = std::max(right, label->x() + label->width());
        }
        return right + kLabelGap;
    };
    auto span = [](QWidget* w, int left, int right) {
        w->setGeometry(left, w->y(), right - left, w->height());
    };
    auto centre = [](QLabel* label) {
        const QWidget* field = label->buddy();
        label->move(label->x(), field->y() + (field->height() - label->height()) / 2);
    };

    const int games = fieldsLeft({Label3, Label2});
    for (QWidget* w : {t1dir, t2dir}) span(w, games, Button3->x() - 3);
    for (QWidget* w : std::initializer_list<QWidget*>{t1folders, t1version, t1runner, t2folders,
                                                      t2version, t2runner})
        span(w, games, kBoxInnerRight);

    const int compress = std::max(160, fieldsLeft({CompressLabel}));
    compresslevel->move(compress, compresslevel->y());
    span(compressrates, compresslevel->geometry().right() + 8, kBoxInnerRight);

    const int commands = fieldsLeft({t1commandLabel, t2commandLabel});
    for (QWidget* w : {t1command, t2command}) span(w, commands, kBoxInnerRight);

    for (QLabel* label : {Label3, Label2, CompressLabel, t1commandLabel, t2commandLabel})
        centre(label);
}

// Tab goes through the controls as they are read: top to bottom, in a row left to right.
void TSetupDlg::orderTabs() {
    std::vector<QWidget*> order = {missiondirs, AddBtn,  RemoveBtn,    t1dir,     Button3,
                                   t1folders,   t2dir,   Button4,      t2folders, foundgames,
                                   findgames,   usegame, compresslevel};
    for (QRadioButton* item : Window->Items) order.push_back(item);
    for (QWidget* w : std::initializer_list<QWidget*>{Language, startcommand, t1command, t2command,
                                                      OKBtn, CancelBtn})
        order.push_back(w);
    for (size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

void TSetupDlg::LoadSettings() {
    SetState(LoadSetupState());
    if (setupNeverConfirmed(app().settings.get())) findOnFirstStart();
}

void TSetupDlg::findOnFirstStart() {
    SetupState s = State();
    if (!s.t1dir.empty() || !s.t2dir.empty() || !Games.find) return;
    showFoundGames(Games.find());
    const bool pick = fillFromFoundGames(s, found_);
    setPath(t1dir, t1text_, s.t1dir);
    setPath(t2dir, t2text_, s.t2dir);
    if (pick) foundgames->setFocus();
}

void TSetupDlg::showFoundGames(gamesources::Discovery found) {
    found_ = std::move(found);
    foundgames->clear();
    for (const gamesources::FoundGame& game : found_.games)
        foundgames->addItem(foundGameLine(game));
    QString hint = text::display(slot(kFoundGamesHintSlot));
    if (!found_.skipped.empty()) hint += QStringLiteral("\n\n") + skippedFiles(found_);
    foundgames->setToolTip(hint);
    usegame->setEnabled(!found_.games.empty());
    if (!found_.games.empty()) foundgames->setCurrentRow(0);
}

void TSetupDlg::useFoundGame(int row) {
    if (row < 0 || row >= static_cast<int>(found_.games.size())) return;
    const gamesources::FoundGame& game = found_.games[static_cast<size_t>(row)];
    if (game.game == 1) {
        setPath(t1dir, t1text_, game.dir);
    } else if (game.game == 2) {
        setPath(t2dir, t2text_, game.dir);
    }
}

void TSetupDlg::FindGamesClick() {
    if (!Games.find) return;
    showFoundGames(Games.find());
    if (!found_.games.empty()) return;
    QString text = text::display(slot(kNoGameFoundSlot));
    if (!found_.skipped.empty()) text += QStringLiteral("\n\n") + skippedFiles(found_);
    prompter().message(text::fromDisplay(text), PromptButtons::Ok, PromptIcon::Information);
}

void TSetupDlg::UseGameClick() {
    useFoundGame(foundgames->currentRow());
}

void TSetupDlg::SetState(const SetupState& s) {
    missiondirs->clear();
    for (const std::string& dir : s.missionDirs) {
        auto* item = new QListWidgetItem(text::display(dir));
        item->setData(Qt::UserRole, bytes(dir));
        missiondirs->addItem(item);
    }
    t1folders_ = s.t1folders;
    t2folders_ = s.t2folders;
    setPath(t1dir, t1text_, s.t1dir);
    setPath(t2dir, t2text_, s.t2dir);
    // The same text again changes nothing in the boxes.
    gameDirChanged(1);
    gameDirChanged(2);
    Language->clear();
    for (const std::string& name : s.languages) Language->addItem(text::display(name));
    Language->setCurrentIndex(s.languageIndex);
    compresslevel->setValue(s.compressLevel);
    Window->SetItemIndex(s.windowMode);
    startcommand->setText(text::display(s.startCommand));
    t1command->setText(text::display(s.t1command));
    t2command->setText(text::display(s.t2command));
}

SetupState TSetupDlg::State() const {
    SetupState s;
    for (int i = 0; i < missiondirs->count(); ++i)
        s.missionDirs.push_back(itemPath(missiondirs->item(i)));
    s.t1dir = pathOf(t1dir, t1text_);
    s.t2dir = pathOf(t2dir, t2text_);
    s.t1folders = t1folders_;
    s.t2folders = t2folders_;
    for (int i = 0; i < Language->count(); ++i)
        s.languages.push_back(text::fromDisplay(Language->itemText(i)));
    s.languageIndex = Language->currentIndex();
    s.compressLevel = compresslevel->value();
    s.windowMode = Window->ItemIndex() == 1 ? 1 : 0;
    s.startCommand = text::fromDisplay(startcommand->text());
    s.t1command = text::fromDisplay(t1command->text());
    s.t2command = text::fromDisplay(t2command->text());
    return s;
}

void TSetupDlg::setPath(THEdit* edit, std::string& typed, const std::string& value) {
    typed = value;
    edit->setText(text::display(value));
    // A long path shows from its start; the hint shows the rest.
    edit->setCursorPosition(0);
}

std::string TSetupDlg::pathOf(const THEdit* edit, const std::string& typed) const {
    const QString shown = edit->text();
    return shown == text::display(typed) ? typed : text::fromDisplay(shown);
}

TSelectDirDlg& TSetupDlg::chooser() {
    if (SelectDirDlg) return *SelectDirDlg;
    if (!ownChooser_) ownChooser_ = std::make_unique<TSelectDirDlg>(this);
    return *ownChooser_;
}

void TSetupDlg::AddBtnClick() {
    TSelectDirDlg& dlg = chooser();
    if (prompter().runModal(dlg) != QDialog::Accepted) return;
    const std::string dir = dlg.Directory();
    std::vector<std::string> dirs = State().missionDirs;
    const int at = static_cast<int>(insertMissionDir(dirs, dir));
    auto* item = new QListWidgetItem(text::display(dir));
    item->setData(Qt::UserRole, bytes(dir));
    missiondirs->insertItem(at, item);
    // The new entry alone is selected, so that a Remove right after takes only it.
    missiondirs->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
}

void TSetupDlg::RemoveBtnClick() {
    for (QListWidgetItem* item : missiondirs->selectedItems()) delete item;
}

void TSetupDlg::browse(THEdit* edit, std::string& typed) {
    TSelectDirDlg& dlg = chooser();
    // An empty box opens where the chooser stands.
    dlg.SetDirectory(pathOf(edit, typed));
    if (prompter().runModal(dlg) != QDialog::Accepted) return;
    setPath(edit, typed, dlg.Directory());
}

void TSetupDlg::Button3Click() {
    browse(t1dir, t1text_);
}

void TSetupDlg::Button4Click() {
    browse(t2dir, t2text_);
}

void TSetupDlg::OKBtnClick() {
    // An error stays with this dialog, which remains open.
    try {
        if (SetupOk(State(), Hooks)) accept();
    } catch (const std::exception& e) {
        showError(e.what());
    } catch (...) {
        showError("Unknown error");
    }
}

void TSetupDlg::CancelBtnClick() {
    reject();
}

std::string TSetupDlg::dialogName() const {
    return objectName().toStdString();
}

int TSetupDlg::execModal() {
    return exec();
}
