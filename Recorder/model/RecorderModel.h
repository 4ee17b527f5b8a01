#pragma once

#include "capture/CameraVideoCapabilities.h"
#include "capture/LevelStats.h"
#include "capture/ScreenVideoCapabilities.h"
#include "capture/VideoDeviceChoice.h"
#include "engine/RecorderEngineConfig.h"
#include "model/CaptureFormats.h"
#include "model/EngineNotices.h"
#include "model/Hint.h"
#include "model/LensHint.h"
#include "model/LevelThrottle.h"
#include "model/MenuRow.h"
#include "model/Meters.h"
#include "model/RangeMode.h"
#include "model/RecorderModelDependencies.h"
#include "model/RecorderPhase.h"
#include "model/StartFlow.h"
#include "model/ToolMode.h"
#include "model/ToolsFacade.h"
#include "platform/AudioDevice.h"
#include "platform/CameraDevice.h"
#include "platform/DisplayInfo.h"
#include "platform/core/Scheduler.h"
#include "prefs/RecorderModelServices.h"

#include <QDateTime>
#include <QObject>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvessa {

class FocusState;

// The one place that holds what the user is doing: the recording phase, the
// chosen target, the audio sources and their gains, the camera, the capture
// formats, the permissions and the level meters. Every window reads it and
// every command goes through it; it is the recording engine's only caller.
//
// Each assignment of the phase runs one fixed list of side effects
// (setPhase()). Callbacks from other threads hop to the main thread through
// the scheduler and do nothing once the model is gone.
//
// Published fields announce a change with changed(field) after it is stored.
//
// Four parts keep their own state in classes the model owns and forwards to:
// the notices (EngineNotices), the capture formats (CaptureFormats), the start
// of a recording (StartFlow) and the magnifier's outline (LensHint). They are
// its friends so that they reach its collaborators and the rest of its state
// through its methods; each changes only its own fields, as each of the model's
// files does.
// Main thread.
class RecorderModel : public QObject, public RecorderModelServices {
    Q_OBJECT
public:
    using Phase = RecorderPhase;
    using PauseTier = corvessa::PauseTier;

    // A display as the menus list it.
    struct ScreenInfo {
        uint32_t id = 0;
        QString name;
        bool operator==(const ScreenInfo&) const = default;
    };
    struct WindowPick {
        uint32_t id = 0;
        QString title;
        QSizeF size; // points
        bool operator==(const WindowPick&) const = default;
    };
    struct AreaPick {
        uint32_t display = 0;
        QRectF rect; // display-local points, origin top left
        bool operator==(const AreaPick&) const = default;
    };

    // The published fields.
    enum class Field {
        cameraCapabilities, cameraReady, screenCapabilities, phase, currentPauseTier,
        micGainDB, sysGainDB, showMixer, focusOn, penOn, micMuted, recMicStarted, recSysStarted,
        sysProblem, micDevices, micID, systemAudio, micOn, micAuthorized, screenAuthorized,
        sysAuthorized, cameraOn, cameraAuthorized, cameraDevices, cameraID, cameraNotice,
        cameraPreviewHidden, cameraFullScreen, hint, screenNotice, cameraLost, cameraFiles,
        rangeMode, displayID, windowPick, areaPick, cameraLive, cameraEffects, muteSpeakers,
        elapsed, micProblem, modeOrder,
    };
    Q_ENUM(Field)

    // Gains in dB: the silent end and the top of the sliders.
    static constexpr double defaultMicGainDB = 6.0;
    static constexpr double defaultSysGainDB = -6.0;
    static constexpr double permissionRefreshSeconds = 10;
    static constexpr double permissionRefreshTolerance = 2;
    static constexpr double recordingTick = 0.1;
    static constexpr double pausedTick = 4;
    static constexpr double idleMeterInterval = 0.15;
    static constexpr double mixerMeterInterval = 0.066;
    static constexpr double recordingMeterInterval = 0.2;
    static constexpr double lensHintInterval = 1.0 / 30;
    static constexpr double lensHintTolerance = 0.01;
    static constexpr double lensPreviewSeconds = 1.2;
    static constexpr double minFocusFrac = 0.15;
    static constexpr double maxFocusFrac = 0.97;
    static constexpr double defaultCameraRate = 30;

