#include "engine/RecorderEngine.h"

#include "capture/AudioCapturePermission.h"
#include "capture/AudioLevel.h"
#include "capture/CameraOverlayState.h"
#include "capture/OwnedPixels.h"
#include "platform/core/RecorderLog.h"
#include "platform/core/RecorderTryObjC.h"
#include "capture/SystemAudioTap.h"
#include "engine/CameraFeed.h"
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
#include "platform/dbus/ScreenSaverPowerControl.h"
#include "prefs/Loc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/statvfs.h>
#include <unistd.h>

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

// The format of an audio sample, to notice a device switch mid-way.
QString audioFormatKey(const AudioFormat& f)
{
    return QStringLiteral("%1/%2/%3/%4/%5")
        .arg(int64_t(f.sampleRate))
        .arg(f.channelsPerFrame)
        .arg(f.bytesPerFrame)
        .arg(f.formatFlags)
        .arg(f.bitsPerChannel);
}

std::optional<uint64_t> statvfsFreeSpace(const QString& folder)
{
    struct statvfs st {};
    if (::statvfs(QFile::encodeName(folder).constData(), &st) != 0)
        return std::nullopt;
    return uint64_t(st.f_bavail) * uint64_t(st.f_frsize);
}

} // namespace

// A camera segment being closed: it lives on here, after the engine has moved
// on to the next segment, until its sound is written and the file finished.
struct RecorderEngine::CamClosing {
    std::shared_ptr<MovieWriter> writer;
    bool hasAudio = false;
    bool withSound = false;
    AudioTimelineMixer mixer; // this segment's copy of the camera sound
    MediaTime origin;
    MediaTime end;
    int64_t endFrame = 0;
    double deadline = 0; // host seconds
};

