#include "model/GainMap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace corvessa;

namespace {
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
} // namespace

TEST(GainMapTest, SliderPositionsMapToHalfDecibelStepsWithADeadZone)
{
    const struct {
        double x, dB;
    } table[] = {
        {-1, -48}, {-0.995, -48}, {-0.5, -24}, {-0.01, 0}, {0, 0}, {0.06, 0}, // 0.72 dB: dead zone
        {0.07, 1.0},                                                          // 0.84 dB rounds up
        {0.5, 6}, {1, 12},
        {-3, -48}, {3, 12}, {notANumber, 0}, // off the slider
    };
    for (const auto& row : table)
        EXPECT_EQ(GainMap::dB(row.x), row.dB) << "x = " << row.x;
    // Every position lands on a 0.5 dB step within range.
    for (double x = -1; x <= 1; x += 0.001) {
        const double d = GainMap::dB(x);
        EXPECT_EQ(std::fmod(d * 2, 1.0), 0.0) << x;
        EXPECT_TRUE(d >= GainMap::minDB && d <= GainMap::maxDB) << x;
    }
}

TEST(GainMapTest, BadGainsBecomeSafeValuesAndFactors)
{
    EXPECT_EQ(GainMap::sanitize(notANumber, 6), 6);
    EXPECT_EQ(GainMap::sanitize(inf, -6), -6);
    EXPECT_EQ(GainMap::sanitize(-inf, -6), -6);
    EXPECT_EQ(GainMap::sanitize(-100, 6), GainMap::minDB);
    EXPECT_EQ(GainMap::sanitize(40, 6), GainMap::maxDB);
    EXPECT_EQ(GainMap::sanitize(3.5, 6), 3.5);

    // The silent end is silence, not 10^-2.4.
    EXPECT_EQ(GainMap::factor(GainMap::minDB), 0.0f);
    EXPECT_EQ(GainMap::factor(-60), 0.0f);
    EXPECT_EQ(GainMap::factor(notANumber), 0.0f);
    EXPECT_EQ(GainMap::factor(0), 1.0f);
    EXPECT_FLOAT_EQ(GainMap::factor(-6), std::pow(10.0f, -0.3f));
    EXPECT_FLOAT_EQ(GainMap::factor(-47.5), std::pow(10.0f, -47.5f / 20));
    EXPECT_EQ(GainMap::factor(inf), GainMap::factor(GainMap::maxDB));
}
