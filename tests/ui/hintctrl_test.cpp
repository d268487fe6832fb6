#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QToolTip>
#include <memory>

#include "dialogs/ui/Hintctrl.h"

namespace {

const QString kLong = "C:/Games/Thief2/Missions/Very long mission directory/that never fits";
const QString kShort = "C:/T2";
using S = THintController::State;

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
        window->show();
    }
    void TearDown() override {
        window.reset();
        hc().reset();
        hc().cursorPos = [] { return QCursor::pos(); };
    }

    // A mouse move to `local` of `target`; the cursor goes there too.
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
    THListBox* makeList(int width, int height, const QStringList& items) {
        auto* list = new THListBox(window.get());
        list->setGeometry(10, 10, width, height);
        list->addItems(items);
        list->show();
        return list;
    }
    THEdit* makeEdit(int width, const QString& text) {
        auto* edit = new THEdit(window.get());
        edit->setGeometry(10, 300, width, 24);
        edit->setText(text);
        edit->show();
        return edit;
    }
    // Hovers item `row` near its left end and lets the delay pass.
    void hover(THListBox* list, int row, int tickCount = 2) {
        move(list->viewport(), {20, list->visualItemRect(list->item(row)).center().y()});
        ticks(tickCount);
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
    EXPECT_EQ(hc().state(), S::Waiting);
    EXPECT_EQ(hc().timerInterval(), 400);
    ticks(2);
    EXPECT_FALSE(hc().hintVisible());
    EXPECT_EQ(hc().state(), S::Idle);
    EXPECT_FALSE(hc().timerActive());

    edit->resize(tw + 1, 24);  // three pixels short
    move(edit, {6, 5});
    ticks(1);
    move(edit, {9, 6});  // moves over the same control do not restart the delay
    EXPECT_FALSE(hc().hintVisible()) << "the first tick only counts";
    ticks(1);
    EXPECT_TRUE(hc().hintVisible());
    EXPECT_EQ(hc().state(), S::Showing);
    EXPECT_EQ(hc().hintText(), kLong);
    EXPECT_EQ(hc().hintWindow()->font(), edit->font());
    EXPECT_TRUE(hc().hintWindow()->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_EQ(hc().hintWindow()->windowType(), Qt::ToolTip);

    // Tooltip colours inside a black one-pixel frame.
    const QImage img = hc().hintWindow()->grab().toImage();
    EXPECT_EQ(img.pixelColor(0, 0), QColor(Qt::black));
    EXPECT_EQ(img.pixelColor(img.width() - 1, img.height() - 1), QColor(Qt::black));
    EXPECT_EQ(img.pixelColor(img.width() - 2, img.height() - 2),
              QToolTip::palette().color(QPalette::Inactive, QPalette::ToolTipBase));
}

TEST_F(Hints, EditHintRectangleFollowsTheBorder) {
    THEdit* edit = makeEdit(60, kLong);
    const int tw = textWidth(edit, kLong), h = edit->height();
    move(edit, {5, 5});
    ticks(2);
    ASSERT_TRUE(hc().hintVisible());
    // 3-D border (2 pixels): inside it left/top -1, right text width + 5, bottom height - 7.
    EXPECT_EQ(hc().hintGeometry(), QRect(edit->mapToGlobal(QPoint(1, 1)), QSize(tw + 6, h - 6)));
    edit->Ctl3D = false;  // flat border (1 pixel)
    EXPECT_EQ(edit->HintRect(tw), QRect(1, 1, tw + 5, h - 4));
    edit->setFrame(false);  // no border: left/top move out by 2, the full width is usable
    EXPECT_EQ(edit->HintRect(tw), QRect(-2, -2, tw + 7, h - 2));
    edit->resize(tw, h);
    hc().reset();
    move(edit, {5, 5});
    ticks(2);
    EXPECT_FALSE(hc().hintVisible());

    edit->resize(20, h);  // a password never shows in clear
    edit->setEchoMode(QLineEdit::Password);
    move(edit, {6, 5});
    ticks(2);
    EXPECT_FALSE(hc().hintVisible());
}

TEST_F(Hints, ListThatScrollsHintsAScrollBarsWidthEarlier) {
    THListBox* list = makeList(200, 150, {kLong});
    const int tw = textWidth(list, kLong);
    const int sb =
        list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list->verticalScrollBar());
    list->resize(tw + 8, 150);  // 3-D border 4, then 4
    hover(list, 0);
    EXPECT_FALSE(hc().hintVisible()) << "fits exactly";
    list->Ctl3D = false;  // a flat border takes 2
    EXPECT_EQ(list->UsableTextWidth(), tw + 2);
    list->Ctl3D = true;

    // Exactly as many items as the height holds, then one more.
    while ((list->count() + 1) * list->ItemHeight() <= list->height() - 4) list->addItem("x");
    EXPECT_EQ(list->UsableTextWidth(), tw);
    list->addItem("x");
    EXPECT_EQ(list->UsableTextWidth(), tw + 8 - (sb + 2) - 4);
    hover(list, 0);
    EXPECT_TRUE(hc().hintVisible());
    EXPECT_EQ(hc().hintText(), kLong);
}

