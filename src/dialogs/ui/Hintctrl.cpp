#include "dialogs/ui/Hintctrl.h"

#include <QCoreApplication>
#include <QCursor>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>

// ---------------------------------------------------------------------------------------
// The hint window: a frameless top-most pop-up in tooltip colours that never takes the
// focus. Touching it with the mouse resets the controller. It belongs to the window of the
// control it serves: a modal dialog would otherwise block its mouse input.

class THintWindow : public QWidget {
  public:
    THintWindow(THintController& owner, QWidget* host)
        : QWidget(host, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                            Qt::WindowDoesNotAcceptFocus),
          owner_(owner) {
        setObjectName("hintwindow");
        setAttribute(Qt::WA_ShowWithoutActivating);
        setFocusPolicy(Qt::NoFocus);
        setMouseTracking(true);
    }

    void activate(const QRect& screenRect, const QString& text, const QFont& font,
                  const QPoint& cursor) {
        text_ = text;
        shownAt_ = cursor;
        setFont(font);
        setGeometry(screenRect);
        show();
        update();
    }

    const QString& text() const { return text_; }

  protected:
    void paintEvent(QPaintEvent*) override {
        const QPalette pal = QToolTip::palette();
        QPainter p(this);
        p.fillRect(rect(), pal.color(QPalette::Inactive, QPalette::ToolTipBase));
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        p.setPen(pal.color(QPalette::Inactive, QPalette::ToolTipText));
        p.setFont(font());
        // No mnemonic flag: "&" shows as itself.
        p.drawText(rect().adjusted(1, 1, -1, -1), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                   text_);
    }

    void mouseMoveEvent(QMouseEvent* e) override {
        // A window appearing under a resting cursor may report the cursor where it already
        // was; only a real movement counts as touching the hint.
        if (e->globalPosition().toPoint() != shownAt_) owner_.reset();
    }

    void mousePressEvent(QMouseEvent*) override { owner_.reset(); }

  private:
    THintController& owner_;
    QString text_;
    QPoint shownAt_;
};

// ---------------------------------------------------------------------------------------

void THintProcList::Add(THintProvider provider, QWidget* control) {
    entries_.push_back(Entry{std::move(provider), control});
}

void THintProcList::Delete(int index) {
    if (index >= 0 && index < Count()) entries_.erase(entries_.begin() + index);
}

// ---------------------------------------------------------------------------------------

namespace {
THintController* g_controller = nullptr;
}  // namespace

THintController& THintController::instance() {
    if (!g_controller) {
        g_controller = new THintController();
        // Post routines run first thing in the application's destructor, while widgets
        // can still be destroyed safely.
        qAddPostRoutine(&THintController::destroy);
    }
    return *g_controller;
}

THintController* THintController::existing() {
    return g_controller;
}

void THintController::destroy() {
    delete g_controller;
    g_controller = nullptr;
}

THintController::THintController() : cursorPos([] { return QCursor::pos(); }) {
    timer_.setInterval(kInterval);
    connect(&timer_, &QTimer::timeout, this, &THintController::timerTick);
}

THintController::~THintController() {
    timer_.stop();
    delete window_.data();  // gone already when the window it belonged to was destroyed
}

int THintController::indexOf(const QWidget* control) const {
    const auto it = std::find(controls_.begin(), controls_.end(), control);
    return it == controls_.end() ? -1 : static_cast<int>(it - controls_.begin());
}

bool THintController::isRegistered(const QWidget* control) const {
    return indexOf(control) >= 0;
}

void THintController::registerControl(QWidget* control, THintProvider provider, QWidget* callee) {
    controls_.push_back(control);
    providers_.Add(std::move(provider), callee);
}

void THintController::deregisterControl(QWidget* control) {
    if (control == current_) reset();
    const int i = indexOf(control);
    if (i < 0) return;
    controls_.erase(controls_.begin() + i);
    providers_.Delete(i);
}

void THintController::notify(QWidget* control) {
    if (control != current_) reset();
    if (!current_) {
        current_ = control;
        state_ = Waiting;
        timer_.start();
    }
}

void THintController::reset() {
    timer_.stop();
    timer_.setInterval(kInterval);
    ticks_ = 0;
    if (state_ == Showing) hideHint();
    current_ = nullptr;
    state_ = Idle;
}

void THintController::resetFor(const QWidget* control) {
    if (control && control == current_) reset();
}

