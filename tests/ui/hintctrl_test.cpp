#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>
#include <QVBoxLayout>
#include <memory>

#include "dialogs/ui/Hintctrl.h"

namespace {

const QString kLong = "C:/Games/Thief2/Missions/Very long mission directory/that never fits";
const QString kShort = "C:/T2";

THintController& hc() {
    return THintController::instance();
}

// Every test drives the timer by hand and tells the controller where the cursor is.
class Hints : public ::testing::Test {
  protected:
    void SetUp() override {
        hc().reset();
        hc().cursorPos = [this] { return cursor; };
        window = std::make_unique<QWidget>();
        window->setGeometry(50, 50, 700, 400);
    }
    void TearDown() override {
        window.reset();
        hc().reset();
        hc().cursorPos = [] { return QCursor::pos(); };
    }

    // A plain mouse move to `local` of `target`; the cursor goes there too.
    void move(QWidget* target, QPoint local, Qt::MouseButtons buttons = Qt::NoButton,
              Qt::KeyboardModifiers mods = Qt::NoModifier) {
        cursor = target->mapToGlobal(local);
        QMouseEvent e(QEvent::MouseMove, QPointF(local), QPointF(cursor), Qt::NoButton, buttons,
                      mods);
        QApplication::sendEvent(target, &e);
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) hc().timerTick();
    }
    void key(QWidget* target, int k = Qt::Key_Right) {
        QKeyEvent e(QEvent::KeyPress, k, Qt::NoModifier, k == Qt::Key_X ? "x" : "");
        QApplication::sendEvent(target, &e);
    }

    // A list at a fixed place in the window, shown.
    THListBox* makeList(int width, int height, const QStringList& items) {
        auto* list = new THListBox(window.get());
        list->setGeometry(10, 10, width, height);
        list->addItems(items);
        window->show();
        list->show();
        return list;
    }
    THEdit* makeEdit(int width, const QString& text) {
        auto* edit = new THEdit(window.get());
        edit->setGeometry(10, 300, width, 24);
        edit->setText(text);
        window->show();
        edit->show();
        return edit;
    }
    // A point on item `row` near its left end, in viewport coordinates.
    static QPoint itemPoint(THListBox* list, int row) {
        return QPoint(20, list->visualItemRect(list->item(row)).center().y());
    }
    static int textWidth(QWidget* w, const QString& s) {
        return QFontMetrics(w->font()).horizontalAdvance(s);
    }

    std::unique_ptr<QWidget> window;
    QPoint cursor;
};

}  // namespace

TEST_F(Hints, EditTextThatFitsShowsNoHintOneAFewPixelsWiderDoes) {
    THEdit* edit = makeEdit(100, kLong);
    const int tw = textWidth(edit, kLong);

    edit->resize(tw + 4, 24);  // exactly the usable width
    move(edit, {5, 5});
    EXPECT_EQ(hc().state(), THintController::Waiting);
    EXPECT_TRUE(hc().timerActive());
    EXPECT_EQ(hc().timerInterval(), 400);
    ticks(2);
    EXPECT_FALSE(hc().hintVisible());
    EXPECT_EQ(hc().state(), THintController::Idle);
    EXPECT_FALSE(hc().timerActive());

    edit->resize(tw + 1, 24);  // three pixels short
    move(edit, {6, 5});
    ticks(1);
    EXPECT_FALSE(hc().hintVisible()) << "the first tick only counts";
    EXPECT_EQ(hc().state(), THintController::Waiting);
    ticks(1);
    EXPECT_TRUE(hc().hintVisible());
    EXPECT_EQ(hc().state(), THintController::Showing);
    EXPECT_EQ(hc().hintText(), kLong);
    EXPECT_EQ(hc().currentControl(), edit);
    EXPECT_EQ(hc().hintWindow()->font(), edit->font());
    ticks(5);  // ticks while showing change nothing
    EXPECT_EQ(hc().state(), THintController::Showing);
}

TEST_F(Hints, DelayCountsFromEnteringNotFromRest) {
    THEdit* edit = makeEdit(60, kLong);
    move(edit, {5, 5});
    ticks(1);
    move(edit, {9, 6});  // further moves over the same control do not restart the delay
    ticks(1);
    EXPECT_TRUE(hc().hintVisible());
}

