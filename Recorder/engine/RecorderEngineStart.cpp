// RecorderEngine: the start of a recording: its state made new, the stream made and started, the
// start's errors, and the clean-up after a start that failed.

#include "engine/RecorderEngine.h"

#include "capture/AudioCapturePermission.h"
#include "capture/CameraOverlayState.h"
#include "capture/SystemAudioTap.h"
#include "engine/CameraFeed.h"
#include "engine/EngineDurations.h"
#include "engine/RecoveryJournal.h"
#include "engine/compositor/CursorCompositor.h"
#include "engine/compositor/CursorStyle.h"
#include "engine/compositor/FocusState.h"
#include "engine/compositor/MouseTrack.h"
#include "engine/compositor/PenBoard.h"
#include "platform/AudioInput.h"
#include "platform/PointerService.h"
#include "platform/core/HostClock.h"
#include "prefs/Loc.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace corvessa {

using namespace std::chrono_literals;

RecorderError RecorderEngine::err(const char* english)
{
    return RecorderError{QStringLiteral("Recorder"), 1, Loc::text(QString::fromUtf8(english))};
}

std::optional<RecorderError> RecorderEngine::targetError(const RecordingTarget::Found& found)
{
    if (found.contentError)
        return found.contentError;
    if (found.missing)
        return err(found.missing);
    return std::nullopt;
}

void RecorderEngine::resetRecordingState()
{
    // On the engine queue.
    m_state = State::idle;
    m_tier = PauseTier::instant;
    ++m_recording;
    m_config.reset();
    m_stream = {};
    m_streamAllowed = false;
    m_loggedMicFormat = m_diskStopSent = m_writerFailSent = m_sessionStarted = m_receivedMicrophone = false;
    m_stopRun.reset();
    m_lastFrameSynthetic = m_resumeWaiting = m_micOutputAttached = m_micDeadNotified = m_restartingStream = false;
    m_micDeadSinceBuffer = false;
    m_windowClosedSent = false;
    m_lastDiskCheck = -1e9;
    m_lastSyncReport = 0;
    m_matchedCameraFrames = m_missingCameraFrames = 0;
    m_streamRetries = m_microphoneConfigurationsInFlight = 0;
    m_droppedVideo = m_writtenVideo = m_repeatedVideo = 0;
    m_firstPTS = m_lastVideoPTS = m_resumePTS = MediaTime::invalid();
    m_pauseWriteOut.reset();
    m_offset = m_lastAdjusted = MediaTime::zero();
    m_timeline = RecordingTimeline{};
    m_audioMixer.reset();
    m_soundSkipped = m_soundTail = 0;
    m_earlySound.clear();
    m_micNormalizer.reset();
    m_systemNormalizer.reset();
    m_lastPixelBuffer.reset();
    m_writer.reset();
    m_hasVideoIn = m_hasAudioIn = false;
    m_cursor.reset();
    m_mouseTrack.reset();
    m_videoSync.reset();
    m_guard.reset();
    m_suspendedCamera.reset();
    m_frameDemand.reset(PenBoard::shared().version());
    m_lastMicBufferAt = m_micWatchSince = HostClock::seconds();
    m_micGap.reset();
    m_systemGap.reset();
    cancelScheduledWork();
    *m_effective.lock() = 0;
}

void RecorderEngine::cancelScheduledWork()
{
    for (auto& w : m_pauseWork)
        w->cancel();
    m_pauseWork.clear();
    if (m_resumeTimeout)
        m_resumeTimeout->cancel();
    m_resumeTimeout.reset();
    if (m_retryWork)
        m_retryWork->cancel();
    m_retryWork.reset();
}

