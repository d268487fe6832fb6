#include "dialogs/ui/OlderSavesDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

constexpr int kTitleSlot = 207;
constexpr int kExplanationSlot = 208;

// "older\2026-12-10 18.04.31\game0000.sav" shown as "2026-12-10 18:04:31   game0000.sav".
QString shown(const std::string& version) {
    const size_t first = version.find_first_of("\\/");
    const size_t second = version.find_first_of("\\/", first + 1);
    if (first == std::string::npos || second == std::string::npos) return text::display(version);
    std::string stamp = version.substr(first + 1, second - first - 1);
    if (stamp.size() >= 19) stamp[13] = stamp[16] = ':';
    return text::display(stamp + "   " + version.substr(second + 1));
}

}  // namespace

TOlderSavesDlg::TOlderSavesDlg(const std::vector<std::string>& versions, QWidget* parent)
    : QDialog(parent), versions_(versions) {
    setObjectName("OlderSavesDlg");
    setModal(true);
    setWindowTitle(text::display(text::withoutKeyMark(slot(kTitleSlot))));
    auto* layout = new QVBoxLayout(this);
    auto* explanation = new QLabel(text::display(slot(kExplanationSlot)), this);
    explanation->setWordWrap(true);
    layout->addWidget(explanation);
    oldersaveslist = new QListWidget(this);
    oldersaveslist->setObjectName("oldersaveslist");
    for (const std::string& version : versions_) oldersaveslist->addItem(shown(version));
    if (!versions_.empty()) oldersaveslist->setCurrentRow(0);
    layout->addWidget(oldersaveslist);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(oldersaveslist, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    layout->addWidget(buttons);
    resize(420, 320);
}

std::string TOlderSavesDlg::picked() const {
    const int row = oldersaveslist->currentRow();
    return row >= 0 && size_t(row) < versions_.size() ? versions_[size_t(row)] : std::string();
}
