#include "engine/RecorderEngine.h"

#include "capture/AudioCapturePermission.h"
#include "capture/AudioLevel.h"
#include "capture/CameraOverlayState.h"
#include "capture/OwnedPixels.h"
#include "platform/core/RecorderLog.h"
#include "capture/SystemAudioTap.h"
#include "engine/CameraFeed.h"
#include "engine/FinishedFile.h"
#include "engine/compositor/CursorCompositor.h"
#include "engine/compositor/CursorStyle.h"
#include "engine/compositor/FocusState.h"
#include "engine/compositor/MouseTrack.h"
#include "engine/compositor/PenBoard.h"
#include "engine/RecoveryJournal.h"
#include "platform/AudioInput.h"
#include "platform/AudioInputError.h"
#include "platform/core/HostClock.h"
#include "platform/core/MainQueue.h"
#include "platform/PointerService.h"
#include "platform/PowerControl.h"
#include "prefs/Loc.h"
#include "prefs/MovieBitRate.h"

#include <QFile>
#include <QFileInfo>

#include <sys/statvfs.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <future>

namespace corvessa {

namespace {

using namespace std::chrono_literals;

SerialQueue::Duration seconds(double s)
{
    return std::chrono::duration_cast<SerialQueue::Duration>(std::chrono::duration<double>(s));
}

QString attachmentText(const PixelBuffer& pixels, const QString& key)
{
    const QVariant v = pixels.attachment(key);
    return v.typeId() == QMetaType::QString ? v.toString() : QStringLiteral("nil");
}

std::optional<uint64_t> statvfsFreeSpace(const QString& folder)
{
    struct statvfs st {};
    if (::statvfs(QFile::encodeName(folder).constData(), &st) != 0)
        return std::nullopt;
    return uint64_t(st.f_bavail) * uint64_t(st.f_frsize);
}

// Seconds as the event lines give them.
QString secondsText(double seconds)
{
    return QString::number(seconds, 'f', 1);
}

} // namespace

// The state of one stop call, shared by the steps that run on the engine queue.
struct RecorderEngine::StopRun {
    std::promise<std::optional<QString>> result;
    std::shared_future<std::optional<QString>> future = result.get_future().share();
    MediaTime capturedUntil;   // host clock: the sources were cut off here
    double deadline = 0;       // host seconds: the sound is given up unless the writer takes some before
    int64_t drainedCursor = 0; // the mixer's cursor when the deadline was set
    bool done = false;
    // Begun by the engine itself; `claimed` once a stop() call has waited for it.
    bool selfStarted = false;
    bool claimed = false;