std::optional<RecorderError> RecorderEngine::startStream(uint64_t recording,
                                                         const std::shared_ptr<ScreenSource>& source,
                                                         const ScreenFilter& filter, const ScreenStreamConfig& scConfig)
{
    // Not on the engine queue: starting capture may wait for the X server or
    // the sound server.
    if (!source)
        return err(Loc::mark("No screen available to record"));

    const uint64_t token = ++m_tokenCounter;
    std::weak_ptr<RecorderEngine> weak = weak_from_this();
    ScreenStreamOutput output;
    output.onScreen = [weak, token](const SampleBuffer& sample) {
        if (auto self = weak.lock())
            self->onScreenSample(token, sample);
    };
    output.onMicrophone = [weak, token](const SampleBuffer& sample) {
        if (auto self = weak.lock())
            self->onMicrophoneSample(token, sample);
    };
    output.onStop = [weak, token](const RecorderError& error) {
        if (auto self = weak.lock())
            self->onStreamStopped(token, error);
    };
    output.onMoved = [weak, token] {
        if (auto self = weak.lock())
            self->onAreaMoved(token);
    };

    std::shared_ptr<ScreenStream> stream(source->makeStream(filter, scConfig, m_q.get(), std::move(output)));
    if (!stream)
        return err(Loc::mark("No screen available to record"));
    m_q->sync([&] { m_startingToken = token; });
    if (auto e = stream->start())
        return e;

    bool installed = false;
    m_q->sync([&] {
        // A stream made for a recording that has ended, or while another runs,
        // must not run on.
        if (recording != m_recording || !m_streamAllowed || m_stream.stream)
            return;
        m_stream = {stream, token};
        m_filter = filter;
        m_micOutputAttached = scConfig.captureMicrophone;
        // Its microphone is heard from now on: a start slowed by a busy machine
        // is no silence, nor is the time a stream made anew takes to start.
        m_micWatchSince = HostClock::seconds();
        m_micGap.reset();
        installed = true;
    });
    if (!installed) {
        stream->stop();
        return err(Loc::mark("No screen available to record"));
    }
    return std::nullopt;
}

RecorderEngine::Rebuild RecorderEngine::rebuildRequest() const
{
    // Only while recording or paused, so there is a configuration.
    Rebuild rebuild;
    rebuild.source = m_services.source;
    rebuild.target = m_config->target;
    rebuild.excludedWindows = m_config->excludedWindows;
    rebuild.filter = m_filter;
    rebuild.sc = m_scConfig;
    return rebuild;
}

std::optional<RecorderError> RecorderEngine::rebuildFilter(Rebuild& rebuild)
{
    // Not on the engine queue: the window list can take a while.
    const RecordingTarget::Found found =
        rebuild.target.resolve(rebuild.source.get(), rebuild.excludedWindows, std::nullopt,
                               RecordingTarget::atRebuild(rebuild.filter.pointPixelScale));
    if (rebuild.target.kind == Target::Kind::window && !found.contentError && found.missing)
        return screenCaptureError(ScreenCaptureErrorCode::WindowUnavailable,
                                  Loc::text(QString::fromUtf8(found.missing)));
    if (auto e = targetError(found))
        return e;
    rebuild.filter = found.filter;
    return std::nullopt;
}

