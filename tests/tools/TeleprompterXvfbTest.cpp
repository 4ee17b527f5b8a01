// The teleprompter on a real X server with openbox: shown, on screen, and kept
// out of recordings while one runs. The checks run in a second run of the
// program on the private server (the disabled test below).
#include "model/Stealth.h"
#include "support/DrivenTest.h"
#include "support/OnServerTest.h"
#include "support/TempHome.h"
#include "support/XvfbTest.h"
#include "tools/ProgramTools.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTextEdit>
#include <QWindow>

#include <gtest/gtest.h>

#include <X11/Xlib.h>

namespace corvessa::test {
namespace {

class TeleprompterXvfbTest : public XvfbTest {};

TEST_F(TeleprompterXvfbTest, ShowsOnScreenKeptOutOfRecordings) { runOnServer("TeleprompterOnX.DISABLED_Shows"); }

class TeleprompterOnX : public OnServerTest {
protected:
    // The window manager has been ready since set-up (see startOpenbox).
    bool exposed(QWidget* panel)
    {
        return waitFor([&] { return panel->windowHandle() && panel->windowHandle()->isExposed(); });
    }

    TempHome m_home;
};

ON_SERVER_TEST_F(TeleprompterOnX, Shows)
{
    auto stealth = std::make_shared<Stealth>();
    ProgramTools tools({}, {}, {}, FloatingKit::platform([stealth](QWindow* w) { stealth->track(w); }));
    tools.setRecordingActive([stealth] { return stealth->active(); });
    Teleprompter& t = tools.teleprompter();
    t.setOpacity(1);
    t.setText(QStringLiteral("Good evening, and welcome."));

    tools.showTeleprompter();
    EXPECT_TRUE(tools.isTeleprompterShown());
    QWidget* panel = t.panel();
    ASSERT_TRUE(panel);
    ASSERT_TRUE(exposed(panel));
    screenshot(QStringLiteral("teleprompter.png")); // painted, for the picture

    // The panel's grey (white 0.09, not the black desktop) is where the window
    // says it is, below the script's one line.
    const QRect frame = panel->frameGeometry();
    EXPECT_GE(frame.width(), int(Teleprompter::minWidth));
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    const QPoint probe = frame.bottomLeft() + QPoint(frame.width() / 2, -20);
    const QColor seen = shot.pixelColor(probe);
    EXPECT_NEAR(seen.red(), 23, 4) << "at " << probe.x() << "," << probe.y();
    EXPECT_NEAR(seen.blue(), 23, 4);

    // Registered: capturable while idle, left out once a recording runs.
    EXPECT_EQ(Stealth::sharing(panel->windowHandle()), Stealth::Sharing::readOnly);
    stealth->setActive(true);
    EXPECT_EQ(Stealth::sharing(panel->windowHandle()), Stealth::Sharing::none);
    const auto ids = stealth->excludedWindowIds();
    EXPECT_NE(std::find(ids.begin(), ids.end(), uint32_t(panel->winId())), ids.end());

    // Shown again during the recording, it stays out of the keyboard's way.
    tools.hideTeleprompter();
    EXPECT_FALSE(tools.isTeleprompterShown());
    EXPECT_FALSE(panel->isVisible());
    tools.showTeleprompter();
    EXPECT_TRUE(panel->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(exposed(panel));
}

} // namespace
} // namespace corvessa::test
