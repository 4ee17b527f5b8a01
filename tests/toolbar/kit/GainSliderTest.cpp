#include "model/GainMap.h"
#include "toolbar/kit/GainSlider.h"
#include "toolbar/ToolbarGrab.h"

#include <QSlider>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace corvessa;

namespace {

// A gain owned outside the slider, as the model owns it, with every write kept.
struct Owner {
    double dB = 0;
    std::vector<double> writes;
    GainSlider::Get get() { return [this] { return dB; }; }
    GainSlider::Set set()
    {
        return [this](double v) {
            writes.push_back(v);
            dB = v;
        };
    }
};

} // namespace

TEST(GainSlider, MovesWriteTheMappedGainAndTheSliderShowsWhatWasKept)
{
    Owner owner;
    GainSlider slider(owner.get(), owner.set());
    const struct {
        int value;
        double dB;
        QString text;
    } moves[] = {
        {-1000, -48, QStringLiteral("Mute")},  {-995, -48, QStringLiteral("Mute")},
        {-500, -24, QStringLiteral("-24.0 dB")}, {-10, 0, QStringLiteral("+0.0 dB")},
        {60, 0, QStringLiteral("+0.0 dB")},      {500, 6, QStringLiteral("+6.0 dB")},
        {1000, 12, QStringLiteral("+12.0 dB")},  {-136, -6.5, QStringLiteral("-6.5 dB")},
    };
    for (const auto& m : moves) {
        owner.writes.clear();
        slider.slider()->setValue(m.value);
        ASSERT_EQ(owner.writes.size(), 1u) << m.value;
        EXPECT_EQ(owner.writes[0], GainMap::dB(m.value / double(GainSlider::resolution)));
        EXPECT_EQ(owner.writes[0], m.dB) << m.value;
        EXPECT_EQ(slider.valueLabel()->text(), m.text);
        // The thumb snaps to where the kept value sits.
        EXPECT_EQ(slider.slider()->value(), std::lround(GainSlider::position(m.dB) * GainSlider::resolution));
    }
    // Unity reads in the dimmer style, anything else in full strength.
    slider.slider()->setValue(0);
    EXPECT_LT(slider.valueLabel()->palette().color(QPalette::WindowText).alphaF(), 1);
    slider.slider()->setValue(500);
    EXPECT_EQ(slider.valueLabel()->palette().color(QPalette::WindowText).alphaF(), 1);

    // A double click on the text resets to 0 dB whatever the slider shows.
    owner.writes.clear();
    QTest::mouseDClick(slider.valueLabel(), Qt::LeftButton);
    EXPECT_EQ(owner.writes, std::vector<double>{0});
    EXPECT_EQ(slider.slider()->value(), 0);

    // Dragging the thumb from the middle to the far left writes the silent end.
    slider.show();
    const QPoint middle = slider.slider()->rect().center();
    QTest::mousePress(slider.slider(), Qt::LeftButton, {}, middle);
    QTest::mouseMove(slider.slider(), QPoint(-50, middle.y()));
    QTest::mouseRelease(slider.slider(), Qt::LeftButton, {}, QPoint(-50, middle.y()));
    ASSERT_FALSE(owner.writes.empty());
    EXPECT_EQ(owner.writes.back(), GainMap::minDB);
    EXPECT_EQ(slider.slider()->value(), -GainSlider::resolution);
    corvessa::test::grabKept(slider, QStringLiteral("gain-slider-mute"));
}

TEST(GainSlider, OutsideValuesShowAtTheEndsAndOwnerChangesShowOnRefresh)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(GainSlider::position(nan), -1);
    EXPECT_EQ(GainSlider::position(-300), -1);
    EXPECT_EQ(GainSlider::position(300), 1);
    EXPECT_EQ(GainSlider::position(-24), -0.5);
    EXPECT_EQ(GainSlider::position(6), 0.5);
    EXPECT_EQ(GainSlider::valueText(nan), QStringLiteral("Mute"));
    EXPECT_EQ(GainSlider::valueText(-0.0), QStringLiteral("+0.0 dB"));

    Owner owner;
    owner.dB = nan;
    GainSlider slider(owner.get(), owner.set());
    EXPECT_EQ(slider.slider()->value(), -GainSlider::resolution);
    EXPECT_TRUE(owner.writes.empty()) << "showing a value writes nothing back";
    owner.dB = 3;
    slider.refresh();
    EXPECT_EQ(slider.valueLabel()->text(), QStringLiteral("+3.0 dB"));
    EXPECT_EQ(slider.slider()->value(), 250);
    EXPECT_TRUE(owner.writes.empty());

    GainSlider unbound({}, {});
    unbound.slider()->setValue(500);
    EXPECT_EQ(unbound.valueLabel()->text(), QStringLiteral("+0.0 dB"));
}
