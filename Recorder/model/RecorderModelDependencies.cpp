#include "model/RecorderModelDependencies.h"

#include "capture/AudioCapturePermission.h"
#include "capture/OutputDevice.h"
#include "capture/VideoDevicePreferences.h"
#include "model/CaptureCameraControl.h"
#include "model/CaptureIdleMonitors.h"
#include "model/RecorderEngineControl.h"
#include "model/StandInTools.h"
#include "model/Stealth.h"
#include "platform/AudioInput.h"
#include "platform/DisplayList.h"
#include "platform/Permissions.h"
#include "platform/PointerService.h"
#include "platform/ScreenSource.h"
#include "platform/core/MainLoopScheduler.h"
#include "platform/core/RecorderLog.h"
#include "platform/core/UserDefaults.h"
#include "platform/ffmpeg/MovieProbe.h"
#include "prefs/HotKeyCenter.h"
#include "prefs/Loc.h"
#include "prefs/PerfProbe.h"
#include "prefs/Prefs.h"
#include "prefs/SecurityScope.h"

#include <QCoreApplication>
#include <QThreadPool>

#include <unistd.h>

namespace corvessa {

std::vector<WindowInfo> RecorderModelDependencies::otherWindows()
{
    std::vector<WindowInfo> windows;
    const auto content = ScreenSource::current()->content();
    if (!content)
        return windows;
    for (const WindowInfo& w : content->windows) {
        if (w.onScreen && w.layer == 0 && w.ownerPid != ::getpid())
            windows.push_back(w);
    }
    return windows;
}

RecorderModelDependencies RecorderModelDependencies::platform()
{
    RecorderModelDependencies deps;
    deps.scheduler = &MainLoopScheduler::shared();
    deps.defaults = &UserDefaults::standard();
    deps.prefs = &Prefs::shared();
    deps.videoPreferences = std::make_shared<VideoDevicePreferences>(UserDefaults::standard());
    deps.engine = std::make_shared<RecorderEngineControl>();
    deps.permissions = Permissions::current();
    deps.audio = AudioInput::current();
    const auto audio = deps.audio;
    deps.probeSystemAudio = [audio](double wait, std::function<void(bool)> done) {
        AudioCapturePermission::probe(wait, std::move(done), &Loc::text, audio);
    };
    deps.verifySystemAudio = [audio](std::function<void(bool)> done) {
        AudioCapturePermission::verifyIfPossible(true, std::move(done), &Loc::text, audio);
    };
    deps.camera = std::make_shared<CaptureCameraControl>();
    const auto permissions = deps.permissions;
    deps.monitors = std::make_shared<CaptureIdleMonitors>(
        audio, [permissions] { return permissions->granted(Permissions::Kind::microphone); },
        [permissions] { return permissions->granted(Permissions::Kind::screen); });
    deps.displays = DisplayList::current();
    deps.log = &RecorderLog::write;
    deps.tools = std::make_shared<StandInTools>(&otherWindows, deps.log);
    deps.stealth = std::make_shared<Stealth>();
    deps.mouseLocation = []() -> std::optional<GlobalPoint> {
        const auto state = PointerService::current()->state();
        return state ? std::optional<GlobalPoint>(state->location) : std::nullopt;
    };
    deps.setEscape = [](bool on) { HotKeyCenter::shared().setEscape(on); };
    deps.perfProbe = [](bool run) {
        if (run)
            PerfProbe::shared().start();
        else
            PerfProbe::shared().stop();
    };
    deps.background = [](std::function<void()> work) { QThreadPool::globalInstance()->start(std::move(work)); };
    deps.playCue = &Cues::play;
    deps.wallClock = [] { return QDateTime::currentDateTime(); };
    deps.resolveSaveFolder = [] { return SecurityScope::resolve(QStringLiteral("saveFolder")); };
    deps.isPlayable = [](const QString& path) { return MovieProbe::probe(path).playable; };
    deps.isBuiltInSpeaker = [audio] { return OutputDevice::isBuiltInSpeaker(audio); };
    deps.terminate = [] { QCoreApplication::quit(); };
    return deps;
}

} // namespace corvessa