void THintController::timerTick() {
    if (state_ != Waiting) return;
    if (++ticks_ < 2) return;
    ticks_ = 0;
    QWidget* const control = current_;
    const int i = indexOf(control);
    if (i < 0) {
        reset();
        return;
    }
    const THintProvider provider = providers_[i].provider;  // the list may change meanwhile
    const bool shown = provider && provider(cursorPos());
    if (current_ != control || state_ != Waiting) {
        // Something reset the controller while the provider ran: its window must not stay.
        if (state_ != Showing) hideHint();
        return;
    }
    if (shown)
        state_ = Showing;
    else
        reset();
}

void THintController::showHint(const QRect& screenRect, const QString& text, const QFont& font) {
    QRect r = screenRect;
    if (r.width() < 1) r.setWidth(1);
    if (r.height() < 1) r.setHeight(1);
    QScreen* screen = QGuiApplication::screenAt(r.topLeft());
    if (!screen && current_) screen = current_->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect desk = screen->geometry();
        if (r.right() > desk.right()) r.moveRight(desk.right());
        if (r.bottom() > desk.bottom()) r.moveBottom(desk.bottom());
        if (r.left() < desk.left()) r.moveLeft(desk.left());
        if (r.top() < desk.top()) r.moveTop(desk.top());
    }
    QWidget* const host = current_ ? current_->window() : nullptr;
    if (window_ && window_->parentWidget() != host) delete window_.data();
    if (!window_) window_ = new THintWindow(*this, host);
    window_->activate(r, text, font, cursorPos());
}

void THintController::hideHint() {
    if (window_) window_->hide();
}

bool THintController::hintCoversCursor(const QWidget* control) const {
    return control && control == current_ && hintVisible() &&
           window_->geometry().contains(cursorPos());
}

QWidget* THintController::hintWindow() const {
    return window_.data();
}

bool THintController::hintVisible() const {
    return window_ && window_->isVisible();
}

QString THintController::hintText() const {
    return window_ ? window_->text() : QString();
}

QRect THintController::hintGeometry() const {
    return window_ ? window_->geometry() : QRect();
}

// ---------------------------------------------------------------------------------------

namespace {

bool plainMove(const QMouseEvent* e) {
    return e->buttons() == Qt::NoButton && e->modifiers() == Qt::NoModifier;
}

void deregister(QWidget* control) {
    if (THintController* c = THintController::existing()) c->deregisterControl(control);
}

}  // namespace

THListBox::THListBox(QWidget* parent) : QListWidget(parent) {
    // Items lie at whole multiples of the item height from the first visible one.
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    // A wide item is cut off at the right edge and shown whole by its hint; a scroll bar
    // or an ellipsis would hide the text the hint is laid over.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideNone);
    viewport()->setMouseTracking(true);
    setMouseTracking(true);
    THintController::instance().registerControl(
        this, [this](const QPoint& p) { return ProvideHint(p); }, this);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { resetHint(); });
}

THListBox::~THListBox() {
    deregister(this);
}

void THListBox::resetHint() {
    if (THintController* c = THintController::existing()) c->resetFor(this);
}

int THListBox::ItemHeight() const {
    const int h = sizeHintForRow(0);
    return h > 0 ? h : fontMetrics().height();
}

int THListBox::TopIndex() const {
    const QModelIndex top = indexAt(QPoint(0, 0));
    return top.isValid() ? top.row() : 0;
}

int THListBox::UsableTextWidth() const {
    int allowance = Ctl3D && frameShape() != QFrame::NoFrame ? 4 : 2;
    if (height() - allowance < count() * ItemHeight())
        allowance =
            style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, verticalScrollBar()) + 2;
    return width() - allowance - 4;
}

bool THListBox::ProvideHint(const QPoint& screenPos) {
    if (!isVisible()) return false;
    const QPoint p = viewport()->mapFromGlobal(screenPos);
    if (!viewport()->rect().contains(p)) return false;
    QListWidgetItem* item = itemAt(p);
    if (!item) return false;
    const int index = row(item);
    QString hint = item->text();
    const QFontMetrics fm(font());
    bool show = fm.horizontalAdvance(hint) > UsableTextWidth();
    if (OnShowHint) OnShowHint(index, show, hint);
    if (!show) return false;
    const int textWidth = fm.horizontalAdvance(hint);
    const int top = (index - TopIndex()) * ItemHeight() - 2;
    const QRect client(0, top, textWidth + 5, ItemHeight());
    THintController::instance().showHint(
        QRect(viewport()->mapToGlobal(client.topLeft()), client.size()), hint, font());
    hintIndex_ = index;
    return true;
}

