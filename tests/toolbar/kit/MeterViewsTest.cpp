#include "model/Meters.h"
#include "support/VirtualScheduler.h"
#include "toolbar/kit/HMeter.h"
#include "toolbar/kit/LEDBar.h"
#include "toolbar/kit/VMeter.h"
#include "toolbar/ToolbarGrab.h"

#include <QtTest/QTest>

#include <gtest/gtest.h>

using namespace corvessa;
using corvessa::test::grabKept;
using corvessa::test::hueName;
using corvessa::test::pixelAt;

namespace {

ChannelMeter showing(float norm, float preNorm = 0, float hold = 0)
{
    ChannelMeter m;
    m.norm = norm;
    m.preNorm = preNorm;
    m.hold = hold;
    return m;
}

// What a strip of steps shows, left to right, one colour name per step.
template <typename Rect>
QStringList colours(const QImage& img, int n, Rect rect)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << hueName(pixelAt(img, rect(i).center()));
    return out;
}

} // namespace

TEST(MeterViews, HMeterLightsSegmentsByThresholdAndTheLampFollowsClipAndMute)
{
    VirtualScheduler clock;
    Meters meters(clock);
    HMeter meter(meters, true, false, 10);
    auto strip = [&] { return colours(grabKept(meter, QStringLiteral("hmeter")), meter.segs(), [&](int i) { return meter.segmentRect(i); }); };

    // Thresholds (i + 1) / 10 with 0.001 of slack; 70 % is still green, 80 % yellow, above 90 % red.
    const QString g = QStringLiteral("green"), y = QStringLiteral("yellow"), r = QStringLiteral("red"),
                  u = QStringLiteral("unlit");
    const struct {
        float x;
        QStringList shown;
    } levels[] = {
        {0, {u, u, u, u, u, u, u, u, u, u}},
        {0.098f, {u, u, u, u, u, u, u, u, u, u}},
        {0.0995f, {g, u, u, u, u, u, u, u, u, u}},
        {0.7f, {g, g, g, g, g, g, g, u, u, u}},
        {0.85f, {g, g, g, g, g, g, g, y, u, u}},
        {1, {g, g, g, g, g, g, g, y, y, r}},
    };
    for (const auto& l : levels) {
        meters.setMic(showing(l.x));
        EXPECT_EQ(strip(), l.shown) << "level " << l.x;
    }

    // Muted: the level before the gain, in orange, and the lamp reads MUTE on orange.
    meters.setMic(showing(1, 0.3f));
    meter.setMuted(true);
    const QString o = QStringLiteral("orange");
    EXPECT_EQ(strip(), (QStringList{o, o, o, u, u, u, u, u, u, u}));
    EXPECT_EQ(meter.lampText(), QStringLiteral("MUTE"));
    auto lamp = [&] { return hueName(pixelAt(grabKept(meter, QStringLiteral("hmeter-lamp")), meter.lampRect().topLeft() + QPointF(1.5, meter.lampRect().height() / 2))); };
    EXPECT_EQ(lamp(), o);

    // A full-scale peak lights the lamp red; a click on the meter puts it out.
    meter.setMuted(false);
    meters.setMic(ChannelMeter::silent());
    EXPECT_EQ(meter.lampText(), QStringLiteral("OVER"));
    EXPECT_EQ(lamp(), u);
    meters.pushed(LevelStats{1, 0.5f, 0.5f}, std::nullopt);
    EXPECT_EQ(lamp(), r);
    HMeter sysMeter(meters, false, false, 10);
    QTest::mouseClick(&sysMeter, Qt::LeftButton); // the other channel's meter leaves it lit
    EXPECT_EQ(lamp(), r);
    QTest::mouseClick(&meter, Qt::LeftButton);
    EXPECT_EQ(lamp(), u);
    EXPECT_FALSE(meters.mic().clipLit(meters.now()));
    // Its hover tip names what the lamp tells, on either channel.
    EXPECT_EQ(meter.toolTip(), QStringLiteral("Audio Clipping"));
    EXPECT_EQ(sysMeter.toolTip(), QStringLiteral("Audio Clipping"));
}

