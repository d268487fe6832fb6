#include "dialogs/ui/DirDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStyle>
#include <QToolTip>
#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

QString qpath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string spath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

std::string homeDirectory() {
    return spath(QDir::homePath());
}

// "~" and "~/..." with the home directory put in; other paths as they are.
std::string withHome(const std::string& path) {
    if (path == "~" || path.rfind("~/", 0) == 0
#ifdef _WIN32
        || path.rfind("~\\", 0) == 0
#endif
    )
        return homeDirectory() + path.substr(1);
    return path;
}

// The chooser's texts in the language table.
constexpr int kShowHiddenSlot = 195;
constexpr int kPathLabelSlot = 196;
constexpr int kFolderLabelSlot = 197;
constexpr int kFolderHintSlot = 198;
constexpr int kNoSuchFolderSlot = 199;

// Each folder item's path and its name as shown, without the indent.
constexpr int kPathRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;

// The folder list: Enter opens the current folder, Backspace goes to the parent, and
// typed letters move to the next folder whose name starts with them.
class FolderListBox : public QListWidget {
  public:
    FolderListBox(QWidget* parent, std::function<void()> open, std::function<void()> up)
        : QListWidget(parent), open_(std::move(open)), up_(std::move(up)) {}

    void keyboardSearch(const QString& search) override {
        if (search.isEmpty() || count() == 0) {
            typed_.clear();
            return;
        }
        if (!typing_.isValid() || typing_.elapsed() > QApplication::keyboardInputInterval())
            typed_.clear();
        typing_.restart();
        typed_ += search;
        // One letter, or the same letter again and again, steps to the next name with it;
        // a longer start stays on the current name while it still fits.
        QString start = typed_;
        if (start.count(start.front()) == start.size()) start.truncate(1);
        const bool step = start.size() == 1;
        const int from = std::max(currentRow(), 0);
        for (int i = 0; i < count(); ++i) {
            const int row = (from + i + (step ? 1 : 0)) % count();
            if (item(row)->data(kNameRole).toString().startsWith(start, Qt::CaseInsensitive)) {
                setCurrentRow(row);
                return;
            }
        }
    }

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier |
                                                   Qt::ShiftModifier | Qt::MetaModifier));
        switch (event->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                typed_.clear();
                open_();
                event->accept();
                return;
            case Qt::Key_Backspace:
                if (!plain) break;
                typed_.clear();
                up_();
                event->accept();
                return;
            default:
                break;
        }
        QListWidget::keyPressEvent(event);
    }

  private:
    std::function<void()> open_, up_;
    QString typed_;
    QElapsedTimer typing_;
};

// A mounts table field with its octal escapes (\040 for a blank, ...) decoded.
std::string unescapeMountField(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7') {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

bool startsWithFolder(const std::string& path, const std::string& folder) {
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

// File systems of the kernel and of the system's own bookkeeping: no user folders.
bool isSystemMount(const std::string& point, const std::string& type) {
    static const std::set<std::string> kTypes = {
        "proc",       "sysfs",    "devtmpfs",  "devpts",   "cgroup",      "cgroup2",
        "pstore",     "bpf",      "debugfs",   "tracefs",  "securityfs",  "mqueue",
        "hugetlbfs",  "configfs", "fusectl",   "autofs",   "binfmt_misc", "efivarfs",
        "rpc_pipefs", "nsfs",     "selinuxfs", "squashfs", "ramfs"};
    if (kTypes.count(type)) return true;
    for (const char* folder : {"/proc", "/sys", "/dev", "/snap", "/var/lib/docker"})
        if (startsWithFolder(point, folder)) return true;
    // /run holds the system's state; removable media appear under /run/media.
    return startsWithFolder(point, "/run") && !startsWithFolder(point, "/run/media");
}

std::string parentOf(const std::string& dir) {
    const size_t slash = dir.find_last_of(fsx::kPathDelim);
    if (slash == std::string::npos) return std::string();
    if (slash == 0) return dir.size() > 1 ? std::string(1, fsx::kPathDelim) : std::string();
#ifdef _WIN32
    if (slash == 2 && dir[1] == ':') return dir.size() > 3 ? dir.substr(0, 3) : std::string();
#endif
    return dir.substr(0, slash);
}

// Subfolder names of `dir`, sorted without regard to case. Hidden folders are left out
// unless `hidden`, except Wine prefixes, where games are commonly installed.
std::vector<std::string> subfolders(const std::string& dir, bool hidden) {
    QDir d(qpath(dir));
    std::vector<std::string> names;
    const QFileInfoList infos =
        d.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& info : infos) {
        const QString name = info.fileName();
        if (!hidden && name.startsWith('.') &&
            !QFileInfo(info.absoluteFilePath() + QStringLiteral("/drive_c")).isDir())
            continue;
        names.push_back(spath(name));
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string la = text::lowerAscii(a), lb = text::lowerAscii(b);
        return la != lb ? la < lb : a < b;
    });
    return names;
}

