// The recorder model's recording: the start with its countdown, pause and
// resume, the stop, discard and quit, and the save before the program ends.
#include "model/RecorderModel.h"

#include "engine/CameraCaptureFeed.h"
#include "engine/compositor/CursorTheme.h"
#include "engine/compositor/FocusState.h"
#include "model/CameraControl.h"
#include "model/ConfirmationService.h"
#include "model/EngineControl.h"
#include "model/IdleMonitors.h"
#include "model/Stealth.h"
#include "platform/MovieWriter.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>

namespace corvessa {

namespace {

void play(const RecorderModelDependencies& deps, Cues::Kind kind)
{
    if (deps.playCue)
        deps.playCue(kind);
}

} // namespace

// ---- Start ----

void RecorderModel::record()
{
    // A second press (a hot key and a menu at once) must not start twice.
    if (!m_phase.isIdle() || m_startInFlight)
        return;
    m_startInFlight = true;
    setCameraNotice(std::nullopt);
    m_notices.clearScreenNotice();
    publish(m_cameraFiles, std::vector<QString>(), Field::cameraFiles);
    const Prefs& prefs = *m_deps.prefs;
    m_focus->setFrac(std::clamp(prefs.focusFrac(), minFocusFrac, maxFocusFrac));
    m_focus->setTouch(m_scheduler.now());
    m_focus->setSpeed(std::clamp(prefs.focusSpeed(), 0, 2));
    m_focus->setMode(prefs.focusMode() == 1 ? 1 : 0);
    startFlow();
}

void RecorderModel::startFlow()
{
    if (!rangeReady()) {
        setPhase(Phase::ready());
        startSettled();
        chooseRange(m_rangeMode);
        return;
    }
    if (!m_perm.granted(Permissions::Kind::screen)) {
        setPhase(Phase::ready());
        startSettled();
        m_perm.requestScreen();
        return;
    }
    refreshScreenCapabilities(true);
    if (!screenCapabilities()) {
        flash(Loc::text(QStringLiteral("No screen available to record")));
        startSettled();
        return;
    }
    if (m_cameraReady)
        restoreCameraChoice();
    if (!m_deps.prefs->hasValidSaveFolder()) {
        setPhase(Phase::ready());
        if (!chooseInitialSaveFolder()) {
            startSettled();
            return;
        }
    }
    setPhase(Phase::countdown(0));
    if (m_cameraOn && m_cameraAuthorized && m_cameraID)
        startCamera(*m_cameraID, true);
    if (!m_deps.prefs->countdown()) {
        settleAndLaunch();
        return;
    }
    const auto screen = countdownScreen();
    if (onCountdown)
        onCountdown(true);
    if (m_deps.log)
        m_deps.log(QStringLiteral("[recording] countdown started"));
    countdownStep(3, screen);
}

void RecorderModel::countdownStep(int n, std::optional<DisplayInfo> screen)
{
    if (n == 0) {
        m_deps.tools->hideCountdown();
        settleAndLaunch();
        return;
    }
    setPhase(Phase::countdown(n));
    if (screen)
        m_deps.tools->showCountdown(n, *screen);
    if (m_deps.prefs->soundTick())
        play(m_deps, n == 1 ? Cues::Kind::tick_last : Cues::Kind::tick);
    m_startTimer = m_scheduler.after(1.0, guarded([this, n, screen] { countdownStep(n - 1, screen); }));
}

void RecorderModel::settleAndLaunch()
{
    double delay = 0;
    if (!m_deps.prefs->countdown() && m_cameraOn && m_cameraAuthorized)
        delay = 0.8; // the camera needs a moment in recording quality
    if (m_deps.prefs->soundStart()) {
        play(m_deps, Cues::Kind::start);
        delay = std::max(delay, 0.45);
    }
    if (delay <= 0) {
        launch();
        return;
    }
    m_startTimer = m_scheduler.after(delay, guarded([this] { launch(); }));
}

void RecorderModel::launch()
{
    m_deps.monitors->stopMic();
    m_deps.monitors->stopSys();
    const auto folder = m_deps.resolveSaveFolder ? m_deps.resolveSaveFolder() : std::nullopt;
    if (!folder) {
        if (m_deps.log)
            m_deps.log(QStringLiteral("[recording] start failed: the save folder cannot be used"));
        setPhase(Phase::failed(Loc::text(QStringLiteral("Save location is not configured"))));
        startMonitor();
        if (onCountdown)
            onCountdown(false);
        startSettled();
        return;
    }
    const bool separateCamera = m_cameraOn && m_cameraAuthorized && !m_deps.prefs->cameraBurn();
    m_outputFile = outputPath(*folder, m_deps.wallClock ? m_deps.wallClock() : QDateTime::currentDateTime(),
                              separateCamera);
    setRecordingSources(m_micOn && m_micAuthorized, m_systemAudio && m_sysAuthorized);
    const RecorderEngineConfig config = makeConfig();
    const bool windowTarget = m_rangeMode == RangeMode::window;
    auto engine = m_deps.engine;
    auto hop = hopper();
    m_engineStarting = true;
    m_deps.background([=, this] {
        const auto error = engine->startInner(config);
        if (error)
            engine->cleanUpAfterFailedStart();
        hop([=, this] {
            m_engineStarting = false;
            if (!error) {
                setPhase(Phase::recording());
                configureTimer(true);
            } else {
                if (m_deps.log)
                    m_deps.log(QStringLiteral("[recording] start failed: ") + error->message);
                if (windowTarget)
                    publish(m_windowPick, std::optional<WindowPick>(), Field::windowPick);
                setPhase(Phase::failed(error->message));
                startMonitor();
            }
            if (onCountdown)
                onCountdown(false);
            startSettled();
        });
    });
}

bool RecorderModel::cancelCountdown()
{
    if (!m_phase.is(Phase::Kind::countdown) || m_engineStarting)
        return false;
    m_startTimer.reset();
    m_deps.tools->hideCountdown();
    if (m_deps.log)
        m_deps.log(QStringLiteral("[exit] the countdown was cancelled: nothing was recorded"));
    setPhase(Phase::ready());
    if (onCountdown)
        onCountdown(false);
    startSettled();
    return true;
}

void RecorderModel::startSettled()
{
    m_startInFlight = false;
    runSettleWaiters();
}

RecorderEngineConfig RecorderModel::makeConfig()
{
    const Prefs& prefs = *m_deps.prefs;
    RecorderEngineConfig c;
    c.target = currentTarget();
    c.fps = prefs.engineFps();
    c.systemAudio = m_systemAudio && m_sysAuthorized;
    if (m_rangeMode == RangeMode::window && m_windowPick)
        c.windowSize = m_windowPick->size;
    c.cursorTheme = prefs.cursorTheme() == 1   ? CursorTheme::art
                    : prefs.cursorTheme() == 2 ? CursorTheme::hidden
                                               : CursorTheme::system;
    c.focus = m_focus;
    c.lensPreview = lensSink();
    c.focusCrisp = prefs.focusCrisp();
    c.cursorArt = prefs.cursorArt();
    c.cursorArrow = prefs.cursorArrow();
    c.shadowUp = prefs.shadowUp();
    c.shadowDown = prefs.shadowDown();
    c.cursorSize = prefs.cursorTheme() == 0 ? prefs.cursorSizeSys() : prefs.cursorSize();
    c.maxShortSide = prefs.maxShortSide();
    c.qualityTier = prefs.qualityTier();
    c.customMbps = prefs.customMbps();
    c.muteSpeakers = m_muteSpeakers;
    // Only a listed microphone is recorded: with none listed the menu says
    // "No microphone found", and the engine must not fall back to the
    // default input behind it.
    if (m_micOn && m_micAuthorized && micListed(m_micID))
        c.microphoneID = *m_micID;
    CameraControl& camera = *m_deps.camera;
    if (m_cameraOn && m_cameraAuthorized && camera.session() && camera.capture())
        c.camera = std::make_shared<CameraCaptureFeed>(camera.capture());
    if (prefs.cameraBurn())
        c.cameraOverlay = camera.overlay();
    c.cameraFPS = prefs.cameraFPS();
    c.allowsDeviceChanges = false;
    c.outputURL = m_outputFile;
    c.excludedWindows = [stealth = std::weak_ptr<Stealth>(m_deps.stealth)] {
        const auto s = stealth.lock();
        return s ? s->excludedWindowIds() : std::vector<uint32_t>{};
    };
    return c;
}

QString RecorderModel::outputPath(const QString& folder, const QDateTime& start, bool separateCamera)
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

bool RecorderModel::chooseInitialSaveFolder()
{
    const auto folder = m_deps.chooseFolder ? m_deps.chooseFolder() : std::nullopt;
    return folder && m_deps.prefs->setSaveFolder(*folder);
}

// ---- Pause ----

void RecorderModel::togglePause()
{
    if (m_questionHolds) {
        // A pause or resume from the bar, a hot key, the tray or a launcher
        // action would resume the recording behind the question.
        if (m_deps.log)
            m_deps.log(QStringLiteral("[recording] pause and resume wait for the open question"));
        return;
    }
    if (m_resuming)
        return;
    if (m_phase.is(Phase::Kind::recording)) {
        std::function<void()> then;
        if (m_deps.prefs->soundPause())
            then = [hop = hopper(), this] { hop([this] { play(m_deps, Cues::Kind::pause); }); };
        m_deps.engine->pause(std::move(then));
        setPhase(Phase::paused());
        return;
    }
    if (!m_phase.is(Phase::Kind::paused))
        return;
    if (!m_deps.prefs->soundPause()) {
        resumeSteps();
        return;
    }
    m_resuming = true;
    play(m_deps, Cues::Kind::start);
    m_resumeTimer = m_scheduler.after(resumeDelay, guarded([this] {
        m_resuming = false;
        if (m_phase.is(Phase::Kind::paused) && !m_questionHolds)
            resumeSteps();
    }));
}

void RecorderModel::resumeSteps()
{
    prepareFocusForResume();
    m_deps.engine->resume();
    setPhase(Phase::recording());
}

bool RecorderModel::askPaused(const QString& title, const QString& message, const QString& ok)
{
    const bool wasRecording = m_phase.is(Phase::Kind::recording);
    if (wasRecording)
        togglePause();
    // Esc must reach the dialog, not our global grab.
    if (m_deps.setEscape)
        m_deps.setEscape(false);
    m_questionHolds = true;
    const bool answer = m_deps.confirm
        && m_deps.confirm->ask(title, message, ok, Loc::text(QStringLiteral("Continue Recording")));
    m_questionHolds = false;
    refreshEscape();
    if (wasRecording && !answer && m_phase.is(Phase::Kind::paused))
        togglePause();
    return answer;
}

// ---- Stop ----

void RecorderModel::requestStop()
{
    if (!m_phase.isLive() || (m_deps.confirm && m_deps.confirm->isShowing()))
        return;
    const QString message = Loc::fill(Loc::text(QStringLiteral("Will save to %@")), m_deps.prefs->saveFolderDisplay());
    if (askPaused(Loc::text(QStringLiteral("Stop Recording and Save?")), message,
                  Loc::text(QStringLiteral("Stop and Save"))))
        stop();
}

void RecorderModel::stop()
{
    if (!m_phase.isLive())
        return;
    finish([this](const std::optional<QString>& url) {
        const auto failure = m_notices.takeSaveFailure();
        if (url) {
            publish(m_cameraFiles, m_deps.engine->cameraFileURLs(), Field::cameraFiles);
            setPhase(Phase::saved(*url));
            // File indexers learn of the finished files by their change time.
            std::vector<QString> files{*url};
            files.insert(files.end(), m_cameraFiles.begin(), m_cameraFiles.end());
            for (const double delay : {1.5, 6.0}) {
                m_fileNudges.push_back(m_scheduler.after(delay, [files] {
                    for (const QString& f : files) {
                        QFile file(f);
                        if (file.open(QIODevice::ReadWrite))
                            file.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
                    }
                }));
            }
            if (m_deps.prefs->soundEnd())
                play(m_deps, Cues::Kind::end);
        } else if (!m_phase.is(Phase::Kind::failed)) {
            setPhase(Phase::failed(failure.value_or(Loc::text(QStringLiteral("Save Failed")))));
        }
        restoreSources();
        startMonitor();
    });
}

// Enters finishing and stops the engine off the main thread; `then` runs on
// the main thread with the movie, or none when nothing could be saved (the
// empty or unplayable file left behind is removed then).
void RecorderModel::finish(std::function<void(const std::optional<QString>& url)> then)
{
    m_stopInFlight = true;
    setPhase(Phase::finishing());
    m_timer.reset();
    auto engine = m_deps.engine;
    const QString output = m_outputFile;
    const auto playable = m_deps.isPlayable;
    auto hop = hopper();
    m_deps.background([=, this] {
        const auto url = engine->stop();
        if (!url && QFileInfo::exists(output) && (!playable || !playable(output)))
            QFile::remove(output);
        hop([=, this] {
            m_stopInFlight = false;
            then(url);
            // Whoever waits for the save (a quit, a signal) goes on now.
            runSettleWaiters();
        });
    });
}

void RecorderModel::restoreSources()
{
    if (m_recMicStarted)
        setMicOn(true);
    if (m_recSysStarted)
        setSystemAudio(true);
    setMicMuted(false);
    gainChanged();
}

void RecorderModel::discard(bool thenRecord)
{
    if (!m_phase.isLive())
        return;
    finish([this, thenRecord](const std::optional<QString>& url) {
        std::vector<QString> files;
        if (url)
            files.push_back(*url);
        for (const QString& f : m_deps.engine->cameraFileURLs())
            files.push_back(f);
        for (const QString& f : files)
            QFile::remove(f);
        if (m_deps.log) {
            m_deps.log(QStringLiteral("Discarded this recording (")
                       + Loc::text(thenRecord ? QStringLiteral("Restart Recording") : QStringLiteral("Cancel Recording"))
                       + QLatin1Char(')'));
        }
        restoreSources();
        publish(m_cameraFiles, std::vector<QString>(), Field::cameraFiles);
        backToReady();
        if (thenRecord)
            record();
        else
            startMonitor();
    });
}

void RecorderModel::backToReady()
{
    setPhase(Phase::ready());
    publish(m_elapsed, 0.0, Field::elapsed);
    syncCamera();
}

// ---- Quit ----

void RecorderModel::requestQuit()
{
    if (m_phase.isLive()) {
        if (m_deps.confirm && m_deps.confirm->isShowing())
            return;
        const QString message = Loc::fill(Loc::text(QStringLiteral("Recording will be saved to %@ before quitting.")),
                                          m_deps.prefs->saveFolderDisplay());
        if (askPaused(Loc::text(QStringLiteral("Stop Recording and Quit?")), message,
                      Loc::text(QStringLiteral("Stop and Quit"))))
            quit();
        return;
    }
    quit();
}

void RecorderModel::quit()
{
    const auto terminate = [this] {
        if (m_deps.terminate)
            m_deps.terminate();
    };
    if (m_phase.isLive()) {
        finish([terminate](const std::optional<QString>&) { terminate(); });
        return;
    }
    if (cancelCountdown()) {
        m_deps.camera->stop();
        terminate();
        return;
    }
    if (m_stopInFlight || m_startInFlight) {
        // Quit once the save (or the start) under way is over.
        saveAndExit(terminate);
        return;
    }
    m_deps.camera->stop();
    terminate();
}

void RecorderModel::saveAndExit(std::function<void()> done)
{
    if (m_phase.isLive()) {
        if (m_deps.log)
            m_deps.log(QStringLiteral("[exit] system/signal exit while recording: saving first"));
        finish([done](const std::optional<QString>&) { done(); });
        return;
    }
    if (cancelCountdown()) {
        done();
        return;
    }
    if (m_stopInFlight || m_startInFlight) {
        // A start still settling is saved once it runs; a save under way is
        // waited for. Either way at most 15 s.
        whenSettled([this, done] {
            if (m_phase.isLive())
                saveAndExit(done);
            else
                done();
        });
        return;
    }
    done();
}

void RecorderModel::whenSettled(std::function<void()> then)
{
    m_settleWaiters.push_back(std::move(then));
    if (!m_settleLimit)
        m_settleLimit = m_scheduler.after(settleLimitSeconds, guarded([this] {
            // The bound is reached: whatever is still under way, let go.
            auto waiters = std::move(m_settleWaiters);
            m_settleWaiters.clear();
            m_settleLimit.reset();
            for (auto& w : waiters)
                w();
        }));
}

void RecorderModel::runSettleWaiters()
{
    if (m_settleWaiters.empty() || m_startInFlight || m_stopInFlight)
        return;
    auto waiters = std::move(m_settleWaiters);
    m_settleWaiters.clear();
    m_settleLimit.reset();
    for (auto& w : waiters)
        w();
}

} // namespace corvessa