TEST(MeterViews, LEDBarLightsUpToTheLevelPlusTheHoldDot)
{
    VirtualScheduler clock;
    Meters meters(clock);
    LEDBar bar(meters, false, false, true, 8);
    auto dots = [&] { return colours(grabKept(bar, QStringLiteral("ledbar")), bar.count(), [&](int i) { return bar.dotRect(i); }); };
    auto litIndexes = [&] {
        QList<int> lit;
        const QStringList shown = dots();
        for (int i = 0; i < shown.size(); ++i)
            if (shown[i] != QStringLiteral("unlit"))
                lit << i;
        return lit;
    };

    // lit = ceil(count × x); hold dot = min(ceil(count × hold) − 1, count − 1).
    const struct {
        float x, hold;
        QList<int> lit;
    } cases[] = {
        {0, 0, {}},
        {0.01f, 0, {0}},
        {0.25f, 0.25f, {0, 1}},
        {0.25f, 0.75f, {0, 1, 5}},
        {0.5f, 1, {0, 1, 2, 3, 7}},
        {1, 1, {0, 1, 2, 3, 4, 5, 6, 7}},
    };
    for (const auto& c : cases) {
        meters.setSys(showing(c.x, 0, c.hold));
        EXPECT_EQ(litIndexes(), c.lit) << "level " << c.x << " hold " << c.hold;
    }
    EXPECT_EQ(dots().last(), QStringLiteral("red"));
    EXPECT_EQ(dots()[5], QStringLiteral("yellow")); // 6/8 = 0.75

    bar.setMuted(true);
    meters.setSys(showing(1, 0.25f, 0.75f));
    EXPECT_EQ(dots(), (QStringList{QStringLiteral("orange"), QStringLiteral("orange"), QStringLiteral("unlit"),
                                   QStringLiteral("unlit"), QStringLiteral("unlit"), QStringLiteral("orange"),
                                   QStringLiteral("unlit"), QStringLiteral("unlit")}));
    // An inactive source lights nothing, not even the hold dot.
    bar.setActive(false);
    EXPECT_TRUE(litIndexes().isEmpty());
}

TEST(MeterViews, VMeterRisesFromTheBottomAtLeastThreePoints)
{
    VirtualScheduler clock;
    Meters meters(clock);
    VMeter v(meters, true, false, true);
    EXPECT_EQ(v.size(), QSize(4, 24));
    // Coloured pixels in the middle column, and the colour at the bottom.
    auto column = [&](const QString& name) {
        const QImage img = grabKept(v, name);
        int rows = 0;
        for (double y = 0.5; y < VMeter::barHeight; ++y)
            rows += hueName(pixelAt(img, QPointF(2, y))) != QStringLiteral("unlit");
        return std::pair(rows, hueName(pixelAt(img, QPointF(2, VMeter::barHeight - 1))));
    };
    const struct {
        float x;
        QString colour;
    } cases[] = {{0, QStringLiteral("green")},      {0.1f, QStringLiteral("green")}, {0.5f, QStringLiteral("green")},
                 {0.75f, QStringLiteral("yellow")}, {1, QStringLiteral("red")}};
    for (const auto& c : cases) {
        meters.setMic(showing(c.x));
        const auto [rows, colour] = column(QStringLiteral("vmeter"));
        const double expected = std::max(c.x * VMeter::barHeight, VMeter::minFill);
        EXPECT_NEAR(rows, expected, 1) << "level " << c.x;
        EXPECT_EQ(colour, c.colour) << "level " << c.x;
    }
    // The clip lamp turns a quiet bar red; muted shows the level before the gain in orange.
    meters.setMic(ChannelMeter::silent());
    meters.pushed(LevelStats{1, 0.0001f, 0.3f}, std::nullopt);
    EXPECT_EQ(column(QStringLiteral("vmeter-clip")).second, QStringLiteral("red"));
    v.setMuted(true);
    const auto [mutedRows, mutedColour] = column(QStringLiteral("vmeter-muted"));
    EXPECT_EQ(mutedColour, QStringLiteral("orange"));
    EXPECT_NEAR(mutedRows, meters.mic().preNorm * VMeter::barHeight, 1);
    // Inactive: the track only.
    v.setActive(false);
    EXPECT_EQ(column(QStringLiteral("vmeter-off")).first, 0);
}

TEST(MeterViews, NonsenseSizesAndAGoneStoreDrawNothingAndDoNotCrash)
{
    auto clock = std::make_unique<VirtualScheduler>();
    auto meters = std::make_unique<Meters>(*clock);
    HMeter none(*meters, true, false, -3);
    LEDBar empty(*meters, true, false, true, -1);
    HMeter huge(*meters, true, false, 1 << 30);
    EXPECT_EQ(none.segs(), 0);
    EXPECT_EQ(empty.count(), 0);
    EXPECT_EQ(huge.segs(), HMeter::maxSegs);
    EXPECT_EQ(LEDBar::holdIndex(0, 8, true), -1);
    EXPECT_EQ(LEDBar::litCount(std::numeric_limits<double>::quiet_NaN(), 8, true), 0);
    EXPECT_EQ(LEDBar::litCount(5, 8, true), 8);
    EXPECT_FALSE(HMeter::segmentLit(10, 10, 1));
    VMeter v(*meters, true, false, true);
    meters.reset();
    // The views outlive the store: they show silence and a click does nothing.
    EXPECT_FALSE(grabKept(none, QStringLiteral("hmeter-none")).isNull());
    QTest::mouseClick(&none, Qt::LeftButton);
    EXPECT_EQ(v.fillRect().height(), VMeter::minFill);
}
