#pragma once

#include <QByteArray>

#include <functional>
#include <memory>

class QString;

namespace corvessa {

class AudioInput;
class AudioThreadBoost;
class CameraService;
class CuePlayer;
class DisplayList;
class FileReveal;
class FloatingSurfaces;
class GlobalHotKeys;
class LauncherBadge;
class OutsideClickMonitor;
class Permissions;
class PointerService;
class PowerControl;
class PowerOffNotice;
class ScreenSource;
class SingleInstance;
class WindowHints;

// The one place that decides which backend serves each platform service: the
// real one (X11, PulseAudio, V4L2, FFmpeg, D-Bus) where its server or device
// can be reached, otherwise the synthetic twin, so the program keeps running
// on a machine without them. Three switches force a twin for tests and demos:
//
//   CORVESSA_SCREEN=synthetic   the moving test pattern instead of the X server
//   CORVESSA_AUDIO=synthetic    the tone microphone instead of PulseAudio
//   CORVESSA_CAMERA=synthetic   the pattern camera instead of V4L2
//
// The services' own current() accessors ask the loader once and keep the
// answer until setCurrent() replaces it. Any thread.
class PlatformLoader {
public:
    PlatformLoader() = delete;

    // Whether a switch above asks for the synthetic twin.
    static bool wantsSynthetic(const char* variable);

    static std::shared_ptr<ScreenSource> loadScreenSource();
    static std::shared_ptr<AudioInput> loadAudioInput();
    static std::shared_ptr<CameraService> loadCameraService();
    static std::shared_ptr<CuePlayer> loadCuePlayer();
    // RealtimeKit over the system bus, else the twin that changes nothing.
    static std::shared_ptr<AudioThreadBoost> loadAudioThreadBoost();
    static std::shared_ptr<DisplayList> loadDisplayList();
    static std::shared_ptr<PointerService> loadPointerService();
    static std::shared_ptr<GlobalHotKeys> loadGlobalHotKeys();
    static std::shared_ptr<FileReveal> loadFileReveal();
    static std::shared_ptr<WindowHints> loadWindowHints();
    // Whether a compositing manager runs, so translucent windows show what lies
    // beneath; without one their transparent parts show black and need a shape
    // mask. Asked anew each time (a manager may start or stop). Main thread.
    static bool compositingActive();
    // Runs `handler` once when the toolkit loses its display server, before
    // the toolkit ends the program, while every thread still runs. Main thread.
    static void onDisplayServerLost(std::function<void()> handler);
    // The kit for the program's floating windows, one for the program: X11 when
    // Qt runs on X, else the twin that only sets the Qt flags. Main thread.
    static std::shared_ptr<FloatingSurfaces> loadFloatingSurfaces();
    // Presses anywhere on the screen: X11 when Qt runs on X (its observe()
    // answers null without XInput2), else the twin tests drive. One for the
    // program. Main thread.
    static std::shared_ptr<OutsideClickMonitor> loadOutsideClickMonitor();
    static std::shared_ptr<PowerOffNotice> loadPowerOffNotice();
    // The launcher entry's label over the session bus, else a twin that keeps it.
    static std::shared_ptr<LauncherBadge> loadLauncherBadge();
    // The session bus where one runs, else a socket in the runtime folder.
    static std::shared_ptr<SingleInstance> loadSingleInstance();
    // Probes each kind while its real backend is in use; a synthetic twin or an
    // installed fake is granted.
    static std::shared_ptr<Permissions> loadPermissions();
    // A fresh hold on the display's wakefulness; `log` takes its "[power]" lines.
    static std::shared_ptr<PowerControl> loadPowerControl(std::function<void(const QString&)> log);
};

} // namespace corvessa
