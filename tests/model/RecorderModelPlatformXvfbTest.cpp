#include "model/RecorderModel.h"

#include "capture/AudioCapturePermission.h"
#include "platform/AudioInput.h"
#include "platform/CameraService.h"
#include "platform/core/UserDefaults.h"
#include "prefs/Prefs.h"
#include "support/PulseFixture.h"
#include "support/TempHome.h"
#include "support/XvfbTest.h"

#include <QCoreApplication>
#include <QTest>

namespace corvessa::test {
namespace {

// The model over the program's own services: the X server's displays, the
// sound server's microphones and the synthetic camera.
class RecorderModelPlatformXvfb : public XvfbTest {
protected:
    void SetUp() override
    {
        XvfbTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        qputenv("CORVESSA_CAMERA", "synthetic");
        CameraService::setCurrent(nullptr);
        Prefs::resetShared();
        AudioCapturePermission::resetSession();
    }

    // Runs the event loop until `done` holds; false when it never did.
    static bool spinUntil(const std::function<bool()>& done, int ms = 20000) { return QTest::qWaitFor(done, ms); }

    TempHome home;
};

TEST_F(RecorderModelPlatformXvfb, ListsTheMachinesDevicesAndMetersTheMicrophone)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    AudioInput::setCurrent(nullptr);
    UserDefaults::standard().setBool("micOn", true);
    RecorderModel model(RecorderModelDependencies::platform());

    ASSERT_FALSE(model.screens().empty());
    EXPECT_TRUE(model.screenAuthorized());
    EXPECT_TRUE(model.micAuthorized());
    EXPECT_TRUE(model.screenCapabilities());
    EXPECT_FALSE(model.micDevices().empty());
    for (const AudioDevice& d : model.micDevices())
        EXPECT_NE(d.description, QString::fromLatin1(AudioInput::tapDescription));
    EXPECT_EQ(model.micID(), QString::fromLatin1(PulseFixture::micSource));
    EXPECT_FALSE(model.cameraDevices().empty());

    // A tone played into the stand-in microphone moves its idle meter.
    const auto tone = pulse->playTone(QString::fromLatin1(PulseFixture::micSink), 440, 5, 0.5);
    EXPECT_TRUE(spinUntil([&] { return model.meters().mic().norm > 0.5f; }))
        << "meter at " << model.meters().mic().norm;
}

} // namespace
} // namespace corvessa::test