TEST_F(Hints, EditHintRectangleFollowsTheBorder) {
    THEdit* edit = makeEdit(60, kLong);
    const int tw = textWidth(edit, kLong);
    const int h = edit->height();

    // 3-D border, 2 pixels wide: inside it left/top -1, bottom height - 7.
    EXPECT_EQ(edit->HintRect(tw), QRect(QPoint(1, 1), QPoint(tw + 6, h - 6)));
    move(edit, {5, 5});
    ticks(2);
    ASSERT_TRUE(hc().hintVisible());
    EXPECT_EQ(hc().hintGeometry(), QRect(edit->mapToGlobal(QPoint(1, 1)), QSize(tw + 6, h - 6)));
    hc().reset();

    edit->Ctl3D = false;  // flat border, 1 pixel: left/top 0, bottom height - 4
    EXPECT_EQ(edit->HintRect(tw), QRect(1, 1, tw + 5, h - 4));

    edit->setFrame(false);  // no border: left/top move out by 2
    EXPECT_EQ(edit->HintRect(tw), QRect(-2, -2, tw + 7, h - 2));
    // Without a border the full width is usable.
    edit->resize(tw, h);
    move(edit, {5, 5});
    ticks(2);
    EXPECT_FALSE(hc().hintVisible());
    edit->resize(tw - 1, h);
    move(edit, {6, 5});
    ticks(2);
    EXPECT_TRUE(hc().hintVisible());
}

TEST_F(Hints, PasswordEditNeverShowsItsText) {
    THEdit* edit = makeEdit(40, kLong);
    edit->setEchoMode(QLineEdit::Password);
    move(edit, {5, 5});
    ticks(2);
    EXPECT_FALSE(hc().hintVisible());
    EXPECT_EQ(hc().state(), THintController::Idle);
}

TEST_F(Hints, ListUsableWidthAndScrollBarAllowance) {
    THListBox* list = makeList(200, 150, {kLong});
    const int tw = textWidth(list, kLong);
    const int sb =
        list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list->verticalScrollBar());

    list->resize(tw + 8, 150);  // 3-D border 4 + 4
    EXPECT_EQ(list->UsableTextWidth(), tw);
    move(list->viewport(), itemPoint(list, 0));
    ticks(2);
    EXPECT_FALSE(hc().hintVisible()) << "fits exactly";

    list->Ctl3D = false;  // flat border: 2 + 4
    EXPECT_EQ(list->UsableTextWidth(), tw + 2);
    list->Ctl3D = true;

    // So many items that the list scrolls: the allowance becomes a scroll bar + 2.
    for (int i = 0; i < 40; ++i) list->addItem(QString("entry %1").arg(i));
    EXPECT_EQ(list->UsableTextWidth(), tw + 8 - sb - 2 - 4);
    move(list->viewport(), itemPoint(list, 0) + QPoint(1, 0));
    ticks(2);
    EXPECT_TRUE(hc().hintVisible()) << "hinted a scroll bar's width earlier";
    EXPECT_EQ(hc().hintText(), kLong);

    // One item fewer than the list's height holds: no scroll-bar allowance.
    hc().reset();
    list->clear();
    list->addItem(kLong);
    const int fitting = (list->height() - 4) / list->ItemHeight();
    for (int i = 1; i < fitting; ++i) list->addItem("x");
    EXPECT_EQ(list->UsableTextWidth(), tw);
    list->addItem("x");
    EXPECT_EQ(list->UsableTextWidth(), tw + 8 - sb - 2 - 4);
}

TEST_F(Hints, ListHintRectangleAndDesktop) {
    QStringList items;
    for (int i = 0; i < 30; ++i) items << QString("%1 %2").arg(i).arg(kLong);
    THListBox* list = makeList(120, 120, items);
    list->verticalScrollBar()->setValue(3);
    ASSERT_EQ(list->TopIndex(), 3);
    const int ih = list->ItemHeight();

    move(list->viewport(), itemPoint(list, 5));
    ticks(2);
    ASSERT_TRUE(hc().hintVisible());
    EXPECT_EQ(list->HintIndex(), 5);
    EXPECT_EQ(hc().hintText(), items[5]);
    const int tw = textWidth(list, items[5]);
    const QPoint topLeft = list->viewport()->mapToGlobal(QPoint(0, (5 - 3) * ih - 2));
    EXPECT_EQ(hc().hintGeometry(), QRect(topLeft, QSize(tw + 5, ih)));
    hc().reset();

    // Near the desktop's right and bottom edges the window is moved back onto it.
    const QRect desk = window->screen()->geometry();
    window->move(desk.right() - 150, desk.bottom() - 100);
    list->verticalScrollBar()->setValue(0);
    move(list->viewport(), itemPoint(list, 2));
    ticks(2);
    ASSERT_TRUE(hc().hintVisible());
    const QRect g = hc().hintGeometry();
    EXPECT_EQ(g.right(), desk.right());
    EXPECT_EQ(g.size(), QSize(textWidth(list, items[2]) + 5, ih));
    EXPECT_EQ(g.top(), list->viewport()->mapToGlobal(QPoint(0, 2 * ih - 2)).y());
}

