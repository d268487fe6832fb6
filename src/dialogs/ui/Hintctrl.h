#pragma once
// List and edit controls that show the full text of a cut-off entry in a hint window laid
// exactly over it. One hint window (THintController) serves every such control.

#include <QFont>
#include <QLineEdit>
#include <QListWidget>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

class THintWindow;

// A control's hint provider: given the cursor in screen coordinates, answers whether a hint
// is now shown. When it answers yes it has already placed and shown the hint window.
using THintProvider = std::function<bool(const QPoint& screenPos)>;

// Pairs of (hint provider, control it is called for), one per registered control.
class THintProcList {
  public:
    struct Entry {
        THintProvider provider;
        QWidget* control = nullptr;
    };
    void Add(THintProvider provider, QWidget* control);
    void Delete(int index);
    int Count() const { return static_cast<int>(entries_.size()); }
    const Entry& operator[](int index) const { return entries_[static_cast<size_t>(index)]; }

  private:
    std::vector<Entry> entries_;
};

// The one hint window of the program and the delay logic that decides when it shows.
// Created on first use, destroyed when the application shuts down. The hint window is
// shown as a child window of the served control's window.
class THintController : public QObject {
    Q_OBJECT
  public:
    enum State { Idle = 0, Waiting = 1, Showing = 2 };
    static constexpr int kInterval = 400;  // milliseconds per timer tick

    // The controller, created when first needed.
    static THintController& instance();
    // The controller when it exists (not during or after shut-down), else null.
    static THintController* existing();

    void registerControl(QWidget* control, THintProvider provider, QWidget* callee);
    void deregisterControl(QWidget* control);

    // A plain mouse move over a registered control.
    void notify(QWidget* control);
    // Back to idle: timer off, hint hidden, no current control.
    void reset();
    // Resets when `control` owns the pending or shown hint.
    void resetFor(const QWidget* control);
    // One tick of the delay timer (the timer calls it; tests may too).
    void timerTick();

    // Places the hint window over `screenRect` (moved back onto the desktop when it would
    // leave it) and shows `text` in `font`. Used by the providers.
    void showHint(const QRect& screenRect, const QString& text, const QFont& font);
    // Hides the window without changing the state.
    void hideHint();
    // True when the hint of `control` is visible and covers the cursor: the control losing
    // the mouse to its own hint window is no reason to reset.
    bool hintCoversCursor(const QWidget* control) const;

    State state() const { return state_; }
    QWidget* currentControl() const { return current_; }
    int tickCount() const { return ticks_; }
    bool timerActive() const { return timer_.isActive(); }
    int timerInterval() const { return timer_.interval(); }
    int registeredCount() const { return static_cast<int>(controls_.size()); }
    bool isRegistered(const QWidget* control) const;

    QWidget* hintWindow() const;
    bool hintVisible() const;
    QString hintText() const;
    QRect hintGeometry() const;  // screen coordinates

    // Where the cursor is, in screen coordinates. Tests may replace it.
    std::function<QPoint()> cursorPos;

  private:
    THintController();
    ~THintController() override;
    static void destroy();
    int indexOf(const QWidget* control) const;

    std::vector<QWidget*> controls_;
    THintProcList providers_;
    QTimer timer_;
    QWidget* current_ = nullptr;
    State state_ = Idle;
    int ticks_ = 0;
    QPointer<THintWindow> window_;  // a child of the served control's window
};

// A list box that shows the full text of a cut-off item as a hint.
class THListBox : public QListWidget {
    Q_OBJECT
  public:
    explicit THListBox(QWidget* parent = nullptr);
    ~THListBox() override;

    bool SpHint = true;
    // A 3-D border (with a frame) takes 4 pixels of the width, a flat one 2.
    bool Ctl3D = true;
    // (item index, show flag, hint text): may change both.
    std::function<void(int index, bool& show, QString& hint)> OnShowHint;

    // The hint provider: answers whether a hint is now shown for the screen point.
    virtual bool ProvideHint(const QPoint& screenPos);

    // Height of one item (of item 0 when the heights vary).
    int ItemHeight() const;
    // Index of the first visible item.
    int TopIndex() const;
    // Width an item's text may take before it counts as cut off.
    int UsableTextWidth() const;
    // Index of the item whose hint is shown last (-1 before the first).
    int HintIndex() const { return hintIndex_; }

  protected:
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    bool viewportEvent(QEvent* e) override;

  private:
    void resetHint();
    int hintIndex_ = -1;
};

// A one-line edit box that shows its full text as a hint when it is cut off.
class THEdit : public QLineEdit {
    Q_OBJECT
  public:
    explicit THEdit(QWidget* parent = nullptr);
    ~THEdit() override;

    bool SpHint = true;
    // With a frame: a 3-D border (2 pixels) or a flat one (1 pixel).
    bool Ctl3D = true;
    std::function<void(bool& show, QString& hint)> OnShowHint;

    virtual bool ProvideHint(const QPoint& screenPos);

    // The hint rectangle for a text `textWidth` pixels wide, in widget coordinates.
    QRect HintRect(int textWidth) const;

  protected:
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void hideEvent(QHideEvent* e) override;

  private:
    void resetHint();
};
