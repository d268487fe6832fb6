#pragma once
// The list of a mission's kept older saved games, to pick one to bring back.

#include <QDialog>
#include <string>
#include <vector>

#include "platform/Prompter.h"

class QListWidget;

class TOlderSavesDlg : public QDialog, public ModalDialog {
    Q_OBJECT
  public:
    // `versions`: the kept versions' names in the saves archive ("older\<date>\<name>").
    explicit TOlderSavesDlg(const std::vector<std::string>& versions, QWidget* parent = nullptr);

    std::string dialogName() const override { return "OlderSavesDlg"; }
    int execModal() override { return exec(); }

    // The version picked; empty when none is.
    std::string picked() const;

    QListWidget* oldersaveslist = nullptr;

  private:
    std::vector<std::string> versions_;
};
