#include "prefs/MovieBitRate.h"

#include <gtest/gtest.h>

using namespace corvessa;

TEST(MovieBitRate, TiersScaleTheFullHDBase)
{
    EXPECT_EQ(MovieBitRate::screen(1, 0, 1920, 1080, 30), 6000000);
    EXPECT_EQ(MovieBitRate::screen(0, 0, 3840, 2160, 60), 15294727);
    EXPECT_EQ(MovieBitRate::screen(2, 0, 1280, 720, 30), 6272421);
    EXPECT_EQ(MovieBitRate::screen(-3, 0, 1920, 1080, 30), 3000000); // a negative tier counts as 0
    // Tiny movies get tiny rates; the writer raises them to what its encoder takes.
    EXPECT_EQ(MovieBitRate::screen(0, 0, 2, 2, 30), 80);
    // The pixel count is an integer product: 5K sides do not overflow.
    EXPECT_GT(MovieBitRate::screen(2, 0, 46340, 46341, 30), 0);
}

TEST(MovieBitRate, CustomRateIsBounded)
{
    EXPECT_EQ(MovieBitRate::screen(3, 100, 1920, 1080, 30), 60000000);
    EXPECT_EQ(MovieBitRate::screen(3, 0.2, 1920, 1080, 30), 500000);
    EXPECT_EQ(MovieBitRate::screen(3, 0.5, 1920, 1080, 30), 500000);
    EXPECT_EQ(MovieBitRate::screen(3, 8, 1920, 1080, 30), 8000000);
    EXPECT_EQ(MovieBitRate::screen(7, 2.5, 640, 480, 5), 2500000);
}

TEST(MovieBitRate, CameraFileRate)
{
    EXPECT_EQ(MovieBitRate::camera(1280, 720, 30), 2764800);
    EXPECT_EQ(MovieBitRate::camera(1920, 1080, 60), 12441600);
}
