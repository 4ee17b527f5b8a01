#include "capture/ScreenVideoCapabilities.h"

#include "platform/synthetic/SyntheticDisplayList.h"

#include <gtest/gtest.h>

#include <limits>

using namespace corvessa;
using Screen = ScreenVideoCapabilities;

namespace {

QString english(const QString& s)
{
    return s;
}

} // namespace

TEST(ScreenVideoCapabilities, ResolutionsAreNativeThenSmallerShortSides)
{
    EXPECT_EQ((Screen{{2560, 1440}, 60}).resolutions(), (std::vector<int>{0, 480, 720, 900, 1080}));
    EXPECT_EQ((Screen{{1280, 800}, 60}).resolutions(), (std::vector<int>{0, 480, 720}));
    EXPECT_EQ((Screen{{1440, 2560}, 60}).resolutions(), (std::vector<int>{0, 480, 720, 900, 1080}));
    EXPECT_EQ((Screen{{1920, 1080}, 60}).resolutions(), (std::vector<int>{0, 480, 720, 900}));
    EXPECT_EQ((Screen{{7680, 4320}, 60}).resolutions(), (std::vector<int>{0, 480, 720, 900, 1080, 1440, 1800, 2160}));
    EXPECT_EQ((Screen{{400, 300}, 60}).resolutions(), (std::vector<int>{0}));
}

TEST(ScreenVideoCapabilities, FrameRatesStopAtTheRefreshRate)
{
    EXPECT_EQ((Screen{{1920, 1080}, 60}).frameRates(), (std::vector<int>{24, 30, 60}));
    EXPECT_EQ((Screen{{1920, 1080}, 120}).frameRates(), (std::vector<int>{24, 30, 60, 90, 120}));
    EXPECT_EQ((Screen{{1920, 1080}, 144}).frameRates(), (std::vector<int>{24, 30, 60, 90, 120}));
    EXPECT_EQ((Screen{{1920, 1080}, 75}).frameRates(), (std::vector<int>{24, 30, 60}));
    EXPECT_EQ((Screen{{1920, 1080}, 24}).frameRates(), (std::vector<int>{24}));
    EXPECT_EQ((Screen{{1920, 1080}, 23}).frameRates(), (std::vector<int>{23}));
    EXPECT_EQ((Screen{{1920, 1080}, 0}).frameRates(), (std::vector<int>{1}));
    EXPECT_EQ((Screen{{1920, 1080}, -5}).frameRates(), (std::vector<int>{1}));
}

TEST(ScreenVideoCapabilities, PixelsScaleDownToEvenSides)
{
    const Screen s{{1728, 1117}, 60};
    EXPECT_EQ(s.pixels(720), (VideoDimensions{1114, 720})); // 1728 × 720 ÷ 1117 is just under 1114
    EXPECT_EQ(s.pixels(0), (VideoDimensions{1728, 1116}));
    EXPECT_EQ(s.pixels(1117), (VideoDimensions{1728, 1116})); // no upscaling
    EXPECT_EQ(s.pixels(2160), (VideoDimensions{1728, 1116}));
    EXPECT_EQ(s.pixels(-1), (VideoDimensions{1728, 1116}));
    EXPECT_EQ((Screen{{2560, 1440}, 60}).pixels(1080), (VideoDimensions{1920, 1080}));
    EXPECT_EQ((Screen{{1080, 1920}, 60}).pixels(720), (VideoDimensions{720, 1280}));
    // 1929 × 900 ÷ 1080 is exactly 1607.5: the half rounds up to 1608, already even.
    EXPECT_EQ((Screen{{1929, 1080}, 60}).pixels(900), (VideoDimensions{1608, 900}));
    // Degenerate targets still give a writable size.
    EXPECT_EQ((Screen{{1, 1}, 60}).pixels(0), (VideoDimensions{2, 2}));
    EXPECT_EQ((Screen{{0, 0}, 60}).pixels(720), (VideoDimensions{2, 2}));
    EXPECT_EQ((Screen{{3000, 3}, 60}).pixels(0), (VideoDimensions{3000, 2}));
}

TEST(ScreenVideoCapabilities, LabelsNameTheChoiceAndTheOutputSize)
{
    const Screen s{{1728, 1117}, 60};
    EXPECT_EQ(s.label(720, english), QString::fromUtf8("720p · 1114×720"));
    EXPECT_EQ(s.label(0, english), QString::fromUtf8("Native · 1728×1116"));
    // The native label is the caller's translation of "Native".
    QStringList asked;
    const TextLookup german = [&](const QString& key) {
        asked << key;
        return key == "Native" ? QStringLiteral("Nativ") : key;
    };
    EXPECT_EQ(s.label(0, german), QString::fromUtf8("Nativ · 1728×1116"));
    EXPECT_EQ(asked, QStringList{"Native"});
    // No lookup, or a lookup without the text, falls back to English.
    EXPECT_EQ(s.label(0, TextLookup()), QString::fromUtf8("Native · 1728×1116"));
    EXPECT_EQ(s.label(0, [](const QString&) { return QString(); }), QString::fromUtf8("Native · 1728×1116"));
}