TEST_F(Hints, MovingToAnotherLongEntryReplacesTheHintAtOnce) {
    THListBox* list = makeList(100, 200, {kLong, "2 " + kLong, kShort});
    move(list->viewport(), itemPoint(list, 0));
    ticks(2);
    ASSERT_EQ(hc().hintText(), kLong);

    move(list->viewport(), itemPoint(list, 1));
    EXPECT_TRUE(hc().hintVisible());
    EXPECT_EQ(hc().state(), THintController::Showing);
    EXPECT_EQ(hc().hintText(), "2 " + kLong);
    EXPECT_EQ(list->HintIndex(), 1);
    EXPECT_EQ(hc().hintGeometry().top(),
              list->viewport()->mapToGlobal(QPoint(0, list->ItemHeight() - 2)).y());

    // To a short entry: the hint goes, and the delay starts again.
    move(list->viewport(), itemPoint(list, 2));
    EXPECT_FALSE(hc().hintVisible());
    EXPECT_EQ(hc().state(), THintController::Waiting);
    ticks(2);
    EXPECT_EQ(hc().state(), THintController::Idle);

    // Below the last item: no hint either.
    move(list->viewport(), itemPoint(list, 0));
    ticks(2);
    ASSERT_TRUE(hc().hintVisible());
    move(list->viewport(), {5, list->viewport()->height() - 2});
    EXPECT_FALSE(hc().hintVisible());
    EXPECT_EQ(hc().state(), THintController::Waiting);
}

TEST_F(Hints, TheCursorPlaceAtTheSecondTickDecides) {
    THListBox* list = makeList(100, 200, {kLong, kShort});
    move(list->viewport(), itemPoint(list, 0));
    ticks(1);
    move(list->viewport(), itemPoint(list, 1));  // not hinted yet: no switch, only the place
    ticks(1);
    EXPECT_FALSE(hc().hintVisible());
    EXPECT_EQ(hc().state(), THintController::Idle);
}

TEST_F(Hints, KeyPressHidesUntilTheMouseMovesAndTheDelayPassesAgain) {
    THEdit* edit = makeEdit(60, kLong);
    move(edit, {5, 5});
    ticks(2);
    ASSERT_TRUE(hc().hintVisible());
    const QString before = edit->text();
    key(edit, Qt::Key_X);
    EXPECT_FALSE(hc().hintVisible());
    EXPECT_EQ(hc().state(), THintController::Idle);
    EXPECT_EQ(edit->text(), before + "x") << "the key still reaches the edit";
    ticks(4);
    EXPECT_FALSE(hc().hintVisible());
    move(edit, {7, 5});
    ticks(1);
    EXPECT_FALSE(hc().hintVisible());
    ticks(1);
    EXPECT_TRUE(hc().hintVisible());

    THListBox* list = makeList(100, 200, {kLong, kShort});
    list->setCurrentRow(0);
    move(list->viewport(), itemPoint(list, 0));
    EXPECT_EQ(hc().currentControl(), list) << "another control takes over";
    EXPECT_FALSE(hc().hintVisible());
    ticks(2);
    ASSERT_TRUE(hc().hintVisible());
    key(list, Qt::Key_Down);
    EXPECT_FALSE(hc().hintVisible());
    EXPECT_EQ(list->currentRow(), 1);
}

TEST_F(Hints, ButtonLeaveFocusAndHideReset) {
    THListBox* list = makeList(100, 200, {kLong});
    auto showNow = [&] {
        move(list->viewport(), itemPoint(list, 0));
        ticks(2);
        ASSERT_TRUE(hc().hintVisible());
    };

    showNow();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(itemPoint(list, 0)), QPointF(cursor),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &press);
    EXPECT_EQ(hc().state(), THintController::Idle);
    EXPECT_FALSE(hc().hintVisible());
    EXPECT_EQ(list->currentRow(), 0) << "the press still selects";

    showNow();
    cursor = list->mapToGlobal(QPoint(-5, -5));  // gone elsewhere
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(list->viewport(), &leave);
    EXPECT_EQ(hc().state(), THintController::Idle);

    showNow();
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(list, &out);
    EXPECT_EQ(hc().state(), THintController::Idle);

    showNow();
    list->hide();
    EXPECT_EQ(hc().state(), THintController::Idle);
    EXPECT_FALSE(hc().hintVisible());
}