    // Builds the model from its collaborators. With `startMonitoring` false the
    // camera is not synchronised and no observers, engine callbacks, gains,
    // idle meters or permission timer are set up.
    explicit RecorderModel(RecorderModelDependencies deps, bool startMonitoring = true);
    ~RecorderModel() override;
    RecorderModel(const RecorderModel&) = delete;
    RecorderModel& operator=(const RecorderModel&) = delete;

    const RecorderModelDependencies& dependencies() const { return m_deps; }

    // ---- Phase ----
    const Phase& phase() const { return m_phase; }
    // Stores the phase and runs the phase effects with the old one at hand.
    void setPhase(const Phase& phase);
    bool isIdle() const override { return m_phase.isIdle(); }
    std::optional<PauseTier> currentPauseTier() const { return m_currentPauseTier; }
    // The engine's tier after its hop to the main thread: kept only while paused.
    void receivePauseTier(std::optional<PauseTier> tier);
    QString currentPauseTierTitle() const;
    QString pauseStatusAccessibilityLabel() const;
    QString pauseStatusTooltip() const;
    // The elapsed-time tick: 0.1 s while recording, 4 s while paused. Without
    // force only a running tick is reconfigured.
    void configureTimer(bool forceStart);
    double elapsed() const { return m_elapsed; }
    void updateMeterRate();

    // Set by the application shell.
    std::function<void(bool)> onCountdown;
    std::function<void()> onHideBar;
    // The toolbar was shown or hidden.
    void barVisibilityChanged(bool visible);
    bool barVisible() const { return m_barVisible; }
    // The audio settings pane is open (idle metering runs for it too).
    bool audioPaneOpen() const { return m_audioPaneOpen; }
    void setAudioPaneOpen(bool open);

    // ---- Target ----
    RangeMode rangeMode() const { return m_rangeMode; }
    uint32_t displayID() const { return m_displayID; }
    const std::optional<WindowPick>& windowPick() const { return m_windowPick; }
    const std::optional<AreaPick>& areaPick() const { return m_areaPick; }
    bool rangeReady() const;
    // displayID when that display is attached, else the primary display's.
    uint32_t effectiveDisplayID() const;
    RecordingTarget currentTarget() const;
    std::vector<ScreenInfo> screens() const;
    void selectDisplay(uint32_t id);
    // The display on which start-time overlays appear.
    std::optional<DisplayInfo> countdownScreen() const;
    // Switches the range; window and area open the picker.
    void chooseRange(RangeMode mode);

    // ---- Audio ----
    bool micOn() const { return m_micOn; }
    void setMicOn(bool on);
    bool systemAudio() const override { return m_systemAudio; }
    void setSystemAudio(bool on) override;
    bool muteSpeakers() const override { return m_muteSpeakers; }
    void setMuteSpeakers(bool on) override;
    bool micMuted() const { return m_micMuted; }
    void setMicMuted(bool muted);
    double micGainDB() const override { return m_micGainDB; }
    void setMicGainDB(double dB) override;
    double sysGainDB() const override { return m_sysGainDB; }
    void setSysGainDB(double dB) override;
    bool showMixer() const { return m_showMixer; }
    void setShowMixer(bool show);
    bool recMicStarted() const { return m_recMicStarted; }
    bool recSysStarted() const { return m_recSysStarted; }
    // Which sources the running recording started with (set by its start).
    void setRecordingSources(bool mic, bool sys);
    const std::vector<AudioDevice>& micDevices() const { return m_micDevices; }
    std::vector<AudioDevice> visibleMicDevices() const;
    const std::optional<QString>& micID() const { return m_micID; }
    const std::optional<QString>& micProblem() const { return m_micProblem; }
    const std::optional<QString>& sysProblem() const { return m_sysProblem; }
    bool canToggleMicNow() const;
    bool canToggleSysNow() const;
    void tapMic();
    void tapSystem();
    void useMic(const QString& id);
    void selectMic(const QString& id);
    void startMonitor();
    void startSysMonitor();
    void muteChanged();
    void gainChanged() override;
    // Level statistics from any thread.
    void pushMic(const LevelStats& stats);
    void pushSys(const LevelStats& stats);
    Meters& meters() { return *m_meters; }

