#pragma once

#include "platform/AudioCaptureStream.h"
#include "platform/core/SerialQueue.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace corvessa {

// A capture stream that delivers a sine tone in 10 ms buffers, contiguous and
// stamped on the host clock, from a queue of its own. Used by SyntheticAudioInput.
class SyntheticCaptureStream : public AudioCaptureStream {
public:
    static constexpr int bufferMs = 10;

    // `startError`, when set, is thrown by start(); `onStop` runs once at stop.
    // While `held` is set, time passes without buffers, as from a device pulled out.
    SyntheticCaptureStream(const AudioFormat& format, double frequency, float amplitude,
                           std::function<void()> startError = {}, std::function<void()> onStop = {},
                           std::shared_ptr<const std::atomic<bool>> held = {});
    ~SyntheticCaptureStream() override;

    AudioFormat format() const override { return m_format; }
    void start(Handler handler) override;
    void pause() override;
    void resume() override;
    void stop() override;

private:
    void run();
    void tick();

    const AudioFormat m_format;
    const double m_frequency;
    const float m_amplitude;
    std::function<void()> m_startError;
    std::function<void()> m_onStop;
    std::shared_ptr<const std::atomic<bool>> m_held;
    SerialQueue m_queue{"synthetic.audio", SerialQueue::QoS::UserInteractive};
    // Touched on the queue only, or by sync() on it.
    Handler m_handler;
    WorkItemRef m_timer;
    int64_t m_startNs = 0;
    uint64_t m_frames = 0;
    double m_phase = 0;
    bool m_stopped = false;
};

} // namespace corvessa