TEST_F(Hints, LeavingForItsOwnHintWindowKeepsTheHintTouchingItResets) {
    THListBox* list = makeList(100, 200, {kLong});
    move(list->viewport(), itemPoint(list, 0));
    ticks(2);
    ASSERT_TRUE(hc().hintVisible());
    ASSERT_TRUE(hc().hintGeometry().contains(cursor));

    // The window appeared under the cursor: the list loses the mouse to it.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(list->viewport(), &leave);
    EXPECT_TRUE(hc().hintVisible());

    QWidget* w = hc().hintWindow();
    const QPoint at = w->mapFromGlobal(cursor);
    QMouseEvent still(QEvent::MouseMove, QPointF(at), QPointF(cursor), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &still);
    EXPECT_TRUE(hc().hintVisible()) << "no movement yet";

    QMouseEvent moved(QEvent::MouseMove, QPointF(at + QPoint(1, 0)), QPointF(cursor + QPoint(1, 0)),
                      Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &moved);
    EXPECT_FALSE(hc().hintVisible());
    EXPECT_EQ(hc().state(), THintController::Idle);
}

TEST_F(Hints, SpHintOffOrHeldKeysNeverHint) {
    THListBox* list = makeList(60, 200, {kLong});
    THEdit* edit = makeEdit(60, kLong);
    list->SpHint = false;
    edit->SpHint = false;
    move(list->viewport(), itemPoint(list, 0));
    ticks(2);
    move(edit, {5, 5});
    ticks(2);
    EXPECT_EQ(hc().state(), THintController::Idle);
    EXPECT_FALSE(hc().hintVisible());

    list->SpHint = true;
    edit->SpHint = true;
    move(list->viewport(), itemPoint(list, 0), Qt::NoButton, Qt::ShiftModifier);
    move(edit, {5, 5}, Qt::LeftButton);
    ticks(2);
    EXPECT_EQ(hc().state(), THintController::Idle);
    EXPECT_FALSE(hc().hintVisible());
}

TEST_F(Hints, OnShowHintMayChangeTextAndDecision) {
    THListBox* list = makeList(200, 200, {kShort, kLong});
    list->resize(textWidth(list, kLong) + 40, 200);
    int seenIndex = -1;
    list->OnShowHint = [&](int index, bool& show, QString& hint) {
        seenIndex = index;
        show = !show;
        hint = "<" + hint + ">";
    };
    move(list->viewport(), itemPoint(list, 0));
    ticks(2);
    ASSERT_TRUE(hc().hintVisible());
    EXPECT_EQ(seenIndex, 0);
    EXPECT_EQ(hc().hintText(), "<" + kShort + ">");
    EXPECT_EQ(hc().hintGeometry().width(), textWidth(list, "<" + kShort + ">") + 5);

    THEdit* edit = makeEdit(40, kLong);
    edit->OnShowHint = [](bool& show, QString&) { show = false; };
    move(edit, {5, 5});
    ticks(2);
    EXPECT_FALSE(hc().hintVisible());
}

TEST_F(Hints, RegistrationFollowsTheControlsLife) {
    const int before = hc().registeredCount();
    auto* list = makeList(60, 200, {kLong});
    auto* edit = makeEdit(60, kLong);
    EXPECT_EQ(hc().registeredCount(), before + 2);
    EXPECT_TRUE(hc().isRegistered(list));

    move(list->viewport(), itemPoint(list, 0));
    ticks(2);
    ASSERT_TRUE(hc().hintVisible());
    delete list;  // destroyed while its hint shows
    EXPECT_FALSE(hc().hintVisible());
    EXPECT_EQ(hc().state(), THintController::Idle);
    EXPECT_EQ(hc().registeredCount(), before + 1);

    move(edit, {5, 5});
    delete edit;  // destroyed while waiting: a later tick finds nothing to ask
    ticks(2);
    EXPECT_EQ(hc().state(), THintController::Idle);
    EXPECT_EQ(hc().registeredCount(), before);
}

TEST_F(Hints, WindowLooksLikeATooltipAndTakesNoFocus) {
    THEdit* edit = makeEdit(60, "A & B " + kLong);
    move(edit, {5, 5});
    ticks(2);
    QWidget* w = hc().hintWindow();
    ASSERT_TRUE(w && w->isVisible());
    EXPECT_EQ(hc().hintText(), "A & B " + kLong);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(w->windowType(), Qt::ToolTip);
    EXPECT_EQ(w->focusPolicy(), Qt::NoFocus);
    EXPECT_NE(QApplication::activeWindow(), w);

    const QImage img = w->grab().toImage();
    ASSERT_FALSE(img.isNull());
    const QColor base = QToolTip::palette().color(QPalette::Inactive, QPalette::ToolTipBase);
    EXPECT_EQ(img.pixelColor(0, 0), QColor(Qt::black));
    EXPECT_EQ(img.pixelColor(img.width() - 1, img.height() - 1), QColor(Qt::black));
    EXPECT_EQ(img.pixelColor(img.width() - 2, img.height() - 2), base);
}
