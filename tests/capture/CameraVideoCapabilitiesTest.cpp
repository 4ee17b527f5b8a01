#include "capture/CameraVideoCapabilities.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace corvessa;
using Caps = CameraVideoCapabilities;
using Range = Caps::RateRange;

namespace {

Caps::DeviceFormat fmt(int w, int h, std::vector<Range> rates)
{
    return {w, h, std::move(rates)};
}

// A typical webcam: 640x480, 1280x720 and 1920x1080 at up to 30 fps.
Caps webcam()
{
    return Caps({fmt(640, 480, {{1, 30}}), fmt(1280, 720, {{1, 30}}), fmt(1920, 1080, {{1, 30}})});
}

} // namespace

TEST(CameraVideoCapabilities, UnusableFormatsAreSkippedButIndexesKept)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Caps caps({
        fmt(4096, 2304, {{1, 30}}),             // 0: short side above 2160
        fmt(640, 480, {{240, 240}}),            // 1: no range starts at or below 120
        fmt(4097, 100, {{1, 30}}),              // 2: long side above 4096
        fmt(0, 480, {{1, 30}}),                 // 3: empty
        fmt(640, 480, {{nan, 30}, {0, 30}, {30, 15}, {1, inf}}), // 4: no usable range
        fmt(1280, 720, {{0, 30}, {5, 30}}),     // 5: kept with its one usable range
        fmt(4096, 2160, {{1, 30}}),             // 6: at both limits
        fmt(320, 240, {{120, 240}}),            // 7: starts at 120
    });
    ASSERT_EQ(caps.formats.size(), 3u);
    EXPECT_EQ(caps.formats[0], (Caps::Format{{1280, 720}, {{5, 30}}, 5}));
    EXPECT_EQ(caps.formats[1].index, 6);
    EXPECT_EQ(caps.formats[2].index, 7);
    EXPECT_EQ(caps.formatIndex({1280, 720}, 30), 5);
    EXPECT_TRUE(Caps(std::vector<Caps::DeviceFormat>{}).sizes().empty());
}

TEST(CameraVideoCapabilities, SizesAreDistinctAndSmallestFirst)
{
    const Caps caps({fmt(1920, 1080, {{30, 30}}), fmt(640, 480, {{30, 30}}), fmt(1920, 1080, {{60, 60}}),
                     fmt(1280, 720, {{30, 30}}), fmt(640, 480, {{15, 15}})});
    EXPECT_EQ(caps.sizes(), (std::vector<VideoDimensions>{{640, 480}, {1280, 720}, {1920, 1080}}));
}

TEST(CameraVideoCapabilities, RatesOfferStandardRatesAndOddRanges)
{
    const VideoDimensions hd{1280, 720};
    EXPECT_EQ(Caps({fmt(1280, 720, {{1, 30}, {1, 60}})}).rates(hd),
              (std::vector<double>{15, 24, 25, 30, 50, 60}));
    EXPECT_EQ(Caps({fmt(1280, 720, {{7.5, 7.5}})}).rates(hd), (std::vector<double>{7.5}));
    EXPECT_EQ(Caps({fmt(1280, 720, {{1, 240}})}).rates(hd),
              (std::vector<double>{15, 24, 25, 30, 50, 60, 90, 120}));

    // NTSC rates: 29.97 alone is offered; beside 30 it is still its own range.
    const double ntsc = 30000.0 / 1001.0;
    EXPECT_EQ(Caps({fmt(1280, 720, {{ntsc, ntsc}})}).rates(hd), (std::vector<double>{ntsc}));
    EXPECT_EQ(Caps({fmt(1280, 720, {{ntsc, ntsc}, {30, 30}})}).rates(hd), (std::vector<double>{ntsc, 30}));

    // A range between standard rates offers its maximum, once even when repeated.
    EXPECT_EQ(Caps({fmt(1280, 720, {{100, 110}, {100, 110}})}).rates(hd), (std::vector<double>{110}));
    // A range above 120 beside a usable one adds nothing.
    EXPECT_EQ(Caps({fmt(1280, 720, {{30, 30}, {121, 240}})}).rates(hd), (std::vector<double>{30}));
    // Ranges of several formats of one size are pooled; other sizes are not.
    const Caps two({fmt(1280, 720, {{15, 15}}), fmt(640, 480, {{60, 60}}), fmt(1280, 720, {{25, 25}})});
    EXPECT_EQ(two.rates(hd), (std::vector<double>{15, 25}));
    EXPECT_TRUE(two.rates({800, 600}).empty());
}

