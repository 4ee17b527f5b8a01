#include "platform/synthetic/SyntheticFloatingSurfaces.h"
#include "prefs/KeyBinding.h"
#include "support/VirtualScheduler.h"
#include "toolbar/TipModifier.h"
#include "toolbar/TipView.h"
#include "toolbar/TipWindow.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QWidget>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

using namespace corvessa;

namespace {

// One tip window on a virtual clock and a pointer the test moves, with the
// pen bound and nothing else, and the windows it registers counted.
struct Tips {
    VirtualScheduler clock;
    QPoint pointer{-1000, -1000};
    int registered = 0;
    TipWindow tips{clock, FloatingKit(nullptr, [this](QWindow*) { ++registered; }),
                   [](HotKeyAction a) -> std::optional<QString> {
                       if (a == HotKeyAction::pen)
                           return KeyBinding::defaultFor(a).display();
                       return std::nullopt;
                   },
                   [this] { return pointer; }};

    // The pointer comes onto the control.
    void enter(QWidget& w)
    {
        pointer = w.mapToGlobal(QPoint(5, 5));
        enterUnderPointer(w);
    }
    // The control is told the pointer is on it, the pointer staying where it is.
    void enterUnderPointer(QWidget& w)
    {
        const QPointF local = w.mapFromGlobal(QPointF(pointer));
        QEnterEvent e(local, local, QPointF(pointer));
        QCoreApplication::sendEvent(&w, &e);
    }
};

std::unique_ptr<QWidget> control(QPoint at)
{
    auto w = std::make_unique<QWidget>();
    w->setGeometry(QRect(at, QSize(24, 36)));
    w->show();
    return w;
}

void leave(QWidget& w)
{
    QEvent e(QEvent::Leave);
    QCoreApplication::sendEvent(&w, &e);
}

} // namespace

TEST(TipWindow, ShowsNameAndBoundKeyOnlyAfterTheDelayAboveTheControl)
{
    Tips t;
    auto pen = control({300, 400});
    TipModifier::attach(pen.get(), t.tips, QStringLiteral("Pen"), HotKeyAction::pen);
    t.enter(*pen);
    t.clock.advance(TipWindow::delay - 0.01);
    EXPECT_EQ(t.tips.view(), nullptr);
    EXPECT_TRUE(t.tips.isPending());
    t.clock.advance(0.02);
    ASSERT_NE(t.tips.view(), nullptr);
    EXPECT_FALSE(t.tips.isPending());
    EXPECT_EQ(t.tips.view()->name(), QStringLiteral("Pen"));
    EXPECT_EQ(t.tips.view()->keyText(), KeyBinding::defaultFor(HotKeyAction::pen).display());
    EXPECT_TRUE(t.tips.view()->isVisible());
    EXPECT_TRUE(t.tips.view()->windowFlags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_EQ(t.registered, 1);
    const QRect tip = t.tips.view()->geometry();
    const QRect anchor(pen->mapToGlobal(QPoint(0, 0)), pen->size());
    EXPECT_EQ(tip.bottom() + 1 + TipWindow::gap, anchor.top());
    EXPECT_LE(std::abs(tip.center().x() - anchor.center().x()), 1);
}

// Tips sit with the floating menus, under the question dialogs' level.
TEST(TipWindow, TipsSitAtTheMenusLevel)
{
    Tips t;
    auto surfaces = std::make_shared<SyntheticFloatingSurfaces>();
    t.tips.setSurfaces(surfaces);
    auto stop = control({300, 400});
    TipModifier::attach(stop.get(), t.tips, QStringLiteral("Stop"), HotKeyAction::stop);
    t.enter(*stop);
    t.clock.advance(TipWindow::delay + 0.01);
    ASSERT_NE(t.tips.view(), nullptr);
    const auto* surface = surfaces->surface(t.tips.view());
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->options.level, SurfaceLevel::popUpMenu);
}

