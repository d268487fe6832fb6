// The shared way of opening the setup dialog: both dialogs are made for one showing,
// captioned from the language table, and destroyed afterwards.

#include <QLabel>
#include <QPushButton>
#include <memory>

#include "dialogs/SetupLogic.h"
#include "dialogs/ui/DirDlg.h"
#include "dialogs/ui/Setup.h"
#include "platform/TextUtil.h"
#include "state/LanguageTable.h"

namespace {

void runSetupDialog() {
    auto chooser = std::make_unique<TSelectDirDlg>();
    auto setup = std::make_unique<TSetupDlg>();
    setup->SelectDirDlg = chooser.get();

    // The setup button's caption, without the key it has there.
    setup->setWindowTitle(text::display(text::withoutKeyMark(slot(72))));
    setup->MissionBox->setTitle(text::display(slot(51)));
    setup->ThiefBox->setTitle(text::display(slot(52)));
    setup->OptionBox->setTitle(text::display(slot(53)));
    setup->LangBox->setTitle(text::display(slot(54)));
    setup->AddBtn->setText(text::display(slot(55)));
    setup->RemoveBtn->setText(text::display(slot(56)));
    setup->CompressLabel->setText(text::display(slot(57)));
    setup->CompressLabel->adjustSize();
    setup->compressrates->setText(text::display(slot(58)));
    setup->missionshelp->setText(text::display(slot(213)));
    // The setup's own OK and Cancel carry keys; the chooser's and the about box's do not.
    setup->CancelBtn->setText(text::display(slot(201)));
    setup->OKBtn->setText(text::display(slot(200)));
    setup->Window->setTitle(text::display(slot(68)));
    setup->Window->AddItem(text::display(slot(69)));
    setup->Window->AddItem(text::display(slot(70)));

    chooser->CancelBtn->setText(text::display(slot(59)));
    chooser->OKBtn->setText(text::display(slot(73)));
    chooser->setWindowTitle(text::display(slot(31)));

    setup->LoadSettings();
    prompter().runModal(*setup);

    setup->SelectDirDlg = nullptr;
    chooser.reset();
    setup.reset();
}

}  // namespace

void InstallSetupDialog(std::function<SetupFiles()> files) {
    setSetupFiles(std::move(files));
    setSetupDialogHook(runSetupDialog);
}
