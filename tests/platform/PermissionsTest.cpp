#include "platform/AudioInput.h"
#include "platform/CameraService.h"
#include "platform/ProbedPermissions.h"
#include "platform/ScreenSource.h"
#include "platform/core/XdgPaths.h"
#include "platform/pulse/PulseAudioInput.h"
#include "platform/synthetic/SyntheticAudioInput.h"
#include "platform/synthetic/SyntheticCameraService.h"
#include "platform/synthetic/SyntheticPermissions.h"
#include "platform/synthetic/SyntheticScreenSource.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace corvessa;
using Access = Permissions::Access;
using Kind = Permissions::Kind;

namespace {

constexpr Kind kinds[] = {Kind::screen, Kind::microphone, Kind::camera};

QString logText()
{
    QFile f(XdgPaths::logFile());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

TEST(ProbedPermissions, EachKindAsksItsOwnProbeAndRequestsAnswerTheProbe)
{
    Access screen = Access::denied;
    int microphoneProbes = 0;
    ProbedPermissions p({[&] { return screen; }, [&] { ++microphoneProbes; return Access::denied; }, {}});
    EXPECT_EQ(p.access(Kind::screen), Access::denied);
    EXPECT_EQ(p.access(Kind::microphone), Access::denied);
    EXPECT_EQ(p.access(Kind::camera), Access::granted); // no probe: a synthetic backend
    screen = Access::granted;
    EXPECT_TRUE(p.granted(Kind::screen)); // read afresh

    std::optional<Access> answer;
    p.request(Kind::microphone, [&](Access a) { answer = a; });
    EXPECT_EQ(answer, Access::denied); // nobody is asked on Linux
    EXPECT_EQ(microphoneProbes, 2);
    p.request(Kind::screen, nullptr); // a request without a callback is harmless
}

TEST(ProbedPermissions, SettingsPanesAreLoggedAndHandedToTheOpener)
{
    test::TempHome home;
    QStringList opened;
    ProbedPermissions p({}, [&](const QString& pane) { opened << pane; });
    p.openSettings(QStringLiteral("Privacy_Microphone"));
    EXPECT_EQ(opened, QStringList{QStringLiteral("Privacy_Microphone")});
    EXPECT_TRUE(logText().contains(QStringLiteral("[perm] privacy settings requested: Privacy_Microphone")));

    p.setSettingsOpener({});
    p.openSettings(QStringLiteral("Privacy_Camera")); // logged only
    EXPECT_EQ(opened.size(), 1);
    EXPECT_TRUE(logText().contains(QStringLiteral("requested: Privacy_Camera")));
}

TEST(SyntheticPermissions, ARequestSettlesANotDeterminedKindWithTheAnswer)
{
    SyntheticPermissions p(Access::notDetermined);
    p.setRequestAnswer(Kind::camera, Access::denied);
    for (const Kind kind : kinds) {
        const Access expected = kind == Kind::camera ? Access::denied : Access::granted;
        EXPECT_EQ(p.access(kind), Access::notDetermined);
        std::optional<Access> answer;
        p.request(kind, [&](Access a) { answer = a; });
        EXPECT_EQ(answer, expected);
        EXPECT_EQ(p.access(kind), expected);
        // A settled kind keeps its answer, whatever the request answer says.
        p.setRequestAnswer(kind, Access::notDetermined);
        p.request(kind, [&](Access a) { answer = a; });
        EXPECT_EQ(answer, expected);
        EXPECT_EQ(p.requestCount(kind), 2);
    }
    p.setAccess(Kind::screen, Access::denied);
    EXPECT_FALSE(p.granted(Kind::screen));
    p.openSettings(QStringLiteral("Privacy_ScreenCapture"));
    EXPECT_EQ(p.openedPanes(), QStringList{QStringLiteral("Privacy_ScreenCapture")});
}

TEST(Permissions, TheLoadedServiceProbesOnlyTheRealBackendsInUse)
{
    test::TempHome home;
    const QByteArray server = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:" + home.file(QStringLiteral("no-server")).toUtf8());
    test::ServiceScope screen{std::make_shared<SyntheticScreenSource>()};
    test::ServiceScope audio{std::make_shared<SyntheticAudioInput>()};
    test::ServiceScope camera{std::make_shared<SyntheticCameraService>()};
    test::ServiceScope loaded{[] { Permissions::setCurrent(nullptr); }};
    const auto permissions = Permissions::current();
    for (const Kind kind : kinds)
        EXPECT_TRUE(permissions->granted(kind)); // twins have nothing to refuse
    // The real sound backend without a server: denied, asked afresh.
    AudioInput::setCurrent(std::make_shared<PulseAudioInput>());
    EXPECT_EQ(permissions->access(Kind::microphone), Access::denied);

    if (server.isNull())
        qunsetenv("PULSE_SERVER");
    else
        qputenv("PULSE_SERVER", server);
}
