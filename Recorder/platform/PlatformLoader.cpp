#include "platform/PlatformLoader.h"

#include "platform/AudioInput.h"
#include "platform/AudioThreadBoost.h"
#include "platform/CameraService.h"
#include "platform/CuePlayer.h"
#include "platform/DisplayList.h"
#include "platform/FallbackPowerControl.h"
#include "platform/FileReveal.h"
#include "platform/FloatingSurfaces.h"
#include "platform/LauncherBadge.h"
#include "platform/GlobalHotKeys.h"
#include "platform/MovieWriter.h"
#include "platform/OutsideClickMonitor.h"
#include "platform/Permissions.h"
#include "platform/PointerService.h"
#include "platform/PowerControl.h"
#include "platform/PowerOffNotice.h"
#include "platform/ProbedPermissions.h"
#include "platform/ScreenSource.h"
#include "platform/SingleInstance.h"
#include "platform/WindowHints.h"
#include "platform/core/ProcessServices.h"
#include "platform/core/RecorderLog.h"
#include "platform/dbus/SocketSingleInstance.h"
#include "platform/dbus/FileManagerReveal.h"
#include "platform/dbus/LogindPowerOffNotice.h"
#include "platform/dbus/RealtimeKitThreadBoost.h"
#include "platform/dbus/UnityLauncherBadge.h"
#include "platform/dbus/ScreenSaverPowerControl.h"
#include "platform/dbus/SessionBusSingleInstance.h"
#include "platform/ffmpeg/FFmpegMovieWriter.h"
#include "platform/pulse/PulseAudioInput.h"
#include "platform/pulse/PulseCuePlayer.h"
#include "platform/pulse/PulseMicrophoneAccess.h"
#include "platform/synthetic/SyntheticAudioInput.h"
#include "platform/synthetic/SyntheticAudioThreadBoost.h"
#include "platform/synthetic/SyntheticCameraService.h"
#include "platform/synthetic/SyntheticDisplayList.h"
#include "platform/synthetic/SyntheticFloatingSurfaces.h"
#include "platform/synthetic/SyntheticGlobalHotKeys.h"
#include "platform/synthetic/SyntheticLauncherBadge.h"
#include "platform/synthetic/SyntheticOutsideClickMonitor.h"
#include "platform/synthetic/SyntheticPointerService.h"
#include "platform/synthetic/SyntheticScreenSource.h"
#include "platform/v4l2/V4L2CameraAccess.h"
#include "platform/v4l2/V4L2CameraService.h"
#include "platform/v4l2/V4L2SystemIo.h"
#include "platform/x11/X11Compositing.h"
#include "platform/x11/X11ConnectionLoss.h"
#include "platform/x11/X11FloatingSurfaces.h"
#include "platform/x11/X11GlobalHotKeys.h"
#include "platform/x11/X11OutsideClickMonitor.h"
#include "platform/x11/X11PointerService.h"
#include "platform/x11/X11ScreenAccess.h"
#include "platform/x11/X11ScreenSaverPowerControl.h"
#include "platform/x11/X11ScreenSource.h"
#include "platform/x11/X11WindowHints.h"
#include "platform/x11/XRandRDisplayList.h"

#include <QGuiApplication>

#include <mutex>
#include <utility>

namespace corvessa {

namespace {

// The installed instance of one service: loaded on first use, replaceable by
// tests and by the program's start-up, and released at the program's end.
template <typename Service>
class Slot {
public:
    template <typename Load>
    std::shared_ptr<Service> get(Load load)
    {
        std::lock_guard lock(m_mutex);
        if (!m_service) {
            m_service = load();
            endWithProgramLocked();
        }
        return m_service;
    }
    void set(std::shared_ptr<Service> service)
    {
        std::shared_ptr<Service> old;
        {
            std::lock_guard lock(m_mutex);
            old = std::exchange(m_service, std::move(service));
            if (m_service)
                endWithProgramLocked();
        }
        // Released outside the lock: its destructor may ask for the service again.
    }

private:
    void endWithProgramLocked()
    {
        if (std::exchange(m_endRegistered, true))
            return;
        ProcessServices::atEnd([this] {
            {
                std::lock_guard lock(m_mutex);
                m_endRegistered = false;
            }
            set(nullptr);
        });
    }

