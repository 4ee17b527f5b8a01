#include "capture/MicMonitor.h"
#include "platform/AudioInputError.h"
#include "platform/synthetic/SyntheticAudioInput.h"

#include <QTest>

#include <gtest/gtest.h>

#include <mutex>

using namespace corvessa;

namespace {

AudioDevice device(const char* name, bool isDefault = false, const char* description = "Mic")
{
    return {QString::fromUtf8(name), QString::fromUtf8(description), AudioFormat::floatFormat(48000, 1), isDefault};
}

struct Reports {
    std::mutex mutex;
    std::vector<LevelStats> levels;
    std::vector<std::optional<QString>> problems;
    void attach(MicMonitor& m)
    {
        m.setOnLevel([this](LevelStats l) {
            std::lock_guard lock(mutex);
            levels.push_back(l);
        });
        m.setOnProblem([this](std::optional<QString> p) { problems.push_back(std::move(p)); });
    }
    size_t levelCount()
    {
        std::lock_guard lock(mutex);
        return levels.size();
    }
};

} // namespace

TEST(MicMonitorTest, ChoosesTheNamedThenTheDefaultThenTheFirstDevice)
{
    const std::vector<AudioDevice> devices{device("usb"), device("builtin", true), device("other")};
    EXPECT_EQ(MicMonitor::choose(devices, QStringLiteral("other"))->name, QStringLiteral("other"));
    EXPECT_EQ(MicMonitor::choose(devices, QStringLiteral("unplugged"))->name, QStringLiteral("builtin"));
    EXPECT_EQ(MicMonitor::choose(devices, std::nullopt)->name, QStringLiteral("builtin"));
    EXPECT_EQ(MicMonitor::choose({device("usb"), device("other")}, std::nullopt)->name, QStringLiteral("usb"));
    EXPECT_FALSE(MicMonitor::choose({}, QStringLiteral("usb")));
}

TEST(MicMonitorTest, TheTapIsNeverListed)
{
    auto input = std::make_shared<SyntheticAudioInput>();
    input->setSources({device("a"), device("tap", false, "Recorder tap"), device("b", true)});
    const auto devices = MicMonitor::devices(input);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, QStringLiteral("a"));
    EXPECT_EQ(devices[1].name, QStringLiteral("b"));
    input->failAt(AudioInputError::Stage::Connect);
    EXPECT_TRUE(MicMonitor::devices(input).empty());
}

TEST(MicMonitorTest, LevelsShowTheGainAndTheMeasuredPeak)
{
    auto input = std::make_shared<SyntheticAudioInput>();
    input->setTone(440, 0.6f);
    MicMonitor monitor({}, input);
    Reports reports;
    reports.attach(monitor);
    monitor.setGain(2.0f);
    monitor.start(std::nullopt);
    ASSERT_EQ(reports.problems.size(), 1u);
    EXPECT_FALSE(reports.problems[0]);
    EXPECT_EQ(monitor.deviceName(), QStringLiteral("synthetic_mic"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return reports.levelCount() >= 5; }, 3000));
    monitor.stop();
    EXPECT_FALSE(monitor.isRunning());
    const size_t after = reports.levelCount();
    QTest::qWait(50);
    EXPECT_EQ(reports.levelCount(), after); // nothing after stop

    std::lock_guard lock(reports.mutex);
    const LevelStats& l = reports.levels.back();
    EXPECT_NEAR(l.pre, 0.6f, 0.01f);
    EXPECT_FLOAT_EQ(l.peak, 2.0f * l.pre);
    EXPECT_NEAR(l.rms, 2.0f * 0.6f / std::sqrt(2.0f), 0.02f);
}

TEST(MicMonitorTest, ProblemsAreReportedInTheUsersLanguage)
{
    auto input = std::make_shared<SyntheticAudioInput>();
    const TextLookup spanish = [](const QString& key) {
        if (key == QLatin1String("No Microphone Available"))
            return QStringLiteral("No hay micrófono disponible");
        return QString();
    };
    MicMonitor monitor(spanish, input);
    Reports reports;
    reports.attach(monitor);

    monitor.start(std::nullopt);
    ASSERT_TRUE(monitor.isRunning());
    // Access withdrawn: the running session stops and the problem is the permission.
    monitor.setAuthorization([] { return false; });
    monitor.start(std::nullopt);
    EXPECT_FALSE(monitor.isRunning());
    EXPECT_EQ(reports.problems.back(), QStringLiteral("Microphone Not Authorized (Menu Bar Icon › Permissions)"));

    monitor.setAuthorization({});
    input->setSources({});
    monitor.start(std::nullopt);
    EXPECT_EQ(reports.problems.back(), QStringLiteral("No hay micrófono disponible"));

    input->setSources({device("usb", true)});
    input->failAt(AudioInputError::Stage::Stream);
    monitor.start(QStringLiteral("usb"));
    EXPECT_FALSE(monitor.isRunning());
    EXPECT_EQ(reports.problems.back(), QStringLiteral("No hay micrófono disponible"));
}
