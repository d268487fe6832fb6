#include "dialogs/ui/Setup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <initializer_list>
#include <utility>

#include "dialogs/ui/DirDlg.h"
#include "dialogs/ui/Hintctrl.h"
#include "platform/Settings.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

constexpr int kRadioCaptionHeight = 14;
constexpr int kFoldersHintSlot = 154;
constexpr int kFindGamesSlot = 170;
constexpr int kNoGameFoundSlot = 171;      // "No Thief game was found"
constexpr int kGameCommandHintSlot = 172;  // "Leave empty to start the game the way ..."
constexpr int kStartsThroughSlot = 173;    // "Starts through: %s"
constexpr int kUseGameSlot = 174;
constexpr int kSkippedFilesSlot = 175;  // heading of the launcher files not read
constexpr int kFindGamesHintSlot = 176;
constexpr int kFoundGamesHintSlot = 177;
// Between a label and the field it names.
constexpr int kLabelGap = 6;

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

// One line of the found-games list: "<game> — <dir> (Steam)".
QString foundGameLine(const gamesources::FoundGame& game) {
    const games::Game* known = games::find(game.game);
    return QStringLiteral("%1 \u2014 %2 (%3)")
        .arg(known ? text::display(known->name) : QString::number(game.game))
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

std::function<SetupFiles()>& setupFiles() {
    static std::function<SetupFiles()> files;
    return files;
}

void setSetupFiles(std::function<SetupFiles()> files) {
    setupFiles() = std::move(files);
}

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

// The items in a grid, filled top to bottom, column by column; the columns share the width.
void TRadioGroup::layoutItems() {
    auto* grid = qobject_cast<QGridLayout*>(layout());
    if (!grid) {
        grid = new QGridLayout(this);
        grid->setContentsMargins(8, kRadioCaptionHeight, 8, 4);
        grid->setVerticalSpacing(0);
    }
    const int n = static_cast<int>(Items.size());
    const int columns = std::max(1, Columns);
    const int perColumn = std::max(1, (n + columns - 1) / columns);
    for (QRadioButton* item : Items) grid->removeWidget(item);
    for (int i = 0; i < n; ++i) {
        grid->addWidget(Items[static_cast<size_t>(i)], i % perColumn, i / perColumn);
        grid->setColumnStretch(i / perColumn, 1);
    }
}

namespace {

// The width a group box keeps at least, as the dialog had at 96 dots per inch.
constexpr int kBoxWidth = 329;
// Beside the fields: the browse buttons and the buttons of a list.
constexpr int kBrowseWidth = 24;
constexpr int kListButtonWidth = 72;

QGroupBox* makeGroup(QWidget* parent, const char* name) {
    auto* box = new QGroupBox(parent);
    box->setObjectName(name);
    box->setMinimumWidth(kBoxWidth);
    return box;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    return l;
}

// A grid inside a group box: labels a gap away from the fields they name.
QGridLayout* boxGrid(QGroupBox* box) {
    auto* grid = new QGridLayout(box);
    grid->setHorizontalSpacing(kLabelGap);
    grid->setVerticalSpacing(3);
    grid->setColumnStretch(1, 1);
    return grid;
}

// A greyed note under a field: what a setting means.
QLabel* makeNote(QWidget* parent, const char* name) {
    auto* note = new QLabel(parent);
    note->setObjectName(name);
    note->setWordWrap(true);
    QPalette p = note->palette();
    p.setColor(QPalette::WindowText, p.color(QPalette::Disabled, QPalette::WindowText));
    note->setPalette(p);
    return note;
}

}  // namespace

TSetupDlg::TSetupDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      Hooks(mainWindowHooks()),
      Files(setupFiles() ? setupFiles()() : SetupFiles{}),
      Games(gameLookup()) {
    setObjectName("SetupDlg");
    setModal(true);
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPixelSize(11);  // 8 points at 96 dots per inch
    setFont(f);
    // The controls are placed below a caption that sits on the frame's top line; a style
    // that puts the caption above the frame would run the frame through the controls.
    setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 6px; padding: 0px 2px; }"));

    createDirectoryBoxes();
    createGameSearch();
    createOptionBoxes();
    createStartCommands();
    createButtons();
}