std::string joinDir(const std::string& dir, const std::string& name) {
    return text::withTrailingDelim(dir) + name;
}

}  // namespace

std::vector<std::string> mountedVolumes(const std::string& mountsTable, const std::string& home) {
    std::vector<std::string> all;
    std::set<std::string> chosen = {"/"};
    std::istringstream in(mountsTable);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string device, point, type;
        if (!(fields >> device >> point >> type)) continue;
        point = unescapeMountField(point);
        if (point.empty() || point[0] != '/') continue;
        all.push_back(point);
        if (!isSystemMount(point, type) && fsx::directoryExists(point)) chosen.insert(point);
    }
    if (!home.empty()) {
        const std::string homeVolume = volumeOf(all, home);
        if (!homeVolume.empty()) chosen.insert(homeVolume);
    }
    return {chosen.begin(), chosen.end()};
}

std::string volumeOf(const std::vector<std::string>& volumes, const std::string& dir) {
    std::string best;
    for (const std::string& v : volumes) {
        bool contains;
        if (v.size() == 1 && v[0] == fsx::kPathDelim) {
            contains = !dir.empty() && dir[0] == fsx::kPathDelim;
        } else {
#ifdef _WIN32
            contains = dir.size() >= v.size() && text::equalsNoCase(dir.substr(0, v.size()), v);
#else
            contains = startsWithFolder(dir, v);
#endif
        }
        if (contains && v.size() > best.size()) best = v;
    }
    return best;
}

std::string existingDirectoryFor(const std::string& path, const std::string& fallback) {
    if (path.empty()) return fallback;
    const QString cleaned = QDir::cleanPath(qpath(path));
    if (!QDir::isAbsolutePath(cleaned)) return fallback;
    std::string dir = fsx::resolve(spath(QDir::toNativeSeparators(cleaned)));
    while (!dir.empty()) {
        while (dir.size() > 1 && dir.back() == fsx::kPathDelim
#ifdef _WIN32
               && !(dir.size() == 3 && dir[1] == ':')
#endif
        )
            dir.pop_back();
        if (fsx::directoryExists(dir)) return dir;
        dir = parentOf(dir);
    }
    return fallback;
}