TEST(TipWindow, OneTipAtATimeAndOnlyTheLastControlsTip)
{
    Tips t;
    auto a = control({100, 400});
    auto b = control({200, 400});
    TipModifier::attach(a.get(), t.tips, QStringLiteral("A"));
    TipModifier::attach(b.get(), t.tips, QStringLiteral("B"));
    t.enter(*a);
    t.clock.advance(0.5);
    t.enter(*b); // straight from one control to the next: no leave in between
    t.clock.advance(0.3);
    EXPECT_EQ(t.tips.view(), nullptr) << "the first control's tip was replaced";
    t.clock.advance(TipWindow::delay);
    ASSERT_NE(t.tips.view(), nullptr);
    EXPECT_EQ(t.tips.view()->name(), QStringLiteral("B"));
    EXPECT_EQ(t.tips.view()->keyLabel(), nullptr) << "no action, no key";
    t.enter(*a);
    EXPECT_EQ(t.tips.view(), nullptr) << "a new hover takes the old tip down at once";
    t.clock.advance(TipWindow::delay);
    ASSERT_NE(t.tips.view(), nullptr);
    EXPECT_EQ(t.tips.view()->name(), QStringLiteral("A"));
}

TEST(TipWindow, LeavePressAndUnboundKeyHideOrLeaveOutTheKey)
{
    const struct {
        const char* what;
        std::function<void(QWidget&)> act;
    } hides[] = {
        {"leave", [](QWidget& w) { leave(w); }},
        {"press", [](QWidget& w) { QTest::mousePress(&w, Qt::LeftButton, {}, QPoint(5, 5)); }},
        {"key", [](QWidget& w) { QTest::keyClick(&w, Qt::Key_A); }},
    };
    for (const auto& h : hides) {
        for (double rested : {0.3, 1.0}) { // pending and shown
            Tips t;
            auto w = control({300, 400});
            TipModifier::attach(w.get(), t.tips, QStringLiteral("Stop"), HotKeyAction::stop);
            t.enter(*w);
            t.clock.advance(rested);
            h.act(*w);
            EXPECT_EQ(t.tips.view(), nullptr) << h.what << " after " << rested;
            EXPECT_FALSE(t.tips.isPending()) << h.what << " after " << rested;
            t.clock.advance(5);
            EXPECT_EQ(t.tips.view(), nullptr) << h.what << ": the tip must not come back";
        }
    }
    Tips t;
    t.pointer = QPoint(310, 410);
    t.tips.schedule(QStringLiteral("Stop"), HotKeyAction::stop, [] { return QRect(300, 400, 24, 36); });
    t.clock.advance(1);
    ASSERT_NE(t.tips.view(), nullptr);
    EXPECT_EQ(t.tips.view()->keyLabel(), nullptr) << "an action without a binding shows only its name";
}

// No leave arrives when the pointer moves into another window of ours or onto
// an overlay past the window manager, nor when its control goes: a tip stood
// above the pause button for a minute with the pointer elsewhere.
TEST(TipWindow, NoTipOutlivesThePointerOnItsControl)
{
    const struct {
        const char* what;
        std::function<void(Tips&, std::unique_ptr<QWidget>&)> act;
    } ways[] = {
        {"pointer into another window", [](Tips& t, auto&) { t.pointer = QPoint(40, 40); }},
        {"pointer onto the next control", [](Tips& t, auto& w) { t.pointer = w->mapToGlobal(QPoint(30, 5)); }},
        {"control hidden", [](Tips&, auto& w) { w->hide(); }},
        {"control deleted", [](Tips&, auto& w) { w.reset(); }},
    };
    for (const auto& way : ways) {
        for (double rested : {0.3, 1.0}) { // pending and shown
            SCOPED_TRACE(std::string(way.what) + " after " + std::to_string(rested));
            Tips t;
            auto w = control({300, 400});
            TipModifier::attach(w.get(), t.tips, QStringLiteral("Pause Recording"), HotKeyAction::pause);
            t.enter(*w);
            t.clock.advance(rested);
            EXPECT_EQ(t.tips.view() != nullptr, rested > TipWindow::delay);
            way.act(t, w);
            t.clock.advance(TipWindow::pointerCheck + 0.01);
            EXPECT_EQ(t.tips.view(), nullptr);
            EXPECT_FALSE(t.tips.isPending()) << "a pending tip whose control went shows nowhere";
            t.clock.advance(5);
            EXPECT_EQ(t.tips.view(), nullptr) << "the tip came back";
        }
    }
}

