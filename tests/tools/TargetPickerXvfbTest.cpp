// The target picker on a real X server with openbox and two client windows:
// the window list, a click on the front window, Esc, and area drags. The test
// program's own Qt runs offscreen, so the checks run in a second run of the
// program on the private server (the disabled test below).
#include "platform/DisplayInfo.h"
#include "support/DrivenTest.h"
#include "support/OnServerTest.h"
#include "support/XvfbTest.h"
#include "tools/ProgramTools.h"
#include "tools/TargetPicker.h"
#include "tools/TargetPickerView.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace corvessa::test {
namespace {

class TargetPickerXvfbTest : public XvfbTest {};

TEST_F(TargetPickerXvfbTest, ListsClicksCancelsAndDragsOnTheServer) { runOnServer("TargetPickerOnX.DISABLED_Picks"); }

class TargetPickerOnX : public OnServerTest {
protected:
    // A client window of another program (no _NET_WM_PID), placed where asked.
    Window client(const QRect& r, const char* name, unsigned long colour)
    {
        const Window w = XCreateSimpleWindow(m_x, DefaultRootWindow(m_x), r.x(), r.y(), r.width(), r.height(), 0, 0,
                                             colour);
        XStoreName(m_x, w, name);
        XClassHint hint{const_cast<char*>("pickerclient"), const_cast<char*>("PickerClient")};
        XSetClassHint(m_x, w, &hint);
        XSizeHints size{};
        size.flags = USPosition | USSize;
        size.x = r.x();
        size.y = r.y();
        size.width = r.width();
        size.height = r.height();
        XSetWMNormalHints(m_x, w, &size);
        XMapWindow(m_x, w);
        XSync(m_x, False);
        return w;
    }

    bool opened(TargetPicker* picker)
    {
        return picker && picker->isOpen() && waitFor([&] {
                   for (TargetPickerView* v : picker->views()) {
                       if (!v->windowHandle() || !v->windowHandle()->isExposed())
                           return false;
                   }
                   return !keyboardFree();
               });
    }

};

ON_SERVER_TEST_F(TargetPickerOnX, Picks)
{
    const Window back = client(QRect(100, 100, 500, 350), "Back", 0x3060c0);
    const Window front = client(QRect(350, 300, 500, 350), "Front", 0xc06030);
    ProgramTools tools;

    // Front to back, with class and name.
    std::vector<WindowInfo> ours;
    QElapsedTimer sinceMap;
    sinceMap.start();
    ASSERT_TRUE(waitFor([&] {
        // openbox may sit on a map request read during its start until another
        // event wakes it: ask again now and then (a no-op once mapped).
        if (sinceMap.elapsed() > 500) {
            XMapWindow(m_x, back);
            XMapWindow(m_x, front);
            XSync(m_x, False);
            sinceMap.restart();
        }
        ours.clear();
        for (const WindowInfo& w : tools.windowList()) {
            if (w.appName == QLatin1String("PickerClient"))
                ours.push_back(w);
        }
        return ours.size() == 2;
    })) << "both clients listed";
    EXPECT_EQ(ours[0].id, uint32_t(front));
    EXPECT_EQ(ours[0].title, QStringLiteral("PickerClient — Front"));
    EXPECT_EQ(ours[1].id, uint32_t(back));
    EXPECT_EQ(ours[1].title, QStringLiteral("PickerClient — Back"));

    std::optional<std::optional<ToolsFacade::Selection>> result;
    const auto completion = [&](std::optional<ToolsFacade::Selection> s) { result = s; };

    // A click where both overlap picks the front one.
    tools.pickRange(RangeMode::window, completion);
    TargetPicker* picker = tools.picker();
    ASSERT_TRUE(opened(picker)) << "veils shown, keyboard held";
    const QRectF overlap = ours[0].frame.intersected(ours[1].frame);
    ASSERT_FALSE(overlap.isEmpty());
    const QPoint inside = overlap.center().toPoint();
    move(inside);
    ASSERT_TRUE(waitFor([&] { return picker->hover().has_value(); }));
    EXPECT_EQ(picker->hover()->id, uint32_t(front));
    screenshot(QStringLiteral("target-picker-window.png")); // the highlight painted, for the picture
    {
        // Without a compositing manager the veil dims the desktop, not blacks it out.
        const QPoint backOnly = (ours[1].frame.topLeft() + QPointF(30, 60)).toPoint();
        ASSERT_FALSE(ours[0].frame.contains(backOnly));
        const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        EXPECT_GT(qBlue(shot.pixel(backOnly)), 60) << "the back window shows through the veil";
        EXPECT_LT(qBlue(shot.pixel(backOnly)), 0xc0) << "and is dimmed";
    }
    button(true);
    button(false);
    ASSERT_TRUE(waitFor([&] { return result.has_value(); }));
    ASSERT_TRUE(*result);
    EXPECT_EQ((*result)->kind, ToolsFacade::Selection::Kind::window);
    EXPECT_EQ((*result)->id, uint32_t(front));
    EXPECT_EQ((*result)->title, QStringLiteral("PickerClient — Front"));
    EXPECT_EQ((*result)->size, ours[0].frame.size());
    EXPECT_TRUE(waitFor([&] { return keyboardFree(); })) << "the keyboard is let go";

    // Esc cancels.
    result.reset();
    tools.pickRange(RangeMode::window, completion);
    ASSERT_TRUE(opened(picker));
    key(XK_Escape);
    ASSERT_TRUE(waitFor([&] { return result.has_value(); }));
    EXPECT_FALSE(*result);
    EXPECT_TRUE(waitFor([&] { return keyboardFree(); }));

    // Area: a drag below the minimum is dropped and the pick goes on; 150 x 80 is taken.
    result.reset();
    tools.pickRange(RangeMode::area, completion);
    ASSERT_TRUE(opened(picker));
    const auto dragTo = [&](const QPoint& from, const QPoint& to, bool release) {
        move(from);
        spin(100); // the pointer's arrival before the press
        button(true);
        move(to);
        const QRectF expected = QRectF(from, to).normalized();
        EXPECT_TRUE(waitFor([&] { return picker->dragRect() == expected; })) << "the drag is followed";
        if (release)
            button(false);
    };
    dragTo(QPoint(200, 150), QPoint(320, 200), true);
    ASSERT_TRUE(waitFor([&] { return !picker->dragRect(); }));
    EXPECT_FALSE(result) << "120 x 50 is too small";
    EXPECT_TRUE(picker->isOpen());

    dragTo(QPoint(200, 150), QPoint(350, 230), false);
    screenshot(QStringLiteral("target-picker-area.png"));
    button(false);
    ASSERT_TRUE(waitFor([&] { return result.has_value(); }));
    ASSERT_TRUE(*result);
    QScreen* screen = QGuiApplication::screenAt(QPoint(200, 150));
    ASSERT_TRUE(screen);
    EXPECT_EQ((*result)->kind, ToolsFacade::Selection::Kind::area);
    EXPECT_EQ((*result)->display, DisplayInfo::idForName(screen->name()));
    EXPECT_EQ((*result)->rect, QRectF(QPointF(200, 150) - screen->geometry().topLeft(), QSizeF(150, 80)));
    EXPECT_TRUE(waitFor([&] { return keyboardFree(); }));
}

} // namespace
} // namespace corvessa::test
