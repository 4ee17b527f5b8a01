// The recorder model's recording: pause and resume, the stop, discard and
// quit, and the save before the program ends. The start is StartFlow's.
#include "model/RecorderModel.h"

#include "model/CameraControl.h"
#include "model/ConfirmationService.h"
#include "model/EngineControl.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace corvessa {

void RecorderModel::playCue(Cues::Kind kind) const
{
    if (m_deps.playCue)
        m_deps.playCue(kind);
}

void RecorderModel::setCameraFiles(const std::vector<QString>& files)
{
    publish(m_cameraFiles, files, Field::cameraFiles);
}

// ---- Start ----

void RecorderModel::record()
{
    m_start.record();
}

bool RecorderModel::chooseInitialSaveFolder()
{
    return m_start.chooseInitialSaveFolder();
}

QString RecorderModel::outputPath(const QString& folder, const QDateTime& start, bool separateCamera)
{
    return StartFlow::outputPath(folder, start, separateCamera);
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
            then = [hop = hopper(), this] { hop([this] { playCue(Cues::Kind::pause); }); };
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
    playCue(Cues::Kind::start);
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
            // Only the very files written are touched: one the user removed,
            // moved or put something else in place of since is left alone.
            const std::vector<WrittenFile> files = m_deps.engine->writtenFiles();
            for (const double delay : {1.5, 6.0}) {
                m_fileNudges.push_back(m_scheduler.after(delay, [files] {
                    for (const WrittenFile& f : files)
                        f.touch();
                }));
            }
            if (m_deps.prefs->soundEnd())
                playCue(Cues::Kind::end);
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
    setPhase(Phase::finishing()); // which ends the elapsed-time tick
    auto engine = m_deps.engine;
    const QString output = m_start.outputFile();
    const auto playable = m_deps.isPlayable;
    auto hop = hopper();
    m_deps.background([=, this] {
        const auto url = engine->stop();
        // Only the file the writer made, still in its place: what the user put
        // there meanwhile is theirs.
        if (!url)
            for (const WrittenFile& f : engine->writtenFiles())
                if (f.path() == output && f.isAtPath() && (!playable || !playable(output)))
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
    const QString startFolder = QFileInfo(m_start.outputFile()).absolutePath();
    finish([this, thenRecord, startFolder](const std::optional<QString>& url) {
        std::vector<QString> files;
        if (url)
            files.push_back(*url);
        for (const QString& f : m_deps.engine->cameraFileURLs())
            files.push_back(f);
        // A file the user moved out of the recordings folder while recording
        // is no longer ours to remove.
        for (const QString& f : files)
            if (QFileInfo(f).absolutePath() == startFolder)
                QFile::remove(f);
        if (m_deps.log) {
            m_deps.log(QStringLiteral("Discarded this recording (")
                       + Loc::text(thenRecord ? QStringLiteral("Restart Recording") : QStringLiteral("Cancel Recording"))
                       + QLatin1Char(')'));
        }
        restoreSources();
        setCameraFiles({});
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
    clearElapsed();
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
    if (m_start.cancelCountdown()) {
        m_deps.camera->stop();
        terminate();
        return;
    }
    if (m_stopInFlight || m_start.inFlight()) {
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
    if (m_start.cancelCountdown()) {
        done();
        return;
    }
    if (m_stopInFlight || m_start.inFlight()) {
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
    if (m_settleWaiters.empty() || m_start.inFlight() || m_stopInFlight)
        return;
    auto waiters = std::move(m_settleWaiters);
    m_settleWaiters.clear();
    m_settleLimit.reset();
    for (auto& w : waiters)
        w();
}

} // namespace corvessa
