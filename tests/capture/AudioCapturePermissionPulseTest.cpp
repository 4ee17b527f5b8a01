#include "capture/AudioCapturePermission.h"
#include "capture/SystemAudioMonitor.h"
#include "platform/AudioInput.h"
#include "platform/pulse/PulseAudioInput.h"
#include "platform/core/UserDefaults.h"
#include "support/PulseFixture.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <mutex>

using namespace corvessa;
using corvessa::test::PulseFixture;

namespace {

class AudioCapturePermissionPulseTest : public ::testing::Test {
protected:
    QStringList logLines() const
    {
        QFile f(home.file(QStringLiteral(".local/state/Recorder/recorder.log")));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    std::optional<qint64> stored() const
    {
        return UserDefaults::standard().integer(QStringLiteral("sysAudioAuth"));
    }
    corvessa::test::TempHome home;
    test::ServiceScope input{std::make_shared<PulseAudioInput>()};
    test::ServiceScope session{AudioCapturePermission::resetSession};
};

} // namespace

TEST_F(AudioCapturePermissionPulseTest, AProbeThatHearsAudioStoresTheGrantAndLogsWhatArrived)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    auto tone = pulse->playTone({}, 440, 30, 0.5);
    ASSERT_TRUE(tone);
    std::optional<bool> verdict;
    AudioCapturePermission::probe(AudioCapturePermission::explicitWait, [&](bool granted) { verdict = granted; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return verdict.has_value(); }, 15000));
    EXPECT_TRUE(*verdict);
    EXPECT_EQ(stored(), 1);
    {
        std::lock_guard lock(AudioCapturePermission::verificationLock());
        EXPECT_TRUE(AudioCapturePermission::verifiedThisSessionLocked());
    }

    const QStringList lines = logLines().filter(QStringLiteral("[sys-audio-auth]"));
    ASSERT_EQ(lines.size(), 1);
    static const QRegularExpression line(
        QStringLiteral("^\\S+ \\[sys-audio-auth\\] Probe: received (\\d+) chunks, peak ([0-9.e-]+)$"));
    const auto m = line.match(lines.front());
    ASSERT_TRUE(m.hasMatch()) << lines.front().toStdString();
    EXPECT_GT(m.captured(1).toInt(), 0);
    EXPECT_GT(m.captured(2).toFloat(), 0.3f);
}

TEST_F(AudioCapturePermissionPulseTest, BackgroundChecksRunOnceAtATimeAndNotAgainAfterSuccess)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    int first = 0, second = 0;
    AudioCapturePermission::verifyIfPossible(true, [&](bool) { ++first; });
    AudioCapturePermission::verifyIfPossible(true, [&](bool) { ++second; }); // one is under way
    ASSERT_TRUE(QTest::qWaitFor([&] { return first == 1; }, 15000));
    QTest::qWait(200);
    EXPECT_EQ(second, 0);

    int third = 0;
    AudioCapturePermission::verifyIfPossible(true, [&](bool) { ++third; }); // verified in this run
    QTest::qWait(1500);
    EXPECT_EQ(third, 0);
    EXPECT_EQ(logLines().filter(QStringLiteral("[sys-audio-auth] Probe:")).size(), 1);
}

TEST_F(AudioCapturePermissionPulseTest, TheSystemAudioMonitorMetersAndMarksAudioVerified)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    auto tone = pulse->playTone({}, 440, 30, 0.5);
    std::mutex mutex;
    float peak = 0;
    std::vector<std::optional<QString>> problems;
    SystemAudioMonitor monitor;
    monitor.setOnLevel([&](LevelStats l) {
        std::lock_guard lock(mutex);
        peak = std::max(peak, l.peak);
    });
    monitor.setOnProblem([&](std::optional<QString> p) { problems.push_back(p); });
    monitor.start();
    EXPECT_TRUE(monitor.isRunning());
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_FALSE(problems.front());
    EXPECT_EQ(stored(), 1);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            std::lock_guard lock(mutex);
            return peak > 0.3f;
        },
        5000));
    monitor.stop();
    EXPECT_FALSE(monitor.isRunning());
}
