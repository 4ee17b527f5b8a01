#include "capture/AudioCapturePermission.h"
#include "capture/SystemAudioMonitor.h"
#include "platform/AudioInputError.h"
#include "platform/synthetic/SyntheticAudioInput.h"
#include "platform/core/UserDefaults.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"

#include <QTest>

#include <gtest/gtest.h>

#include <mutex>

using namespace corvessa;

namespace {

class SystemAudioMonitorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        session.emplace(AudioCapturePermission::resetSession);
        monitor.setOnProblem([this](std::optional<QString> p) { problems.push_back(std::move(p)); });
        monitor.setOnLevel([this](LevelStats l) {
            std::lock_guard lock(mutex);
            levels.push_back(l);
        });
    }
    std::optional<test::ServiceScope> session;
    std::optional<qint64> stored() const { return UserDefaults::standard().integer(QStringLiteral("sysAudioAuth")); }
    size_t levelCount()
    {
        std::lock_guard lock(mutex);
        return levels.size();
    }

    corvessa::test::TempHome home;
    std::shared_ptr<SyntheticAudioInput> input = std::make_shared<SyntheticAudioInput>();
    SystemAudioMonitor monitor{{}, input};
    std::vector<std::optional<QString>> problems;
    std::mutex mutex;
    std::vector<LevelStats> levels;
};

} // namespace

TEST_F(SystemAudioMonitorTest, AStartThatWorksMetersAndRemembersIt)
{
    input->setTone(300, 0.6f);
    monitor.setGain(2.0f);
    monitor.setMuteSpeakers(true);
    monitor.start();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_FALSE(problems[0]);
    EXPECT_EQ(stored(), 1);
    EXPECT_EQ(input->activeRoutes(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return levelCount() >= 3; }, 3000));
    monitor.stop();
    EXPECT_EQ(input->activeRoutes(), 0);
    std::lock_guard lock(mutex);
    EXPECT_NEAR(levels.back().pre, 0.6f, 0.01f);
    EXPECT_FLOAT_EQ(levels.back().peak, 2.0f * levels.back().pre);
}

TEST_F(SystemAudioMonitorTest, AnEarlierFailureIsNotRetriedUntilVerifiedInThisRun)
{
    UserDefaults::standard().setInteger(QStringLiteral("sysAudioAuth"), 2);
    monitor.start();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0], QStringLiteral("System Audio Not Authorized"));
    EXPECT_EQ(input->openedStreams(), 0);

    {
        std::lock_guard lock(AudioCapturePermission::verificationLock());
        AudioCapturePermission::recordVerdictLocked(true);
    }
    monitor.start();
    EXPECT_TRUE(monitor.isRunning());
    EXPECT_FALSE(problems.back());
}

TEST_F(SystemAudioMonitorTest, WithoutScreenAccessNothingIsTried)
{
    monitor.setScreenAccess([] { return false; });
    monitor.start();
    EXPECT_EQ(problems.back(), QStringLiteral("System Audio Not Authorized"));
    EXPECT_EQ(input->openedStreams(), 0);
    EXPECT_FALSE(stored());
}

TEST_F(SystemAudioMonitorTest, AFailureIsReportedWithTheTapsMessageAndRemembered)
{
    input->failAt(AudioInputError::Stage::Route, QStringLiteral("Module initialization failed"));
    const TextLookup italian = [](const QString& key) {
        if (key == QLatin1String("Unable to capture System Audio: %@"))
            return QStringLiteral("Impossibile acquisire l'audio di sistema: %@");
        return QString();
    };
    SystemAudioMonitor translated(italian, input);
    std::optional<QString> problem;
    translated.setOnProblem([&](std::optional<QString> p) { problem = p; });
    translated.setMuteSpeakers(true);
    translated.start();
    EXPECT_FALSE(translated.isRunning());
    EXPECT_EQ(problem,
              QStringLiteral("Impossibile acquisire l'audio di sistema: Failed to create recording device (Module initialization failed)"));
    EXPECT_EQ(stored(), 2);
    std::lock_guard lock(AudioCapturePermission::verificationLock());
    EXPECT_FALSE(AudioCapturePermission::verifiedThisSessionLocked());
}