TSelectDirDlg::TSelectDirDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName("SelectDirDlg");
    setModal(true);
    setFixedSize(313, 315);

    // The path field, after its label, whatever the label's length in the language.
    PathLabel = new QLabel(text::display(slot(kPathLabelSlot)), this);
    PathLabel->setObjectName("PathLabel");
    PathLabel->adjustSize();
    PathLabel->move(8, 8 + (22 - PathLabel->height()) / 2);
    PathEdit = new QLineEdit(this);
    PathEdit->setObjectName("PathEdit");
    const int pathX = PathLabel->text().isEmpty() ? 8 : 8 + PathLabel->width() + 6;
    PathEdit->setGeometry(pathX, 8, 305 - pathX, 22);
    PathLabel->setBuddy(PathEdit);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName("Bevel1");
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Bevel1->setGeometry(8, 38, 297, 236);

    DriveComboBox = new QComboBox(this);
    DriveComboBox->setObjectName("DriveComboBox");
    DriveComboBox->setGeometry(16, 46, 281, 22);

    FolderLabel = new QLabel(text::display(slot(kFolderLabelSlot)), this);
    FolderLabel->setObjectName("FolderLabel");
    FolderLabel->setGeometry(16, 72, 281, 17);

    DirectoryListBox = new FolderListBox(
        this, [this] { EnterFolder(); }, [this] { GoUp(); });
    DirectoryListBox->setObjectName("DirectoryListBox");
    DirectoryListBox->setGeometry(16, 91, 281, 153);
    DirectoryListBox->setSelectionMode(QAbstractItemView::SingleSelection);
    DirectoryListBox->setToolTip(text::display(slot(kFolderHintSlot)));
    FolderLabel->setBuddy(DirectoryListBox);

    ShowHiddenBox = new QCheckBox(text::display(slot(kShowHiddenSlot)), this);
    ShowHiddenBox->setObjectName("ShowHiddenBox");
    ShowHiddenBox->setGeometry(16, 248, 281, 20);

    // Enter on a button presses it; Enter elsewhere never reaches a default button (see
    // keyPressEvent).
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setGeometry(71, 282, 75, 25);
    OKBtn->setAutoDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &TSelectDirDlg::OKBtnClick);

    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName("CancelBtn");
    CancelBtn->setGeometry(167, 282, 75, 25);
    CancelBtn->setAutoDefault(true);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(PathEdit, DriveComboBox);
    setTabOrder(DriveComboBox, DirectoryListBox);
    setTabOrder(DirectoryListBox, ShowHiddenBox);
    setTabOrder(ShowHiddenBox, OKBtn);
    setTabOrder(OKBtn, CancelBtn);

    connect(DirectoryListBox, &QListWidget::itemClicked, this,
            &TSelectDirDlg::DirectoryListBoxClick);
    connect(DirectoryListBox, &QListWidget::itemActivated, this,
            &TSelectDirDlg::DirectoryListBoxClick);
    connect(DriveComboBox, &QComboBox::activated, this, &TSelectDirDlg::DriveComboBoxChange);
    connect(PathEdit, &QLineEdit::returnPressed, this, &TSelectDirDlg::PathEditEnter);
    connect(PathEdit, &QLineEdit::textEdited, this, [this] { markPath(false); });
    connect(ShowHiddenBox, &QCheckBox::toggled, this, &TSelectDirDlg::ShowHiddenBoxClick);
    auto* up = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Up), this);
    connect(up, &QShortcut::activated, this, &TSelectDirDlg::GoUp);

    RefreshDrives();
    SetDirectory(homeDirectory());

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

TSelectDirDlg::~TSelectDirDlg() = default;

void TSelectDirDlg::RefreshDrives() {
#ifdef _WIN32
    drives_.clear();
    for (const QFileInfo& drive : QDir::drives())
        drives_.push_back(spath(QDir::toNativeSeparators(drive.absoluteFilePath())));
#else
    std::string table;
    std::ifstream in("/proc/self/mounts");
    if (in) table.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    drives_ = mountedVolumes(table, homeDirectory());
#endif
    QSignalBlocker block(DriveComboBox);
    DriveComboBox->clear();
    for (const std::string& d : drives_) DriveComboBox->addItem(text::display(d), qpath(d));
    showDriveOf(current_);
}

void TSelectDirDlg::showDriveOf(const std::string& dir) {
    const std::string drive = volumeOf(drives_, dir);
    QSignalBlocker block(DriveComboBox);
    DriveComboBox->setCurrentIndex(DriveComboBox->findData(qpath(drive)));
}

void TSelectDirDlg::SetDirectory(const std::string& dir) {
    if (dir.empty() && !current_.empty()) return;
    const std::string fallback = current_.empty() ? homeDirectory() : current_;
    current_ = existingDirectoryFor(
        withHome(dir), existingDirectoryFor(fallback, std::string(1, fsx::kPathDelim)));
    const std::string drive = volumeOf(drives_, current_);
    if (!drive.empty()) driveDirs_[drive] = current_;
    showDriveOf(current_);
    fillFolders();
    PathEdit->setText(text::display(current_));
    markPath(false);
}