// The mission directories, and each game's directory followed by three lines for its
// details; the games found below them.
void TSetupDlg::createDirectoryBoxes() {
    MissionBox = makeGroup(this, "MissionBox");
    auto* missions = boxGrid(MissionBox);
    missiondirs = new THListBox(MissionBox);
    missiondirs->setObjectName("missiondirs");
    missiondirs->SpHint = true;
    missiondirs->setSelectionMode(QAbstractItemView::ExtendedSelection);
    missiondirs->setMinimumHeight(64);
    missiondirs->setMaximumHeight(105);
    AddBtn = makeButton(MissionBox, "AddBtn", QString());
    RemoveBtn = makeButton(MissionBox, "RemoveBtn", QString());
    missionshelp = makeNote(MissionBox, "missionshelp");
    missions->addWidget(missiondirs, 0, 0, 3, 2);
    missions->addWidget(AddBtn, 0, 2);
    missions->addWidget(RemoveBtn, 1, 2);
    missions->setRowStretch(2, 1);
    missions->addWidget(missionshelp, 3, 0, 1, 3);
    for (QPushButton* b : {AddBtn, RemoveBtn}) b->setMinimumWidth(kListButtonWidth);

    ThiefBox = makeGroup(this, "ThiefBox");
    gameRows_ = boxGrid(ThiefBox);
    for (const games::Game& game : games::all()) addGameRows(game);
}

// A game's rows: its name and directory with the browse button, whether missions go into
// mission folders, the engine version of the game program and the launcher it starts through.
void TSetupDlg::addGameRows(const games::Game& game) {
    const int number = game.number;
    GameControls& rows = games_[number];
    typed_[number];
    MissionFolderChoice& choice = folderChoices_[number];
    const int top = gameRows_->rowCount();
    const std::string n = std::to_string(number);
    // The game's name is the same in every language; its number is the key.
    QString caption = text::display(game.name);
    caption.insert(caption.lastIndexOf(QLatin1Char(' ')) + 1, QLatin1Char('&'));
    if (!game.labelCaption.empty()) caption = text::display(game.labelCaption);
    rows.label = makeLabel(ThiefBox, game.labelName.c_str(), caption);
    rows.dir = new THEdit(ThiefBox);
    rows.dir->setObjectName(QString::fromStdString("t" + n + "dir"));
    rows.dir->SpHint = true;
    rows.label->setBuddy(rows.dir);
    rows.browse = makeButton(ThiefBox, game.browseName.c_str(), QStringLiteral("..."));
    rows.browse->setFixedWidth(kBrowseWidth);
    rows.folders = new QCheckBox(text::display(slot(game.foldersCaptionSlot)), ThiefBox);
    rows.folders->setObjectName(QString::fromStdString("t" + n + "folders"));
    rows.folders->setToolTip(text::display(slot(kFoldersHintSlot)));
    connect(rows.folders, &QCheckBox::clicked, this, [&choice](bool on) { choice.choose(on); });
    // A game that plays fan missions only from mission folders offers no choice.
    rows.folders->setEnabled(!game.foldersOnly);
    rows.version = makeLabel(ThiefBox, ("t" + n + "version").c_str(), QString());
    rows.runner = makeLabel(ThiefBox, ("t" + n + "runner").c_str(), QString());
    gameRows_->addWidget(rows.label, top, 0);
    gameRows_->addWidget(rows.dir, top, 1);
    gameRows_->addWidget(rows.browse, top, 2);
    gameRows_->addWidget(rows.folders, top + 1, 1, 1, 2);
    gameRows_->addWidget(rows.version, top + 2, 1, 1, 2);
    gameRows_->addWidget(rows.runner, top + 3, 1, 1, 2);
    connect(rows.dir, &QLineEdit::textChanged, this, [this, number] { gameDirChanged(number); });
    connect(rows.browse, &QPushButton::clicked, this,
            [this, number] { browse(this->game(number).dir, typed_[number]); });
}

