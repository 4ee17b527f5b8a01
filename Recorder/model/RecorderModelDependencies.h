#pragma once

#include "model/Perm.h"
#include "platform/core/GlobalPoint.h"

#include "prefs/Cues.h"

#include <QDateTime>
#include <QPointF>
#include <QString>

#include <optional>

#include "platform/WindowInfo.h"

#include <functional>
#include <memory>
#include <vector>

namespace corvessa {

class AudioInput;
class CameraControl;
class ConfirmationService;
class DisplayList;
class EngineControl;
class IdleMonitors;
class Permissions;
class Prefs;
class Scheduler;
class Stealth;
class ToolsFacade;
class UserDefaults;
class VideoDevicePreferences;

// Everything the recorder model works with, handed in at construction so that
// tests can put fakes and a virtual clock in place. platform() gathers the
// program's own.
struct RecorderModelDependencies {
    Scheduler* scheduler = nullptr;
    UserDefaults* defaults = nullptr;
    Prefs* prefs = nullptr;
    std::shared_ptr<VideoDevicePreferences> videoPreferences;
    std::shared_ptr<EngineControl> engine;
    std::shared_ptr<Permissions> permissions;
    // The explicit system-audio request's probe, and the background check that
    // runs at most once per run (it may never answer).
    Perm::SystemAudioProbe probeSystemAudio;
    std::function<void(std::function<void(bool granted)>)> verifySystemAudio;
    // Microphones, the default output and their comings and goings.
    std::shared_ptr<AudioInput> audio;
    std::shared_ptr<CameraControl> camera;
    std::shared_ptr<IdleMonitors> monitors;
    std::shared_ptr<DisplayList> displays;
    std::shared_ptr<ToolsFacade> tools;
    std::shared_ptr<ConfirmationService> confirm;
    std::shared_ptr<Stealth> stealth;
    std::function<void(const QString& line)> log;
    // Where the mouse is; nothing when it cannot be read.
    std::function<std::optional<GlobalPoint>()> mouseLocation;
    // Holds or gives up the global Esc hot key.
    std::function<void(bool on)> setEscape;
    // Starts (true) or stops (false) the recording-time performance probe.
    std::function<void(bool run)> perfProbe;
    // Runs blocking work (the engine's start and stop) off the main thread.
    std::function<void(std::function<void()> work)> background;
    std::function<void(Cues::Kind kind)> playCue;
    // The wall clock, for the movie's name.
    std::function<QDateTime()> wallClock;
    // Asks the user for a recordings folder (modal); none when cancelled.
    std::function<std::optional<QString>()> chooseFolder;
    // The recordings folder, opened for writing; none when unusable.
    std::function<std::optional<QString>()> resolveSaveFolder;
    // Whether a movie file holds anything that plays.
    std::function<bool(const QString& path)> isPlayable;
    // Whether the default output is the computer's own speaker.
    std::function<bool()> isBuiltInSpeaker;
    // Asks the application to end.
    std::function<void()> terminate;

    // The program's: the platform's services, the engine, the standard defaults
    // and preferences, the main loop's scheduler.
    static RecorderModelDependencies platform();
    // Other programs' windows on screen, front to back, from the screen source.
    static std::vector<WindowInfo> otherWindows();
};

} // namespace corvessa