TEST(CameraVideoCapabilities, PreferredSizeIsNearestShortSideThenSmallerArea)
{
    const Caps caps = webcam();
    EXPECT_EQ(caps.preferredSize(720), (VideoDimensions{1280, 720}));
    EXPECT_EQ(caps.preferredSize(900), (VideoDimensions{1280, 720})); // 180 either way: smaller area
    EXPECT_EQ(caps.preferredSize(901), (VideoDimensions{1920, 1080}));
    EXPECT_EQ(caps.preferredSize(2160), (VideoDimensions{1920, 1080}));
    EXPECT_EQ(caps.preferredSize(0), (VideoDimensions{640, 480}));
    EXPECT_FALSE(Caps().preferredSize(720));
    // Portrait sizes compare by their short side too.
    EXPECT_EQ(Caps({fmt(720, 1280, {{30, 30}}), fmt(1920, 1080, {{30, 30}})}).preferredSize(720),
              (VideoDimensions{720, 1280}));
}

TEST(CameraVideoCapabilities, PreferredRateIsNearestWithTiesGoingLower)
{
    const Caps caps({fmt(1280, 720, {{24, 24}, {30, 30}})});
    EXPECT_EQ(caps.preferredRate({1280, 720}, 27), 24);
    EXPECT_EQ(caps.preferredRate({1280, 720}, 28), 30);
    EXPECT_EQ(caps.preferredRate({1280, 720}, 1000), 30);
    EXPECT_FALSE(caps.preferredRate({640, 480}, 30));
}

TEST(CameraVideoCapabilities, FormatIndexIsTheFirstFormatHoldingTheRate)
{
    const Caps caps({fmt(1280, 720, {{1, 30}}), fmt(1280, 720, {{1, 60}}), fmt(1920, 1080, {{1, 30}})});
    EXPECT_EQ(caps.formatIndex({1280, 720}, 30), 0);
    EXPECT_EQ(caps.formatIndex({1280, 720}, 60), 1);
    EXPECT_EQ(caps.formatIndex({1920, 1080}, 30), 2);
    EXPECT_FALSE(caps.formatIndex({1920, 1080}, 60));
    EXPECT_FALSE(caps.formatIndex({800, 600}, 30));
}

TEST(CameraVideoCapabilities, NormalizedKeepsAnOfferedChoiceAndRepairsAStaleOne)
{
    const Caps caps({fmt(640, 480, {{1, 30}}), fmt(1280, 720, {{1, 60}}), fmt(1920, 1080, {{1, 30}})});

    EXPECT_EQ(caps.normalized(VideoDeviceChoice{"1920x1080", 30}, 60), (VideoDeviceChoice{"1920x1080", 30}));
    // Offered size, rate not offered: the nearest offered one.
    EXPECT_EQ(caps.normalized(VideoDeviceChoice{"1920x1080", 60}, 60), (VideoDeviceChoice{"1920x1080", 30}));
    // Size gone: nearest 720p, aiming at the remembered rate rather than the default.
    EXPECT_EQ(caps.normalized(VideoDeviceChoice{"3840x2160", 50}, 15), (VideoDeviceChoice{"1280x720", 50}));
    EXPECT_EQ(caps.normalized(VideoDeviceChoice{"garbage", 24}, 15), (VideoDeviceChoice{"1280x720", 24}));
    // No choice: 720p at the default rate.
    EXPECT_EQ(caps.normalized(std::nullopt, 60), (VideoDeviceChoice{"1280x720", 60}));
    EXPECT_EQ(caps.normalized(std::nullopt, 29), (VideoDeviceChoice{"1280x720", 30}));

    // A camera without usable formats gives no choice at all.
    EXPECT_FALSE(Caps({fmt(640, 480, {{240, 240}})}).normalized(VideoDeviceChoice{"640x480", 30}, 30));
}