TEST_F(Hints, ListHintRectangleAndTheDesktopEdge) {
    QStringList items;
    for (int i = 0; i < 30; ++i) items << QString("%1 %2").arg(i).arg(kLong);
    THListBox* list = makeList(120, 120, items);
    list->verticalScrollBar()->setValue(3);
    ASSERT_EQ(list->TopIndex(), 3);
    const int ih = list->ItemHeight();
    hover(list, 5);
    ASSERT_TRUE(hc().hintVisible());
    EXPECT_EQ(hc().hintText(), items[5]);
    const QPoint topLeft = list->viewport()->mapToGlobal(QPoint(0, (5 - 3) * ih - 2));
    EXPECT_EQ(hc().hintGeometry(), QRect(topLeft, QSize(textWidth(list, items[5]) + 5, ih)));

    list->verticalScrollBar()->setValue(0);  // scrolling drops the hint
    EXPECT_FALSE(hc().hintVisible());
    const QRect desk = window->screen()->geometry();
    window->move(desk.right() - 150, desk.bottom() - 100);
    hover(list, 2);
    ASSERT_TRUE(hc().hintVisible());
    EXPECT_EQ(hc().hintGeometry().right(), desk.right()) << "moved back onto the desktop";
    EXPECT_EQ(hc().hintGeometry().top(), list->viewport()->mapToGlobal(QPoint(0, 2 * ih - 2)).y());
}

TEST_F(Hints, MovingToAnotherLongEntryReplacesTheHintAtOnce) {
    THListBox* list = makeList(100, 200, {kLong, "2 " + kLong, kShort});
    hover(list, 0);
    ASSERT_EQ(hc().hintText(), kLong);
    hover(list, 1, 0);
    EXPECT_EQ(hc().state(), S::Showing);
    EXPECT_EQ(hc().hintText(), "2 " + kLong);
    EXPECT_EQ(list->HintIndex(), 1);
    EXPECT_EQ(hc().hintGeometry().top(),
              list->viewport()->mapToGlobal(QPoint(0, list->ItemHeight() - 2)).y());

    hover(list, 2, 0);  // a short entry: hint gone, the delay starts again
    EXPECT_FALSE(hc().hintVisible());
    EXPECT_EQ(hc().state(), S::Waiting);
    hover(list, 0);
    move(list->viewport(), {5, list->viewport()->height() - 2});  // below the last item
    EXPECT_FALSE(hc().hintVisible());

    // Where the cursor is at the second tick decides, not where it entered.
    hc().reset();
    hover(list, 0, 1);
    hover(list, 2, 1);
    EXPECT_EQ(hc().state(), S::Idle);
}

