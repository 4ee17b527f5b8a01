#include "platform/synthetic/SyntheticCaptureStream.h"

#include "platform/core/HostClock.h"

#include <chrono>
#include <cmath>
#include <numbers>

namespace corvessa {

SyntheticCaptureStream::SyntheticCaptureStream(const AudioFormat& format, double frequency, float amplitude,
                                               std::function<void()> startError, std::function<void()> onStop,
                                               std::shared_ptr<const std::atomic<bool>> held)
    : m_format(format), m_frequency(frequency), m_amplitude(amplitude), m_startError(std::move(startError)),
      m_onStop(std::move(onStop)), m_held(std::move(held))
{
}

SyntheticCaptureStream::~SyntheticCaptureStream()
{
    stop();
}

void SyntheticCaptureStream::start(Handler handler)
{
    if (m_startError)
        m_startError();
    m_queue.sync([&] {
        m_handler = std::move(handler);
        run();
    });
}

void SyntheticCaptureStream::pause()
{
    m_queue.sync([this] {
        if (m_timer)
            m_timer->cancel();
        m_timer.reset();
    });
}

void SyntheticCaptureStream::resume()
{
    m_queue.sync([this] {
        if (m_handler && !m_timer && !m_stopped)
            run();
    });
}

void SyntheticCaptureStream::stop()
{
    bool first = false;
    m_queue.sync([&] {
        if (m_timer)
            m_timer->cancel();
        m_timer.reset();
        m_handler = nullptr;
        first = !m_stopped;
        m_stopped = true;
    });
    if (first && m_onStop)
        m_onStop();
}

void SyntheticCaptureStream::run()
{
    if (m_stopped)
        return;
    // Buffers are timed from the start of each run; a pause leaves a gap in time.
    m_startNs = HostClock::nanoseconds();
    m_frames = 0;
    const auto period = std::chrono::milliseconds(bufferMs);
    m_timer = m_queue.scheduleTimer(period, period, [this] { tick(); });
}

void SyntheticCaptureStream::tick()
{
    if (!m_handler || m_format.sampleRate < 1)
        return;
    const auto rate = uint64_t(m_format.sampleRate);
    // Deliver whatever time has passed, in whole buffers, so a late timer catches up.
    const uint64_t due = uint64_t(std::max<int64_t>(0, HostClock::nanoseconds() - m_startNs)) * rate / 1000000000;
    const size_t chunk = size_t(rate * bufferMs / 1000);
    if (m_held && *m_held) {
        m_frames = std::max<uint64_t>(m_frames, due - due % chunk);
        return;
    }
    while (m_handler && m_frames + chunk <= due) {
        const int64_t pts = m_startNs + int64_t(m_frames * 1000000000 / rate);
        SampleBuffer buffer = SampleBuffer::audio(m_format, chunk, MediaTime(pts, 1000000000));
        const uint32_t channels = m_format.channelsPerFrame;
        float* out = buffer.floatData();
        for (size_t i = 0; out && i < chunk; ++i) {
            const float v = m_amplitude * float(std::sin(m_phase));
            m_phase += 2 * std::numbers::pi * m_frequency / double(rate);
            if (m_phase > 2 * std::numbers::pi)
                m_phase -= 2 * std::numbers::pi;
            for (uint32_t ch = 0; ch < channels; ++ch)
                out[i * channels + ch] = v;
        }
        m_frames += chunk;
        m_handler(std::move(buffer));
    }
}

} // namespace corvessa
