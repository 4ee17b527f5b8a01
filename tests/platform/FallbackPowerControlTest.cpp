#include "platform/FallbackPowerControl.h"
#include "platform/synthetic/SyntheticPowerControl.h"

#include <gtest/gtest.h>

using namespace corvessa;

// A hold goes to the first backend that takes it, and its release to that
// backend alone; with none taking it there is no hold, and identifiers the
// chain never gave out are ignored.
TEST(FallbackPowerControl, HoldsThroughTheFirstBackendThatCanAndReleasesThere)
{
    auto service = std::make_shared<SyntheticPowerControl>();
    auto server = std::make_shared<SyntheticPowerControl>();
    FallbackPowerControl chain({service, server});

    const uint32_t first = chain.holdDisplayAwake(QStringLiteral("recording"));
    EXPECT_NE(first, 0u);
    EXPECT_EQ(service->holdCount(), 1);
    EXPECT_EQ(server->holdCount(), 0);

    service->setRefuses(true);
    const uint32_t second = chain.holdDisplayAwake(QStringLiteral("recording"));
    EXPECT_NE(second, 0u);
    EXPECT_NE(second, first);
    EXPECT_EQ(server->holdCount(), 1);

    chain.release(second);
    EXPECT_EQ(server->holdCount(), 0);
    EXPECT_EQ(service->holdCount(), 1);
    chain.release(second); // twice
    chain.release(0);
    chain.release(12345);
    EXPECT_EQ(service->holdCount(), 1);
    chain.release(first);
    EXPECT_EQ(service->holdCount(), 0);

    server->setRefuses(true);
    EXPECT_EQ(chain.holdDisplayAwake(QStringLiteral("recording")), 0u);
    EXPECT_EQ(FallbackPowerControl({}).holdDisplayAwake(QStringLiteral("recording")), 0u);
}
