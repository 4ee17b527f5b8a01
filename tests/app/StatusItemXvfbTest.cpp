// The tray icon on a real X server with openbox and trayer as the tray host:
// the icon is embedded in the tray, and a click opens the status menu. The
// checks run in a second run of this program whose Qt uses the private server.
#include "app/StatusItem.h"
#include "platform/PlatformLoader.h"
#include "platform/core/MainLoopScheduler.h"
#include "support/ChildProcess.h"
#include "support/DrivenTest.h"
#include "support/OnServerTest.h"
#include "support/WindowManager.h"
#include "support/XvfbTest.h"
#include "toolbar/FloatingMenu.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QWidget>

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace corvessa::test {
namespace {

class StatusItemXvfbTest : public XvfbTest {};

TEST_F(StatusItemXvfbTest, EmbedsInTheTrayAndOpensTheMenu) { runOnServer("StatusItemOnX.DISABLED_EmbedsAndOpens"); }

// The X window of the tray icon: Qt's top-level tray widget.
Window iconWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qstrcmp(w->metaObject()->className(), "QSystemTrayIconSys") == 0 && w->internalWinId())
            return Window(w->internalWinId());
    }
    return None;
}

Window parentOf(Display* x, Window w)
{
    Window root = None;
    Window parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(x, w, &root, &parent, &children, &count))
        return None;
    if (children)
        XFree(children);
    return parent;
}

class StatusItemOnX : public OnServerTest {
protected:
    void SetUp() override
    {
        OnServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        QString why;
        m_tray = WindowManager::startTray(m_x, &why);
        ASSERT_TRUE(m_tray) << why.toStdString() << "; trayer is installed by scripts/install-deps.sh";
    }

    void TearDown() override
    {
        m_item.reset();
        m_floating.reset();
        m_tray.reset();
        OnServerTest::TearDown();
    }

    // A quick click at `p` (as a tap on a touchpad); whether `done` follows.
    bool click(const QPoint& p, const std::function<bool()>& done)
    {
        XTestFakeMotionEvent(m_x, -1, p.x(), p.y(), CurrentTime);
        XTestFakeButtonEvent(m_x, 1, True, CurrentTime);
        XTestFakeButtonEvent(m_x, 1, False, CurrentTime);
        XFlush(m_x);
        return waitFor(done);
    }

    std::unique_ptr<ChildProcess> m_tray;
    std::unique_ptr<FloatingMenu> m_floating;
    std::unique_ptr<StatusItem> m_item;
};

ON_SERVER_TEST_F(StatusItemOnX, EmbedsAndOpens)
{
    int fills = 0;
    m_floating = std::make_unique<FloatingMenu>(MainLoopScheduler::shared(), FloatingKit(PlatformLoader::loadFloatingSurfaces()),
                                                PlatformLoader::loadOutsideClickMonitor());
    StatusItem::Setup setup;
    setup.clock = &MainLoopScheduler::shared();
    setup.floatingMenu = m_floating.get();
    setup.floatingRows = [] { return MenuRows{MenuRow::note(QStringLiteral("Preparing to record…"))}; };
    setup.fillStatusMenu = [&](QMenu& menu) {
        ++fills;
        menu.addAction(QStringLiteral("Start Recording…"));
    };
    m_item = std::make_unique<StatusItem>(std::move(setup));
    ASSERT_TRUE(waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
    EXPECT_TRUE(m_item->show());

    // The tray host takes the icon's window in as its child.
    const Window root = DefaultRootWindow(m_x);
    ASSERT_TRUE(waitFor([&] {
        const Window icon = iconWindow();
        return icon != None && parentOf(m_x, icon) != root && parentOf(m_x, icon) != None;
    })) << "the icon is embedded in the tray";
    // The tray lays its icons out after taking them in: the icon is clicked
    // once it is shown and has stayed in place for a while.
    QRect settled;
    int still = 0;
    ASSERT_TRUE(waitFor([&] {
        const QRect g = m_item->trayIcon().geometry();
        XWindowAttributes a{};
        const bool shown = XGetWindowAttributes(m_x, iconWindow(), &a) && a.map_state == IsViewable;
        still = shown && g == settled ? still + 1 : 0;
        settled = g;
        spin(50);
        return still >= 6;
    })) << "the icon shows in the tray";
    EXPECT_TRUE(settled.isValid() && !settled.isEmpty() && settled.top() < 40) << "at the top edge";
    WindowManager::keepScreenshot(QStringLiteral("status-item-tray.png"));

    const auto icon = [&] { return m_item->trayIcon().geometry().center(); };
    const auto menuShown = [&] { return m_item->statusMenu().isVisible(); };
    const auto floatingShown = [&] { return m_floating->isVisible(); };
    const auto floatingClosed = [&] { return !m_floating->isVisible(); };
    ASSERT_TRUE(click(icon(), menuShown)) << "the click opens the menu";
    EXPECT_EQ(fills, 1);
    ASSERT_EQ(m_item->statusMenu().actions().size(), 1);
    EXPECT_EQ(m_item->statusMenu().actions().first()->text(), QStringLiteral("Start Recording…"));
    WindowManager::keepScreenshot(QStringLiteral("status-item-menu.png"));

    // Reopened, the menu is filled afresh, not added to.
    m_item->statusMenu().hide();
    ASSERT_TRUE(waitFor([&] { return !m_item->statusMenu().isVisible(); }));
    spin(300);
    ASSERT_TRUE(click(icon(), menuShown));
    EXPECT_EQ(fills, 2);
    m_item->statusMenu().hide();
    ASSERT_TRUE(waitFor([&] { return !m_item->statusMenu().isVisible(); }));

    // Busy: a click opens the floating menu, the next closes it and does not
    // reopen it, a later one opens it again; leaving the busy phases closes it.
    m_item->configure(RecorderPhase::countdown(3));
    spin(300);
    ASSERT_TRUE(click(icon(), floatingShown)) << "the floating menu opens";
    EXPECT_FALSE(m_item->statusMenu().isVisible());
    WindowManager::keepScreenshot(QStringLiteral("status-item-floating.png"));
    spin(300);
    ASSERT_TRUE(click(icon(), floatingClosed)) << "the second click closes it";
    spin(500);
    EXPECT_FALSE(m_floating->isVisible()) << "and it stays closed";
    ASSERT_TRUE(click(icon(), floatingShown)) << "a later click opens it again";
    m_item->configure(RecorderPhase::saved(QStringLiteral("/tmp/m.mov")));
    EXPECT_FALSE(m_floating->isVisible()) << "the idle mode closes it";
    EXPECT_EQ(fills, 2);
}

} // namespace
} // namespace corvessa::test
