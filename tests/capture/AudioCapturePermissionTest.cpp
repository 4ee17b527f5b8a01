#include "capture/AudioCapturePermission.h"
#include "platform/AudioInputError.h"
#include "platform/synthetic/SyntheticAudioInput.h"
#include "platform/core/UserDefaults.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

using namespace corvessa;

namespace {

class AudioCapturePermissionTest : public ::testing::Test {
protected:
    test::ServiceScope session{AudioCapturePermission::resetSession};
    QStringList probeLines() const
    {
        QFile f(home.file(QStringLiteral(".local/state/Recorder/recorder.log")));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n')).filter(QStringLiteral("[sys-audio-auth]"));
    }
    std::optional<qint64> stored() const { return UserDefaults::standard().integer(QStringLiteral("sysAudioAuth")); }

    corvessa::test::TempHome home;
    std::shared_ptr<SyntheticAudioInput> input = std::make_shared<SyntheticAudioInput>();
};

} // namespace

TEST(AudioCapturePermissionTextTest, PeaksPrintAsTheShortestFloatText)
{
    EXPECT_EQ(AudioCapturePermission::shortestText(0.0f), QStringLiteral("0.0"));
    EXPECT_EQ(AudioCapturePermission::shortestText(0.031622775f), QStringLiteral("0.031622775"));
    EXPECT_EQ(AudioCapturePermission::shortestText(1.0f), QStringLiteral("1.0"));
    EXPECT_EQ(AudioCapturePermission::shortestText(1.2f), QStringLiteral("1.2"));
    EXPECT_EQ(AudioCapturePermission::shortestText(0.0001f), QStringLiteral("0.0001"));
    EXPECT_EQ(AudioCapturePermission::shortestText(0.00001f), QStringLiteral("1e-05"));
    EXPECT_EQ(AudioCapturePermission::probeLine(0, 0.0f), QStringLiteral("[sys-audio-auth] Probe: received 0 chunks, peak 0.0"));
    EXPECT_EQ(AudioCapturePermission::probeLine(57, 0.5f),
              QStringLiteral("[sys-audio-auth] Probe: received 57 chunks, peak 0.5"));
    EXPECT_EQ(AudioCapturePermission::failureLine(QStringLiteral("x")), QStringLiteral("[sys-audio-auth] Probe failed: x"));
}

TEST_F(AudioCapturePermissionTest, AWorkingTapIsGrantedAndLogged)
{
    input->setTone(440, 0.5f);
    std::optional<bool> verdict;
    AudioCapturePermission::probe(0.2, [&](bool granted) { verdict = granted; }, {}, input);
    ASSERT_TRUE(QTest::qWaitFor([&] { return verdict.has_value(); }, 5000));
    EXPECT_TRUE(*verdict);
    EXPECT_EQ(stored(), 1);
    const QStringList lines = probeLines();
    ASSERT_EQ(lines.size(), 1);
    static const QRegularExpression line(QStringLiteral("\\[sys-audio-auth\\] Probe: received (\\d+) chunks, peak 0.5$"));
    const auto m = line.match(lines.front());
    ASSERT_TRUE(m.hasMatch()) << lines.front().toStdString();
    EXPECT_GE(m.captured(1).toInt(), 5);
    EXPECT_EQ(input->activeRoutes(), 0);
}

TEST_F(AudioCapturePermissionTest, AFailingTapIsRefusedAndLoggedWithItsMessage)
{
    input->failAt(AudioInputError::Stage::Connect, QStringLiteral("Connection refused"));
    const TextLookup french = [](const QString& key) {
        return key == QLatin1String("Failed to enable system audio recording (%@)")
            ? QStringLiteral("Échec de l'activation de l'enregistrement audio du système (%@)")
            : QString();
    };
    std::optional<bool> verdict;
    AudioCapturePermission::probe(0.1, [&](bool granted) { verdict = granted; }, french, input);
    ASSERT_TRUE(QTest::qWaitFor([&] { return verdict.has_value(); }, 5000));
    EXPECT_FALSE(*verdict);
    EXPECT_EQ(stored(), 2);
    ASSERT_EQ(probeLines().size(), 1);
    EXPECT_TRUE(probeLines().front().endsWith(QStringLiteral(
        " [sys-audio-auth] Probe failed: Échec de l'activation de l'enregistrement audio du système (Connection refused)")));
}

TEST_F(AudioCapturePermissionTest, BackgroundChecksNeedScreenAccessRunOnceAndStopAfterSuccess)
{
    int calls = 0;
    AudioCapturePermission::verifyIfPossible(false, [&](bool) { ++calls; }, {}, input);
    QTest::qWait(100);
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(stored());

    int first = 0, second = 0;
    AudioCapturePermission::verifyIfPossible(true, [&](bool) { ++first; }, {}, input);
    {
        std::lock_guard lock(AudioCapturePermission::verificationLock());
        EXPECT_TRUE(AudioCapturePermission::probingLocked());
    }
    AudioCapturePermission::verifyIfPossible(true, [&](bool) { ++second; }, {}, input);
    ASSERT_TRUE(QTest::qWaitFor([&] { return first == 1; }, 5000));
    {
        std::lock_guard lock(AudioCapturePermission::verificationLock());
        EXPECT_FALSE(AudioCapturePermission::probingLocked());
        EXPECT_TRUE(AudioCapturePermission::verifiedThisSessionLocked());
    }
    AudioCapturePermission::verifyIfPossible(true, [&](bool) { ++second; }, {}, input);
    QTest::qWait(900);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(probeLines().size(), 1);

    // An explicit request still probes.
    std::optional<bool> verdict;
    AudioCapturePermission::probe(0.05, [&](bool granted) { verdict = granted; }, {}, input);
    ASSERT_TRUE(QTest::qWaitFor([&] { return verdict.has_value(); }, 5000));
    EXPECT_EQ(probeLines().size(), 2);
}

TEST_F(AudioCapturePermissionTest, AFailedBackgroundCheckMayRunAgain)
{
    input->failAt(AudioInputError::Stage::Stream, QStringLiteral("busy"));
    int calls = 0;
    std::optional<bool> last;
    AudioCapturePermission::verifyIfPossible(true, [&](bool v) { ++calls; last = v; }, {}, input);
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls == 1; }, 5000));
    EXPECT_FALSE(*last);
    input->failAt(std::nullopt);
    AudioCapturePermission::verifyIfPossible(true, [&](bool v) { ++calls; last = v; }, {}, input);
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls == 2; }, 5000));
    EXPECT_TRUE(*last);
    EXPECT_EQ(stored(), 1);
}
