#include "dialogs/ui/Hintctrl.h"

THListBox::THListBox(QWidget* parent) : QListWidget(parent) {}
THListBox::~THListBox() = default;
bool THListBox::ProvideHint(const QPoint&) { return false; }

THEdit::THEdit(QWidget* parent) : QLineEdit(parent) {}
THEdit::~THEdit() = default;
bool THEdit::ProvideHint(const QPoint&) { return false; }
