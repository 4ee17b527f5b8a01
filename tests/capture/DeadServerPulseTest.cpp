#include "capture/AudioCapturePermission.h"
#include "capture/MicMonitor.h"
#include "capture/OutputDevice.h"
#include "capture/SystemAudioMonitor.h"
#include "capture/SystemAudioTap.h"
#include "platform/AudioInput.h"
#include "platform/AudioInputError.h"
#include "platform/pulse/PulseAudioInput.h"
#include "platform/core/UserDefaults.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"

#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

using namespace corvessa;

namespace {

// Points the client at a socket nobody listens on, as when the server died.
class DeadServerPulseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_saved = qgetenv("PULSE_SERVER");
        m_had = qEnvironmentVariableIsSet("PULSE_SERVER");
        qputenv("PULSE_SERVER", ("unix:" + home.file(QStringLiteral("no-server")).toUtf8()));
        input.emplace(std::make_shared<PulseAudioInput>());
        session.emplace(AudioCapturePermission::resetSession);
    }
    void TearDown() override
    {
        if (m_had)
            qputenv("PULSE_SERVER", m_saved);
        else
            qunsetenv("PULSE_SERVER");
    }
    corvessa::test::TempHome home;
    std::optional<corvessa::test::ServiceScope> input, session;
    QByteArray m_saved;
    bool m_had = false;
};

} // namespace

TEST_F(DeadServerPulseTest, EveryEntryFailsWithAClearReason)
{
    try {
        PulseAudioInput().sources();
        FAIL() << "listing succeeded without a server";
    } catch (const AudioInputError& e) {
        EXPECT_EQ(e.stage(), AudioInputError::Stage::Connect);
        EXPECT_EQ(e.detail(), QStringLiteral("Connection refused"));
    }

    SystemAudioTap tap(false);
    try {
        tap.prepare();
        FAIL() << "prepare succeeded without a server";
    } catch (const SystemAudioTap::TapError& e) {
        EXPECT_EQ(e.errorDescription, QStringLiteral("Failed to enable system audio recording (Connection refused)"));
    }
    tap.stop(); // harmless after a failed prepare
    EXPECT_EQ(SystemAudioTap::recoverAfterCrash(), 0);
    EXPECT_TRUE(OutputDevice::isBuiltInSpeaker());
    EXPECT_TRUE(MicMonitor::devices().empty());

    MicMonitor mic;
    std::vector<std::optional<QString>> problems;
    mic.setOnProblem([&](std::optional<QString> p) { problems.push_back(p); });
    mic.start(std::nullopt);
    EXPECT_FALSE(mic.isRunning());
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems.front(), QStringLiteral("No Microphone Available"));
}

TEST_F(DeadServerPulseTest, AFailedProbeStoresTheRefusalAndLogsTheReason)
{
    std::optional<bool> verdict;
    AudioCapturePermission::probe(0.1, [&](bool granted) { verdict = granted; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return verdict.has_value(); }, 10000));
    EXPECT_FALSE(*verdict);
    EXPECT_EQ(UserDefaults::standard().integer(QStringLiteral("sysAudioAuth")), 2);
    QFile log(home.file(QStringLiteral(".local/state/Recorder/recorder.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains(
        "[sys-audio-auth] Probe failed: Failed to enable system audio recording (Connection refused)\n"));
}

TEST_F(DeadServerPulseTest, TheSystemAudioMonitorReportsTheFailureAndStopsTrying)
{
    SystemAudioMonitor monitor;
    std::vector<std::optional<QString>> problems;
    monitor.setOnProblem([&](std::optional<QString> p) { problems.push_back(p); });
    monitor.start();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0],
              QStringLiteral("Unable to capture System Audio: Failed to enable system audio recording (Connection refused)"));
    EXPECT_EQ(UserDefaults::standard().integer(QStringLiteral("sysAudioAuth")), 2);
    monitor.start();
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[1], QStringLiteral("System Audio Not Authorized"));
}