    std::mutex m_mutex;
    std::shared_ptr<Service> m_service;
    bool m_endRegistered = false;
};

template <typename Service>
Slot<Service>& slot()
{
    static Slot<Service> s;
    return s;
}

} // namespace

bool PlatformLoader::wantsSynthetic(const char* variable)
{
    return qgetenv(variable) == "synthetic";
}

std::shared_ptr<ScreenSource> PlatformLoader::loadScreenSource()
{
    if (!wantsSynthetic("CORVESSA_SCREEN") && X11ScreenSource::isAvailable()) {
        auto source = std::make_shared<X11ScreenSource>();
        source->setAudioInputProvider([] { return AudioInput::current(); });
        return source;
    }
    return std::make_shared<SyntheticScreenSource>();
}

std::shared_ptr<AudioInput> PlatformLoader::loadAudioInput()
{
    // No automatic fallback to the tone: a meter showing a tone where the server
    // is missing would hide the problem from the user.
    if (wantsSynthetic("CORVESSA_AUDIO"))
        return std::make_shared<SyntheticAudioInput>();
    return std::make_shared<PulseAudioInput>();
}

std::shared_ptr<CuePlayer> PlatformLoader::loadCuePlayer()
{
    // No synthetic fallback: without a sound server cues are skipped, and said so
    // once in the log, rather than played nowhere.
    return std::make_shared<PulseCuePlayer>();
}

std::shared_ptr<AudioThreadBoost> PlatformLoader::loadAudioThreadBoost()
{
    // Asked for where a recording opens its sound streams, never on a sound
    // server's thread: connecting to the bus may take a moment.
    QDBusConnection bus = QDBusConnection::systemBus();
    if (bus.isConnected())
        return std::make_shared<RealtimeKitThreadBoost>(bus);
    RecorderLog::write(QStringLiteral("[audio] no system bus: sound capture keeps its normal priority"));
    return std::make_shared<SyntheticAudioThreadBoost>();
}

std::shared_ptr<CameraService> PlatformLoader::loadCameraService()
{
    // A machine without a camera still gets the real service: it lists
    // nothing and notices a camera plugged in later.
    if (wantsSynthetic("CORVESSA_CAMERA"))
        return std::make_shared<SyntheticCameraService>();
    return std::make_shared<V4L2CameraService>();
}

std::shared_ptr<DisplayList> PlatformLoader::loadDisplayList()
{
    if (XRandRDisplayList::isAvailable())
        return std::make_shared<XRandRDisplayList>();
    return std::make_shared<SyntheticDisplayList>(SyntheticDisplayList::defaultDisplays());
}

std::shared_ptr<PointerService> PlatformLoader::loadPointerService()
{
    if (X11PointerService::isAvailable())
        return std::make_shared<X11PointerService>();
    return std::make_shared<SyntheticPointerService>();
}

std::shared_ptr<GlobalHotKeys> PlatformLoader::loadGlobalHotKeys()
{
    auto x11 = std::make_shared<X11GlobalHotKeys>();
    if (x11->isConnected())
        return x11;
    RecorderLog::write(QStringLiteral("[hotkeys] no X display: global shortcuts are off"));
    return std::make_shared<SyntheticGlobalHotKeys>();
}

std::shared_ptr<FileReveal> PlatformLoader::loadFileReveal()
{
    // Without a session bus it opens the folders instead, so it serves everywhere.
    return std::make_shared<FileManagerReveal>();
}

std::shared_ptr<WindowHints> PlatformLoader::loadWindowHints()
{
    // Does nothing where the windows are not on an X server (the offscreen platform).
    return std::make_shared<X11WindowHints>();
}

bool PlatformLoader::compositingActive()
{
    return X11Compositing::isActive();
}

namespace {

bool qtOnX11()
{
    return qGuiApp && QGuiApplication::platformName() == QLatin1String("xcb");
}

} // namespace

void PlatformLoader::onDisplayServerLost(std::function<void()> handler)
{
    if (qtOnX11())
        X11ConnectionLoss::onToolkitLoss(std::move(handler));
}

std::shared_ptr<FloatingSurfaces> PlatformLoader::loadFloatingSurfaces()
{
    return slot<FloatingSurfaces>().get([]() -> std::shared_ptr<FloatingSurfaces> {
        if (qtOnX11())
            return std::make_shared<X11FloatingSurfaces>();
        return std::make_shared<SyntheticFloatingSurfaces>();
    });
}

std::shared_ptr<OutsideClickMonitor> PlatformLoader::loadOutsideClickMonitor()
{
    return slot<OutsideClickMonitor>().get([]() -> std::shared_ptr<OutsideClickMonitor> {
        if (qtOnX11())
            return std::make_shared<X11OutsideClickMonitor>();
        return std::make_shared<SyntheticOutsideClickMonitor>();
    });
}

std::shared_ptr<PowerOffNotice> PlatformLoader::loadPowerOffNotice()
{
    // Without logind it logs once and stays silent, so it serves everywhere.
    return std::make_shared<LogindPowerOffNotice>();
}

std::shared_ptr<LauncherBadge> PlatformLoader::loadLauncherBadge()
{
    if (QDBusConnection::sessionBus().isConnected())
        return std::make_shared<UnityLauncherBadge>();
    return std::make_shared<SyntheticLauncherBadge>();
}

std::shared_ptr<SingleInstance> PlatformLoader::loadSingleInstance()
{
    if (SessionBusSingleInstance::isAvailable())
        return std::make_shared<SessionBusSingleInstance>();
    return std::make_shared<SocketSingleInstance>();
}

std::shared_ptr<PowerControl> PlatformLoader::loadPowerControl(std::function<void(const QString&)> log)
{
    // Where no screen saver service answers (a bare window manager), the X
    // server's own saver is held off.
    return std::make_shared<FallbackPowerControl>(std::vector<std::shared_ptr<PowerControl>>{
        std::make_shared<ScreenSaverPowerControl>(log), std::make_shared<X11ScreenSaverPowerControl>(log)});
}

std::shared_ptr<Permissions> PlatformLoader::loadPermissions()
{
    // Asked at each probe, not now: a backend installed later is what counts.
    using Access = Permissions::Access;
    ProbedPermissions::Probes probes;
    probes.screen = [] {
        const bool x11 = dynamic_cast<X11ScreenSource*>(ScreenSource::current().get()) != nullptr;
        return x11 ? X11ScreenAccess::probe() : Access::granted;
    };
    probes.microphone = [] {
        const bool pulse = dynamic_cast<PulseAudioInput*>(AudioInput::current().get()) != nullptr;
        return pulse ? PulseMicrophoneAccess::probe() : Access::granted;
    };
    auto camera = std::make_shared<V4L2CameraAccess>(std::make_shared<V4L2SystemIo>());
    probes.camera = [camera] {
        const bool v4l2 = dynamic_cast<V4L2CameraService*>(CameraService::current().get()) != nullptr;
        return v4l2 ? camera->probe() : Access::granted;
    };
    return std::make_shared<ProbedPermissions>(std::move(probes));
}

// The services' accessors: each keeps its installed instance in its own slot.
#define CORVESSA_SERVICE_ACCESSORS(Service, load)                                                                   \
    std::shared_ptr<Service> Service::current() { return slot<Service>().get(PlatformLoader::load); }              \
    void Service::setCurrent(std::shared_ptr<Service> service) { slot<Service>().set(std::move(service)); }

CORVESSA_SERVICE_ACCESSORS(ScreenSource, loadScreenSource)
CORVESSA_SERVICE_ACCESSORS(AudioInput, loadAudioInput)
CORVESSA_SERVICE_ACCESSORS(CameraService, loadCameraService)
CORVESSA_SERVICE_ACCESSORS(CuePlayer, loadCuePlayer)
CORVESSA_SERVICE_ACCESSORS(AudioThreadBoost, loadAudioThreadBoost)
CORVESSA_SERVICE_ACCESSORS(DisplayList, loadDisplayList)
CORVESSA_SERVICE_ACCESSORS(PointerService, loadPointerService)
CORVESSA_SERVICE_ACCESSORS(GlobalHotKeys, loadGlobalHotKeys)
CORVESSA_SERVICE_ACCESSORS(FileReveal, loadFileReveal)
CORVESSA_SERVICE_ACCESSORS(Permissions, loadPermissions)
CORVESSA_SERVICE_ACCESSORS(PowerOffNotice, loadPowerOffNotice)
CORVESSA_SERVICE_ACCESSORS(SingleInstance, loadSingleInstance)
CORVESSA_SERVICE_ACCESSORS(LauncherBadge, loadLauncherBadge)

#undef CORVESSA_SERVICE_ACCESSORS

std::shared_ptr<FloatingSurfaces> FloatingSurfaces::current()
{
    return PlatformLoader::loadFloatingSurfaces();
}

std::shared_ptr<FloatingSurfaces> FloatingSurfaces::twin()
{
    // Never destroyed: windows may still leave it after main() returns.
    static const auto* twin = new std::shared_ptr<FloatingSurfaces>(std::make_shared<SyntheticFloatingSurfaces>());
    return *twin;
}

bool FloatingSurfaces::compositingActive()
{
    return PlatformLoader::compositingActive();
}

std::shared_ptr<OutsideClickMonitor> OutsideClickMonitor::current()
{
    return PlatformLoader::loadOutsideClickMonitor();
}

std::shared_ptr<PowerControl> PowerControl::create(std::function<void(const QString&)> log)
{
    return PlatformLoader::loadPowerControl(std::move(log));
}

std::shared_ptr<MovieWriter> MovieWriter::create(MovieWriter::Settings settings)
{
    return std::make_shared<FFmpegMovieWriter>(std::move(settings));
}

} // namespace corvessa
