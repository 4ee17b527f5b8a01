#include "model/RecorderModel.h"

#include "capture/CameraOverlayState.h"
#include "engine/compositor/FocusState.h"
#include "model/CameraControl.h"
#include "model/ConfirmationService.h"
#include "model/EngineControl.h"
#include "model/IdleMonitors.h"
#include "model/Stealth.h"
#include "platform/AudioInput.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"

#include <algorithm>
#include <utility>

namespace corvessa {

RecorderModel::RecorderModel(RecorderModelDependencies deps, bool startMonitoring)
    : m_deps(std::move(deps))
    , m_scheduler(*m_deps.scheduler)
    , m_perm(m_deps.permissions, *m_deps.defaults, *m_deps.scheduler, m_deps.probeSystemAudio)
    , m_meters(std::make_unique<Meters>(*m_deps.scheduler))
    , m_focus(std::make_shared<FocusState>())
{
    // 1. Every field from its stored value or default.
    readStoredState();
    m_deps.camera->overlay()->setMirrored(m_deps.prefs->cameraMirrored());
    updateMeterRate();

    // 2. The zoom state follows the preferences.
    subscribeToPrefs();

    // 3. The microphones and the default one; the choice is not stored.
    readMicrophones();

    // 4. The cameras.
    refreshCameraDevices();

    // 5, 6. Older format settings become per-device choices once; the screen's
    // capabilities and remembered choice follow.
    m_formats.migrate();

    // 7, 8. Camera lines and connections.
    m_deps.camera->setOnEvent([this, hop = hopper()](const QString& line) { hop([this, line] { handleEvent(line); }); });
    m_deps.camera->setOnConnected([this, hop = hopper()](const QString& id, CameraControl::Token start,
                                                         const CameraVideoCapabilities& capabilities) {
        hop([this, id, start, capabilities] { cameraConnected(id, start, capabilities); });
    });

    if (!startMonitoring)
        return;

    syncCamera();        // 9
    observeDevices();    // 10
    installCallbacks();  // 11, 13, 14
    gainChanged();       // 12
    startMonitor();      // 15
    // 16. The permission refresh.
    m_permTimer = m_scheduler.every(permissionRefreshSeconds, permissionRefreshTolerance,
                                    guarded([this] { refreshPermissions(); }));
}

RecorderModel::~RecorderModel()
{
    // Nothing may call in once the fields are gone: the collaborators outlive
    // them (they are destroyed last) and some call from their own threads.
    m_self.reset();
    m_micObservation.reset();
    m_cameraObservation.reset();
    m_deps.monitors->stopMic();
    m_deps.monitors->stopSys();
    m_deps.camera->setOnEvent({});
    m_deps.camera->setOnConnected({});
    if (RecorderModelServices::shared() == this)
        RecorderModelServices::setShared(nullptr);
}

std::function<void()> RecorderModel::guarded(std::function<void()> task) const
{
    return [self = std::weak_ptr<RecorderModel*>(m_self), task = std::move(task)] {
        if (self.lock())
            task();
    };
}

void RecorderModel::later(std::function<void()> task)
{
    m_scheduler.post(guarded(std::move(task)));
}

std::function<void()> RecorderModel::onMain(std::function<void()> task) const
{
    return [hop = hopper(), task = std::move(task)] { hop(task); };
}

std::function<void(std::function<void()>)> RecorderModel::hopper() const
{
    return [scheduler = &m_scheduler, self = std::weak_ptr<RecorderModel*>(m_self)](std::function<void()> task) {
        scheduler->post([self, task = std::move(task)] {
            if (self.lock())
                task();
        });
    };
}

void RecorderModel::readStoredState()
{
    readAudioState();
    readCameraState();
    readTargetState();
    readPermissions();
}

void RecorderModel::subscribeToPrefs()
{
    Prefs& prefs = *m_deps.prefs;
    const auto applyFrac = [this](double value) {
        m_focus->setFrac(std::clamp(value, minFocusFrac, maxFocusFrac));
        m_focus->setTouch(m_scheduler.now());
    };
    applyFrac(prefs.focusFrac());
    m_lastFocusFrac = prefs.focusFrac();
    m_focus->setMode(prefs.focusMode() == 1 ? 1 : 0);
    m_focus->setSpeed(std::clamp(prefs.focusSpeed(), 0, 2));

    connect(&prefs, &Prefs::changed, this, [this, applyFrac](Prefs::Key key) {
        Prefs& p = *m_deps.prefs;
        if (key == Prefs::Key::focusFrac) {
            applyFrac(p.focusFrac());
            if (m_lastFocusFrac != p.focusFrac()) {
                m_lastFocusFrac = p.focusFrac();
                later([this] { previewLensSize(); });
            }
        } else if (key == Prefs::Key::focusMode) {
            m_focus->setMode(p.focusMode() == 1 ? 1 : 0);
        } else if (key == Prefs::Key::focusSpeed) {
            m_focus->setSpeed(std::clamp(p.focusSpeed(), 0, 2));
        }
    });
}

void RecorderModel::installCallbacks()
{
    EngineControl::Callbacks callbacks;
    callbacks.onMicLevel = [this](const LevelStats& s) { pushMic(s); };
    callbacks.onSysLevel = [this](const LevelStats& s) { pushSys(s); };
    callbacks.onEvent = [this, hop = hopper()](const QString& line) { hop([this, line] { handleEvent(line); }); };
    callbacks.onPauseTierChange = [this, hop = hopper()](std::optional<PauseTier> tier) {
        hop([this, tier] { receivePauseTier(tier); });
    };
    // The level callbacks only touch the throttles (own lock) before hopping; the
    // engine outlives none of this, as the model owns it for the program's life.
    m_deps.engine->setCallbacks(std::move(callbacks));
}

void RecorderModel::observeDevices()
{
    observeMicrophones();
    m_cameraObservation = m_deps.camera->observeDevices(onMain([this] { devicesChanged(); }));
}

// Also after the sound server came back: an observation ends with its server.
void RecorderModel::observeMicrophones()
{
    m_micObservation.reset();
    if (m_deps.audio)
        m_micObservation = m_deps.audio->observeSources(onMain([this] { devicesChanged(); }));
}

// ---- Phase ----

void RecorderModel::setPhase(const Phase& phase)
{
    const Phase old = m_phase;
    m_phase = phase;
    emit changed(Field::phase);

    configureTimer(false);                       // 1
    updateMeterRate();                           // 2
    m_deps.prefs->setIsRecording(phase.isActive()); // 3
    updateLensHint();                            // 4
    m_deps.stealth->setActive(phase.isActive()); // 5
    refreshCameraPower();                        // 6
    updatePenForPhase();                         // 7
    endRecordingTools(old);                      // 8
    if (old.isActive() && phase.isIdle()) {      // 9
        devicesChanged();
        cameraBackToPreview();
    }
    if (phase.is(Phase::Kind::paused) && !old.is(Phase::Kind::paused)) // 10
        publish(m_currentPauseTier, std::optional<PauseTier>(), Field::currentPauseTier);
    if (!phase.isLive()) {                       // 11
        publish(m_currentPauseTier, std::optional<PauseTier>(), Field::currentPauseTier);
        if (m_deps.confirm && m_deps.confirm->isShowing())
            m_deps.confirm->abort();
    }
    // Levels held back by the throttles would stay on the meters when the
    // source stops delivering (a pause, the end of a recording).
    if (!phase.is(Phase::Kind::recording))
        flushThrottles();
    if (m_deps.perfProbe) {                      // 12
        if (!phase.isLive())
            m_deps.perfProbe(false);
        else if (phase.is(Phase::Kind::recording) && !old.isLive())
            m_deps.perfProbe(true);
    }
}

void RecorderModel::configureTimer(bool forceStart)
{
    if (!forceStart && !m_timer)
        return;
    m_timer.reset();
    double interval = 0;
    if (m_phase.is(Phase::Kind::recording))
        interval = recordingTick;
    else if (m_phase.is(Phase::Kind::paused))
        interval = pausedTick;
    else
        return;
    m_timer = m_scheduler.every(interval, 0, guarded([this] {
        if (!m_phase.is(Phase::Kind::recording))
            return;
        publish(m_elapsed, m_deps.engine->effectiveSeconds(), Field::elapsed);
    }));
}

void RecorderModel::clearElapsed()
{
    publish(m_elapsed, 0.0, Field::elapsed);
}

void RecorderModel::receivePauseTier(std::optional<PauseTier> tier)
{
    publish(m_currentPauseTier, m_phase.is(Phase::Kind::paused) ? tier : std::nullopt, Field::currentPauseTier);
}

QString RecorderModel::currentPauseTierTitle() const
{
    if (m_currentPauseTier == PauseTier::eco)
        return Loc::text(QStringLiteral("Eco Standby"));
    if (m_currentPauseTier == PauseTier::deep)
        return Loc::text(QStringLiteral("Deep Sleep"));
    return Loc::text(QStringLiteral("Ready to Resume"));
}

QString RecorderModel::pauseStatusAccessibilityLabel() const
{
    return Loc::text(QStringLiteral("Paused")) + QStringLiteral(", ") + currentPauseTierTitle();
}

QString RecorderModel::pauseStatusTooltip() const
{
    return Loc::text(QStringLiteral("Paused")) + QStringLiteral(" \u00b7 ") + currentPauseTierTitle()
        + QLatin1Char('\n') + Loc::text(QStringLiteral("Pause mode details"));
}

void RecorderModel::barVisibilityChanged(bool visible)
{
    m_barVisible = visible;
    if (!m_phase.is(Phase::Kind::ready))
        return;
    if (visible) {
        startMonitor();
        syncCamera();
        return;
    }
    m_deps.monitors->stopMic();
    m_deps.monitors->stopSys();
    flushThrottles();
    stopCamera();
}

void RecorderModel::setAudioPaneOpen(bool open)
{
    m_audioPaneOpen = open;
}

QString RecorderModel::listNotation(const QStringList& names)
{
    QStringList quoted;
    for (QString name : names) {
        name.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
        quoted << QLatin1Char('"') + name + QLatin1Char('"');
    }
    return QLatin1Char('[') + quoted.join(QStringLiteral(", ")) + QLatin1Char(']');
}

} // namespace corvessa