// The state of one stop call, shared by the steps that run on the engine queue.
struct RecorderEngine::StopRun {
    std::promise<std::optional<QString>> result;
    double deadline = 0; // host seconds
    bool done = false;

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
    : m_freeSpace(statvfsFreeSpace)
    , m_control(std::make_unique<SerialQueue>("recorder.engine.control", SerialQueue::QoS::UserInitiated))
    , m_q(std::make_unique<SerialQueue>("recorder.engine", SerialQueue::QoS::UserInitiated))
{
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
    m_q->sync([&] { m_source = std::move(source); });
}

void RecorderEngine::setWriterFactory(MovieWriterFactory factory)
{
    m_q->sync([&] { m_writerFactory = std::move(factory); });
}

void RecorderEngine::setAudioInput(std::shared_ptr<AudioInput> input)
{
    m_q->sync([&] { m_audioInput = std::move(input); });
}

void RecorderEngine::setPointerService(std::shared_ptr<PointerService> pointer)
{
    m_q->sync([&] { m_pointer = std::move(pointer); });
}

void RecorderEngine::setFreeSpaceProbe(FreeSpaceProbe probe)
{
    m_q->sync([&] { m_freeSpace = probe ? std::move(probe) : FreeSpaceProbe(statvfsFreeSpace); });
}

void RecorderEngine::setPowerControl(std::shared_ptr<PowerControl> power)
{
    // The control queue owns the hold; a change waits for what it is doing.
    m_control->sync([&] { m_power = std::move(power); });
}

void RecorderEngine::setMicrophoneAccess(MicrophoneAccess access)
{
    m_q->sync([&] { m_micAccess = std::move(access); });
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
    std::lock_guard lock(m_publicLock);
    return m_effective;
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
    m_q->sync([&] { urls = m_cameraFileURLs; });
    return urls;
}

std::optional<QString> RecorderEngine::cameraFileURL() const
{
    std::optional<QString> url;
    m_q->sync([&] { url = m_cameraFileURL; });
    return url;
}

QString RecorderEngine::cameraFilePath(const QString& screenPath, int segment)
{
    const QFileInfo info(screenPath);
    QString base = info.completeBaseName();
    static const QString screenSuffix = QStringLiteral(" Screen");
    if (base.endsWith(screenSuffix))
        base.chop(screenSuffix.size());
    const QString suffix =
        segment == 0 ? QStringLiteral(" Camera") : QStringLiteral(" Camera ") + QString::number(segment + 1);
    return QDir(info.path()).filePath(base + suffix + QStringLiteral(".mov"));
}

// MARK: - Pure helpers

RecorderEngine::Sizes RecorderEngine::pixelSizes(const QSizeF& points, double scale, std::optional<int> maxShortSide)
{
    const double fullW = points.width() * scale;
    const double fullH = points.height() * scale;
    // Nearest integer (halves away from zero), even, at least 2.
    auto side = [](double v) {
        int64_t n = std::llround(v);
        if (n % 2 != 0)
            n -= 1;
        return int(std::clamp<int64_t>(n, 2, INT32_MAX - 1));
    };
    double w = fullW, h = fullH;
    const double shortSide = std::min(fullW, fullH);
    if (maxShortSide && shortSide > *maxShortSide && shortSide > 0) {
        const double k = double(*maxShortSide) / shortSide;
        w = fullW * k;
        h = fullH * k;
    }
    return {QSize(side(w), side(h)), QSize(side(fullW), side(fullH))};
}

int64_t RecorderEngine::bitRate(int qualityTier, double customMbps, int width, int height, int fps)
{
    if (qualityTier > 2) {
        if (!(customMbps > 0.5))
            return 500000;
        return int64_t(std::min(customMbps, 60.0) * 1000000);
    }
    const double base = qualityTier == 2 ? 12.0 : qualityTier == 1 ? 6.0 : 3.0;
    const int64_t pixels = int64_t(width) * int64_t(height);
    const double rate = base * std::pow(double(pixels) / 2073600.0, 0.8) * std::pow(double(fps) / 30.0, 0.75) * 1e6;
    return int64_t(rate);
}

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

RecorderError RecorderEngine::err(const char* english) const
{
    return RecorderError{QStringLiteral("Recorder"), 1, Loc::text(QString::fromUtf8(english))};
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
    m_loggedMicFormat = m_diskStopSent = m_sessionStarted = m_receivedMicrophone = false;
    m_lastFrameSynthetic = m_resumeWaiting = m_micOutputAttached = m_micDeadNotified = m_restartingStream = false;
    m_lastDiskCheck = -1e9;
    m_lastSyncReport = 0;
    m_matchedCameraFrames = m_missingCameraFrames = 0;
    m_streamRetries = m_microphoneConfigurationsInFlight = 0;
    m_droppedVideo = m_writtenVideo = m_repeatedVideo = 0;
    m_firstPTS = m_lastVideoPTS = m_resumePTS = MediaTime::invalid();
    m_offset = m_lastAdjusted = MediaTime::zero();
    m_timeline = RecordingTimeline{};
    m_audioMixer.reset();
    m_cameraMixer.reset();
    m_micNormalizer.reset();
    m_systemNormalizer.reset();
    m_lastPixelBuffer.reset();
    m_writer.reset();
    m_hasVideoIn = m_hasAudioIn = false;
    m_cursor.reset();
    m_mouseTrack.reset();
    m_videoSync.reset();
    m_inputFormats.clear();
    m_lastInputPTS.clear();
    m_brokenInputs.clear();
    m_cameraFileURLs.clear();
    m_cameraFileURL.reset();
    m_camWriter.reset();
    m_camHasAudio = false;
    m_camDim.reset();
    m_camSegment = 0;
    m_lastCamAdjusted = MediaTime::invalid();
    m_cameraSaveFailed = m_camFailureReported = m_camFailureLineSent = false;
    m_camFailures = 0;
    m_camRetryAt = 0;
    m_suspendedCamera.reset();
    // Ink drawn before the recording is no change during it: it must not cost
    // the first 0.7 s a frame per interval.
    m_lastPenVersion = PenBoard::shared().version();
    m_penChangedAt = 0;
    m_lastMicBufferAt = m_micWatchSince = HostClock::seconds();
    for (auto& w : m_pauseWork)
        w->cancel();
    m_pauseWork.clear();
    if (m_resumeTimeout)
        m_resumeTimeout->cancel();
    m_resumeTimeout.reset();
    if (m_retryWork)
        m_retryWork->cancel();
    m_retryWork.reset();
    std::lock_guard lock(m_publicLock);
    m_effective = 0;
}

std::optional<RecorderError> RecorderEngine::resolveFilter(const Config& config, ScreenFilter& filter, QSizeF& points,
                                                           std::optional<QRectF>& displayFrame,
                                                           double& primaryHeight) const
{
    if (!m_source)
        return err(Loc::mark("No screen available to record"));
    RecorderError contentError;
    std::optional<ShareableContent> content = m_source->content(&contentError);
    if (!content)
        return contentError;

    filter = ScreenFilter{};
    // Every window of this process stays out, and whatever else the owner names.
    filter.excludedPids = {int64_t(::getpid())};
    if (config.excludedWindows)
        filter.excludedWindows = config.excludedWindows();

    primaryHeight = 0;
    for (const auto& d : content->displays)
        if (d.isPrimary)
            primaryHeight = d.frame.height();

    const Target& target = config.target;
    auto displayWithID = [&](uint32_t id) -> const DisplayInfo* {
        for (const auto& d : content->displays)
            if (d.id == id)
                return &d;
        return nullptr;
    };

    switch (target.kind) {
    case Target::Kind::display:
    case Target::Kind::area: {
        const DisplayInfo* display = displayWithID(target.displayID);
        if (!display && target.kind == Target::Kind::area)
            return err(Loc::mark("The screen containing the selection is no longer available. Please select again."));
        if (!display)
            for (const auto& d : content->displays)
                if (d.isPrimary) {
                    display = &d;
                    break;
                }
        if (!display && !content->displays.empty())
            display = &content->displays.front();
        if (!display)
            return err(Loc::mark("No screen available to record"));
        filter.kind = ScreenFilter::Kind::Display;
        filter.displayId = display->id;
        filter.pointPixelScale = display->scale > 0 ? display->scale : 1;
        filter.contentRect = display->frame;
        displayFrame = display->frame;
        points = target.kind == Target::Kind::area ? target.rect.size() : display->frame.size();
        break;
    }
    case Target::Kind::window: {
        const WindowInfo* window = nullptr;
        for (const auto& w : content->windows)
            if (w.id == target.windowID && w.onScreen) {
                window = &w;
                break;
            }
        if (!window)
            return err(Loc::mark("Can't find this window (it may have been closed). Please select it again."));
        filter.kind = ScreenFilter::Kind::Window;
        filter.windowId = window->id;
        const DisplayInfo* display = displayWithID(window->displayId);
        filter.pointPixelScale = display && display->scale > 0 ? display->scale : 1;
        filter.contentRect = window->frame;
        displayFrame.reset();
        points = config.windowSize ? *config.windowSize : window->frame.size();
        break;
    }
    }
    return std::nullopt;
}

std::optional<RecorderError> RecorderEngine::rebuildFilter(ScreenFilter& filter)
{
    // Not on the engine queue: the window list can take a while.
    std::optional<Config> config;
    m_q->sync([&] { config = m_config; });
    if (!config)
        return err(Loc::mark("No screen available to record"));
    if (!m_source)
        return err(Loc::mark("No screen available to record"));
    RecorderError contentError;
    std::optional<ShareableContent> content = m_source->content(&contentError);
    if (!content)
        return contentError;

    ScreenFilter made;
    made.excludedPids = {int64_t(::getpid())};
    if (config->excludedWindows)
        made.excludedWindows = config->excludedWindows();
    const Target& target = config->target;
    if (target.kind == Target::Kind::window) {
        const WindowInfo* window = nullptr;
        for (const auto& w : content->windows)
            if (w.id == target.windowID) {
                window = &w;
                break;
            }
        if (!window)
            return err(Loc::mark("Can't find this window."));
        made.kind = ScreenFilter::Kind::Window;
        made.windowId = window->id;
        made.pointPixelScale = filter.pointPixelScale;
        made.contentRect = window->frame;
    } else {
        const DisplayInfo* display = nullptr;
        for (const auto& d : content->displays)
            if (d.id == target.displayID) {
                display = &d;
                break;
            }
        if (!display && !content->displays.empty())
            display = &content->displays.front();
        if (!display)
            return err(Loc::mark("No screen available to record"));
        made.kind = ScreenFilter::Kind::Display;
        made.displayId = display->id;
        made.pointPixelScale = display->scale > 0 ? display->scale : 1;
        made.contentRect = display->frame;
    }
    filter = made;
    return std::nullopt;
}

std::optional<RecorderError> RecorderEngine::setupWriter(int width, int height)
{
    // Not on the engine queue; the writer is installed as soon as it exists, so a
    // failed start can cancel it.
    std::optional<Config> config;
    MovieWriterFactory factory;
    m_q->sync([&] {
        config = m_config;
        factory = m_writerFactory;
    });
    QFile::remove(config->outputURL);

    MovieWriter::Settings settings;
    settings.path = config->outputURL;
    settings.fragmentInterval = 2.0;
    MovieWriter::VideoSettings video;
    video.width = width;
    video.height = height;
    video.averageBitRate = bitRate(config->qualityTier, config->customMbps, width, height, config->fps);
    video.expectedFrameRate = config->fps;
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
    RecoveryJournal::begin(config->outputURL);
    return std::nullopt;
}

std::optional<RecorderError> RecorderEngine::startStream(uint64_t recording, const ScreenFilter& filter,
                                                         const ScreenStreamConfig& scConfig)
{
    // Not on the engine queue: starting capture may wait for the X server or
    // the sound server.
    std::shared_ptr<ScreenSource> source;
    m_q->sync([&] { source = m_source; });
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
    output.onStop = [weak, token](const RecorderError&) {
        if (auto self = weak.lock())
            self->onStreamStopped(token);
    };

    std::shared_ptr<ScreenStream> stream(source->makeStream(filter, scConfig, m_q.get(), std::move(output)));
    if (!stream)
        return err(Loc::mark("No screen available to record"));
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
        installed = true;
    });
    if (!installed) {
        stream->stop();
        return err(Loc::mark("No screen available to record"));
    }
    return std::nullopt;
}

