#include "platform/synthetic/SyntheticScreenStream.h"

#include "platform/ScreenDelivery.h"
#include "platform/core/HostClock.h"
#include "platform/synthetic/SyntheticPattern.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace corvessa {

namespace {

// The background: BGRA values and their BT.709 video-range luma.
constexpr uint8_t kGrey = 96;
constexpr uint8_t kGreyLuma = 98; // 16 + 96 * 219 / 255

} // namespace

SyntheticScreenStream::SyntheticScreenStream(ScreenFilter filter, ScreenStreamConfig config, SerialQueue* queue,
                                             ScreenStreamOutput output, Environment environment)
    : m_filter(std::move(filter)), m_queue(queue), m_env(std::move(environment)),
      m_delivery(std::make_shared<ScreenDelivery>())
{
    m_delivery->queue = queue;
    m_delivery->output = std::move(output);
    m_state.lock()->config = std::move(config);
}

SyntheticScreenStream::~SyntheticScreenStream()
{
    stop();
    if (m_env.destroyed)
        m_env.destroyed(this);
}

bool SyntheticScreenStream::isRunning() const
{
    return m_state.with([](const State& s) { return s.running; });
}

ScreenStreamConfig SyntheticScreenStream::configuration() const
{
    return m_state.with([](const State& s) { return s.config; });
}

uint64_t SyntheticScreenStream::framesDelivered() const
{
    return m_delivery->delivered.load();
}

std::optional<RecorderError> SyntheticScreenStream::start()
{
    ScreenStreamConfig config;
    bool running = false;
    bool stopped = false;
    {
        auto state = m_state.lock();
        running = state->running;
        stopped = state->finished;
        config = state->config;
    }
    if (auto error = ScreenSource::checkStart(running, stopped, config, m_queue))
        return error;
    if (m_env.startCheck) {
        if (auto error = m_env.startCheck(m_filter))
            return error;
    }
    if (config.captureMicrophone) {
        if (auto error = startMicrophone(config))
            return error;
    }
    auto state = m_state.lock();
    state->running = true;
    schedule(*state);
    return std::nullopt;
}

void SyntheticScreenStream::schedule(State& state)
{
    if (state.timer)
        state.timer->cancel();
    const auto interval = std::chrono::nanoseconds(
        std::max<int64_t>(1, int64_t(state.config.minimumFrameInterval.seconds() * 1e9)));
    // The first frame at once, as a real stream shows the screen when it starts.
    state.timer = m_frames.scheduleTimer(std::chrono::nanoseconds(0), interval, [this] { tick(); });
}

void SyntheticScreenStream::finish(State& state)
{
    state.running = false;
    state.finished = true;
    if (state.timer)
        state.timer->cancel();
    state.timer.reset();
}

std::optional<RecorderError> SyntheticScreenStream::updateConfiguration(const ScreenStreamConfig& config)
{
    if (auto error = ScreenSource::checkConfiguration(config))
        return error;
    ScreenStreamConfig previous;
    bool running = false;
    {
        auto state = m_state.lock();
        previous = state->config;
        state->config = config;
        running = state->running;
        if (running && previous.minimumFrameInterval != config.minimumFrameInterval)
            schedule(*state);
    }
    if (!running || !ScreenDelivery::microphoneChanged(previous, config))
        return std::nullopt;
    stopMicrophone();
    return config.captureMicrophone ? startMicrophone(config) : std::nullopt;
}

void SyntheticScreenStream::stop()
{
    m_delivery->stop();
    finish(*m_state.lock());
    // A frame being made now finishes before stop returns (and then delivers nothing).
    if (!m_frames.isCurrent())
        m_frames.sync([] {});
    stopMicrophone();
}

void SyntheticScreenStream::interrupt(const RecorderError& error)
{
    {
        auto state = m_state.lock();
        if (!state->running)
            return;
        finish(*state);
    }
    stopMicrophone();
    ScreenDelivery::ended(m_delivery, error);
}

std::optional<RecorderError> SyntheticScreenStream::startMicrophone(const ScreenStreamConfig& config)
{
    auto started = ScreenDelivery::startMicrophone(m_delivery, *m_env.audio, config);
    if (auto* error = std::get_if<RecorderError>(&started))
        return *error;
    m_state.lock()->microphone = std::move(std::get<std::unique_ptr<AudioCaptureStream>>(started));
    return std::nullopt;
}

void SyntheticScreenStream::stopMicrophone()
{
    std::unique_ptr<AudioCaptureStream> microphone =
        m_state.with([](State& s) { return std::move(s.microphone); });
    if (microphone)
        microphone->stop();
}

void SyntheticScreenStream::tick()
{
    ScreenStreamConfig config;
    std::shared_ptr<PixelBufferPool> pool;
    {
        auto state = m_state.lock();
        if (!state->running)
            return;
        config = state->config;
        if (!state->pool || state->pool->width() != config.width || state->pool->height() != config.height ||
            state->pool->format() != config.pixelFormat) {
            state->pool = PixelBufferPool::create(config.width, config.height, config.pixelFormat,
                                                  size_t(config.queueDepth) + 2);
        }
        pool = state->pool;
    }
    if (m_env.paused && m_env.paused())
        return;
    // As a real stream: no more than `queueDepth` frames wait for the output queue.
    if (m_delivery->pending.load() >= config.queueDepth)
        return;
    PixelBufferRef buffer = pool->take();
    if (!buffer)
        return;
    std::optional<uint32_t> number = m_state.with([](State& s) -> std::optional<uint32_t> {
        if (!s.running)
            return std::nullopt;
        return s.number++;
    });
    if (!number)
        return;
    drawPattern(*buffer, *number);
    const MediaTime captured = HostClock::now();
    if (const int64_t delay = *number == 0 && m_env.firstFrameDelayNs ? m_env.firstFrameDelayNs() : 0; delay > 0)
        std::this_thread::sleep_for(std::chrono::nanoseconds(delay));
    ScreenDelivery::frame(m_delivery, std::move(buffer), captured, config.minimumFrameInterval);
}

void SyntheticScreenStream::drawPattern(PixelBuffer& b, uint32_t number)
{
    SyntheticPattern::paint(b, 0, 0, b.width(), b.height(), kGrey, kGreyLuma);
    SyntheticPattern::drawCounterAndBar(b, number);
}

std::optional<uint32_t> SyntheticScreenStream::frameNumber(const PixelBuffer& b)
{
    return SyntheticPattern::readCounter(b, 160);
}

std::optional<int> SyntheticScreenStream::barPosition(const PixelBuffer& b)
{
    const int y = 2 * blockSize + 1;
    if (y >= b.height())
        return std::nullopt;
    for (int x = 0; x < b.width(); ++x) {
        if (SyntheticPattern::level(b, x, y) > 160)
            return x;
    }
    return std::nullopt;
}

} // namespace corvessa