// A row rebuilt under a resting pointer puts a new control under it, which
// Qt tells the pointer has entered; the pointer has not rested on it yet.
TEST(TipWindow, AControlSwappedInUnderARestingPointerWaitsForARestOfItsOwn)
{
    Tips t;
    auto before = control({300, 400});
    TipModifier::attach(before.get(), t.tips, QStringLiteral("Start Recording"), HotKeyAction::start);
    t.enter(*before);
    t.clock.advance(TipWindow::delay + 0.01);
    ASSERT_NE(t.tips.view(), nullptr);

    t.tips.hideUntilPointerMoves();
    EXPECT_EQ(t.tips.view(), nullptr) << "the controls were swapped: the old tip goes at once";
    before.reset();
    auto swapped = control({300, 400});
    TipModifier::attach(swapped.get(), t.tips, QStringLiteral("Pause Recording"), HotKeyAction::pause);
    t.enterUnderPointer(*swapped);
    t.clock.advance(5);
    EXPECT_EQ(t.tips.view(), nullptr) << "no tip under a pointer that never moved";
    EXPECT_TRUE(t.tips.isPending());

    // The pointer moves on the control: its rest starts with the move.
    t.pointer += QPoint(1, 0);
    t.clock.advance(TipWindow::pointerCheck);
    t.clock.advance(TipWindow::delay - 2 * TipWindow::pointerCheck);
    EXPECT_EQ(t.tips.view(), nullptr) << "shown before the pointer rested for the delay";
    t.clock.advance(2 * TipWindow::pointerCheck + 0.01);
    ASSERT_NE(t.tips.view(), nullptr);
    EXPECT_EQ(t.tips.view()->name(), QStringLiteral("Pause Recording"));

    // A pointer that leaves and comes back to the very spot has moved: its
    // control's tip shows after the plain delay.
    t.tips.hideUntilPointerMoves();
    const QPoint rested = t.pointer;
    t.pointer = QPoint(40, 40);
    leave(*swapped);
    t.clock.advance(TipWindow::pointerCheck + 0.01);
    t.pointer = rested;
    t.enterUnderPointer(*swapped);
    t.clock.advance(TipWindow::delay + 0.01);
    ASSERT_NE(t.tips.view(), nullptr) << "no tip for a pointer back from elsewhere";

    // A control the pointer really comes onto after the swap has its tip after the plain delay.
    t.tips.hideUntilPointerMoves();
    auto next = control({330, 400});
    TipModifier::attach(next.get(), t.tips, QStringLiteral("Stop Recording"), HotKeyAction::stop);
    t.enter(*next);
    t.clock.advance(TipWindow::delay + 0.01);
    ASSERT_NE(t.tips.view(), nullptr);
    EXPECT_EQ(t.tips.view()->name(), QStringLiteral("Stop Recording"));
}

TEST(TipWindow, PlacementStaysInsideTheUsableAreaAndFlipsBelowAtTheTop)
{
    const QRect visible(0, 30, 1000, 700);
    const QSize size(120, 30);
    const struct {
        QRect anchor;
        bool below;
    } cases[] = {
        {{500, 400, 24, 36}, false}, // mid-screen: above
        {{500, 40, 24, 36}, true},   // toolbar at the top: below
        {{0, 400, 24, 36}, false},   // left edge
        {{980, 400, 24, 36}, false}, // right edge
    };
    for (const auto& c : cases) {
        const QRect tip(TipWindow::placedOrigin(c.anchor, size, visible), size);
        SCOPED_TRACE(c.anchor.x());
        if (c.below)
            EXPECT_EQ(tip.top(), c.anchor.bottom() + 1 + TipWindow::gap);
        else
            EXPECT_EQ(tip.bottom() + 1 + TipWindow::gap, c.anchor.top());
        EXPECT_GE(tip.left(), visible.left() + TipWindow::gap);
        EXPECT_LE(tip.right() + 1, visible.right() + 1 - TipWindow::gap);
    }
    const QList<QRect> screens{{0, 0, 1000, 800}, {1000, 0, 1000, 800}};
    EXPECT_EQ(TipWindow::screenIndex({1500, 10, 24, 36}, {5000, 5}, screens, 0), 1) << "the screen the anchor meets";
    EXPECT_EQ(TipWindow::screenIndex({5000, 10, 0, 0}, {1200, 5}, screens, 0), 1) << "else the pointer's";
    EXPECT_EQ(TipWindow::screenIndex({5000, 10, 0, 0}, {5000, 5}, screens, 0), 0) << "else the primary";
    EXPECT_EQ(TipWindow::screenIndex({5000, 10, 0, 0}, {5000, 5}, {}, -1), -1) << "no screen at all";
    // Without a screen the arithmetic still gives a place.
    const QPoint p = TipWindow::placedOrigin({10, 10, 24, 36}, size, QRect());
    EXPECT_EQ(p.x(), -size.width() - TipWindow::gap);
}