    void finish(std::optional<QString> url)
    {
        if (done)
            return;
        done = true;
        result.set_value(std::move(url));
    }
};

std::shared_ptr<RecorderEngine> RecorderEngine::create()
{
    return std::make_shared<RecorderEngine>(Passkey{});
}

RecorderEngine::RecorderEngine(Passkey)
    : m_guard([this](const QString& line) { emitLine(line); })
    , m_cameraFile(cameraHost(), stopDrainSeconds, drainPollSeconds)
    , m_control(std::make_unique<SerialQueue>("recorder.engine.control", SerialQueue::QoS::UserInitiated))
    , m_q(std::make_unique<SerialQueue>("recorder.engine", SerialQueue::QoS::UserInitiated))
{
    m_services.freeSpace = statvfsFreeSpace;
    m_lastMicBufferAt = m_micWatchSince = HostClock::seconds();
}

RecorderEngine::~RecorderEngine()
{
    // Owners stop before letting go; this only makes sure nothing keeps running.
    if (m_heartbeatTimer)
        m_heartbeatTimer->cancel();
    if (m_retryWork)
        m_retryWork->cancel();
    for (auto& w : m_pauseWork)
        w->cancel();
    if (m_tap)
        m_tap->stop();
    if (m_camera)
        m_camera->setOnSample({});
    if (m_mouseTrack)
        m_mouseTrack->stop();
    if (m_stream.stream)
        m_stream.stream->stop();
    if (m_awakeID && m_power)
        m_power->release(m_awakeID);
}

// MARK: - Services

void RecorderEngine::setScreenSource(std::shared_ptr<ScreenSource> source)
{
    m_q->sync([&] { m_services.source = std::move(source); });
}

void RecorderEngine::setWriterFactory(MovieWriterFactory factory)
{
    m_q->sync([&] { m_services.writerFactory = std::move(factory); });
}

void RecorderEngine::setAudioInput(std::shared_ptr<AudioInput> input)
{
    m_q->sync([&] { m_services.audioInput = std::move(input); });
}

void RecorderEngine::setPointerService(std::shared_ptr<PointerService> pointer)
{
    m_q->sync([&] { m_services.pointer = std::move(pointer); });
}

void RecorderEngine::setFreeSpaceProbe(FreeSpaceProbe probe)
{
    m_q->sync([&] { m_services.freeSpace = probe ? std::move(probe) : FreeSpaceProbe(statvfsFreeSpace); });
}

void RecorderEngine::setPowerControl(std::shared_ptr<PowerControl> power)
{
    // The control queue owns the hold; a change waits for what it is doing.
    m_control->sync([&] { m_power = std::move(power); });
}

void RecorderEngine::setMicrophoneAccess(MicrophoneAccess access)
{
    m_q->sync([&] { m_services.micAccess = std::move(access); });
}

void RecorderEngine::setTierDelays(double ecoAfter, double deepAfter)
{
    m_q->sync([&] {
        m_ecoAfter = ecoAfter;
        m_deepAfter = deepAfter;
    });
}

// MARK: - Reading

double RecorderEngine::effectiveSeconds() const
{
    return *m_effective.lock();
}

RecorderEngine::State RecorderEngine::state() const
{
    State s{};
    m_q->sync([&] { s = m_state; });
    return s;
}

RecorderEngine::PauseTier RecorderEngine::tier() const
{
    PauseTier t{};
    m_q->sync([&] { t = m_tier; });
    return t;
}

RecorderEngine::Stats RecorderEngine::stats() const
{
    Stats s;
    m_q->sync([&] {
        s.writtenVideo = m_writtenVideo;
        s.droppedVideo = m_droppedVideo;
        s.repeatedVideo = m_repeatedVideo;
        s.audioFrames = m_audioMixer.cursor();
        s.audioDiscarded = m_audioMixer.discarded();
        s.audioOverlap = m_audioMixer.overlap();
        s.audioResyncs = m_audioMixer.resyncs();
        s.audioMissing = m_audioMixer.discarded() + m_soundSkipped + m_soundTail;
    });
    return s;
}

QSize RecorderEngine::outputSize() const
{
    QSize size;
    m_q->sync([&] { size = m_outputSize; });
    return size;
}

std::shared_ptr<MouseTrack> RecorderEngine::mouseTrack() const
{
    std::shared_ptr<MouseTrack> track;
    m_q->sync([&] { track = m_mouseTrack; });
    return track;
}

std::vector<QString> RecorderEngine::cameraFileURLs() const
{
    std::vector<QString> urls;
    m_q->sync([&] { urls = m_cameraFile.cameraFileURLs(); });
    return urls;
}

std::optional<QString> RecorderEngine::cameraFileURL() const
{
    std::optional<QString> url;
    m_q->sync([&] { url = m_cameraFile.cameraFileURL(); });
    return url;
}

// MARK: - Helpers

const char* RecorderEngine::tierName(PauseTier tier)
{
    switch (tier) {
    case PauseTier::instant:
        return "instant";
    case PauseTier::eco:
        return "eco";
    case PauseTier::deep:
        return "deep";
    }
    return "instant";
}

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

void RecorderEngine::emitLine(const QString& line)
{
    if (onEvent)
        onEvent(line);
}

void RecorderEngine::setTier(std::optional<PauseTier> tier)
{
    if (tier)
        m_tier = *tier;
    if (onPauseTierChange)
        onPauseTierChange(tier);
}

// MARK: - Start

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

std::optional<RecorderError> RecorderEngine::setupWriter(const Config& config, const MovieWriterFactory& factory,
                                                         QSize size)
{
    QFile::remove(config.outputURL);

    MovieWriter::Settings settings;
    settings.path = config.outputURL;
    settings.fragmentInterval = 2.0;
    MovieWriter::VideoSettings video;
    video.width = size.width();
    video.height = size.height();
    video.averageBitRate =
        MovieBitRate::screen(config.qualityTier, config.customMbps, size.width(), size.height(), config.fps);
    video.expectedFrameRate = config.fps;
    video.maxKeyFrameInterval = 2.0;
    video.allowFrameReordering = false;
    video.colorTags = true;
    settings.video = video;
    settings.audio = MovieWriter::AudioSettings{48000, 2, 128000};

    std::shared_ptr<MovieWriter> writer = factory ? factory(settings) : MovieWriter::create(settings);
    if (!writer)
        return err(Loc::mark("Can't start writing the file."));
    m_q->sync([&] {
        m_writer = writer;
        m_hasVideoIn = writer->hasInput(MovieWriter::Input::Video);
        m_hasAudioIn = writer->hasInput(MovieWriter::Input::Audio);
    });
    if (!writer->startWriting()) {
        if (auto e = writer->error())
            return e;
        return err(Loc::mark("Can't start writing the file."));
    }
    RecoveryJournal::begin(config.outputURL);
    return std::nullopt;
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
            seconds(interval), seconds(interval),
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

// MARK: - Stream output

void RecorderEngine::onScreenSample(uint64_t token, const SampleBuffer& sample)
{
    if (!m_stream.stream || token != m_stream.token)
        return;
    const PixelBufferRef& pixels = sample.imageBuffer();
    if (pixels) {
        if (!m_loggedColorTags) {
            m_loggedColorTags = true;
            RecorderLog::write(QStringLiteral("[color] capture frame: primaries=")
                               + attachmentText(*pixels, PixelAttachmentKey::ColorPrimaries)
                               + QStringLiteral(" transfer=")
                               + attachmentText(*pixels, PixelAttachmentKey::TransferFunction)
                               + QStringLiteral(" matrix=") + attachmentText(*pixels, PixelAttachmentKey::YCbCrMatrix));
        }
        if (pixels->format() != PixelFormat::BGRA) {
            // The movie is tagged the same way.
            pixels->setAttachment(PixelAttachmentKey::ColorPrimaries, ColorTag::PrimariesBT709, true);
            pixels->setAttachment(PixelAttachmentKey::TransferFunction, ColorTag::TransferSRGB, true);
            pixels->setAttachment(PixelAttachmentKey::YCbCrMatrix, ColorTag::MatrixBT709, true);
        }
    }
    handleVideo(sample, false);
}

void RecorderEngine::onMicrophoneSample(uint64_t token, const SampleBuffer& given)
{
    // The microphone starts before the stream is in place; what it hears meanwhile counts.
    const bool starting = !m_stream.stream && token == m_startingToken && takesEarlySound();
    if (!starting && (!m_stream.stream || token != m_stream.token))
        return;
    SampleBuffer buffer = given;
    if (!m_loggedMicFormat && buffer.audioFormat()) {
        m_loggedMicFormat = true;
        const AudioFormat& f = *buffer.audioFormat();
        emitLine(Line::micFormat({QString::number(int64_t(f.sampleRate)), QString::number(f.channelsPerFrame),
                                  QString::number(f.bitsPerChannel), QString::number(f.formatFlags, 16),
                                  QString::number(f.bytesPerFrame)}));
    }
    m_lastMicBufferAt = HostClock::seconds();
    m_micDeadNotified = m_micDeadSinceBuffer = false;
    noteGap(m_micGap, buffer, Line::micGap);
    if (auto stats = AudioLevel::process(buffer, gains.mic()); stats && onMicLevel)
        onMicLevel(*stats);
    const std::vector<SampleBuffer> converted = m_micNormalizer.convert(buffer);
    if (converted.empty())
        return;
    for (const SampleBuffer& c : converted) {
        if (m_hasAudioIn && (m_sessionStarted ? m_state == State::recording || m_state == State::paused
                                              : takesEarlySound())) {
            m_receivedMicrophone = true;
            placeSound(AudioTimelineMixer::Source::microphone, c);
        }
        handleCameraAudio(c);
    }
    drainAudio(false);
}

void RecorderEngine::onSystemAudio(SampleBuffer buffer)
{
    auto stats = AudioLevel::process(buffer, gains.sys());
    if (!stats)
        return;
    if (onSysLevel)
        onSysLevel(*stats);
    if (m_sessionStarted ? m_state != State::recording && m_state != State::paused : !takesEarlySound())
        return;
    noteGap(m_systemGap, buffer, Line::systemGap);
    for (const SampleBuffer& c : m_systemNormalizer.convert(buffer))
        placeSound(AudioTimelineMixer::Source::system, c);
    drainAudio(false);
}

void RecorderEngine::noteGap(SourceGap& gap, const SampleBuffer& buffer, const EngineLine& line)
{
    if (!m_sessionStarted || (m_state != State::recording && m_state != State::paused))
        return;
    if (const auto missing = gap.arrived(buffer.presentationTime(), buffer.duration(), m_timeline))
        emitLine(line({secondsText(*missing)}));
}

bool RecorderEngine::takesEarlySound() const
{
    // From the start of the sources until the first frame.
    return !m_sessionStarted && (m_startPending || m_state == State::recording);
}

void RecorderEngine::placeSound(AudioTimelineMixer::Source source, const SampleBuffer& buffer)
{
    if (m_sessionStarted) {
        m_audioMixer.place(buffer, source, m_timeline);
        return;
    }
    // No timeline yet: kept, the oldest going first once there is too much.
    m_earlySound.emplace_back(source, buffer);
    int64_t frames = 0;
    for (const auto& [s, b] : m_earlySound)
        frames += int64_t(b.frameCount());
    while (frames > earlySoundFrames && m_earlySound.size() > 1) {
        frames -= int64_t(m_earlySound.front().second.frameCount());
        m_earlySound.pop_front();
    }
}

void RecorderEngine::onStreamStopped(uint64_t token, const RecorderError& error)
{
    if (!m_stream.stream || token != m_stream.token)
        return;
    if (m_state == State::paused) {
        // Resume rebuilds it.
        auto stream = std::exchange(m_stream, {}).stream;
        m_control->async([stream] { stream->stop(); });
        return;
    }
    if (m_state != State::recording)
        return;
    if (isWindowGone(error))
        windowClosed();
    else
        enterLoss();
}

bool RecorderEngine::isWindowGone(const RecorderError& error) const
{
    return m_config && m_config->target.kind == Target::Kind::window && error.domain == ScreenCaptureErrorDomain
        && error.code == int(ScreenCaptureErrorCode::WindowUnavailable);
}

void RecorderEngine::windowClosed()
{
    // Nothing to retry: a closed window does not come back. The last picture
    // goes on until the owner stops.
    if (m_retryWork) {
        m_retryWork->cancel();
        m_retryWork.reset();
    }
    if (m_stream.stream) {
        auto stream = std::exchange(m_stream, {}).stream;
        m_control->async([stream] { stream->stop(); });
    }
    m_restartingStream = false;
    if (!std::exchange(m_windowClosedSent, true))
        emitLine(Line::windowClosed());
}

void RecorderEngine::enterLoss()
{
    if (m_restartingStream)
        return;
    if (m_stream.stream) {
        auto stream = std::exchange(m_stream, {}).stream;
        m_control->async([stream] { stream->stop(); });
    }
    m_restartingStream = true;
    emitLine(Line::screenLost());
    retryStream();
}

void RecorderEngine::retryStream()
{
    // Belongs to this recording: a later one never sees it run.
    if (m_retryWork)
        m_retryWork->cancel();
    const uint64_t recording = m_recording;
    std::weak_ptr<RecorderEngine> weak = weak_from_this();
    m_retryWork = m_q->asyncAfter(seconds(streamRetryDelay), [weak, recording] {
        if (auto self = weak.lock())
            self->retryAttempt(recording);
    });
}

void RecorderEngine::retryAttempt(uint64_t recording)
{
    if (recording != m_recording)
        return;
    m_retryWork.reset();
    if (m_state != State::recording) {
        m_restartingStream = false;
        return;
    }
    const bool checkMic = m_config && m_config->microphoneID && m_scConfig.captureMicrophone;
    const QString micID = checkMic ? *m_config->microphoneID : QString();
    std::shared_ptr<AudioInput> input = m_services.audioInput;
    Rebuild rebuild = rebuildRequest();
    std::weak_ptr<RecorderEngine> weak = weak_from_this();
    m_control->async([weak, recording, checkMic, micID, input, rebuild]() mutable {
        auto self = weak.lock();
        if (!self)
            return;
        bool micGone = false;
        if (checkMic) {
            try {
                auto audio = input ? input : AudioInput::current();
                const auto sources = audio ? audio->sources() : std::vector<AudioDevice>{};
                if (micID.isEmpty())
                    micGone = sources.empty();
                else
                    micGone = std::none_of(sources.begin(), sources.end(),
                                           [&](const AudioDevice& d) { return d.name == micID; });
            } catch (const AudioInputError&) {
                micGone = true;
            }
            if (micGone)
                rebuild.sc.captureMicrophone = false;
        }
        std::optional<RecorderError> error = self->rebuildFilter(rebuild);
        if (!error)
            error = self->startStream(recording, rebuild.source, rebuild.filter, rebuild.sc);
        self->m_q->async([weak, recording, micGone, error] {
            auto self = weak.lock();
            if (!self || recording != self->m_recording || !self->m_streamAllowed)
                return;
            if (micGone && self->m_scConfig.captureMicrophone) {
                self->m_scConfig.captureMicrophone = false;
                self->emitLine(Line::micGone());
            }
            if (!error) {
                self->m_restartingStream = false;
                self->m_streamRetries = 0;
                self->emitLine(Line::screenRestored());
                return;
            }
            if (self->m_state == State::recording && self->isWindowGone(*error)) {
                self->windowClosed();
                return;
            }
            self->m_streamRetries += 1;
            if (self->m_streamRetries > 2 && self->m_scConfig.captureMicrophone) {
                self->m_scConfig.captureMicrophone = false;
                self->m_streamRetries = 0;
                self->emitLine(Line::micCouldNotConnect());
            }
            self->retryStream();
        });
    });
}

// MARK: - Frame path

SampleBuffer RecorderEngine::makeSampleBuffer(const PixelBufferRef& image, MediaTime pts) const
{
    return SampleBuffer::video(image, pts, m_frameInterval);
}

void RecorderEngine::handleVideo(const SampleBuffer& sample, bool force)
{
    if (!force) {
        const PixelBufferRef& pixels = sample.imageBuffer();
        if (!pixels)
            return;
        const QVariant status = pixels->attachment(PixelAttachmentKey::FrameStatus);
        if (!status.isValid() || status.toInt() != int(FrameStatus::Complete))
            return;
        m_lastPixelBuffer = pixels;
    }
    if (m_state != State::recording)
        return;
    const MediaTime pts = sample.presentationTime();
    if (!pts.isValid())
        return;
    if (m_lastVideoPTS.isValid() && pts <= m_lastVideoPTS)
        return;
    // A captured frame right after a re-sent one would only double it.
    if (!force && m_lastFrameSynthetic && m_lastVideoPTS.isValid() && !m_resumeWaiting
        && pts - m_lastVideoPTS < m_frameInterval.multiplied(1, 2))
        return;

    if (m_sessionStarted) {
        if (m_resumeWaiting) {
            if (m_resumePTS.isNumeric() && pts < m_resumePTS)
                return;
            m_resumeWaiting = false;
            if (m_resumeTimeout)
                m_resumeTimeout->cancel();
            m_resumeTimeout.reset();
        }
    } else {
        if (m_writer)
            m_writer->startSession(pts);
        m_sessionStarted = true;
        m_firstPTS = pts;
        m_timeline.origin = pts;
        // What the sources caught before this frame: from the frame's time on, it
        // is the movie's. A frame that was long on its way (a busy machine) can
        // come more than the mixer's second ahead after its time: aim the
        // mixer's window at now first, as the next drain would.
        m_audioMixer.due(AudioTimelineMixer::outputFrame(
            m_timeline.boundary(HostClock::now() - MediaTime::fromSeconds(audioLagSeconds)), m_firstPTS));
        for (const auto& [source, buffer] : std::exchange(m_earlySound, {}))
            m_audioMixer.place(buffer, source, m_timeline);
    }

    if (!m_writer || m_writer->status() != MovieWriter::Status::Writing
        || !m_writer->isReadyForMoreMediaData(MovieWriter::Input::Video)) {
        ++m_droppedVideo;
        return;
    }
    const std::optional<MediaTime> adjusted = m_timeline.mapped(pts);
    if (!adjusted)
        return;

    // Which camera layout travels with the frame, and whether it must wait for
    // the camera picture of its moment.
    std::optional<CameraOverlayState::Layout> layout;
    bool deferCamera = false;
    if (m_config && m_config->cameraOverlay) {
        const CameraOverlayState::Layout l = m_config->cameraOverlay->layout();
        layout = l;
        if (l.fullScreen)
            deferCamera = true;
        else if (l.visible)
            deferCamera = l.frame.width() > CameraOverlayState::kMinDrawableWidth;
    } else if (m_config && m_config->camera) {
        if (auto own = m_config->camera->overlay()) {
            const CameraOverlayState::Layout l = own->layout();
            if (l.fullScreen) {
                layout = l;
                deferCamera = true;
            }
        }
    }

    const PixelBufferRef image = sample.imageBuffer();
    PixelBufferRef out;
    if (m_cursor && image)
        out = m_cursor->render(image, pts, deferCamera);
    if (!out) {
        // A frame that must carry drawing is never written bare.
        if (m_cursor && (deferCamera || m_cursor->alwaysRender())) {
            ++m_droppedVideo;
            return;
        }
        out = image;
        if (!out)
            return;
    }

    const MediaTime now = HostClock::now();
    if (!deferCamera || !layout) {
        drainVideoSync(true, now);
        appendVideo(out, *adjusted, force);
    } else {
        VideoSyncQueue::Frame frame;
        frame.buffer = out;
        frame.pts = pts;
        frame.adjusted = *adjusted;
        frame.layout = *layout;
        frame.minimumCameraPTS = m_resumePTS.isNumeric() ? m_resumePTS : m_firstPTS;
        if (m_mouseTrack)
            frame.windowFrame = m_mouseTrack->windowFrame();
        m_videoSync.append(std::move(frame));
        drainVideoSync(false, now);
    }

    m_lastVideoPTS = pts;
    m_lastAdjusted = *adjusted;
    m_lastFrameSynthetic = force;
    *m_effective.lock() = (*adjusted - m_firstPTS).seconds();
}

void RecorderEngine::appendVideo(const PixelBufferRef& image, MediaTime adjusted, bool repeated)
{
    if (!m_writer || m_writer->status() != MovieWriter::Status::Writing
        || !m_writer->isReadyForMoreMediaData(MovieWriter::Input::Video)) {
        ++m_droppedVideo;
        return;
    }
    std::optional<SampleBuffer> sample = MediaTime::image(image, adjusted, m_frameInterval);
    if (!sample) {
        ++m_droppedVideo;
        return;
    }
    if (m_guard.safeAppend(*m_writer, MovieWriter::Input::Video, *sample, Loc::text(QStringLiteral("Screen")))) {
        ++m_writtenVideo;
        if (repeated)
            ++m_repeatedVideo;
    } else if (m_writer->status() == MovieWriter::Status::Failed) {
        const auto e = m_writer->error();
        emitLine(Line::videoWriteFailed({e ? e->message : QStringLiteral("?")}));
    }
}

// MARK: - Heartbeat and watchdogs

void RecorderEngine::onHeartbeat()
{
    checkWriter();
    const MediaTime now = HostClock::now();
    drainVideoSync(false, now);
    const double interval = std::max(1.0 / std::max(1, m_config ? m_config->fps : 30), heartbeatMinInterval);
    const bool needsFrames =
        m_frameDemand.needsFrames(m_cursor.get(), m_config ? &*m_config : nullptr, m_mouseTrack.get(), HostClock::seconds());
    heartbeat(needsFrames ? 0.9 * interval : 0.9);
    drainAudio(false);
    writeOutPause();
    checkMicAlive();
    checkDiskSpace();
}

bool RecorderEngine::recordsAudio() const
{
    return m_config.has_value(); // silence where no source delivered: every player opens the movie
}

bool RecorderEngine::recordsMicrophone() const
{
    return m_config && (m_config->microphoneID || m_receivedMicrophone);
}

void RecorderEngine::drainAudio(bool final)
{
    if (!m_sessionStarted || !m_config)
        return;
    const MediaTime end = final ? m_lastAdjusted + m_frameInterval
                                : m_timeline.boundary(HostClock::now() - MediaTime::fromSeconds(audioLagSeconds));
    const int64_t target = AudioTimelineMixer::outputFrame(end, m_firstPTS);
    // Mixed 0.35 s behind real time, or later while a source is late under load.
    const int64_t frames = final ? target : m_audioMixer.due(target);

    if (recordsAudio()) {
        if (m_writer && m_hasAudioIn && m_writer->status() == MovieWriter::Status::Writing)
            m_soundSkipped +=
                m_guard.appendSound(*m_writer, m_audioMixer, frames, m_firstPTS, final, QStringLiteral("Mixed audio"));
    } else if (m_audioMixer.cursor() < frames) {
        m_audioMixer.commit(frames - m_audioMixer.cursor());
    }
    // The camera file's sound: the microphone alone.
    m_cameraFile.drainSound(target, m_firstPTS, final, recordsMicrophone());
}

void RecorderEngine::drainVideoSync(bool flush, MediaTime now)
{
    while (!m_videoSync.isEmpty()) {
        const VideoSyncQueue::Frame& front = m_videoSync.front();
        const int64_t size = front.buffer ? int64_t(OwnedPixels::bytes(*front.buffer)) : 0;
        const bool stays = !flush && m_videoSync.count() < VideoSyncQueue::kMaxFrames
                           && m_videoSync.bytes() + size <= VideoSyncQueue::kMaxBytes
                           && (now - front.pts).seconds() < syncGraceSeconds;
        if (stays)
            break;
        std::optional<VideoSyncQueue::Frame> frame = m_videoSync.popFront();
        if (!frame)
            break;
        std::shared_ptr<CameraOverlayState> overlay;
        if (m_config)
            overlay = m_config->cameraOverlay ? m_config->cameraOverlay
                                              : (m_config->camera ? m_config->camera->overlay() : nullptr);
        std::optional<CameraOverlayState::Snapshot> snap;
        if (overlay)
            snap = overlay->snapshot(frame->pts, frame->layout, frame->minimumCameraPTS);
        if (snap)
            ++m_matchedCameraFrames;
        else
            ++m_missingCameraFrames;
        PixelBufferRef out;
        if (m_cursor)
            out = m_cursor->overlayCamera(frame->buffer, snap, frame->windowFrame, frame->layout.fullScreen);
        if (out)
            appendVideo(out, frame->adjusted, false);
        else
            ++m_droppedVideo;
    }
    const double nowSeconds = now.seconds();
    if (nowSeconds - m_lastSyncReport >= 5 && m_config && m_config->cameraOverlay) {
        emitLine(Line::videoSync({QString::number(m_videoSync.count()), QString::number(m_videoSync.bytes() / 1024),
                                  QString::number(m_videoSync.dropped()), QString::number(m_matchedCameraFrames),
                                  QString::number(m_missingCameraFrames)}));
        m_lastSyncReport = nowSeconds;
    }
}

void RecorderEngine::heartbeat(double minGap)
{
    if (m_state != State::recording || m_resumeWaiting || !m_lastPixelBuffer)
        return;
    const MediaTime now = HostClock::now();
    if (m_lastVideoPTS.isValid() && (now - m_lastVideoPTS).seconds() < minGap)
        return;
    handleVideo(makeSampleBuffer(m_lastPixelBuffer, now), true);
}

void RecorderEngine::checkMicAlive()
{
    if (m_state != State::recording || !m_hasAudioIn || !m_scConfig.captureMicrophone || m_restartingStream
        || m_microphoneConfigurationsInFlight != 0 || !m_stream.stream || m_micDeadNotified)
        return;
    const double silence = HostClock::seconds() - std::max(m_lastMicBufferAt, m_micWatchSince);
    if (silence > micSilenceSeconds) {
        m_micDeadNotified = m_micDeadSinceBuffer = true;
        m_audioMixer.stop(AudioTimelineMixer::Source::microphone);
        m_cameraFile.microphoneStopped();
        emitLine(Line::micDead());
    }
}

void RecorderEngine::checkDiskSpace()
{
    if (m_state != State::recording || m_diskStopSent || !m_config)
        return;
    const double now = HostClock::seconds();
    if (now - m_lastDiskCheck < diskCheckEvery)
        return;
    m_lastDiskCheck = now;
    const QString folder = QFileInfo(m_config->outputURL).absolutePath();
    const std::optional<uint64_t> free = m_services.freeSpace ? m_services.freeSpace(folder) : std::nullopt;
    if (!free)
        return;
    // A writer that has failed already is reported as a failed save, never as saved.
    if (*free < lowDiskBytes && m_writer && m_writer->status() == MovieWriter::Status::Writing) {
        m_diskStopSent = true;
        emitLine(Line::lowDisk({QString::number(*free / 1048576)}));
    }
}

void RecorderEngine::checkWriter()
{
    if ((m_state != State::recording && m_state != State::paused) || m_writerFailSent || !m_writer
        || m_writer->status() != MovieWriter::Status::Failed)
        return;
    m_writerFailSent = true;
    emitLine(Line::saveFailed({EngineLine::reason(m_writer->error())}));
    stopFromQueue();
}

void RecorderEngine::holdAwake()
{
    if (m_awakeHeld)
        return;
    m_awakeHeld = true;
    // The session bus may be slow; the hold is taken and given back in order on
    // the control queue.
    const QString reason = Loc::text(QStringLiteral("Recorder is recording"));
    std::weak_ptr<RecorderEngine> weak = weak_from_this();
    m_control->async([weak, reason] {
        auto self = weak.lock();
        if (!self || self->m_awakeID)
            return;
        if (!self->m_power)
            self->m_power = PowerControl::create([](const QString& line) { RecorderLog::write(line); });
        self->m_awakeID = self->m_power->holdDisplayAwake(reason);
    });
}

std::unique_ptr<SystemAudioTap> RecorderEngine::detachFeeds()
{
    if (m_heartbeatTimer)
        m_heartbeatTimer->cancel();
    m_heartbeatTimer.reset();
    if (m_mouseTrack)
        m_mouseTrack->stop();
    if (m_cursor && m_config && m_config->lensPreview)
        m_config->lensPreview(std::nullopt);
    releaseAwake();
    if (m_camera)
        m_camera->setOnSample({});
    m_camera.reset();
    return std::move(m_tap);
}

void RecorderEngine::releaseAwake()
{
    if (!m_awakeHeld)
        return;
    m_awakeHeld = false;
    std::weak_ptr<RecorderEngine> weak = weak_from_this();
    m_control->async([weak] {
        auto self = weak.lock();
        if (!self || !self->m_awakeID)
            return;
        if (self->m_power)
            self->m_power->release(self->m_awakeID);
        self->m_awakeID = 0;
    });
}

// MARK: - Camera hooks

void RecorderEngine::handleCamera(const SampleBuffer& sample, bool mirrored)
{
    // Until a recording has its first frame and runs, pictures have no place on
    // the camera file's timeline. Pictures still queued when the camera was
    // detached are dropped too.
    if (!sample.imageBuffer() || !m_camera || m_state != State::recording || !m_sessionStarted || m_resumeWaiting)
        return;
    const MediaTime pts = sample.presentationTime();
    if (!pts.isValid() || (m_resumePTS.isValid() && pts < m_resumePTS) || pts < m_firstPTS)
        return;
    if (m_cameraFile.write(sample, mirrored, movieClock()))
        return;
    // The file is broken for good: no more pictures for this recording.
    m_camera->setOnSample({});
    m_camera.reset();
}

void RecorderEngine::handleCameraAudio(const SampleBuffer& buffer)
{
    if (!m_config || m_config->cameraOverlay || !m_camera || !m_sessionStarted
        || (m_state != State::recording && m_state != State::paused))
        return;
    m_cameraFile.placeSound(buffer, m_timeline);
}

CameraSideFile::MovieClock RecorderEngine::movieClock() const
{
    CameraSideFile::MovieClock clock;
    clock.origin = m_firstPTS;
    clock.offset = m_offset;
    clock.frameInterval = m_frameInterval;
    clock.lastAdjusted = m_lastAdjusted;
    clock.withSound = recordsMicrophone();
    return clock;
}

CameraSideFile::Host RecorderEngine::cameraHost()
{
    // Every call comes on the engine queue while the engine runs it, so the
    // engine can be held from there on.
    CameraSideFile::Host host;
    host.emitLine = [this](const QString& line) { emitLine(line); };
    host.addToJournal = [](const QString& path) { RecoveryJournal::add(path); };
    host.segmentOpened = [this] { drainAudio(false); };
    host.post = [this](std::function<void()> work) {
        m_q->async([self = shared_from_this(), work = std::move(work)] { work(); });
    };
    host.postAfter = [this](double delay, std::function<void()> work) {
        m_q->asyncAfter(seconds(delay), [self = shared_from_this(), work = std::move(work)] { work(); });
    };
    host.finishWriting = [this](const std::shared_ptr<MovieWriter>& writer, std::function<void()> done) {
        finishOnQueue(*writer, std::move(done));
    };
    return host;
}

void RecorderEngine::finishOnQueue(MovieWriter& writer, std::function<void()> done)
{
    auto self = shared_from_this();
    writer.finishWriting([self, done = std::move(done)]() mutable {
        self->m_q->async([self, done = std::move(done)] { done(); });
    });
}

// MARK: - Pause and resume

void RecorderEngine::schedulePauseWork(double secondsFromNow, std::function<void()> work)
{
    WorkItemRef item = m_q->asyncAfter(seconds(secondsFromNow), std::move(work));
    m_pauseWork.push_back(item);
}

void RecorderEngine::pause(std::function<void()> then)
{
    std::weak_ptr<RecorderEngine> weak = weak_from_this();
    m_q->async([weak, then = std::move(then)] {
        auto self = weak.lock();
        if (!self || self->m_state != State::recording)
            return;
        const MediaTime now = HostClock::now();
        self->m_timeline.pause(now);
        if (self->m_sessionStarted) {
            self->m_pauseWriteOut = self->m_timeline.boundary(now);
            self->m_pauseWriteOutAt = HostClock::seconds() + audioLagSeconds + pauseWriteOutRetry;
        }
        self->m_state = State::paused;
        self->setTier(PauseTier::instant);
        if (then)
            MainQueue::async(then);
        if (self->m_tap)
            self->m_tap->pause();
        if (self->m_mouseTrack)
            self->m_mouseTrack->stop();
        if (self->m_resumeTimeout)
            self->m_resumeTimeout->cancel();
        self->m_resumeTimeout.reset();
        self->emitLine(Line::paused());
        self->schedulePauseWork(self->m_ecoAfter, [weak] {
            if (auto self = weak.lock())
                self->enterEco();
        });
        self->schedulePauseWork(self->m_deepAfter, [weak] {
            if (auto self = weak.lock())
                self->enterDeep();
        });
    });
}

void RecorderEngine::enterEco()
{
    if (m_state != State::paused || m_tier != PauseTier::instant)
        return;
    setTier(PauseTier::eco);
    m_scConfig.minimumFrameInterval = MediaTime(1, 1);
    if (auto stream = m_stream.stream) {
        const ScreenStreamConfig sc = m_scConfig;
        m_control->async([stream, sc] { stream->updateConfiguration(sc); });
    }
    emitLine(Line::eco());
}

void RecorderEngine::enterDeep()
{
    if (m_state != State::paused || m_tier == PauseTier::deep)
        return;
    setTier(PauseTier::deep);
    if (auto stream = std::exchange(m_stream, {}).stream)
        m_control->async([stream] { stream->stop(); });
    if (m_camera) {
        m_camera->suspend();
        m_suspendedCamera = m_camera;
    }
    releaseAwake();
    emitLine(Line::deep());
}

void RecorderEngine::writeOutPause()
{
    if (!m_pauseWriteOut || m_state != State::paused)
        return;
    const int64_t endFrame = AudioTimelineMixer::outputFrame(*m_pauseWriteOut, m_firstPTS);
    // Every source has delivered up to the pause, or is no longer waited for.
    const bool mixed = m_audioMixer.due(endFrame) >= endFrame && m_cameraFile.soundDue(endFrame);
    if (!mixed && HostClock::seconds() < m_pauseWriteOutAt)
        return;
    if (mixed) {
        // The mix up to the pause goes out whole, its last short block too.
        if (recordsAudio() && m_writer && m_hasAudioIn && m_writer->status() == MovieWriter::Status::Writing)
            m_guard.appendSound(*m_writer, m_audioMixer, endFrame, m_firstPTS, true, QStringLiteral("Mixed audio"));
        m_cameraFile.drainSound(endFrame, m_firstPTS, true, recordsMicrophone());
    }
    if (m_writer && m_writer->status() == MovieWriter::Status::Writing)
        m_writer->flushFragment(*m_pauseWriteOut);
    m_cameraFile.flushFragment(*m_pauseWriteOut);
    // A late source: what it delivered is written out now and then until it catches up.
    if (mixed)
        m_pauseWriteOut.reset();
    else
        m_pauseWriteOutAt = HostClock::seconds() + pauseWriteOutRetry;
}

void RecorderEngine::resume()
{
    std::weak_ptr<RecorderEngine> weak = weak_from_this();
    m_q->async([weak] {
        auto self = weak.lock();
        if (!self || self->m_state != State::paused)
            return;
        for (auto& w : self->m_pauseWork)
            w->cancel();
        self->m_pauseWork.clear();
        const PauseTier previous = self->m_tier;

        const MediaTime now = HostClock::now();
        self->m_pauseWriteOut.reset();
        self->m_timeline.resume(now);
        self->m_offset = now - self->m_timeline.boundary(now);
        self->m_resumePTS = now;
        self->m_resumeWaiting = true;
        self->m_state = State::recording;
        self->setTier(std::nullopt);
        self->m_micWatchSince = HostClock::seconds();
        self->m_micDeadNotified = false;
        if (self->m_tap)
            self->m_tap->resume();
        if (self->m_mouseTrack)
            self->m_mouseTrack->start();
        // The camera the deep tier put to sleep wakes with the recording, whether
        // or not its bubble shows now: nobody else would wake it.
        if (auto camera = std::exchange(self->m_suspendedCamera, nullptr))
            camera->resume();
        self->holdAwake();
        self->m_microphoneConfigurationsInFlight += 1;
        const uint64_t recording = self->m_recording;
        // Whatever stream runs next, it runs at the full rate again.
        self->m_scConfig.minimumFrameInterval = self->m_frameInterval;

        if ((previous == PauseTier::deep || !self->m_stream.stream) && self->m_restartingStream) {
            // A lost stream is already being rebuilt by its retries; a second
            // rebuild would race it.
            self->finishResumeReconfiguration(recording, previous, std::nullopt);
        } else if (previous == PauseTier::deep || !self->m_stream.stream) {
            // Dropped by the deep tier, or lost while paused: made anew.
            self->m_control->async([weak, recording, previous, rebuild = self->rebuildRequest()]() mutable {
                auto self = weak.lock();
                if (!self)
                    return;
                std::optional<RecorderError> error = self->rebuildFilter(rebuild);
                if (!error)
                    error = self->startStream(recording, rebuild.source, rebuild.filter, rebuild.sc);
                self->m_q->async([weak, recording, previous, error] {
                    if (auto self = weak.lock())
                        self->finishResumeReconfiguration(recording, previous, error);
                });
            });
        } else if (previous == PauseTier::eco) {
            const ScreenStreamConfig sc = self->m_scConfig;
            auto stream = self->m_stream.stream;
            self->m_control->async([weak, recording, previous, sc, stream] {
                std::optional<RecorderError> error = stream->updateConfiguration(sc);
                if (auto self = weak.lock())
                    self->m_q->async([weak, recording, previous, error] {
                        if (auto self = weak.lock())
                            self->finishResumeReconfiguration(recording, previous, error);
                    });
            });
        } else {
            self->finishResumeReconfiguration(recording, previous, std::nullopt);
        }

        self->m_resumeTimeout = self->m_q->asyncAfter(seconds(resumeFillDelay), [weak] {
            if (auto self = weak.lock())
                self->resumeFill();
        });
    });
}

void RecorderEngine::finishResumeReconfiguration(uint64_t recording, PauseTier previous,
                                                 std::optional<RecorderError> error)
{
    // A late finish from an earlier recording leaves this one alone.
    if (recording != m_recording)
        return;
    if (error) {
        emitLine(Line::resumeFailed({error->message}));
        // Without working capture the recording would stay frozen for good: it
        // goes the way of a lost stream, retrying until capture is back, unless
        // what it recorded was a window that has been closed.
        if (m_state == State::recording && m_streamAllowed && isWindowGone(*error))
            windowClosed();
        else if (m_state == State::recording && m_streamAllowed)
            enterLoss();
    } else {
        emitLine(Line::resumed({QString::fromUtf8(tierName(previous))}));
    }
    m_microphoneConfigurationsInFlight = std::max(m_microphoneConfigurationsInFlight - 1, 0);
    if (m_microphoneConfigurationsInFlight == 0) {
        m_micWatchSince = HostClock::seconds();
        m_micDeadNotified = false;
    }
}

void RecorderEngine::resumeFill()
{
    m_resumeTimeout.reset();
    if (!m_resumeWaiting || !m_lastPixelBuffer)
        return;
    emitLine(Line::resumeFilled());
    handleVideo(makeSampleBuffer(m_lastPixelBuffer, HostClock::now()), true);
}

void RecorderEngine::setMuteSpeakers(bool mute)
{
    std::weak_ptr<RecorderEngine> weak = weak_from_this();
    m_q->async([weak, mute] {
        auto self = weak.lock();
        if (self && self->m_tap)
            self->m_tap->setMute(mute);
    });
}

// MARK: - Stop

std::optional<QString> RecorderEngine::stop()
{
    auto run = std::make_shared<StopRun>();
    StreamHandle stream;
    std::unique_ptr<SystemAudioTap> tap;
    std::shared_ptr<StopRun> joined;
    std::shared_ptr<StopRun> waited;
    bool stopping = false;

    // First phase: everything that feeds the recording is cut off, on the engine
    // queue so no callback sees a half-changed engine.
    m_q->sync([&] {
        // A stop the engine began on its own answers the first caller after it.
        if (m_stopRun && m_stopRun->selfStarted && !m_stopRun->claimed) {
            m_stopRun->claimed = true;
            joined = m_stopRun;
            return;
        }
        // Another caller's stop under way (a signal's watcher while the main
        // thread saves): waited for, so that the movie is finished on return.
        if (m_stopRun && !m_stopRun->done) {
            waited = m_stopRun;
            return;
        }
        stopping = beginStop(run, stream, tap);
    });
    if (joined)
        return joined->future.get();
    if (waited) {
        waited->future.wait();
        return std::nullopt;
    }
    if (!stopping)
        return std::nullopt;
    // The tap's last buffers may still be on their way to the engine queue; they
    // arrive before the second phase, which is queued behind them.
    if (tap)
        tap->stop();
    if (stream.stream)
        m_control->sync([&] { stream.stream->stop(); });

    auto self = shared_from_this();
    m_q->async([self, run] { self->stopPhase2(run); });
    return run->future.get();
}

bool RecorderEngine::beginStop(const std::shared_ptr<StopRun>& run, StreamHandle& stream,
                               std::unique_ptr<SystemAudioTap>& tap)
{
    if ((m_state != State::recording && m_state != State::paused) || (m_stopRun && !m_stopRun->done))
        return false;
    m_stopRun = run;
    run->capturedUntil = HostClock::now();
    tap = detachFeeds();
    // Stopped in the deep tier: the owner's camera is handed back running.
    if (auto camera = std::exchange(m_suspendedCamera, nullptr))
        camera->resume();
    stream = std::exchange(m_stream, {});
    m_streamAllowed = false;
    cancelScheduledWork();
    return true;
}

void RecorderEngine::stopFromQueue()
{
    auto run = std::make_shared<StopRun>();
    run->selfStarted = true;
    StreamHandle stream;
    std::unique_ptr<SystemAudioTap> tap;
    if (!beginStop(run, stream, tap))
        return;
    // Stopping the tap and the stream waits for their threads, which may be
    // waiting for this queue: done on the control queue, then back here.
    auto self = shared_from_this();
    m_control->async([self, run, stream, tap = std::shared_ptr<SystemAudioTap>(std::move(tap))] {
        if (tap)
            tap->stop();
        if (stream.stream)
            stream.stream->stop();
        self->m_q->async([self, run] { self->stopPhase2(run); });
    });
}

void RecorderEngine::stopPhase2(const std::shared_ptr<StopRun>& run)
{
    drainAudio(true);
    heartbeat(0.05);
    m_state = State::finishing;
    setTier(std::nullopt);
    auto self = shared_from_this();
    if (m_videoSync.isEmpty())
        stopPhase3(run);
    else
        m_q->asyncAfter(seconds(syncGraceSeconds), [self, run] { self->stopPhase3(run); });
}

void RecorderEngine::stopPhase3(const std::shared_ptr<StopRun>& run)
{
    drainVideoSync(true, HostClock::now());
    if (m_sessionStarted && m_writer && m_hasVideoIn) {
        run->deadline = HostClock::seconds() + stopDrainSeconds;
        run->drainedCursor = m_audioMixer.cursor();
        finishingStep(run);
        return;
    }
    // Nothing was written: no movie.
    if (m_writer)
        m_writer->cancelWriting();
    m_cameraFile.cancel();
    m_state = State::idle;
    RecoveryJournal::end();
    run->finish(std::nullopt);
}

void RecorderEngine::finishingStep(const std::shared_ptr<StopRun>& run)
{
    drainAudio(true);
    const MediaTime end = m_lastAdjusted + m_frameInterval;
    const int64_t endFrame = AudioTimelineMixer::outputFrame(end, m_firstPTS);
    const bool audioPending = recordsAudio() && m_audioMixer.cursor() < endFrame
                              && m_writer->status() == MovieWriter::Status::Writing && m_hasAudioIn
                              && !m_guard.isBroken(*m_writer, MovieWriter::Input::Audio);
    if (audioPending || m_cameraFile.soundPending(endFrame)) {
        // Everything mixed is written, however long that takes a busy writer,
        // as long as it keeps taking sound.
        if (m_audioMixer.cursor() > run->drainedCursor) {
            run->drainedCursor = m_audioMixer.cursor();
            run->deadline = HostClock::seconds() + stopDrainSeconds;
        }
        if (HostClock::seconds() < run->deadline) {
            auto self = shared_from_this();
            m_q->asyncAfter(seconds(drainPollSeconds), [self, run] { self->finishingStep(run); });
            return;
        }
    }
    // What the movie's sound goes without up to its end: counted with the rest.
    if (recordsAudio() && m_hasAudioIn)
        m_soundTail = std::max<int64_t>(0, endFrame - m_audioMixer.cursor());

    m_writer->markAsFinished(MovieWriter::Input::Video);
    if (m_hasAudioIn)
        m_writer->markAsFinished(MovieWriter::Input::Audio);
    m_writer->endSession(end);
    m_cameraFile.finish(end, endFrame, recordsMicrophone());
    auto self = shared_from_this();
    // The movie, then the open camera segment and any earlier one still closing.
    finishOnQueue(*m_writer, [self, run] {
        self->m_cameraFile.notifyCameraFinishes([self, run] { self->resultStep(run); });
    });
}

void RecorderEngine::resultStep(const std::shared_ptr<StopRun>& run)
{
    const FinishedFile movie = FinishedFile::of(*m_writer);
    if (!movie.path()) {
        if (!m_writerFailSent)
            emitLine(Line::saveFailed({EngineLine::reason(movie.error())}));
        m_state = State::idle;
        run->finish(std::nullopt);
        return;
    }
    const QString url = *movie.path();
    m_cameraFile.checkResult(url);
    if (const auto moved = movie.movedLine())
        emitLine(*moved);
    // A camera file that failed keeps the journal, so the next launch names the files.
    if (!m_cameraFile.cameraSaveFailed())
        RecoveryJournal::end();
    tellMissingSound(*run);
    emitLine(Line::audioSync({QString::number(m_audioMixer.discarded()), QString::number(m_audioMixer.overlap()),
                              QString::number(m_audioMixer.resyncs()), QString::number(m_audioMixer.cursor())}));
    emitLine(Line::completed());
    m_state = State::idle;
    run->finish(url);
}

void RecorderEngine::tellMissingSound(const StopRun& run)
{
    // Every second of sound the movie lacks is told, whatever the reason.
    const int64_t missing = m_audioMixer.dropped() + m_soundSkipped + m_soundTail;
    if (missing >= droppedSoundNotice) {
        const QString lost = secondsText(double(missing) / AudioNormalizer::outputRate);
        emitLine(missing == m_audioMixer.dropped() ? Line::soundDropped({lost}) : Line::soundMissing({lost}));
    }
    // So is what a camera file lacks, by the file's name.
    const std::vector<QString>& files = m_cameraFile.cameraFileURLs();
    const std::vector<int64_t>& lacking = m_cameraFile.missingSound();
    for (size_t i = 0; i < files.size() && i < lacking.size(); ++i) {
        if (lacking[i] >= droppedSoundNotice)
            emitLine(Line::cameraSoundMissing(
                {secondsText(double(lacking[i]) / AudioNormalizer::outputRate), QFileInfo(files[i]).fileName()}));
    }
    // A source gone before the end and not back: its gap up to where the
    // sources were cut off, or the movie's end if that came first. A microphone
    // the "no data" line or a failed rebuild already left out was told then.
    const MediaTime end = MediaTime::min(run.capturedUntil, m_lastAdjusted + m_frameInterval + m_offset);
    if (m_receivedMicrophone && m_scConfig.captureMicrophone && !m_micDeadSinceBuffer)
        if (const auto gone = m_micGap.stillMissing(end, m_timeline))
            emitLine(Line::micGap({secondsText(*gone)}));
    if (m_config && m_config->systemAudio)
        if (const auto gone = m_systemGap.stillMissing(end, m_timeline))
            emitLine(Line::systemGap({secondsText(*gone)}));
}

} // namespace corvessa
