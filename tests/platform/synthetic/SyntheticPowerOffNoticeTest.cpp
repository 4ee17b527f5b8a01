#include "platform/synthetic/SyntheticPowerOffNotice.h"

#include <gtest/gtest.h>

using namespace corvessa;

TEST(SyntheticPowerOffNotice, HoldsOnceAndAnnouncesOnRequest)
{
    SyntheticPowerOffNotice notice;
    notice.simulatePowerOff(); // no handler yet
    int powerOffs = 0;
    notice.setOnPowerOff([&] { ++powerOffs; });
    EXPECT_TRUE(notice.inhibit());
    EXPECT_TRUE(notice.inhibit());
    EXPECT_EQ(notice.activeInhibitors(), 1) << "a second hold would never be released";
    notice.simulatePowerOff();
    EXPECT_EQ(powerOffs, 1);
    notice.release();
    notice.release();
    EXPECT_EQ(notice.activeInhibitors(), 0);
}