// A new user's first movie: the default 1080 on a screen whose short side is
// 1080 or less is the screen's native size (it once fell to 900 on 1080p).
TEST(ScreenVideoCapabilities, DefaultIsNativeUnlessTheScreenIsTaller)
{
    const struct {
        VideoDimensions screen;
        const char* choice;
        VideoDimensions movie;
    } screens[] = {
        {{1920, 1080}, "0", {1920, 1080}},
        {{2560, 1440}, "1080", {1920, 1080}},
        {{1920, 1200}, "1080", {1728, 1080}},
        {{1600, 900}, "0", {1600, 900}},
    };
    for (const auto& s : screens) {
        const Screen screen{s.screen, 60};
        const VideoDeviceChoice chosen = screen.normalized(std::nullopt);
        EXPECT_EQ(chosen, (VideoDeviceChoice{s.choice, 30})) << s.screen.width << "×" << s.screen.height;
        EXPECT_EQ(screen.pixels(chosen.resolution.toInt()), s.movie) << s.screen.width << "×" << s.screen.height;
    }
}

TEST(ScreenVideoCapabilities, NormalizedMakesTooLargeNativeAndFallsBackToTheLargestOfferedUpTo1080)
{
    const Screen fullHD{{1920, 1080}, 60};
    // Not a number counts as the default 1080: the screen's own short side.
    EXPECT_EQ(fullHD.normalized(VideoDeviceChoice{"large", 30}), (VideoDeviceChoice{"0", 30}));
    EXPECT_EQ(fullHD.normalized(VideoDeviceChoice{" 720", 30}), (VideoDeviceChoice{"0", 30}));
    EXPECT_EQ(fullHD.normalized(VideoDeviceChoice{"720", 30}), (VideoDeviceChoice{"720", 30}));
    EXPECT_EQ(fullHD.normalized(VideoDeviceChoice{"+720", 30}), (VideoDeviceChoice{"720", 30}));
    EXPECT_EQ(fullHD.normalized(VideoDeviceChoice{"0", 30}), (VideoDeviceChoice{"0", 30}));
    EXPECT_EQ(fullHD.normalized(VideoDeviceChoice{"1440", 30}), (VideoDeviceChoice{"0", 30}));
    // A side no screen offers falls back to the largest offered up to 1080.
    EXPECT_EQ(fullHD.normalized(VideoDeviceChoice{"-480", 30}), (VideoDeviceChoice{"900", 30}));
    EXPECT_EQ(fullHD.normalized(VideoDeviceChoice{"1000", 30}), (VideoDeviceChoice{"900", 30}));

    const Screen qhd{{2560, 1440}, 120};
    EXPECT_EQ(qhd.normalized(VideoDeviceChoice{"1440", 60}), (VideoDeviceChoice{"0", 60}));
    EXPECT_EQ(qhd.normalized(VideoDeviceChoice{"1300", 60}), (VideoDeviceChoice{"1080", 60}));
    const Screen small{{640, 400}, 60};
    EXPECT_EQ(small.normalized(VideoDeviceChoice{"720", 30}), (VideoDeviceChoice{"0", 30}));
}

TEST(ScreenVideoCapabilities, NormalizedRateIsTheNearestOfferedLowerOnATie)
{
    const Screen sixty{{1920, 1080}, 60};
    EXPECT_EQ(sixty.normalized(VideoDeviceChoice{"720", 27}).frameRate, 24);
    EXPECT_EQ(sixty.normalized(VideoDeviceChoice{"720", 45}).frameRate, 30); // 15 either way
    EXPECT_EQ(sixty.normalized(VideoDeviceChoice{"720", 120}).frameRate, 60);
    EXPECT_EQ(sixty.normalized(VideoDeviceChoice{"720", 0.1}).frameRate, 24);
    const Screen fast{{1920, 1080}, 120};
    EXPECT_EQ(fast.normalized(VideoDeviceChoice{"720", 105}).frameRate, 90);
    EXPECT_EQ(fast.normalized(VideoDeviceChoice{"720", 106}).frameRate, 120);
    const Screen slow{{1920, 1080}, 15};
    EXPECT_EQ(slow.normalized(VideoDeviceChoice{"720", 60}).frameRate, 15);
}

TEST(ScreenVideoCapabilities, BuiltFromTheDisplayList)
{
    const DisplayInfo retina =
        SyntheticDisplayList::makeDisplay("eDP-1", GlobalRect(0, 0, 1440, 900), 2, 59.95, true);
    EXPECT_EQ(Screen::forDisplay(retina), (Screen{{2880, 1800}, 60}));
    EXPECT_EQ(Screen::forRegion(retina, QSizeF(800.25, 600)), (Screen{{1601, 1200}, 60}));

    DisplayInfo fast = SyntheticDisplayList::makeDisplay("DP-2", GlobalRect(1440, 0, 2560, 1440), 1, 143.98);
    EXPECT_EQ(Screen::forDisplay(fast), (Screen{{2560, 1440}, 144}));
    EXPECT_EQ(Screen::forDisplay(fast).frameRates(), (std::vector<int>{24, 30, 60, 90, 120}));

    // A display that does not report its refresh rate still offers the usual rates.
    fast.refreshRate = 0;
    EXPECT_EQ(Screen::forDisplay(fast).maximumFPS, Screen::unknownRefreshFPS);
    fast.refreshRate = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(Screen::forDisplay(fast).maximumFPS, Screen::unknownRefreshFPS);
    fast.scale = 0;
    EXPECT_EQ(Screen::forDisplay(fast).size, (VideoDimensions{2560, 1440}));
}