void TSetupDlg::gameDirChanged(int number) {
    GameControls& rows = game(number);
    const std::string dir = pathOf(rows.dir, typed_[number]);
    MissionFolderChoice& choice = folderChoices_[number];
    choice.follow(dir);
    const games::Game* known = games::find(number);
    rows.folders->setChecked(choice.on || (known && known->foldersOnly));
    rows.version->setText(text::display(engineVersionText(dir, number)));
    QString runner;
    if (!dir.empty() && Games.runner)
        runner = withArgument(slot(kStartsThroughSlot), Games.runner(dir).label);
    rows.runner->setText(runner);
    // A line with nothing to say takes no room.
    for (QLabel* line : {rows.version, rows.runner}) line->setVisible(!line->text().isEmpty());
}

// The list of the games found, with Find games and Use beside it.
void TSetupDlg::createGameSearch() {
    foundgames = new THListBox(ThiefBox);
    foundgames->setObjectName("foundgames");
    foundgames->setFixedHeight(56);
    foundgames->SpHint = true;
    foundgames->setToolTip(text::display(slot(kFoundGamesHintSlot)));
    findgames = makeButton(ThiefBox, "findgames", text::display(slot(kFindGamesSlot)));
    findgames->setToolTip(text::display(slot(kFindGamesHintSlot)));
    usegame = makeButton(ThiefBox, "usegame", text::display(slot(kUseGameSlot)));
    usegame->setEnabled(false);
    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(6);
    buttons->addWidget(findgames);
    buttons->addWidget(usegame);
    buttons->addStretch(1);
    auto* row = new QHBoxLayout;
    row->setSpacing(kLabelGap);
    row->addWidget(foundgames, 1);
    row->addLayout(buttons);
    gameRows_->addLayout(row, gameRows_->rowCount(), 0, 1, 3);
    connect(foundgames, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { useFoundGame(foundgames->row(item)); });
}

// The compression level with what it means, the window option and the language.
void TSetupDlg::createOptionBoxes() {
    OptionBox = makeGroup(this, "OptionBox");
    auto* options = boxGrid(OptionBox);
    CompressLabel = makeLabel(OptionBox, "CompressLabel", QString());
    compresslevel = new QSpinBox(OptionBox);
    compresslevel->setObjectName("compresslevel");
    compresslevel->setRange(kMinCompressLevel, kMaxCompressLevel);
    compresslevel->setValue(settings::compressionLevel.fallback);
    CompressLabel->setBuddy(compresslevel);
    compressrates = makeNote(OptionBox, "compressrates");
    options->addWidget(CompressLabel, 0, 0);
    options->addWidget(compresslevel, 0, 1, Qt::AlignLeft);
    options->addWidget(compressrates, 1, 0, 1, 2);

    Window = new TRadioGroup(this);
    Window->setObjectName("Window");
    Window->Columns = 2;
    Window->setMinimumWidth(kBoxWidth);

    LangBox = makeGroup(this, "LangBox");
    Language = new QComboBox(LangBox);
    Language->setObjectName("Language");
    Language->setEditable(false);
    boxGrid(LangBox)->addWidget(Language, 0, 0, 1, 2);
}

