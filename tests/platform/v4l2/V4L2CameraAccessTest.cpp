#include "FakeV4L2Io.h"

#include "platform/core/XdgPaths.h"
#include "platform/v4l2/V4L2CameraAccess.h"
#include "support/TempHome.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>

using namespace corvessa;
using Access = Permissions::Access;
using Attempt = V4L2CameraAccess::Attempt;

TEST(V4L2CameraAccess, DeniedOnlyWhenEveryNodeRefusesUs)
{
    const QString v0 = QStringLiteral("/dev/video0"), v1 = QStringLiteral("/dev/video1");
    const struct {
        std::vector<Attempt> attempts;
        Access expected;
    } cases[] = {
        {{}, Access::granted}, // no camera at all
        {{{v0, EACCES}}, Access::denied},
        {{{v0, EACCES}, {v1, EPERM}}, Access::denied},
        {{{v0, EACCES}, {v1, 0}}, Access::granted},      // one camera is ours
        {{{v0, ENOENT}}, Access::granted},               // vanished meanwhile: says nothing about rights
        {{{v0, EBUSY}, {v1, EACCES}}, Access::granted},
    };
    for (const auto& c : cases)
        EXPECT_EQ(V4L2CameraAccess::decide(c.attempts), c.expected) << c.attempts.size();
}

TEST(V4L2CameraAccess, ARefusalIsLoggedOnceAndNoCameraIsOpened)
{
    test::TempHome home;
    auto io = std::make_shared<test::FakeV4L2Io>();
    test::FakeV4L2Device camera;
    camera.path = QStringLiteral("/dev/video0");
    camera.openError = EACCES;
    io->addDevice(camera);
    V4L2CameraAccess access(io);

    EXPECT_EQ(access.probe(), Access::denied);
    EXPECT_EQ(access.probe(), Access::denied);
    QFile log(XdgPaths::logFile());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    EXPECT_EQ(text.count(QStringLiteral("[perm] camera: /dev/video0 refused (permission denied); add the user to "
                                        "the \"video\" group")),
              1);

    test::FakeV4L2Device second;
    second.path = QStringLiteral("/dev/video2");
    io->addDevice(second);
    EXPECT_EQ(access.probe(), Access::granted);
    EXPECT_EQ(io->openDescriptors(), 0);
}
