#pragma once
// List and edit controls that show the full text of a cut-off entry in a hint window laid
// exactly over it. One hint window (THintController) serves every such control.

#include <QLineEdit>
#include <QListWidget>
#include <QPoint>
#include <functional>
#include <string>

// A list box that shows the full text of a cut-off item as a hint.
class THListBox : public QListWidget {
    Q_OBJECT
public:
    explicit THListBox(QWidget* parent = nullptr);
    ~THListBox() override;

    bool SpHint = true;
    // (item index, show flag, hint text): may change both.
    std::function<void(int index, bool& show, QString& hint)> OnShowHint;

    // The hint provider: answers whether a hint is now shown for the screen point.
    virtual bool ProvideHint(const QPoint& screenPos);
};

// A one-line edit box that shows its full text as a hint when it is cut off.
class THEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit THEdit(QWidget* parent = nullptr);
    ~THEdit() override;

    bool SpHint = true;
    std::function<void(bool& show, QString& hint)> OnShowHint;

    virtual bool ProvideHint(const QPoint& screenPos);
};