void THListBox::mouseMoveEvent(QMouseEvent* e) {
    if (SpHint && plainMove(e)) {
        THintController& hc = THintController::instance();
        if (hc.currentControl() == this && hc.state() == THintController::Showing) {
            QListWidgetItem* item = itemAt(e->position().toPoint());
            if (!item) {
                hc.reset();
            } else if (row(item) != hintIndex_) {
                hc.hideHint();
                if (!ProvideHint(e->globalPosition().toPoint())) hc.reset();
            }
        }
        hc.notify(this);
    }
    QListWidget::mouseMoveEvent(e);
}

void THListBox::mousePressEvent(QMouseEvent* e) {
    resetHint();
    QListWidget::mousePressEvent(e);
}

void THListBox::mouseDoubleClickEvent(QMouseEvent* e) {
    resetHint();
    QListWidget::mouseDoubleClickEvent(e);
}

void THListBox::wheelEvent(QWheelEvent* e) {
    resetHint();
    QListWidget::wheelEvent(e);
}

void THListBox::keyPressEvent(QKeyEvent* e) {
    resetHint();
    QListWidget::keyPressEvent(e);
}

void THListBox::focusOutEvent(QFocusEvent* e) {
    resetHint();
    QListWidget::focusOutEvent(e);
}

void THListBox::leaveEvent(QEvent* e) {
    THintController* c = THintController::existing();
    if (c && !c->hintCoversCursor(this)) c->resetFor(this);
    QListWidget::leaveEvent(e);
}

void THListBox::hideEvent(QHideEvent* e) {
    resetHint();
    QListWidget::hideEvent(e);
}

bool THListBox::viewportEvent(QEvent* e) {
    if (e->type() == QEvent::Leave) {
        THintController* c = THintController::existing();
        if (c && !c->hintCoversCursor(this)) c->resetFor(this);
    }
    return QListWidget::viewportEvent(e);
}

// ---------------------------------------------------------------------------------------

THEdit::THEdit(QWidget* parent) : QLineEdit(parent) {
    setMouseTracking(true);
    THintController::instance().registerControl(
        this, [this](const QPoint& p) { return ProvideHint(p); }, this);
}

THEdit::~THEdit() {
    deregister(this);
}

void THEdit::resetHint() {
    if (THintController* c = THintController::existing()) c->resetFor(this);
}

QRect THEdit::HintRect(int textWidth) const {
    // Coordinates inside the border first, as the edit's own text lies there.
    int left = 0, top = 0, bottom = height() - 4;
    const int right = textWidth + 5;
    int border = 0;
    if (hasFrame() && Ctl3D) {
        left = -1;
        top = -1;
        bottom = height() - 7;
        border = 2;
    } else if (hasFrame()) {
        border = 1;
    } else {
        left = -2;
        top = -2;
    }
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)).translated(border, border);
}

bool THEdit::ProvideHint(const QPoint&) {
    // A password never shows in clear.
    if (!isVisible() || echoMode() != QLineEdit::Normal) return false;
    QString hint = text();
    const QFontMetrics fm(font());
    bool show = fm.horizontalAdvance(hint) > width() - (hasFrame() ? 4 : 0);
    if (OnShowHint) OnShowHint(show, hint);
    if (!show) return false;
    const QRect client = HintRect(fm.horizontalAdvance(hint));
    THintController::instance().showHint(QRect(mapToGlobal(client.topLeft()), client.size()), hint,
                                         font());
    return true;
}

void THEdit::mouseMoveEvent(QMouseEvent* e) {
    if (SpHint && plainMove(e)) THintController::instance().notify(this);
    QLineEdit::mouseMoveEvent(e);
}

void THEdit::mousePressEvent(QMouseEvent* e) {
    resetHint();
    QLineEdit::mousePressEvent(e);
}

void THEdit::mouseDoubleClickEvent(QMouseEvent* e) {
    resetHint();
    QLineEdit::mouseDoubleClickEvent(e);
}

void THEdit::keyPressEvent(QKeyEvent* e) {
    resetHint();
    QLineEdit::keyPressEvent(e);
}

void THEdit::focusOutEvent(QFocusEvent* e) {
    resetHint();
    QLineEdit::focusOutEvent(e);
}

void THEdit::leaveEvent(QEvent* e) {
    THintController* c = THintController::existing();
    if (c && !c->hintCoversCursor(this)) c->resetFor(this);
    QLineEdit::leaveEvent(e);
}

void THEdit::hideEvent(QHideEvent* e) {
    resetHint();
    QLineEdit::hideEvent(e);
}