    // ---- Camera ----
    bool cameraOn() const { return m_cameraOn; }
    void setCameraOn(bool on);
    const std::optional<QString>& cameraID() const { return m_cameraID; }
    const std::vector<CameraDevice>& cameraDevices() const { return m_cameraDevices; }
    std::vector<CameraDevice> visibleCameraDevices() const;
    bool cameraLive() const { return m_cameraLive; }
    bool cameraReady() const { return m_cameraReady; }
    bool cameraLost() const { return m_cameraLost; }
    void setCameraLost(bool lost);
    const std::optional<QString>& cameraNotice() const { return m_cameraNotice; }
    void setCameraNotice(const std::optional<QString>& notice);
    bool cameraPreviewHidden() const { return m_cameraPreviewHidden; }
    void setCameraPreviewHidden(bool hidden);
    bool cameraFullScreen() const { return m_cameraFullScreen; }
    void setCameraFullScreen(bool on);
    const QStringList& cameraEffects() const { return m_cameraEffects; }
    const std::vector<QString>& cameraFiles() const { return m_cameraFiles; }
    void tapCamera();
    void useCamera(const QString& id);
    void selectCamera(const QString& id);
    void syncCamera();
    void refreshCameraDevices();
    void refreshDevices();
    void devicesChanged();
    void refreshCameraPower();
    bool canToggleCameraFullScreen() const;
    void toggleCameraFullScreen();
    void exitCameraFullScreen();
    // The system's camera effects that are on; Linux has none.
    static QStringList currentEffects();

    // ---- Permissions ----
    bool micAuthorized() const { return m_micAuthorized; }
    bool screenAuthorized() const { return m_screenAuthorized; }
    bool sysAuthorized() const { return m_sysAuthorized; }
    bool cameraAuthorized() const { return m_cameraAuthorized; }
    void refreshPermissions();
    Perm& perm() { return m_perm; }

    // ---- Capture formats ----
    std::optional<ScreenVideoCapabilities> screenCapabilities() const override { return m_formats.screenCapabilities(); }
    const std::optional<QString>& screenPreferenceKey() const { return m_formats.screenPreferenceKey(); }
    const std::optional<CameraVideoCapabilities>& cameraCapabilities() const { return m_cameraCapabilities; }
    bool canEditScreenFormat() const { return m_formats.canEditScreenFormat(); }
    bool canEditCameraFormat() const { return m_formats.canEditCameraFormat(); }
    void refreshScreenCapabilities(bool force) { m_formats.refreshScreenCapabilities(force); }
    void restoreScreenChoice() override { m_formats.restoreScreenChoice(); }
    void restoreCameraChoice() override { m_formats.restoreCameraChoice(); }
    void setScreenSize(int shortSide) { m_formats.setScreenSize(shortSide); }
    void setScreenRate(int fps) { m_formats.setScreenRate(fps); }
    void setCameraSize(const QString& sizeID) { m_formats.setCameraSize(sizeID); }
    void setCameraRate(double rate) { m_formats.setCameraRate(rate); }
    void applyProfileVideoChoices() override { m_formats.applyProfileVideoChoices(); }
    // "screen:" + the display's uuid (its number when it has none) + ":" + the mode.
    QString screenKey(uint32_t display, RangeMode mode) const { return m_formats.screenKey(display, mode); }
    static QString cameraKey(const QString& cameraID) { return CaptureFormats::cameraKey(cameraID); }