void TSelectDirDlg::fillFolders() {
    DirectoryListBox->clear();
    // The current directory's chain from the root down, then its subfolders.
    std::vector<std::string> chain;
    for (std::string d = current_; !d.empty(); d = parentOf(d)) chain.push_back(d);
    std::reverse(chain.begin(), chain.end());

    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    auto add = [&](const std::string& path, const std::string& name, size_t level,
                   const QIcon& icon) {
        auto* item = new QListWidgetItem(
            icon, QString(static_cast<int>(level) * 2, ' ') + text::display(name));
        item->setData(kPathRole, qpath(path));
        item->setData(kNameRole, text::display(name));
        DirectoryListBox->addItem(item);
        return item;
    };
    QListWidgetItem* currentItem = nullptr;
    for (size_t level = 0; level < chain.size(); ++level) {
        const std::string& path = chain[level];
        const std::string name = level == 0 ? path : text::extractFileName(path);
        currentItem = add(path, name, level, open);
    }
    for (const std::string& name : subfolders(current_, ShowHiddenBox->isChecked()))
        add(joinDir(current_, name), name, chain.size(), closed);
    if (currentItem) DirectoryListBox->setCurrentItem(currentItem);
}

void TSelectDirDlg::EnterFolder() {
    QListWidgetItem* item = DirectoryListBox->currentItem();
    if (!item) return;
    const std::string path = spath(item->data(kPathRole).toString());
    DirectoryListBoxClick(item);
    // A folder with nothing below it to open is the one chosen.
    for (const fsx::DirEntry& e : fsx::listDirectory(path, "*"))
        if (e.isDirectory) return;
    OKBtnClick();
}

void TSelectDirDlg::DirectoryListBoxClick(QListWidgetItem* item) {
    if (!item) return;
    const std::string path = spath(item->data(kPathRole).toString());
    if (path != current_) SetDirectory(path);
}

bool TSelectDirDlg::PathEditEnter() {
    const std::string typed = withHome(text::trim(text::fromDisplay(PathEdit->text())));
    if (typed.empty()) {
        SetDirectory(current_);
        return true;
    }
    QString path = QDir::cleanPath(qpath(typed));
    if (!QDir::isAbsolutePath(path)) path = QDir::cleanPath(qpath(current_) + '/' + path);
    const std::string dir = spath(QDir::toNativeSeparators(path));
    if (!fsx::directoryExists(dir)) {
        markPath(true);
        QToolTip::showText(PathEdit->mapToGlobal(QPoint(0, PathEdit->height())),
                           text::display(text::withArgument(slot(kNoSuchFolderSlot), typed)),
                           PathEdit);
        return false;
    }
    SetDirectory(dir);
    return true;
}

void TSelectDirDlg::markPath(bool refused) {
    const bool was = PathEdit->property("refused").toBool();
    if (refused == was) return;
    QPalette palette;  // the inherited one
    if (refused) {
        palette = PathEdit->palette();
        palette.setColor(QPalette::Text, QColor(0xc0, 0x10, 0x10));
    }
    PathEdit->setPalette(palette);
    PathEdit->setProperty("refused", refused);
    if (!refused) QToolTip::hideText();
}

void TSelectDirDlg::ShowHiddenBoxClick() {
    fillFolders();
}

void TSelectDirDlg::OKBtnClick() {
    // A path typed but not yet opened is what the player chose.
    if (PathEdit->isModified() && !PathEditEnter()) return;
    accept();
}

void TSelectDirDlg::GoUp() {
    const std::string from = current_;
    const std::string parent = parentOf(from);
    if (parent.empty()) return;
    SetDirectory(parent);
    for (int row = 0; row < DirectoryListBox->count(); ++row)
        if (spath(DirectoryListBox->item(row)->data(kPathRole).toString()) == from)
            DirectoryListBox->setCurrentRow(row);
}

void TSelectDirDlg::keyPressEvent(QKeyEvent* event) {
    // Enter reaches the dialog from the path field (which opened what it names), the
    // drive list or the box: it accepts nothing. A focused button takes Enter itself.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TSelectDirDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    DirectoryListBox->setFocus();
}

void TSelectDirDlg::DriveComboBoxChange(int index) {
    if (index < 0) return;
    const std::string drive = spath(DriveComboBox->itemData(index).toString());
    auto it = driveDirs_.find(drive);
    const std::string dir =
        it != driveDirs_.end() && fsx::directoryExists(it->second) ? it->second : drive;
    SetDirectory(dir);
}

std::string TSelectDirDlg::dialogName() const {
    return objectName().toStdString();
}

int TSelectDirDlg::execModal() {
    const std::string opened = current_;
    RefreshDrives();
    const int result = exec();
    if (result != QDialog::Accepted) SetDirectory(opened);
    return result;
}
