#include "capture/MicMonitor.h"
#include "capture/OutputDevice.h"
#include "capture/SystemAudioTap.h"
#include "platform/AudioInput.h"
#include "platform/pulse/PulseAudioInput.h"
#include "support/PulseFixture.h"
#include "support/ServiceScope.h"

#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

using namespace corvessa;
using corvessa::test::PulseFixture;

namespace {

struct Levels {
    std::mutex mutex;
    std::vector<LevelStats> seen;
    std::vector<std::optional<QString>> problems;

    float maxPeak()
    {
        std::lock_guard lock(mutex);
        float p = 0;
        for (const auto& l : seen)
            p = std::max(p, l.peak);
        return p;
    }
};

class MicMonitorPulseTest : public ::testing::Test {
protected:
    test::ServiceScope input{std::make_shared<PulseAudioInput>()};
};

bool listed(const std::vector<AudioDevice>& devices, const QString& name)
{
    return std::any_of(devices.begin(), devices.end(), [&](const AudioDevice& d) { return d.name == name; });
}

} // namespace

TEST_F(MicMonitorPulseTest, ListsMicrophonesButNoMonitorsAndNoTap)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    SystemAudioTap tap(true); // its sink and monitor exist meanwhile
    tap.prepare();
    const auto devices = MicMonitor::devices();
    tap.stop();

    EXPECT_TRUE(listed(devices, QLatin1String(PulseFixture::micSource)));
    for (const auto& d : devices) {
        EXPECT_FALSE(d.name.endsWith(QLatin1String(".monitor"))) << d.name.toStdString();
        EXPECT_NE(d.description, QLatin1String("Recorder tap"));
    }
    const auto mic = std::find_if(devices.begin(), devices.end(), [](const AudioDevice& d) { return d.isDefault; });
    ASSERT_NE(mic, devices.end());
    EXPECT_EQ(mic->description, QLatin1String("Stand-in microphone"));
}

TEST_F(MicMonitorPulseTest, ReportsTheLevelsOfTheStandInMicrophone)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    auto tone = pulse->playTone(QLatin1String(PulseFixture::micSink), 330, 30, 0.5);
    ASSERT_TRUE(tone);

    Levels levels;
    MicMonitor monitor;
    monitor.setGain(2.0f);
    monitor.setOnLevel([&](LevelStats l) {
        std::lock_guard lock(levels.mutex);
        levels.seen.push_back(l);
    });
    monitor.setOnProblem([&](std::optional<QString> p) { levels.problems.push_back(p); });
    monitor.start(std::nullopt);
    ASSERT_EQ(levels.problems.size(), 1u);
    EXPECT_FALSE(levels.problems.front().has_value());
    EXPECT_TRUE(monitor.isRunning());
    EXPECT_EQ(monitor.deviceName(), QLatin1String(PulseFixture::micSource));

    EXPECT_TRUE(QTest::qWaitFor([&] { return levels.maxPeak() > 0.6f; }, 20000)) << levels.maxPeak();
    monitor.stop();
    std::lock_guard lock(levels.mutex);
    const auto loud = std::max_element(levels.seen.begin(), levels.seen.end(),
                                       [](const LevelStats& a, const LevelStats& b) { return a.peak < b.peak; });
    // The gain shows in the levels; the measured audio itself is the tone's 0.5.
    EXPECT_NEAR(loud->pre, 0.5f, 0.05f);
    EXPECT_FLOAT_EQ(loud->peak, 2.0f * loud->pre);
    EXPECT_GT(loud->rms, 0.0f);
}

TEST_F(MicMonitorPulseTest, AnUnknownDeviceFallsBackToTheDefaultMicrophone)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    MicMonitor monitor;
    std::vector<std::optional<QString>> problems;
    monitor.setOnProblem([&](std::optional<QString> p) { problems.push_back(p); });
    monitor.start(QStringLiteral("no-such-microphone"));
    EXPECT_TRUE(monitor.isRunning());
    EXPECT_EQ(monitor.deviceName(), QLatin1String(PulseFixture::micSource));
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_FALSE(problems.front());
}

TEST_F(MicMonitorPulseTest, TheFixtureOutputCountsAsBuiltInAndATapDoesNotHideIt)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    const auto sink = AudioInput::current()->defaultSink();
    ASSERT_TRUE(sink);
    EXPECT_EQ(sink->name, QLatin1String(PulseFixture::speakers));
    EXPECT_EQ(sink->monitorSource, QStringLiteral("speakers.monitor"));
    EXPECT_TRUE(OutputDevice::isBuiltInSpeaker()); // a null sink says nothing of bus or port

    // While muting, the server's default is the tap, but what the user hears is still "speakers".
    SystemAudioTap tap(true);
    tap.prepare();
    ASSERT_EQ(pulse->defaultSink(), QStringLiteral("recorder_tap"));
    const auto during = AudioInput::current()->defaultSink();
    tap.stop();
    ASSERT_TRUE(during);
    EXPECT_EQ(during->name, QLatin1String(PulseFixture::speakers));
}