std::optional<RecorderError> RecorderEngine::startInner(const Config& given)
{
    bool busy = false;
    uint64_t recording = 0;
    m_q->sync([&] {
        busy = m_state != State::idle || m_starting;
        if (busy)
            return;
        resetRecordingState();
        m_config = given;
        m_starting = m_startPending = true;
        recording = m_recording;
    });
    if (busy)
        return err(Loc::mark("A recording is already in progress."));
    // However this start ends, another may begin afterwards.
    struct Finally {
        RecorderEngine* engine;
        ~Finally() { engine->m_q->sync([this] { engine->m_starting = false; }); }
    } finally{this};
    if (given.fps < minFps || given.fps > maxFps)
        return err(Loc::mark("The frame rate must be between 1 and 120 frames per second."));
    if (given.outputURL.isEmpty())
        return err(Loc::mark("Can't start writing the file."));

    Config config = given;

    // Target and sizes.
    ScreenFilter filter;
    QSizeF points;
    std::optional<QRectF> displayFrame;
    double primaryHeight = 0;
    if (auto e = resolveFilter(config, filter, points, displayFrame, primaryHeight))
        return e;
    const Sizes sizes = pixelSizes(points, filter.pointPixelScale, config.maxShortSide);
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
    std::shared_ptr<PointerService> pointer;
    m_q->sync([&] { pointer = m_pointer; });
    auto track = MouseTrack::create(pointer ? pointer : PointerService::current());
    track->start(config.target.kind == Target::Kind::window ? std::optional<uint32_t>(config.target.windowID)
                                                            : std::nullopt);
    CursorCompositor::Region region;
    if (config.target.kind == Target::Kind::display)
        region = CursorCompositor::Region::display(displayFrame.value_or(QRectF()));
    else if (config.target.kind == Target::Kind::area)
        region = CursorCompositor::Region::area(displayFrame.value_or(QRectF()), config.target.rect);
    else
        region = CursorCompositor::Region::window();
    auto compositor = std::make_shared<CursorCompositor>(track, region, config.cursorSize, sizes.output,
                                                         config.cursorTheme != CursorTheme::hidden, crisp, config.focus,
                                                         primaryHeight);
    compositor->setNativeSystemAppearance(config.cursorTheme == CursorTheme::system && config.cursorArrow == 0
                                          && std::abs(config.cursorSize - 1.0) <= 0.01);
    compositor->setShadow(config.shadowUp, config.shadowDown);
    compositor->setLook(CursorStyle::look(config.cursorTheme, config.cursorArt, config.cursorArrow));
    compositor->setOnLens(config.lensPreview);
    compositor->setCamOverlay(config.cameraOverlay);

    // Microphone.
    MicrophoneAccess access;
    m_q->sync([&] { access = m_micAccess; });
    std::vector<QString> lines;
    if (config.microphoneID) {
        if (!access || access()) {
            sc.captureMicrophone = true;
            sc.microphoneDeviceId = *config.microphoneID;
        } else {
            config.microphoneID.reset();
            emitLine(QString::fromUtf8(Line::noMicPermission));
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

    // System audio: not fatal when it cannot be had.
    std::unique_ptr<SystemAudioTap> tap;
    if (config.systemAudio) {
        std::shared_ptr<AudioInput> input;
        m_q->sync([&] { input = m_audioInput; });
        tap = std::make_unique<SystemAudioTap>(config.muteSpeakers, [](const QString& s) { return Loc::text(s); },
                                               input);
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
            emitLine(QString::fromUtf8(Line::systemAudioFailed) + e.errorDescription);
        }
        m_q->sync([&] { m_config->systemAudio = config.systemAudio; });
    }

    if (auto e = setupWriter(sizes.output.width(), sizes.output.height())) {
        if (tap)
            tap->stop();
        return e;
    }

    if (auto e = startStream(recording, filter, sc)) {
        if (tap)
            tap->stop();
        return e;
    }

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
            emitLine(QString::fromUtf8(Line::systemAudioFailed) + e.errorDescription);
        }
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
    emitLine(QString::fromUtf8(Line::started) + QString::number(output.width()) + QLatin1Char('x')
             + QString::number(output.height()) + QLatin1Char('@') + QString::number(config.fps));
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
    if (!m_stream.stream || token != m_stream.token)
        return;
    SampleBuffer buffer = given;
    if (!m_loggedMicFormat && buffer.audioFormat()) {
        m_loggedMicFormat = true;
        const AudioFormat& f = *buffer.audioFormat();
        emitLine(QString::fromUtf8(Line::micFormat) + QString::number(int64_t(f.sampleRate)) + QStringLiteral(" Hz, ")
                 + QString::number(f.channelsPerFrame) + QStringLiteral(" channel(s), ")
                 + QString::number(f.bitsPerChannel) + QStringLiteral(" bit, flags=0x")
                 + QString::number(f.formatFlags, 16) + QStringLiteral(", ") + QString::number(f.bytesPerFrame)
                 + QStringLiteral(" bytes per frame"));
    }
    m_lastMicBufferAt = HostClock::seconds();
    m_micDeadNotified = false;
    if (auto stats = AudioLevel::process(buffer, gains.mic()); stats && onMicLevel)
        onMicLevel(*stats);
    const std::vector<SampleBuffer> converted = m_micNormalizer.convert(buffer);
    if (converted.empty())
        return;
    for (const SampleBuffer& c : converted) {
        // Buffers before the first video frame have no place on the timeline.
        if (m_hasAudioIn && m_sessionStarted && (m_state == State::recording || m_state == State::paused)) {
            m_receivedMicrophone = true;
            m_audioMixer.place(c, AudioTimelineMixer::Source::microphone, m_timeline);
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
    if (!m_sessionStarted)
        return;
    for (const SampleBuffer& c : m_systemNormalizer.convert(buffer))
        if (m_state == State::recording || m_state == State::paused)
            m_audioMixer.place(c, AudioTimelineMixer::Source::system, m_timeline);
    drainAudio(false);
}

void RecorderEngine::onStreamStopped(uint64_t token)
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
    enterLoss();
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
    emitLine(QString::fromUtf8(Line::screenLost));
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
    ScreenStreamConfig sc = m_scConfig;
    std::shared_ptr<AudioInput> input = m_audioInput;
    ScreenFilter previous = m_filter;
    std::weak_ptr<RecorderEngine> weak = weak_from_this();
    m_control->async([weak, recording, checkMic, micID, sc, input, previous]() mutable {
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
                sc.captureMicrophone = false;
        }
        ScreenFilter filter = previous;
        std::optional<RecorderError> error = self->rebuildFilter(filter);
        if (!error)
            error = self->startStream(recording, filter, sc);
        self->m_q->async([weak, recording, micGone, error] {
            auto self = weak.lock();
            if (!self || recording != self->m_recording || !self->m_streamAllowed)
                return;
            if (micGone && self->m_scConfig.captureMicrophone) {
                self->m_scConfig.captureMicrophone = false;
                self->emitLine(QString::fromUtf8(Line::micGone));
            }
            if (!error) {
                self->m_restartingStream = false;
                self->m_streamRetries = 0;
                self->emitLine(QString::fromUtf8(Line::screenRestored));
                return;
            }
            self->m_streamRetries += 1;
            if (self->m_streamRetries > 2 && self->m_scConfig.captureMicrophone) {
                self->m_scConfig.captureMicrophone = false;
                self->m_streamRetries = 0;
                self->emitLine(QString::fromUtf8(Line::micCouldNotConnect));
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
    std::lock_guard lock(m_publicLock);
    m_effective = (*adjusted - m_firstPTS).seconds();
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
    if (safeAppend(m_writer, MovieWriter::Input::Video, *sample, Loc::text(QStringLiteral("Screen")))) {
        ++m_writtenVideo;
        if (repeated)
            ++m_repeatedVideo;
    } else if (m_writer->status() == MovieWriter::Status::Failed) {
        const auto e = m_writer->error();
        emitLine(QString::fromUtf8(Line::videoWriteFailed) + (e ? e->message : QStringLiteral("?")));
    }
}

bool RecorderEngine::safeAppend(const std::shared_ptr<MovieWriter>& writer, MovieWriter::Input input,
                                const SampleBuffer& sample, const QString& label)
{
    const InputKey key{writer.get(), input};
    if (m_brokenInputs.count(key))
        return false;
    if (const auto& format = sample.audioFormat()) {
        const QString formatKey = audioFormatKey(*format);
        auto it = m_inputFormats.find(key);
        if (it != m_inputFormats.end() && it->second != formatKey) {
            emitLine(label + QString::fromUtf8(Line::formatChanged));
            return false;
        }
        if (it == m_inputFormats.end())
            m_inputFormats.emplace(key, formatKey);
    }
    const MediaTime pts = sample.presentationTime();
    if (auto it = m_lastInputPTS.find(key); it != m_lastInputPTS.end() && pts <= it->second)
        return false;

    bool accepted = false;
    RecorderError error;
    const bool ran = recorderTry([&] { accepted = writer->append(input, sample); }, &error);
    if (!ran) {
        m_brokenInputs.insert(key);
        emitLine(label + QString::fromUtf8(Line::writeError)
                 + (error.message.isEmpty() ? Loc::text(QStringLiteral("Unknown")) : error.message));
        return false;
    }
    if (!accepted)
        return false;
    m_lastInputPTS[key] = pts;
    return true;
}

// MARK: - Heartbeat and watchdogs

void RecorderEngine::onHeartbeat()
{
    const MediaTime now = HostClock::now();
    drainVideoSync(false, now);
    const double interval = std::max(1.0 / std::max(1, m_config ? m_config->fps : 30), heartbeatMinInterval);
    heartbeat(cursorNeedsFrames() ? 0.9 * interval : 0.9);
    drainAudio(false);
    checkMicAlive();
    checkDiskSpace();
}

void RecorderEngine::drainAudio(bool final)
{
    if (!m_sessionStarted || !m_config)
        return;
    const MediaTime end = final ? m_lastAdjusted + m_frameInterval
                                : m_timeline.boundary(HostClock::now() - MediaTime::fromSeconds(audioLagSeconds));
    const int64_t frames = AudioTimelineMixer::outputFrame(end, m_firstPTS);

    const bool recordsAudio = m_config->systemAudio || m_config->microphoneID || m_receivedMicrophone;
    if (recordsAudio) {
        if (m_writer && m_hasAudioIn && m_writer->status() == MovieWriter::Status::Writing) {
            while (m_writer->isReadyForMoreMediaData(MovieWriter::Input::Audio)) {
                std::optional<SampleBuffer> chunk = m_audioMixer.sample(frames, m_firstPTS, final);
                if (!chunk)
                    break;
                if (!safeAppend(m_writer, MovieWriter::Input::Audio, *chunk, QStringLiteral("Mixed audio")))
                    break;
                m_audioMixer.commit(int64_t(chunk->frameCount()));
            }
        }
    } else if (m_audioMixer.cursor() < frames) {
        m_audioMixer.commit(frames - m_audioMixer.cursor());
    }

    // Camera file sound: the microphone alone. Without a file open, or without
    // a microphone, the camera mixer keeps pace silently, so that a file opened
    // later starts in step.
    if (m_camWriter && m_camHasAudio && (m_config->microphoneID || m_receivedMicrophone)) {
        if (m_camWriter->status() != MovieWriter::Status::Writing)
            return;
        while (m_camWriter->isReadyForMoreMediaData(MovieWriter::Input::Audio)) {
            std::optional<SampleBuffer> chunk = m_cameraMixer.sample(frames, m_firstPTS, final);
            if (!chunk)
                break;
            if (!safeAppend(m_camWriter, MovieWriter::Input::Audio, *chunk, QStringLiteral("Camera audio")))
                break;
            m_cameraMixer.commit(int64_t(chunk->frameCount()));
        }
    } else if (m_cameraMixer.cursor() < frames) {
        m_cameraMixer.commit(frames - m_cameraMixer.cursor());
    }
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
        emitLine(QString::fromUtf8(Line::videoSync) + QString::number(m_videoSync.count()) + QStringLiteral(" pixels=")
                 + QString::number(m_videoSync.bytes() / 1024) + QStringLiteral("KB dropped=")
                 + QString::number(m_videoSync.dropped()) + QStringLiteral(" matched=")
                 + QString::number(m_matchedCameraFrames) + QStringLiteral(" missing=")
                 + QString::number(m_missingCameraFrames));
        m_lastSyncReport = nowSeconds;
    }
}

bool RecorderEngine::cursorNeedsFrames()
{
    if (!m_cursor)
        return false;
    const double now = HostClock::seconds();
    if (m_config && m_config->camera)
        if (auto own = m_config->camera->overlay(); own && own->fullScreen())
            return true;
    if (m_config && m_config->cameraOverlay) {
        const CameraOverlayState::Status status = m_config->cameraOverlay->status();
        if ((status.layout.visible || status.layout.fullScreen) && status.frameCount > 0)
            return true;
    }
    const uint64_t penVersion = PenBoard::shared().version();
    if (penVersion != m_lastPenVersion) {
        m_lastPenVersion = penVersion;
        m_penChangedAt = now;
    }
    if (now - m_penChangedAt < 0.7)
        return true;

    const std::shared_ptr<FocusState> focus = m_config ? m_config->focus : nullptr;
    std::optional<double> lastEdge;
    bool zoomActive = false;
    if (focus) {
        const auto edges = focus->edges();
        if (!edges.empty())
            lastEdge = edges.back().t;
        zoomActive = (!edges.empty() && edges.back().on) || focus->progress(now) > 0.001;
    }
    if (!zoomActive && !m_cursor->drawPaw())
        return false;
    if (focus && now - std::max(lastEdge.value_or(0.0), focus->touch()) < 0.7)
        return true;
    const double activity = m_mouseTrack ? m_mouseTrack->lastActivity() : 0;
    return now - activity < 0.7;
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
        m_micDeadNotified = true;
        emitLine(QString::fromUtf8(Line::micDead));
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
    const std::optional<uint64_t> free = m_freeSpace ? m_freeSpace(folder) : std::nullopt;
    if (!free)
        return;
    if (*free < lowDiskBytes) {
        m_diskStopSent = true;
        emitLine(QString::fromUtf8(Line::lowDisk) + QString::number(*free / 1048576)
                 + QStringLiteral(" MB), stopped and saved automatically."));
    }
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
            self->m_power = std::make_shared<ScreenSaverPowerControl>([](const QString& line) { RecorderLog::write(line); });
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

void RecorderEngine::handleCamera(const SampleBuffer& given, bool mirrored)
{
    // The separate camera file is written from here; until a recording has its
    // first frame and runs, pictures have no place on its timeline. Pictures
    // still queued when the camera was detached are dropped too.
    const PixelBufferRef& pixels = given.imageBuffer();
    if (!pixels || !m_camera || m_state != State::recording || !m_sessionStarted || m_resumeWaiting)
        return;
    const MediaTime pts = given.presentationTime();
    if (!pts.isValid() || (m_resumePTS.isValid() && pts < m_resumePTS) || pts < m_firstPTS)
        return;

    const QSize dim(pixels->width(), pixels->height());
    if (m_camWriter && m_camDim && *m_camDim != dim) {
        closeCamWriter();
        emitLine(QString::fromUtf8(Line::cameraSizeChanged));
    }

    SampleBuffer sample = given;
    if (mirrored) {
        std::optional<SampleBuffer> flipped = m_camMirror.sample(given);
        if (!flipped)
            return;
        sample = std::move(*flipped);
    }
    if (!m_camWriter && !setupCamWriter(sample))
        return;
    // Also a writer that failed on the leader or in the background.
    if (m_camWriter->status() != MovieWriter::Status::Failed) {
        if (m_camWriter->status() != MovieWriter::Status::Writing
            || !m_camWriter->isReadyForMoreMediaData(MovieWriter::Input::Video))
            return;
        const MediaTime adjusted = pts - m_offset;
        std::optional<SampleBuffer> retimed = MediaTime::retimed(sample, adjusted);
        if (!retimed)
            return;
        m_lastCamAdjusted = adjusted;
        if (safeAppend(m_camWriter, MovieWriter::Input::Video, *retimed, QStringLiteral("Camera picture"))
            || m_camWriter->status() != MovieWriter::Status::Failed)
            return;
    }
    // The file is broken for good: no more pictures for this recording.
    const auto e = m_camWriter->error();
    emitLine(QString::fromUtf8(Line::cameraWriteFailed) + (e && !e->message.isEmpty() ? e->message : QStringLiteral("?")));
    m_cameraSaveFailed = true;
    m_camFailureReported = true;
    m_camera->setOnSample({});
    m_camera.reset();
}

bool RecorderEngine::setupCamWriter(const SampleBuffer& sample)
{
    const PixelBufferRef& pixels = sample.imageBuffer();
    if (!pixels || !m_config)
        return false;
    // After a failure, pictures wait for the back-off instead of each trying
    // (and reporting) again.
    if (m_camFailures > 0 && HostClock::seconds() < m_camRetryAt)
        return false;

    const int width = pixels->width();
    const int height = pixels->height();
    const QString path = cameraFilePath(m_config->outputURL, m_camSegment);
    QFile::remove(path);

    MovieWriter::Settings settings;
    settings.path = path;
    settings.fragmentInterval = 2.0;
    MovieWriter::VideoSettings video;
    video.width = width;
    video.height = height;
    video.averageBitRate = int64_t(width) * int64_t(height) * int64_t(std::max(1, m_config->cameraFPS)) / 10;
    video.expectedFrameRate = 0; // the camera sets its own pace
    video.allowFrameReordering = false;
    video.colorTags = false;
    settings.video = video;
    settings.audio = MovieWriter::AudioSettings{48000, 2, 128000};

    std::shared_ptr<MovieWriter> writer = m_writerFactory ? m_writerFactory(settings) : MovieWriter::create(settings);
    if (!writer) {
        cameraFileFailed(QString::fromUtf8(Line::cameraNotCreated));
        return false;
    }
    if (!writer->hasInput(MovieWriter::Input::Video)) {
        cameraFileFailed(QString());
        return false;
    }
    if (!writer->startWriting()) {
        const auto e = writer->error();
        cameraFileFailed(QString::fromUtf8(Line::cameraNotStarted)
                         + (e && !e->message.isEmpty() ? e->message : QStringLiteral("?")));
        return false;
    }
    // Every segment shares the screen movie's time zero.
    writer->startSession(m_firstPTS);

    m_camWriter = writer;
    m_camHasAudio = writer->hasInput(MovieWriter::Input::Audio);
    m_camDim = QSize(width, height);
    m_camFailureReported = false;
    m_camFailures = 0;
    m_camFailureLineSent = false;
    if (m_camSegment == 0)
        m_cameraFileURL = path;
    m_cameraFileURLs.push_back(path);
    m_camSegment += 1;
    RecoveryJournal::add(path);

    // Until the camera's first picture the segment shows black, so that its
    // pictures keep their places on the movie's timeline.
    const MediaTime gap = sample.presentationTime() - m_offset - m_firstPTS;
    if (gap.isValid() && gap > m_frameInterval) {
        if (PixelBufferRef black = PixelBuffer::create(width, height, PixelFormat::BGRA))
            if (std::optional<SampleBuffer> leader = MediaTime::image(black, m_firstPTS, gap))
                safeAppend(writer, MovieWriter::Input::Video, *leader, QStringLiteral("Camera leader"));
    }
    drainAudio(false);
    return true;
}

void RecorderEngine::cameraFileFailed(const QString& line)
{
    // One line per streak of failures: the camera keeps delivering, the cause
    // usually stays.
    if (!line.isEmpty() && !m_camFailureLineSent) {
        m_camFailureLineSent = true;
        emitLine(line);
    }
    const double delay = std::min(cameraRetryFirstDelay * std::pow(2.0, std::min(m_camFailures, 16)), cameraRetryMaxDelay);
    m_camFailures += 1;
    m_camRetryAt = HostClock::seconds() + delay;
}

void RecorderEngine::closeCamWriter()
{
    std::shared_ptr<MovieWriter> writer = std::exchange(m_camWriter, nullptr);
    const bool hasAudio = std::exchange(m_camHasAudio, false);
    m_camDim.reset();
    m_camFailureReported = false;
    if (!writer || writer->status() != MovieWriter::Status::Writing || !m_config)
        return;

    auto closing = std::make_shared<CamClosing>();
    closing->writer = writer;
    closing->hasAudio = hasAudio;
    closing->withSound = hasAudio && (m_config->microphoneID || m_receivedMicrophone);
    closing->origin = m_firstPTS;
    closing->end = (m_lastCamAdjusted.isValid() ? m_lastCamAdjusted : m_lastAdjusted) + m_frameInterval;
    closing->endFrame = AudioTimelineMixer::outputFrame(closing->end, m_firstPTS);
    closing->mixer = m_cameraMixer.snapshot();
    // The next segment's sound goes on from where this one ends.
    if (m_cameraMixer.cursor() < closing->endFrame)
        m_cameraMixer.commit(closing->endFrame - m_cameraMixer.cursor());
    enterCameraFinish();
    closing->deadline = HostClock::seconds() + stopDrainSeconds;
    closeCamStep(closing);
}

void RecorderEngine::closeCamStep(const std::shared_ptr<CamClosing>& closing)
{
    const std::shared_ptr<MovieWriter>& writer = closing->writer;
    if (closing->withSound && writer->status() == MovieWriter::Status::Writing) {
        while (writer->isReadyForMoreMediaData(MovieWriter::Input::Audio)) {
            std::optional<SampleBuffer> chunk = closing->mixer.sample(closing->endFrame, closing->origin, true);
            if (!chunk)
                break;
            if (!safeAppend(writer, MovieWriter::Input::Audio, *chunk, QStringLiteral("Camera audio")))
                break;
            closing->mixer.commit(int64_t(chunk->frameCount()));
        }
        if (closing->mixer.cursor() < closing->endFrame && HostClock::seconds() < closing->deadline
            && !m_brokenInputs.count({writer.get(), MovieWriter::Input::Audio})) {
            auto self = shared_from_this();
            m_q->asyncAfter(seconds(drainPollSeconds), [self, closing] { self->closeCamStep(closing); });
            return;
        }
    }
    if (writer->status() != MovieWriter::Status::Writing) {
        m_cameraSaveFailed = true;
        leaveCameraFinish();
        return;
    }
    writer->markAsFinished(MovieWriter::Input::Video);
    if (closing->hasAudio)
        writer->markAsFinished(MovieWriter::Input::Audio);
    writer->endSession(closing->end);
    auto self = shared_from_this();
    // The writer travels to the engine queue, so it is let go there and not on
    // its own thread.
    writer->finishWriting([self, writer]() mutable {
        self->m_q->async([self, writer = std::move(writer)] { self->camSegmentFinished(writer); });
    });
}

void RecorderEngine::camSegmentFinished(const std::shared_ptr<MovieWriter>& writer)
{
    if (writer->status() != MovieWriter::Status::Completed) {
        m_cameraSaveFailed = true;
        const auto e = writer->error();
        emitLine(QString::fromUtf8(Line::cameraWriteFailed)
                 + (e && !e->message.isEmpty() ? e->message : QStringLiteral("?")));
    }
    for (const MovieWriter::Input input : {MovieWriter::Input::Video, MovieWriter::Input::Audio}) {
        const InputKey key{writer.get(), input};
        m_inputFormats.erase(key);
        m_lastInputPTS.erase(key);
        m_brokenInputs.erase(key);
    }
    leaveCameraFinish();
}

void RecorderEngine::enterCameraFinish()
{
    m_cameraFinishes += 1;
}

void RecorderEngine::leaveCameraFinish()
{
    m_cameraFinishes = std::max(m_cameraFinishes - 1, 0);
    if (m_cameraFinishes > 0)
        return;
    std::vector<std::function<void()>> waiters = std::exchange(m_cameraFinishWaiters, {});
    for (auto& w : waiters)
        m_q->async(std::move(w));
}

void RecorderEngine::notifyCameraFinishes(std::function<void()> done)
{
    if (m_cameraFinishes == 0)
        m_q->async(std::move(done));
    else
        m_cameraFinishWaiters.push_back(std::move(done));
}

void RecorderEngine::handleCameraAudio(const SampleBuffer& buffer)
{
    if (!m_config || m_config->cameraOverlay || !m_camera || !m_sessionStarted
        || (m_state != State::recording && m_state != State::paused))
        return;
    m_cameraMixer.place(buffer, AudioTimelineMixer::Source::microphone, m_timeline);
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
        self->m_timeline.pause(HostClock::now());
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
        self->emitLine(QString::fromUtf8(Line::paused));
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
    emitLine(QString::fromUtf8(Line::eco));
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
    emitLine(QString::fromUtf8(Line::deep));
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
            const ScreenStreamConfig sc = self->m_scConfig;
            const ScreenFilter previousFilter = self->m_filter;
            self->m_control->async([weak, recording, previous, sc, previousFilter] {
                auto self = weak.lock();
                if (!self)
                    return;
                ScreenFilter filter = previousFilter;
                std::optional<RecorderError> error = self->rebuildFilter(filter);
                if (!error)
                    error = self->startStream(recording, filter, sc);
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
        emitLine(QString::fromUtf8(Line::resumeFailed) + error->message);
        // Without working capture the recording would stay frozen for good: it
        // goes the way of a lost stream, retrying until capture is back.
        if (m_state == State::recording && m_streamAllowed)
            enterLoss();
    } else {
        emitLine(QString::fromUtf8(Line::resumed) + QString::fromUtf8(tierName(previous)) + QLatin1Char(')'));
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
    emitLine(QString::fromUtf8(Line::resumeFilled));
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
    std::future<std::optional<QString>> result = run->result.get_future();
    StreamHandle stream;
    std::unique_ptr<SystemAudioTap> tap;
    bool stopping = false;

    // First phase: everything that feeds the recording is cut off, on the engine
    // queue so no callback sees a half-changed engine.
    m_q->sync([&] {
        if (m_state != State::recording && m_state != State::paused)
            return;
        stopping = true;
        tap = detachFeeds();
        // Stopped in the deep tier: the owner's camera is handed back running.
        if (auto camera = std::exchange(m_suspendedCamera, nullptr))
            camera->resume();
        stream = std::exchange(m_stream, {});
        m_streamAllowed = false;
        for (auto& w : m_pauseWork)
            w->cancel();
        m_pauseWork.clear();
        if (m_resumeTimeout)
            m_resumeTimeout->cancel();
        m_resumeTimeout.reset();
        if (m_retryWork)
            m_retryWork->cancel();
        m_retryWork.reset();
    });
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
    return result.get();
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
        finishingStep(run);
        return;
    }
    // Nothing was written: no movie.
    if (m_writer)
        m_writer->cancelWriting();
    if (m_camWriter)
        m_camWriter->cancelWriting();
    m_state = State::idle;
    RecoveryJournal::end();
    run->finish(std::nullopt);
}

void RecorderEngine::finishingStep(const std::shared_ptr<StopRun>& run)
{
    drainAudio(true);
    const MediaTime end = m_lastAdjusted + m_frameInterval;
    const int64_t endFrame = AudioTimelineMixer::outputFrame(end, m_firstPTS);
    const bool recordsAudio = m_config && (m_config->systemAudio || m_config->microphoneID || m_receivedMicrophone);
    const bool audioPending = recordsAudio && m_audioMixer.cursor() < endFrame
                              && m_writer->status() == MovieWriter::Status::Writing && m_hasAudioIn
                              && !m_brokenInputs.count({m_writer.get(), MovieWriter::Input::Audio});
    // A broken camera sound input is not waited for, like the movie's.
    const bool cameraAudioPending = m_camWriter && m_camHasAudio && m_cameraMixer.cursor() < endFrame
                                    && m_camWriter->status() == MovieWriter::Status::Writing
                                    && !m_brokenInputs.count({m_camWriter.get(), MovieWriter::Input::Audio});
    if (audioPending || cameraAudioPending) {
        if (HostClock::seconds() < run->deadline) {
            auto self = shared_from_this();
            m_q->asyncAfter(seconds(drainPollSeconds), [self, run] { self->finishingStep(run); });
            return;
        }
        emitLine(QString::fromUtf8(Line::drainTimeout));
    }

    m_writer->markAsFinished(MovieWriter::Input::Video);
    if (m_hasAudioIn)
        m_writer->markAsFinished(MovieWriter::Input::Audio);
    m_writer->endSession(end);
    auto self = shared_from_this();
    if (m_camWriter && m_camWriter->status() == MovieWriter::Status::Writing) {
        m_camWriter->markAsFinished(MovieWriter::Input::Video);
        if (m_camHasAudio)
            m_camWriter->markAsFinished(MovieWriter::Input::Audio);
        m_camWriter->endSession(end);
        enterCameraFinish();
        m_camWriter->finishWriting([self] { self->m_q->async([self] { self->leaveCameraFinish(); }); });
    }
    enterCameraFinish();
    m_writer->finishWriting([self] { self->m_q->async([self] { self->leaveCameraFinish(); }); });
    // The movie, the open camera segment and any earlier one still closing.
    notifyCameraFinishes([self, run] { self->resultStep(run); });
}

void RecorderEngine::resultStep(const std::shared_ptr<StopRun>& run)
{
    if (m_writer->status() != MovieWriter::Status::Completed) {
        const auto e = m_writer->error();
        emitLine(QString::fromUtf8(Line::saveFailed) + (e && !e->message.isEmpty() ? e->message : QStringLiteral("?")));
        m_state = State::idle;
        run->finish(std::nullopt);
        return;
    }
    if (m_camWriter && m_camWriter->status() != MovieWriter::Status::Completed) {
        m_cameraFileURL.reset();
        m_cameraSaveFailed = true;
        if (!m_camFailureReported) {
            const auto e = m_camWriter->error();
            emitLine(QString::fromUtf8(Line::cameraWriteFailed)
                     + (e && !e->message.isEmpty() ? e->message : QStringLiteral("?")));
        }
    }
    const QString url = m_config ? m_config->outputURL : QString();
    // A camera file that failed keeps the journal, so the next launch names the files.
    if (!m_cameraSaveFailed)
        RecoveryJournal::end();
    emitLine(QString::fromUtf8(Line::audioSync) + QString::number(m_audioMixer.discarded()) + QStringLiteral(" overlap=")
             + QString::number(m_audioMixer.overlap()) + QStringLiteral(" resync=")
             + QString::number(m_audioMixer.resyncs()) + QStringLiteral(" frames=")
             + QString::number(m_audioMixer.cursor()));
    emitLine(QString::fromUtf8(Line::completed));
    m_state = State::idle;
    run->finish(url);
}

} // namespace corvessa