    // ---- Tools ----
    bool focusOn() const { return m_focusOn; }
    void setFocusOn(bool on);
    bool penOn() const { return m_penOn; }
    void setPenOn(bool on);
    const std::vector<ToolMode>& modeOrder() const { return m_modeOrder; }
    const std::shared_ptr<FocusState>& focus() const { return m_focus; }
    std::optional<GlobalRect> lastLensRect() const { return m_lens.lastLensRect(); }
    // The global Esc key: cancels an open region pick, else undoes the newest tool.
    void escapePressed();
    // 0 follows the cursor, 1 zooms on a picked region (any other value: 1).
    // A change turns the magnifier off first.
    void setFocusMode(int mode);
    void toggleFocus();
    // The toolbar's magnifier button.
    void tapMagnifier();
    // Lets the user pick the magnified region over the recorded area.
    void beginRegionPick();
    // A positive direction zooms in, anything else out.
    void zoomFocus(int direction);
    // The recorded area; nothing when the target is gone.
    std::optional<GlobalRect> finalRegionRect() const;
    // The magnified share `frac` of `area` around `centre`, kept inside `area`.
    static GlobalRect lensRect(const GlobalRect& area, const GlobalPoint& centre, double frac)
    {
        return LensHint::lensRect(area, centre, frac);
    }
    // The recording's lens-preview callback: called on the engine queue with
    // each frame's zoom rectangle (nothing: no zoom); at most one rectangle is
    // on its way to the main thread at a time.
    std::function<void(std::optional<GlobalRect>)> lensSink() { return m_lens.sink(); }
    // Where the lens hint's outline is centred, while it runs.
    std::optional<GlobalPoint> hintCenter() const { return m_lens.center(); }
    void setPen(bool on);
    // The pen-tool menu beside `anchor`.
    void showPenMenu(const GlobalRect& anchor);
    MenuRows penMenu() const;
    // The teleprompter: its window reports whether it is shown.
    bool prompterShown() const;
    void setPrompterShown(bool shown);
    void togglePrompter();

    // ---- Recording ----
    // Starts a recording: target, access and folder checks, the countdown,
    // then the engine. Only from an idle phase with no start under way.
    void record();
    // Asks for a recordings folder; true when one was chosen and stored.
    bool chooseInitialSaveFolder();
    // "Corvessa 2024-03-05 14.07.09[ Screen].mov" in `folder`, with " 2", " 3"...
    // before the extension while such a file exists.
    static QString outputPath(const QString& folder, const QDateTime& start, bool separateCamera);
    // Does nothing, and says so in the log, while a question holds the
    // recording paused: its answer decides.
    void togglePause();
    bool resuming() const { return m_resuming; }
    // A question during a recording, which is paused while it is open.
    bool askPaused(const QString& title, const QString& message, const QString& ok);
    // Whether a question asked with askPaused is open.
    bool questionHolds() const { return m_questionHolds; }
    void requestStop();
    void stop();
    void discard(bool thenRecord);
    void backToReady();
    void requestQuit();
    // Ends at once during the countdown: it is cancelled and nothing starts.
    void quit();
    // Saves a running recording (or waits for the start or the save under
    // way, at most 15 s), then calls `done`. A countdown is cancelled and
    // `done` called at once.
    void saveAndExit(std::function<void()> done);
    static constexpr double settleLimitSeconds = 15;
    static constexpr double resumeDelay = 0.4;
    static constexpr double hintSeconds = 7;
    static constexpr double silentMicHintSeconds = 15;

