#include "model/StartFlow.h"

#include "engine/CameraCaptureFeed.h"
#include "engine/compositor/CursorTheme.h"
#include "model/CameraControl.h"
#include "model/EngineControl.h"
#include "model/IdleMonitors.h"
#include "model/RecorderModel.h"
#include "model/Stealth.h"
#include "platform/MovieWriter.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>

namespace corvessa {

using Phase = RecorderPhase;

StartFlow::StartFlow(RecorderModel& model) : m_model(model) {}

void StartFlow::record()
{
    // A second press (a hot key and a menu at once) must not start twice.
    if (!m_model.phase().isIdle() || m_inFlight)
        return;
    m_inFlight = true;
    m_model.setCameraNotice(std::nullopt);
    m_model.m_notices.clearScreenNotice();
    m_model.setCameraFiles({});
    m_model.primeFocus();
    run();
}

void StartFlow::run()
{
    RecorderModel& m = m_model;
    if (!m.rangeReady()) {
        m.setPhase(Phase::ready());
        settled();
        m.chooseRange(m.rangeMode());
        return;
    }
    if (!m.perm().granted(Permissions::Kind::screen)) {
        m.setPhase(Phase::ready());
        settled();
        m.perm().requestScreen();
        return;
    }
    m.refreshScreenCapabilities(true);
    if (!m.screenCapabilities()) {
        m.flash(Loc::text(QStringLiteral("No screen available to record")));
        settled();
        return;
    }
    if (m.cameraReady())
        m.restoreCameraChoice();
    if (!m.m_deps.prefs->hasValidSaveFolder()) {
        m.setPhase(Phase::ready());
        const QString previousFolder = m.m_deps.prefs->unusableSaveFolder();
        if (!previousFolder.isEmpty()) {
            // The folder chooser comes up unasked for: say why.
            if (m.m_deps.log)
                m.m_deps.log(QStringLiteral("[recording] the recordings folder %1 is missing or not writable: "
                                            "asking for another").arg(previousFolder));
            m.flash(Loc::fill(Loc::text(QStringLiteral("The recordings folder %@ is missing or read-only: choose "
                                                       "another one.")),
                              QDir::toNativeSeparators(previousFolder)));
        }
        if (!chooseInitialSaveFolder()) {
            settled();
            return;
        }
    }
    m.setPhase(Phase::countdown(0));
    if (m.cameraOn() && m.cameraAuthorized() && m.cameraID())
        m.startCamera(*m.cameraID(), true);
    if (!m.m_deps.prefs->countdown()) {
        settleAndLaunch();
        return;
    }
    const auto screen = m.countdownScreen();
    if (m.onCountdown)
        m.onCountdown(true);
    if (m.m_deps.log)
        m.m_deps.log(QStringLiteral("[recording] countdown started"));
    countdownStep(3, screen);
}

void StartFlow::countdownStep(int n, std::optional<DisplayInfo> screen)
{
    RecorderModel& m = m_model;
    if (n == 0) {
        m.m_deps.tools->hideCountdown();
        settleAndLaunch();
        return;
    }
    m.setPhase(Phase::countdown(n));
    if (screen)
        m.m_deps.tools->showCountdown(n, *screen);
    if (m.m_deps.prefs->soundTick())
        m.playCue(n == 1 ? Cues::Kind::tick_last : Cues::Kind::tick);
    m_timer = m.m_scheduler.after(1.0, m.guarded([this, n, screen] { countdownStep(n - 1, screen); }));
}

void StartFlow::settleAndLaunch()
{
    RecorderModel& m = m_model;
    double delay = 0;
    if (!m.m_deps.prefs->countdown() && m.cameraOn() && m.cameraAuthorized())
        delay = 0.8; // the camera needs a moment in recording quality
    if (m.m_deps.prefs->soundStart()) {
        m.playCue(Cues::Kind::start);
        delay = std::max(delay, 0.45);
    }
    if (delay <= 0) {
        launch();
        return;
    }
    m_timer = m.m_scheduler.after(delay, m.guarded([this] { launch(); }));
}

void StartFlow::launch()
{
    RecorderModel& m = m_model;
    const RecorderModelDependencies& deps = m.m_deps;
    deps.monitors->stopMic();
    deps.monitors->stopSys();
    const auto folder = deps.resolveSaveFolder ? deps.resolveSaveFolder() : std::nullopt;
    if (!folder) {
        if (deps.log)
            deps.log(QStringLiteral("[recording] start failed: the save folder cannot be used"));
        m.setPhase(Phase::failed(Loc::text(QStringLiteral("Save location is not configured"))));
        m.startMonitor();
        if (m.onCountdown)
            m.onCountdown(false);
        settled();
        return;
    }
    const bool separateCamera = m.cameraOn() && m.cameraAuthorized() && !deps.prefs->cameraBurn();
    m_outputFile = outputPath(*folder, deps.wallClock ? deps.wallClock() : QDateTime::currentDateTime(),
                              separateCamera);
    m.setRecordingSources(m.micOn() && m.micAuthorized(), m.systemAudio() && m.sysAuthorized());
    const RecorderEngineConfig config = makeConfig();
    const bool windowTarget = m.rangeMode() == RangeMode::window;
    auto engine = deps.engine;
    auto hop = m.hopper();
    m_engineStarting = true;
    deps.background([=, this] {
        const auto error = engine->startInner(config);
        if (error)
            engine->cleanUpAfterFailedStart();
        hop([=, this] {
            RecorderModel& m = m_model;
            m_engineStarting = false;
            if (!error) {
                m.setPhase(Phase::recording());
                m.configureTimer(true);
            } else {
                if (m.m_deps.log)
                    m.m_deps.log(QStringLiteral("[recording] start failed: ") + error->message);
                if (windowTarget)
                    m.forgetWindowPick();
                m.setPhase(Phase::failed(error->message));
                m.startMonitor();
            }
            if (m.onCountdown)
                m.onCountdown(false);
            settled();
        });
    });
}

bool StartFlow::cancelCountdown()
{
    RecorderModel& m = m_model;
    if (!m.phase().is(Phase::Kind::countdown) || m_engineStarting)
        return false;
    m_timer.reset();
    m.m_deps.tools->hideCountdown();
    if (m.m_deps.log)
        m.m_deps.log(QStringLiteral("[exit] the countdown was cancelled: nothing was recorded"));
    m.setPhase(Phase::ready());
    if (m.onCountdown)
        m.onCountdown(false);
    settled();
    return true;
}

void StartFlow::settled()
{
    m_inFlight = false;
    // Whoever waits for the start (a quit, a signal) goes on now.
    m_model.runSettleWaiters();
}

RecorderEngineConfig StartFlow::makeConfig()
{
    RecorderModel& m = m_model;
    const Prefs& prefs = *m.m_deps.prefs;
    RecorderEngineConfig c;
    c.target = m.currentTarget();
    c.fps = prefs.engineFps();
    c.systemAudio = m.systemAudio() && m.sysAuthorized();
    if (m.rangeMode() == RangeMode::window && m.windowPick())
        c.windowSize = m.windowPick()->size;
    c.cursorTheme = prefs.cursorTheme() == 1   ? CursorTheme::art
                    : prefs.cursorTheme() == 2 ? CursorTheme::hidden
                                               : CursorTheme::system;
    c.focus = m.focus();
    c.lensPreview = m.lensSink();
    c.focusCrisp = prefs.focusCrisp();
    c.cursorArt = prefs.cursorArt();
    c.cursorArrow = prefs.cursorArrow();
    c.shadowUp = prefs.shadowUp();
    c.shadowDown = prefs.shadowDown();
    c.cursorSize = prefs.cursorTheme() == 0 ? prefs.cursorSizeSys() : prefs.cursorSize();
    c.maxShortSide = prefs.maxShortSide();
    c.qualityTier = prefs.qualityTier();
    c.customMbps = prefs.customMbps();
    c.muteSpeakers = m.muteSpeakers();
    // Only a listed microphone is recorded: with none listed the menu says
    // "No microphone found", and the engine must not fall back to the
    // default input behind it.
    if (m.micOn() && m.micAuthorized() && m.micListed(m.micID()))
        c.microphoneID = *m.micID();
    else if (m.micOn() && m.micAuthorized())
        c.microphoneMissing = true; // told, never pretended
    CameraControl& camera = *m.m_deps.camera;
    if (m.cameraOn() && m.cameraAuthorized() && camera.session() && camera.capture())
        c.camera = std::make_shared<CameraCaptureFeed>(camera.capture());
    if (prefs.cameraBurn())
        c.cameraOverlay = camera.overlay();
    c.cameraFPS = prefs.cameraFPS();
    c.allowsDeviceChanges = false;
    c.outputURL = m_outputFile;
    c.excludedWindows = [stealth = std::weak_ptr<Stealth>(m.m_deps.stealth)] {
        const auto s = stealth.lock();
        return s ? s->excludedWindowIds() : std::vector<uint32_t>{};
    };
    return c;
}

QString StartFlow::outputPath(const QString& folder, const QDateTime& start, bool separateCamera)
{
    // ASCII digits whatever the user's locale: the name must sort and parse.
    const QString stem = QStringLiteral("Corvessa ")
        + QLocale::c().toString(start, QStringLiteral("yyyy-MM-dd HH.mm.ss"))
        + (separateCamera ? QStringLiteral(" Screen") : QString());
    const QDir dir(folder);
    QString path = dir.filePath(stem + MovieWriter::fileExtension);
    // Never replace a movie that is already there.
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = dir.filePath(stem + QLatin1Char(' ') + QString::number(n) + MovieWriter::fileExtension);
    return path;
}

bool StartFlow::chooseInitialSaveFolder()
{
    const RecorderModelDependencies& deps = m_model.m_deps;
    const auto folder = deps.chooseFolder ? deps.chooseFolder() : std::nullopt;
    return folder && deps.prefs->setSaveFolder(*folder);
}

} // namespace corvessa