TEST_F(Hints, KeyPressHidesUntilTheMouseMovesAndTheDelayPassesAgain) {
    THEdit* edit = makeEdit(60, kLong);
    move(edit, {5, 5});
    ticks(2);
    ASSERT_TRUE(hc().hintVisible());
    QKeyEvent x(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x");
    QApplication::sendEvent(edit, &x);
    EXPECT_FALSE(hc().hintVisible());
    EXPECT_EQ(hc().state(), S::Idle);
    EXPECT_EQ(edit->text(), kLong + "x") << "the key still reaches the edit";
    ticks(4);
    EXPECT_FALSE(hc().hintVisible());
    move(edit, {7, 5});
    ticks(1);
    EXPECT_FALSE(hc().hintVisible());
    ticks(1);
    EXPECT_TRUE(hc().hintVisible());
}

TEST_F(Hints, ButtonFocusLeaveAndHideReset) {
    THListBox* list = makeList(100, 200, {kLong});
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(20, 5), QPointF(), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QEvent leave(QEvent::Leave);
    const std::vector<std::function<void()>> actions = {
        [&] { QApplication::sendEvent(list->viewport(), &press); },
        [&] { QApplication::sendEvent(list, &out); },
        [&] {
            cursor = list->mapToGlobal(QPoint(-5, -5));
            QApplication::sendEvent(list->viewport(), &leave);
        },
        [&] { list->hide(); }};
    for (size_t i = 0; i < actions.size(); ++i) {
        hover(list, 0);
        ASSERT_TRUE(hc().hintVisible()) << i;
        actions[i]();
        EXPECT_EQ(hc().state(), S::Idle) << i;
        EXPECT_FALSE(hc().hintVisible()) << i;
    }
    EXPECT_EQ(list->currentRow(), 0) << "the press still selects";
}

TEST_F(Hints, LosingTheMouseToItsHintKeepsItTouchingTheHintResets) {
    THListBox* list = makeList(100, 200, {kLong});
    hover(list, 0);
    ASSERT_TRUE(hc().hintGeometry().contains(cursor));
    QEvent leave(QEvent::Leave);  // the window appeared under the cursor
    QApplication::sendEvent(list->viewport(), &leave);
    EXPECT_TRUE(hc().hintVisible());

    QWidget* w = hc().hintWindow();
    move(w, w->mapFromGlobal(cursor));  // no movement yet
    EXPECT_TRUE(hc().hintVisible());
    move(w, w->mapFromGlobal(cursor) + QPoint(1, 0));
    EXPECT_FALSE(hc().hintVisible());
    EXPECT_EQ(hc().state(), S::Idle);
}

// Input goes through the window system here, which withholds it from windows that a modal
// dialog blocks (the setup dialog runs application-modal).
TEST_F(Hints, HintInAModalDialogTakesTheMouse) {
    QDialog dialog;
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setGeometry(100, 100, 400, 200);
    THEdit* edit = new THEdit(&dialog);
    edit->setGeometry(10, 10, 80, 24);
    edit->setText(kLong);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    // (A move to where the mouse already is does not count as one.)
    const auto showHint = [&](QPoint local) {
        cursor = edit->mapToGlobal(local);
        QTest::mouseMove(dialog.windowHandle(), dialog.mapFromGlobal(cursor));
        ticks(2);
        return hc().hintVisible() && QTest::qWaitForWindowExposed(hc().hintWindow());
    };
    const auto onHint = [&](QPoint offset) {
        cursor += offset;
        return hc().hintWindow()->mapFromGlobal(cursor);
    };

    ASSERT_TRUE(showHint({5, 5}));
    QTest::mousePress(hc().hintWindow()->windowHandle(), Qt::LeftButton, {}, onHint({}));
    EXPECT_FALSE(hc().hintVisible()) << "a press on the hint";
    QTest::mouseRelease(dialog.windowHandle(), Qt::LeftButton, {}, dialog.mapFromGlobal(cursor));

    ASSERT_TRUE(showHint({8, 5}));
    QTest::mouseMove(hc().hintWindow()->windowHandle(), onHint({2, 0}));
    EXPECT_FALSE(hc().hintVisible()) << "the mouse touching the hint";
    // The hint is out of the way: a click there reaches the edit and moves its cursor.
    edit->end(false);
    QTest::mouseClick(dialog.windowHandle(), Qt::LeftButton, {}, dialog.mapFromGlobal(cursor));
    EXPECT_LT(edit->cursorPosition(), kLong.size());
}

TEST_F(Hints, SpHintOffOrHeldKeysNeverHint) {
    THListBox* list = makeList(60, 200, {kLong});
    THEdit* edit = makeEdit(60, kLong);
    list->SpHint = edit->SpHint = false;
    hover(list, 0);
    move(edit, {5, 5});
    ticks(2);
    EXPECT_EQ(hc().state(), S::Idle);
    list->SpHint = edit->SpHint = true;
    move(list->viewport(), {20, 5}, Qt::NoButton, Qt::ShiftModifier);
    move(edit, {5, 5}, Qt::LeftButton);
    ticks(2);
    EXPECT_EQ(hc().state(), S::Idle);
    EXPECT_FALSE(hc().hintVisible());
}

TEST_F(Hints, OnShowHintAndTheControlsLife) {
    const int before = hc().registeredCount();
    THListBox* list = makeList(400, 200, {kShort});
    THEdit* edit = makeEdit(60, kLong);
    EXPECT_EQ(hc().registeredCount(), before + 2);
    list->OnShowHint = [](int index, bool& show, QString& hint) {
        show = index == 0 && !show;
        hint = "<" + hint + ">";
    };
    hover(list, 0);
    EXPECT_EQ(hc().hintText(), "<" + kShort + ">");
    EXPECT_EQ(hc().hintGeometry().width(), textWidth(list, "<" + kShort + ">") + 5);

    delete list;  // destroyed while its hint shows
    EXPECT_FALSE(hc().hintVisible());
    EXPECT_EQ(hc().state(), S::Idle);
    move(edit, {5, 5});
    delete edit;  // destroyed while waiting: a later tick finds nothing to ask
    ticks(2);
    EXPECT_EQ(hc().state(), S::Idle);
    EXPECT_EQ(hc().registeredCount(), before);
}

TEST_F(Hints, AWideListEntryIsCutOffNotScrolledOrShortened) {
    THListBox* list = makeList(120, 80, {kLong, kShort});
    QApplication::processEvents();
    // The hint lies over the entry's own text, which starts at the left edge and keeps its
    // characters; a horizontal scroll bar would also hide the last entry.
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(list->textElideMode(), Qt::ElideNone);
}
