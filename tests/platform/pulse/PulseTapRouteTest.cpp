#include "platform/pulse/PulseTapRoute.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

using namespace corvessa;

TEST(PulseTapRouteTest, RecognisesTapSinksByNameOrOwner)
{
    EXPECT_TRUE(PulseTapRoute::isTapSink(QStringLiteral("recorder_tap"), {}));
    EXPECT_TRUE(PulseTapRoute::isTapSink(QStringLiteral("recorder_tap_123_2"), {}));
    EXPECT_TRUE(PulseTapRoute::isTapSink(QStringLiteral("renamed"), {{QStringLiteral("corvessa.tap.pid"), QStringLiteral("1")}}));
    EXPECT_FALSE(PulseTapRoute::isTapSink(QStringLiteral("recorder_tapestry"), {}));
    EXPECT_FALSE(PulseTapRoute::isTapSink(QStringLiteral("alsa_output.pci-0000_00_1f.3.analog-stereo"), {}));
}

TEST(PulseTapRouteTest, OwnStreamsAreOursByProcessOrRole)
{
    const pid_t self = ::getpid();
    EXPECT_TRUE(PulseTapRoute::isOwnStream({{QStringLiteral("application.process.id"), QString::number(self)}}, self));
    EXPECT_TRUE(PulseTapRoute::isOwnStream({{QStringLiteral("corvessa.role"), QStringLiteral("cue")},
                                            {QStringLiteral("application.process.id"), QStringLiteral("1")}},
                                           self));
    EXPECT_FALSE(PulseTapRoute::isOwnStream({{QStringLiteral("application.process.id"), QStringLiteral("1")}}, self));
    EXPECT_FALSE(PulseTapRoute::isOwnStream({{QStringLiteral("application.process.id"), QStringLiteral("x")}}, self));
    EXPECT_FALSE(PulseTapRoute::isOwnStream({}, self));
}

TEST(PulseTapRouteTest, AnOwnerIsGoneWhenItsProcessIsDeadOrAZombieOrUnknown)
{
    auto owner = [](qint64 pid) { return QMap<QString, QString>{{QStringLiteral("corvessa.tap.pid"), QString::number(pid)}}; };
    EXPECT_FALSE(PulseTapRoute::ownerIsGone(owner(::getpid())));
    EXPECT_TRUE(PulseTapRoute::ownerIsGone({}));
    EXPECT_TRUE(PulseTapRoute::ownerIsGone({{QStringLiteral("corvessa.tap.pid"), QStringLiteral("abc")}}));
    EXPECT_TRUE(PulseTapRoute::ownerIsGone(owner(-4)));
    EXPECT_TRUE(PulseTapRoute::ownerIsGone(owner(qint64(1) << 40)));

    // A killed child not yet reaped still answers kill(pid, 0).
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(0);
    for (int i = 0; i < 200; ++i) {
        if (PulseTapRoute::ownerIsGone(owner(child)))
            break;
        ::usleep(10000);
    }
    EXPECT_TRUE(PulseTapRoute::ownerIsGone(owner(child)));
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(PulseTapRoute::ownerIsGone(owner(child)));
}

TEST(PulseTapRouteTest, ModuleArgumentsCarryDescriptionOwnerAndPreviousOutput)
{
    EXPECT_EQ(PulseTapRoute::moduleArguments(QStringLiteral("recorder_tap"), 42,
                                             QStringLiteral("alsa_output.pci-0000_00_1f.3.analog-stereo"), 48000),
              QStringLiteral("sink_name=recorder_tap rate=48000 channels=2 sink_properties=\"device.description='Recorder "
                             "tap' corvessa.tap.pid=42 "
                             "corvessa.tap.previous='alsa_output.pci-0000_00_1f.3.analog-stereo'\""));
    // A name that cannot be quoted safely is left out, not passed through.
    const QString odd = PulseTapRoute::moduleArguments(QStringLiteral("recorder_tap"), 42, QStringLiteral("it's \"odd\""), 0);
    EXPECT_FALSE(odd.contains(QStringLiteral("previous")));
    EXPECT_FALSE(odd.contains(QStringLiteral("rate=")));
    EXPECT_TRUE(odd.contains(QStringLiteral("corvessa.tap.pid=42")));
}