// The command of Windows programs, each game's own below it.
void TSetupDlg::createStartCommands() {
    StartBox = new QGroupBox(text::display(slot(120)), this);
    StartBox->setObjectName("StartBox");
    StartBox->setMinimumWidth(kBoxWidth);
    StartBox->setToolTip(text::display(slot(122)));
    auto* commands = boxGrid(StartBox);
    startcommand = new THEdit(StartBox);
    startcommand->setObjectName("startcommand");
    startcommand->SpHint = true;
    commands->addWidget(startcommand, 0, 0, 1, 2);
    auto command = [this, commands](int captionSlot, const char* label, const char* name,
                                    QLabel*& caption) {
        caption = makeLabel(StartBox, label, text::display(slot(captionSlot)));
        auto* edit = new THEdit(StartBox);
        caption->setBuddy(edit);
        edit->setObjectName(name);
        edit->SpHint = true;
        edit->setPlaceholderText(text::display(slot(kGameCommandHintSlot)));
        edit->setToolTip(edit->placeholderText());
        const int row = commands->rowCount();
        commands->addWidget(caption, row, 0);
        commands->addWidget(edit, row, 1);
        return edit;
    };
    for (const games::Game& known : games::all()) {
        const std::string n = std::to_string(known.number);
        GameControls& rows = game(known.number);
        rows.command = command(known.commandLabelSlot, ("t" + n + "commandLabel").c_str(),
                               ("t" + n + "command").c_str(), rows.commandLabel);
    }
    // The key of a box's caption goes to the field the caption names.
    for (QGroupBox* box : {MissionBox, LangBox, StartBox}) box->installEventFilter(this);
}

// OK and Cancel, and the events of every button.
void TSetupDlg::createButtons() {
    OKBtn = makeButton(this, "OKBtn", QString());
    OKBtn->setDefault(true);
    OKBtn->setAutoDefault(true);
    CancelBtn = makeButton(this, "CancelBtn", QString());
    for (QPushButton* b : {OKBtn, CancelBtn}) b->setMinimumSize(75, 25);

    connect(AddBtn, &QPushButton::clicked, this, &TSetupDlg::AddBtnClick);
    connect(RemoveBtn, &QPushButton::clicked, this, &TSetupDlg::RemoveBtnClick);
    connect(findgames, &QPushButton::clicked, this, &TSetupDlg::FindGamesClick);
    connect(usegame, &QPushButton::clicked, this, &TSetupDlg::UseGameClick);
    connect(OKBtn, &QPushButton::clicked, this, &TSetupDlg::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &TSetupDlg::CancelBtnClick);
}

// The boxes in one column; in two when one column is taller than the screen (a small
// screen, or a large scale): the missions and options on the left, the games, the language
// and the start commands on the right (the start commands on the left when the right is
// still too tall); OK and Cancel below. The dialog opens at
// the size its contents ask for, wider when the screen has room (so that paths show
// whole), and centred on the screen.
void TSetupDlg::arrange() {
    delete layout();
    const QScreen* on =
        parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    const QRect room = on ? on->availableGeometry() : QRect(0, 0, 1024, 768);
    // The window frame and title bar are not part of the dialog's height.
    constexpr int kFrame = 40;

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addSpacing(45);
    buttons->addWidget(CancelBtn);
    buttons->addStretch(1);
    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    for (QVBoxLayout* column : {left, right}) {
        column->setSpacing(3);
        columns->addLayout(column);
    }
    auto* all = new QVBoxLayout(this);
    all->setContentsMargins(8, 4, 8, 8);
    all->setSpacing(10);
    all->addLayout(columns, 1);
    all->addLayout(buttons);
    const std::initializer_list<QWidget*> boxes = {MissionBox, ThiefBox, OptionBox,
                                                   Window,     LangBox,  StartBox};
    for (QWidget* box : boxes) left->addWidget(box);
    left->addStretch(1);
    columns->setStretch(0, 1);
    // The notes wrap: the height follows the width.
    constexpr int kRoomyWidth = 520;
    auto widthWanted = [&] {
        return std::min(std::max(all->totalSizeHint().width(), kRoomyWidth), room.width());
    };
    auto heightAt = [&](int w) {
        return all->hasHeightForWidth() ? all->totalHeightForWidth(w)
                                        : all->totalSizeHint().height();
    };
    if (heightAt(widthWanted()) > room.height() - kFrame) {
        for (QWidget* box : std::initializer_list<QWidget*>{ThiefBox, LangBox, StartBox}) {
            left->removeWidget(box);
            right->addWidget(box);
        }
        right->addStretch(1);
        columns->setStretch(1, 1);
        all->invalidate();
        // Still too tall (three games on a small screen): the start commands go left.
        if (heightAt(widthWanted()) > room.height() - kFrame) {
            right->removeWidget(StartBox);
            left->insertWidget(left->count() - 1, StartBox);
            all->invalidate();
        }
    }
    const int w = widthWanted();
    resize(w, std::min(heightAt(w), room.height() - kFrame));
    move(room.center() - QPoint(width() / 2, height() / 2 + kFrame / 2));
}