    // ---- Notices ----
    const std::optional<QString>& hint() const { return m_notices.hint(); }
    const std::optional<QString>& screenNotice() const { return m_notices.screenNotice(); }
    // The seconds of sound the saved movie lacks; changes with screenNotice.
    const std::optional<QString>& soundNotice() const { return m_notices.soundNotice(); }
    // A track asked for is missing from the movie; changes with screenNotice.
    bool trackLeftOut() const { return m_notices.trackLeftOut(); }
    // An engine or camera line after its hop to the main thread.
    void handleEvent(const QString& line) { m_notices.handle(line); }
    // Shows a hint for 7 s.
    void flash(const QString& text) { m_notices.flash(text); }
    // Shows a hint until the user dismisses it (dismissHint()).
    void tell(const QString& text) { m_notices.tell(text); }
    void dismissHint() { m_notices.dismissHint(); }
    bool hintStays() const { return m_notices.hintStays(); }
    std::vector<Hint> hints() const { return m_notices.hints(); }
    bool echoRisk() const { return m_notices.echoRisk(); }
    bool micNoSignal() const { return m_notices.micNoSignal(); }

    // The device list as logged: ["a", "b"].
    static QString listNotation(const QStringList& names);

signals:
    void changed(corvessa::RecorderModel::Field field);

private:
    friend class CaptureFormats;
    friend class EngineNotices;
    friend class LensHint;
    friend class StartFlow;

    template <typename T>
    void publish(T& member, const T& value, Field field)
    {
        if (member == value)
            return;
        member = value;
        emit changed(field);
    }
    // Runs `task` on the main thread later, unless the model is gone by then.
    void later(std::function<void()> task);
    std::function<void()> guarded(std::function<void()> task) const;
    // A callable for other threads that runs `task` on the main thread, unless
    // the model is gone by then.
    std::function<void()> onMain(std::function<void()> task) const;
    // Hands tasks from other threads to the main thread; touches nothing of the
    // model until a task runs there with the model still alive.
    std::function<void(std::function<void()>)> hopper() const;

    // Phase effects.
    // Starts or stops the lens hint for the magnifier and the phase.
    void updateLensHint() { m_lens.update(); }
    // One step of the lens hint.
    void tickLensHint() { m_lens.tick(); }
    // Shows the outline of the current zoom size for 1.2 s.
    void previewLensSize() { m_lens.previewSize(); }
    void updatePenForPhase();
    void endRecordingTools(const Phase& old);
    void cameraBackToPreview();
    void noteMode(ToolMode mode, bool on);
    // Holds the global Esc key exactly while a tool is on or a region pick is open.
    void refreshEscape();
    void applyFocusState();
    // The zoom state from the preferences: fraction (with the time of the
    // change), speed and mode.
    void primeFocus();
    void prepareFocusForResume();
    void regionPicked(const GlobalRect& region, const std::optional<GlobalRect>& picked);
    void showZoomFactor(const std::optional<GlobalRect>& near);
    bool toolPhase() const;

    // Construction steps.
    void readStoredState();
    void readAudioState();
    void readMicrophones();
    void readCameraState();
    void readTargetState();
    void readPermissions();
    void subscribeToPrefs();
    void installCallbacks();
    void observeDevices();
    void observeMicrophones();

    // Audio.
    void setMicSilent();
    void setSysSilent();
    void push(LevelThrottle& throttle, const LevelStats& stats, bool mic);
    void flushThrottles();
    std::optional<QString> defaultMicID() const;
    // Whether `id` names a microphone of the list; none and "" never do.
    bool micListed(const std::optional<QString>& id) const;
    void setMicID(const std::optional<QString>& id);
    void setMicDevices(const std::vector<AudioDevice>& devices);

    // Camera.
    // Stops the camera's session; nothing runs then.
    void stopCamera();
    void startCamera(const QString& id, bool full);
    bool cameraShouldRun() const;
    QString cameraName(const QString& id) const;
    void storeCameraID();
    void cameraConnected(const QString& deviceID, const void* start, const CameraVideoCapabilities& capabilities);

    // Formats.
    void applyScreen(const VideoDeviceChoice& choice) { m_formats.applyScreen(choice); }
    void applyCamera(const VideoDeviceChoice& choice) { m_formats.applyCamera(choice); }

