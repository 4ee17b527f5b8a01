#include "platform/core/UserDefaults.h"
#include "support/TempHome.h"
#include "tools/Teleprompter.h"

#include <QScrollBar>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace corvessa;

namespace {

class TeleprompterTest : public ::testing::Test {
protected:
    test::TempHome home;
};

// A shown panel with `lines` lines of script, laid out.
void showScript(Teleprompter& t, int lines)
{
    QString text;
    for (int i = 0; i < lines; ++i)
        text += QStringLiteral("Line %1 of the script\n").arg(i);
    t.setText(text);
    t.show();
    t.panel()->editor()->setPlainText(text);
    t.panel()->resize(400, 200);
    t.panel()->editor()->verticalScrollBar()->setValue(0);
}

} // namespace

TEST_F(TeleprompterTest, FirstLaunchDefaultsAndRegistration)
{
    {
        Teleprompter t;
        EXPECT_EQ(t.speed(), 40);
        EXPECT_EQ(t.opacity(), 0.85);
        EXPECT_EQ(t.fontSize(), 26);
        EXPECT_TRUE(t.text().isEmpty());
        EXPECT_FALSE(t.isShown());
        EXPECT_EQ(TeleprompterServices::shared(), &t);
        TeleprompterServices::assignSpeed(120);
        EXPECT_EQ(t.speed(), 120);
    }
    EXPECT_EQ(TeleprompterServices::shared(), nullptr);
    EXPECT_EQ(Teleprompter().speed(), 120) << "the setter stored it";
}

TEST_F(TeleprompterTest, ScrollsByElapsedTimeKeepingFractionsAndStopsAtTheEnd)
{
    Teleprompter t;
    std::vector<bool> shown;
    t.onShownChanged = [&](bool s) { shown.push_back(s); };
    showScript(t, 200);
    QScrollBar* bar = t.panel()->editor()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 200);
    t.setPlaying(true);
    // 0.67 pt a tick at 40 pt/s: one second of ticks makes 40 pt.
    for (int i = 0; i < 60; ++i)
        t.advance(1.0 / 60);
    EXPECT_NEAR(t.scrollOffset(), 40, 1e-6);
    EXPECT_NEAR(bar->value(), 40, 1);
    EXPECT_TRUE(t.playing());
    // Rewind while playing goes on playing from the top.
    t.rewind();
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(t.playing());
    // A late tick moves by its real length, at most to the end, and stops there.
    t.advance(1e6);
    EXPECT_EQ(t.scrollOffset(), bar->maximum());
    EXPECT_FALSE(t.playing());
    // Playing again at the end stops at the first tick.
    t.setPlaying(true);
    t.advance(1.0 / 60);
    EXPECT_FALSE(t.playing());

    t.hide();
    EXPECT_EQ(shown, (std::vector<bool>{true, false}));
}

TEST_F(TeleprompterTest, PanelKeepsItsFrameAcrossLaunches)
{
    const QRect moved(120, 90, 520, 260);
    {
        Teleprompter t;
        t.show();
        t.panel()->setGeometry(moved);
        t.hide();
    }
    Teleprompter again;
    again.show();
    EXPECT_EQ(again.panel()->geometry(), moved);
}

TEST_F(TeleprompterTest, ScriptShorterThanTheViewStopsAtTheFirstTick)
{
    Teleprompter t;
    showScript(t, 1);
    t.setPlaying(true);
    t.advance(1.0 / 60);
    EXPECT_FALSE(t.playing());
    EXPECT_EQ(t.scrollOffset(), 0);
}

TEST_F(TeleprompterTest, NonsenseValuesAreHeldToVisibleOnesAndOthersKept)
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    UserDefaults& d = UserDefaults::standard();
    d.setDouble(Teleprompter::speedKey, 500); // beyond the slider: kept
    d.setDouble(Teleprompter::opacityKey, 0);
    d.setDouble(Teleprompter::fontSizeKey, -3);
    Teleprompter t;
    EXPECT_EQ(t.speed(), 500);
    EXPECT_GT(t.opacity(), 0);
    EXPECT_GT(t.fontSize(), 0);

    struct Case {
        double value;
        double speed, opacity, font;
    };
    const Case cases[] = {
        {nan, 40, 0.85, 26},
        {inf, 40, 0.85, 26},
        {-inf, 40, 0.85, 26},
        {-1, 0, Teleprompter::minOpacity, Teleprompter::minFontSize},
        {0, 0, Teleprompter::minOpacity, Teleprompter::minFontSize},
        {0.2, 0.2, 0.2, Teleprompter::minFontSize},
        {5, 5, 1, 6},
        {100, 100, 1, 100},
        {1e9, 1e9, 1, Teleprompter::maxFontSize},
    };
    for (const Case& c : cases) {
        t.setSpeed(c.value);
        t.setOpacity(c.value);
        t.setFontSize(c.value);
        EXPECT_EQ(t.speed(), c.speed) << c.value;
        EXPECT_EQ(t.opacity(), c.opacity) << c.value;
        EXPECT_EQ(t.fontSize(), c.font) << c.value;
        EXPECT_EQ(d.doubleValue(Teleprompter::fontSizeKey), c.font) << "stored as used";
    }
    // Time that runs backwards or is no number does not move the script.
    showScript(t, 200);
    t.setPlaying(true);
    t.advance(-5);
    t.advance(nan);
    EXPECT_EQ(t.scrollOffset(), 0);
}