TSetupDlg::~TSetupDlg() = default;

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

// The captions are set after the dialog is made and differ by language and font: the
// arrangement follows them.
void TSetupDlg::showEvent(QShowEvent* e) {
    arrange();
    orderTabs();
    QDialog::showEvent(e);
}

// Tab goes through the controls as they are read: top to bottom, in a row left to right.
void TSetupDlg::orderTabs() {
    std::vector<QWidget*> order = {missiondirs, AddBtn, RemoveBtn};
    for (const auto& [number, rows] : games_)
        order.insert(order.end(), {rows.dir, rows.browse, rows.folders});
    order.insert(order.end(), {foundgames, findgames, usegame, compresslevel});
    for (QRadioButton* item : Window->Items) order.push_back(item);
    order.insert(order.end(), {Language, startcommand});
    for (const auto& [number, rows] : games_) order.push_back(rows.command);
    order.insert(order.end(), {OKBtn, CancelBtn});
    for (size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

void TSetupDlg::LoadSettings() {
    SetState(LoadSetupState(Files));
    if (setupNeverConfirmed(Files.settings)) findOnFirstStart();
}

void TSetupDlg::findOnFirstStart() {
    SetupState s = State();
    for (const auto& [number, g] : s.games)
        if (!g.dir.empty()) return;
    if (!Games.find) return;
    showFoundGames(Games.find());
    const bool pick = fillFromFoundGames(s, found_);
    for (auto& [number, rows] : games_) setPath(rows.dir, typed_[number], s.games[number].dir);
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
    const gamesources::FoundGame& found = found_.games[static_cast<size_t>(row)];
    const auto rows = games_.find(found.game);
    if (rows != games_.end()) setPath(rows->second.dir, typed_[found.game], found.dir);
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
    for (const auto& [number, rows] : games_) {
        const auto g = s.games.find(number);
        folderChoices_[number] = g != s.games.end() ? g->second.folders : MissionFolderChoice{};
        setPath(rows.dir, typed_[number], g != s.games.end() ? g->second.dir : std::string());
    }
    // The same text again changes nothing in the boxes.
    for (const auto& [number, rows] : games_) gameDirChanged(number);
    Language->clear();
    for (const std::string& name : s.languages) Language->addItem(text::display(name));
    Language->setCurrentIndex(s.languageIndex);
    compresslevel->setValue(s.compressLevel);
    Window->SetItemIndex(s.windowMode);
    startcommand->setText(text::display(s.startCommand));
    for (const auto& [number, rows] : games_) {
        const auto g = s.games.find(number);
        rows.command->setText(text::display(g != s.games.end() ? g->second.command : ""));
    }
}

SetupState TSetupDlg::State() const {
    SetupState s;
    for (int i = 0; i < missiondirs->count(); ++i)
        s.missionDirs.push_back(itemPath(missiondirs->item(i)));
    for (const auto& [number, rows] : games_) {
        GameSetup& g = s.games[number];
        g.dir = pathOf(rows.dir, typed_.at(number));
        g.folders = folderChoices_.at(number);
        g.command = text::fromDisplay(rows.command->text());
    }
    for (int i = 0; i < Language->count(); ++i)
        s.languages.push_back(text::fromDisplay(Language->itemText(i)));
    s.languageIndex = Language->currentIndex();
    s.compressLevel = compresslevel->value();
    s.windowMode = Window->ItemIndex() == 1 ? 1 : 0;
    s.startCommand = text::fromDisplay(startcommand->text());
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

void TSetupDlg::OKBtnClick() {
    // An error stays with this dialog, which remains open.
    try {
        if (SetupOk(Files, State(), Hooks)) accept();
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