    // Target.
    // A failed start of a window recording lets the next start pick again.
    void forgetWindowPick();
    std::optional<DisplayInfo> displayWithID(uint32_t id) const;
    std::optional<DisplayInfo> displayAt(const GlobalPoint& point) const;
    std::optional<WindowInfo> listedWindow(uint32_t id) const;
    GlobalRect globalFrame(const WindowInfo& window) const;

    bool systemAudioUsable() const;

    // Recording.
    void playCue(Cues::Kind kind) const;
    void setCameraFiles(const std::vector<QString>& files);
    void resumeSteps();
    void clearElapsed();
    void finish(std::function<void(const std::optional<QString>& url)> then);
    void restoreSources();
    void cameraDisconnected();
    // Runs `then` once neither a start nor a save is under way, or after 15 s.
    void whenSettled(std::function<void()> then);
    void runSettleWaiters();
    // Access to a device the user switched on: with it, `then`; not asked yet,
    // ask and then `then`; refused, open its settings pane.
    void askAccess(Permissions::Kind kind, const QString& pane, std::function<void()> then);

    RecorderModelDependencies m_deps;
    Scheduler& m_scheduler;
    Perm m_perm;
    EngineNotices m_notices{*this};
    CaptureFormats m_formats{*this};
    StartFlow m_start{*this};
    LensHint m_lens{*this};

    std::optional<CameraVideoCapabilities> m_cameraCapabilities;
    bool m_cameraReady = false;
    Phase m_phase;
    std::optional<PauseTier> m_currentPauseTier;
    std::unique_ptr<Meters> m_meters;
    double m_micGainDB = defaultMicGainDB;
    double m_sysGainDB = defaultSysGainDB;
    bool m_showMixer = false;
    std::shared_ptr<FocusState> m_focus;
    bool m_focusOn = false;
    std::vector<ToolMode> m_modeOrder;
    bool m_penOn = false;
    bool m_micMuted = false;
    bool m_recMicStarted = false;
    bool m_recSysStarted = false;
    std::optional<QString> m_sysProblem;
    std::vector<AudioDevice> m_micDevices;
    std::optional<QString> m_micID;
    bool m_systemAudio = false;
    bool m_micOn = false;
    bool m_micAuthorized = false;
    bool m_screenAuthorized = false;
    bool m_sysAuthorized = false;
    bool m_cameraOn = false;
    bool m_cameraAuthorized = false;
    std::vector<CameraDevice> m_cameraDevices;
    std::optional<QString> m_cameraID;
    std::optional<QString> m_cameraNotice;
    bool m_cameraPreviewHidden = false;
    bool m_cameraFullScreen = false;
    bool m_cameraLost = false;
    std::vector<QString> m_cameraFiles;
    RangeMode m_rangeMode = RangeMode::display;
    uint32_t m_displayID = 0;
    std::optional<WindowPick> m_windowPick;
    std::optional<AreaPick> m_areaPick;
    bool m_cameraLive = false;
    QStringList m_cameraEffects;
    bool m_muteSpeakers = true;
    double m_elapsed = 0;
    std::optional<QString> m_micProblem;
    Scheduler::TimerRef m_permTimer;
    std::shared_ptr<void> m_micObservation;
    std::shared_ptr<void> m_cameraObservation;
    Scheduler::TimerRef m_timer;
    LevelThrottle m_micThrottle;
    LevelThrottle m_sysThrottle;
    bool m_barVisible = true;
    bool m_audioPaneOpen = false;
    std::optional<QString> m_preferredMicID;
    std::optional<double> m_lastFocusFrac;
    bool m_stopInFlight = false;
    bool m_resuming = false;
    bool m_questionHolds = false;  // askPaused's question is open
    Scheduler::TimerRef m_resumeTimer;
    Scheduler::TimerRef m_settleLimit;
    std::vector<std::function<void()>> m_settleWaiters;
    std::vector<Scheduler::TimerRef> m_fileNudges;

    // Work that hops to the main thread holds this weakly.
    std::shared_ptr<RecorderModel*> m_self = std::make_shared<RecorderModel*>(this);
};

} // namespace corvessa