std::optional<RecorderError> RecorderEngine::startInner(const Config& given)
{
    bool busy = false;
    uint64_t recording = 0;
    Services services;
    m_q->sync([&] {
        busy = m_state != State::idle || m_starting;
        if (busy)
            return;
        resetRecordingState();
        m_config = given;
        m_cameraFile.begin(given.outputURL, given.cameraFPS, m_services.writerFactory);
        m_starting = m_startPending = true;
        recording = m_recording;
        // Everything the start needs of the services, read once.
        services = m_services;
    });
    if (busy)
        return err(Loc::mark("A recording is already in progress."));
    // Unless one was given, the process-wide source; kept for the stream's
    // rebuilds. Asked here, off the engine queue: finding it may reach the X server.
    if (!services.source) {
        services.source = ScreenSource::current();
        m_q->sync([&] {
            if (!m_services.source)
                m_services.source = services.source;
        });
    }
    // However this start ends, another may begin afterwards.
    struct Finally {
        RecorderEngine* engine;
        ~Finally() { engine->m_q->sync([this] { engine->m_starting = false; }); }
    } finally{this};
    if (given.fps < minFps || given.fps > maxFps)
        return err(Loc::mark("The frame rate must be between 1 and 120 frames per second."));
    if (given.outputURL.isEmpty())
        return err(Loc::mark("Can't start writing the file."));
    // The disk watchdog would stop such a recording at its first check.
    if (services.freeSpace) {
        const std::optional<uint64_t> free = services.freeSpace(QFileInfo(given.outputURL).absolutePath());
        if (free && *free < lowDiskBytes)
            return err(Loc::mark("Not enough free disk space to record: at least 1 GB is needed."));
    }

    Config config = given;

    // Target and sizes.
    const RecordingTarget::Found found = config.target.resolve(services.source.get(), config.excludedWindows,
                                                               config.windowSize, RecordingTarget::atStart());
    if (auto e = targetError(found))
        return e;
    const ScreenFilter& filter = found.filter;
    const RecordingTarget::Sizes sizes =
        RecordingTarget::pixelSizes(found.points, filter.pointPixelScale, config.maxShortSide);
    const bool crisp = config.focus && config.focusCrisp && sizes.full != sizes.output;
    const QSize captureSize = crisp ? sizes.full : sizes.output;

    ScreenStreamConfig sc;
    sc.width = captureSize.width();
    sc.height = captureSize.height();
    sc.pixelFormat = PixelFormat::NV12VideoRange;
    if (config.target.kind == Target::Kind::area)
        sc.sourceRect = config.target.rect;
    sc.minimumFrameInterval = MediaTime(1, config.fps);
    sc.queueDepth = 5;
    sc.showsCursor = false; // the compositor draws its own

    // Cursor tracking and the compositor.
    auto track = MouseTrack::create(services.pointer ? services.pointer : PointerService::current());
    track->start(config.target.kind == Target::Kind::window ? std::optional<uint32_t>(config.target.windowID)
                                                            : std::nullopt);
    CursorCompositor::Region region;
    if (config.target.kind == Target::Kind::display)
        region = CursorCompositor::Region::display(found.displayFrame.value_or(GlobalRect()));
    else if (config.target.kind == Target::Kind::area)
        region = CursorCompositor::Region::area(found.displayFrame.value_or(GlobalRect()), config.target.rect);
    else
        region = CursorCompositor::Region::window();
    auto compositor = std::make_shared<CursorCompositor>(track, region, config.cursorSize, sizes.output,
                                                         config.cursorTheme != CursorTheme::hidden, crisp, config.focus,
                                                         found.primaryHeight);
    compositor->setNativeSystemAppearance(config.cursorTheme == CursorTheme::system && config.cursorArrow == 0
                                          && std::abs(config.cursorSize - 1.0) <= 0.01);
    compositor->setShadow(config.shadowUp, config.shadowDown);
    compositor->setLook(CursorStyle::look(config.cursorTheme, config.cursorArt, config.cursorArrow));
    compositor->setOnLens(config.lensPreview);
    compositor->setCamOverlay(config.cameraOverlay);

    // Microphone.
    if (config.microphoneID) {
        if (!services.micAccess || services.micAccess()) {
            sc.captureMicrophone = true;
            sc.microphoneDeviceId = *config.microphoneID;
        } else {
            config.microphoneID.reset();
            emitLine(Line::noMicPermission());
        }
    } else if (config.microphoneMissing) {
        emitLine(Line::micDead());
    }

    // System audio: not fatal when it cannot be had.
    std::unique_ptr<SystemAudioTap> tap;
    if (config.systemAudio) {
        tap = std::make_unique<SystemAudioTap>(config.muteSpeakers, [](const QString& s) { return Loc::text(s); },
                                               services.audioInput);
        tap->setMicrophone(config.microphoneID.value_or(QString()));
        tap->setPrioritized(true);
        try {
            tap->prepare();
        } catch (const SystemAudioTap::TapError& e) {
            tap->stop();
            tap.reset();
            config.systemAudio = false;
            {
                std::lock_guard lock(AudioCapturePermission::verificationLock());
                AudioCapturePermission::recordVerdictLocked(false);
            }
            emitLine(Line::systemAudioFailed({e.errorDescription}));
        }
    }

    m_q->sync([&] {
        m_config = config;
        m_filter = filter;
        m_scConfig = sc;
        m_outputSize = sizes.output;
        m_mouseTrack = track;
        m_cursor = compositor;
        m_frameInterval = MediaTime(1, config.fps);
        m_streamAllowed = true;
    });

    if (auto e = setupWriter(config, services.writerFactory, sizes.output)) {
        if (tap)
            tap->stop();
        return e;
    }

    // System audio starts before the picture, so the movie has sound from its
    // first frame on (what comes before that frame is kept until it comes).
    if (tap) {
        std::weak_ptr<RecorderEngine> weak = weak_from_this();
        try {
            tap->start([weak](SampleBuffer buffer) {
                auto self = weak.lock();
                if (!self)
                    return;
                // The tap's queue is its own; the buffer is handled on the engine's.
                self->m_q->async([weak, buffer = std::move(buffer)]() mutable {
                    if (auto self = weak.lock())
                        self->onSystemAudio(std::move(buffer));
                });
            });
        } catch (const SystemAudioTap::TapError& e) {
            tap->stop();
            tap.reset();
            emitLine(Line::systemAudioFailed({e.errorDescription}));
        }
    }

    if (auto e = startStream(recording, services.source, filter, sc)) {
        if (tap)
            tap->stop();
        return e;
    }

    // The camera feeds a file of its own only when it is not composited.
    if (config.camera && !config.cameraOverlay) {
        std::weak_ptr<RecorderEngine> weak = weak_from_this();
        config.camera->setOnSample([weak](const SampleBuffer& sample, bool mirrored) {
            auto self = weak.lock();
            if (!self)
                return;
            self->m_q->async([weak, sample, mirrored] {
                if (auto self = weak.lock())
                    self->handleCamera(sample, mirrored);
            });
        });
    }

    QSize output;
    m_q->sync([&] {
        m_tap = std::move(tap);
        m_camera = config.camera;
        m_state = State::recording;
        m_startPending = false;
        holdAwake();
        const double interval = std::max(1.0 / config.fps, heartbeatMinInterval);
        std::weak_ptr<RecorderEngine> weak = weak_from_this();
        m_heartbeatTimer = m_q->scheduleTimer(
            queueSeconds(interval), queueSeconds(interval),
            [weak] {
                if (auto self = weak.lock())
                    self->onHeartbeat();
            },
            2ms);
        output = m_outputSize;
    });
    emitLine(Line::started(
        {QString::number(output.width()), QString::number(output.height()), QString::number(config.fps)}));
    return std::nullopt;
}

void RecorderEngine::cleanUpAfterFailedStart()
{
    StreamHandle stream;
    std::shared_ptr<MovieWriter> writer;
    std::unique_ptr<SystemAudioTap> tap;
    QString path;
    bool clean = false;
    m_q->sync([&] {
        // Only a start that failed has anything to clean up: a running recording,
        // or the finished movie of the last one, stays as it is.
        if (m_state != State::idle || !m_startPending)
            return;
        m_startPending = false;
        clean = true;
        tap = detachFeeds();
        if (m_config && m_config->camera)
            m_config->camera->setOnSample({});
        stream = std::exchange(m_stream, {});
        m_streamAllowed = false;
        m_sessionStarted = false;
        m_earlySound.clear();
        writer = m_writer;
        if (m_config)
            path = m_config->outputURL;
    });
    if (!clean)
        return;
    if (tap)
        tap->stop();
    if (stream.stream)
        m_control->sync([&] { stream.stream->stop(); });
    // Only a file this start opened is removed.
    if (writer) {
        writer->cancelWriting();
        if (!path.isEmpty())
            QFile::remove(path);
    }
    RecoveryJournal::end();
}

} // namespace corvessa
