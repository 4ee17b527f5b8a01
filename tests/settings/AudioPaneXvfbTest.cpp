// The audio pane over the program's own services and a private sound server:
// with the toolbar hidden, opening the pane starts the idle meters, a tone in
// the stand-in microphone moves its meter, and closing the pane stops them.
#include "settings/AudioPane.h"

#include "capture/AudioCapturePermission.h"
#include "model/IdleMonitors.h"
#include "model/RecorderModel.h"
#include "platform/AudioInput.h"
#include "platform/CameraService.h"
#include "platform/core/UserDefaults.h"
#include "prefs/Prefs.h"
#include "support/PulseFixture.h"
#include "support/TempHome.h"
#include "support/WindowManager.h"
#include "support/XvfbTest.h"
#include "toolbar/kit/HMeter.h"

#include <QCoreApplication>

namespace corvessa::test {
namespace {

// The real monitors, noting which of them run.
class WatchedMonitors : public IdleMonitors {
public:
    explicit WatchedMonitors(std::shared_ptr<IdleMonitors> real) : m_real(std::move(real)) {}
    void startMic(const std::optional<QString>& id, LevelHandler level, ProblemHandler problem) override
    {
        micRunning = true;
        m_real->startMic(id, std::move(level), std::move(problem));
    }
    void stopMic() override
    {
        micRunning = false;
        m_real->stopMic();
    }
    void setMicGain(float gain) override { m_real->setMicGain(gain); }
    void startSys(bool mute, LevelHandler level, ProblemHandler problem) override
    {
        m_real->startSys(mute, std::move(level), std::move(problem));
    }
    void stopSys() override { m_real->stopSys(); }
    void setSysGain(float gain) override { m_real->setSysGain(gain); }

    bool micRunning = false;

private:
    std::shared_ptr<IdleMonitors> m_real;
};

class AudioPaneXvfb : public XvfbTest {
protected:
    TempHome home;
};

TEST_F(AudioPaneXvfb, OpenPaneMetersTheMicrophoneWithTheBarHidden)
{
    CORVESSA_REQUIRE_PULSE(pulse);
    qputenv("CORVESSA_CAMERA", "synthetic");
    CameraService::setCurrent(nullptr);
    AudioInput::setCurrent(nullptr);
    Prefs::resetShared();
    AudioCapturePermission::resetSession();
    UserDefaults::standard().setBool("micOn", true);
    RecorderModelDependencies deps = RecorderModelDependencies::platform();
    auto monitors = std::make_shared<WatchedMonitors>(deps.monitors);
    deps.monitors = monitors;
    RecorderModel model(std::move(deps));
    model.barVisibilityChanged(false);
    ASSERT_FALSE(monitors->micRunning);

    auto pane = std::make_unique<AudioPane>(model);
    pane->show();
    EXPECT_TRUE(model.audioPaneOpen());
    EXPECT_TRUE(monitors->micRunning);
    ASSERT_TRUE(pane->micMeter()->isVisible());
    const auto tone = pulse->playTone(QString::fromLatin1(PulseFixture::micSink), 440, 5, 0.5);
    EXPECT_TRUE(WindowManager::waitFor([&] { return model.meters().mic().norm > 0.5f; }, 20000))
        << "meter at " << model.meters().mic().norm;
    WindowManager::keepScreenshot(QStringLiteral("settings-audio.png"));

    pane->hide();
    EXPECT_FALSE(model.audioPaneOpen());
    EXPECT_FALSE(monitors->micRunning);
}

} // namespace
} // namespace corvessa::test
