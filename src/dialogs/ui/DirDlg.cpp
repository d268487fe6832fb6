#include "dialogs/ui/DirDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "platform/FileSystem.h"
#include "platform/TextUtil.h"

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

// Subfolder names of `dir`, sorted without regard to case. Hidden folders are left out,
// except Wine prefixes, where games are commonly installed.
std::vector<std::string> subfolders(const std::string& dir) {
    QDir d(qpath(dir));
    std::vector<std::string> names;
    const QFileInfoList infos =
        d.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& info : infos) {
        const QString name = info.fileName();
        if (name.startsWith('.') &&
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
    setFixedSize(233, 236);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName("Bevel1");
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Bevel1->setGeometry(8, 8, 217, 185);

    DriveComboBox = new QComboBox(this);
    DriveComboBox->setObjectName("DriveComboBox");
    DriveComboBox->setGeometry(16, 16, 201, 19);

    DirectoryListBox = new QListWidget(this);
    DirectoryListBox->setObjectName("DirectoryListBox");
    DirectoryListBox->setGeometry(16, 40, 201, 145);
    DirectoryListBox->setSelectionMode(QAbstractItemView::SingleSelection);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setGeometry(31, 204, 75, 25);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);

    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName("CancelBtn");
    CancelBtn->setGeometry(127, 204, 75, 25);
    CancelBtn->setAutoDefault(false);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    connect(DirectoryListBox, &QListWidget::itemClicked, this,
            &TSelectDirDlg::DirectoryListBoxClick);
    connect(DirectoryListBox, &QListWidget::itemActivated, this,
            &TSelectDirDlg::DirectoryListBoxClick);
    connect(DriveComboBox, &QComboBox::activated, this, &TSelectDirDlg::DriveComboBoxChange);

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
    current_ =
        existingDirectoryFor(dir, existingDirectoryFor(fallback, std::string(1, fsx::kPathDelim)));
    const std::string drive = volumeOf(drives_, current_);
    if (!drive.empty()) driveDirs_[drive] = current_;
    showDriveOf(current_);
    fillFolders();
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
        item->setData(Qt::UserRole, qpath(path));
        DirectoryListBox->addItem(item);
        return item;
    };
    QListWidgetItem* currentItem = nullptr;
    for (size_t level = 0; level < chain.size(); ++level) {
        const std::string& path = chain[level];
        const std::string name = level == 0 ? path : text::extractFileName(path);
        currentItem = add(path, name, level, open);
    }
    for (const std::string& name : subfolders(current_))
        add(joinDir(current_, name), name, chain.size(), closed);
    if (currentItem) DirectoryListBox->setCurrentItem(currentItem);
}

void TSelectDirDlg::DirectoryListBoxClick(QListWidgetItem* item) {
    if (!item) return;
    const std::string path = spath(item->data(Qt::UserRole).toString());
    if (path != current_) SetDirectory(path);
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
