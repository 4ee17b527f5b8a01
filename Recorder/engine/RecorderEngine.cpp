// RecorderEngine: construction, the services a start reads, and the readings
// any thread may take. The rest of the class lives in the RecorderEngine*.cpp
// files beside this one, one concern each.

#include "engine/RecorderEngine.h"

#include "capture/SystemAudioTap.h"
#include "engine/CameraFeed.h"
#include "engine/compositor/MouseTrack.h"
#include "engine/RecorderEngineStopRun.h"
#include "platform/core/HostClock.h"
#include "platform/PowerControl.h"

#include <QFile>

#include <sys/statvfs.h>

namespace corvessa {

namespace {

std::optional<uint64_t> statvfsFreeSpace(const QString& folder)
{
    struct statvfs st {};
    if (::statvfs(QFile::encodeName(folder).constData(), &st) != 0)
        return std::nullopt;
    return uint64_t(st.f_bavail) * uint64_t(st.f_frsize);
}

} // namespace

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

// MARK: - Names

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

} // namespace corvessa
