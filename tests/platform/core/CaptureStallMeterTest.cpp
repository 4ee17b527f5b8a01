#include "platform/core/CaptureStallMeter.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace corvessa;

// A stall is measured from the first moment a picture was owed, not from the
// last reminder, and only a wait past half a second counts.
TEST(CaptureStallMeter, MeasuresFromTheFirstOwedPictureToTheNextRead)
{
    struct Case {
        const char* name;
        std::vector<double> owed;
        double readAt;
        std::optional<double> stall;
    };
    const Case cases[] = {
        {"nothing owed: a quiet screen is no stall", {}, 5.0, std::nullopt},
        {"read within the jitter", {1.0}, 1.4, std::nullopt},
        {"exactly the limit", {1.0}, 1.5, std::nullopt},
        {"held up", {1.0, 1.2, 2.0}, 3.1, 2.1},
    };
    for (const Case& c : cases) {
        CaptureStallMeter meter;
        for (double due : c.owed)
            meter.owed(due);
        const std::optional<double> stall = meter.read(c.readAt);
        ASSERT_EQ(stall.has_value(), c.stall.has_value()) << c.name;
        if (stall) {
            EXPECT_NEAR(*stall, *c.stall, 1e-9) << c.name;
        }
        EXPECT_FALSE(meter.read(c.readAt + 10)) << c.name << ": a read settles what was owed";
    }
}

TEST(CaptureStallMeter, TheLineSaysTheSecondsAndThePicturesLost)
{
    EXPECT_EQ(CaptureStallMeter::line(2.06, 1.0 / 30),
              QStringLiteral("[capture] no picture for 2.1 s while the screen changed: about 61 pictures lost, the last one stands in"));
}
