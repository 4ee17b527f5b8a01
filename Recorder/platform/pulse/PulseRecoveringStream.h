#pragma once

#include "platform/AudioCaptureStream.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace corvessa {

class PulseCaptureStream;

// A capture stream that outlasts what it records going away for a while: the
// sound server restarting, the microphone removed and added again, another
// output becoming the default. When its stream ends, it connects again as soon
// as it can, in the format it first had, and delivers to the same handler; the
// time without sound is missing from the buffers' times, which go on from when
// the sound came back. Calls from any thread; connecting again runs on a thread
// of its own, between start() and stop().
class PulseRecoveringStream : public AudioCaptureStream {
public:
    // Makes a connected, corked stream, in `format` when one is given. Throws
    // AudioInputError.
    using Connect = std::function<std::unique_ptr<PulseCaptureStream>(const std::optional<AudioFormat>& format)>;
    // How soon another attempt follows a failed one: a server that restarts
    // takes about this long to answer, and an attempt costs it a connection.
    static constexpr int retryMs = 250;

    // Connects at once; throws what `connect` throws.
    explicit PulseRecoveringStream(Connect connect);
    ~PulseRecoveringStream() override;

    AudioFormat format() const override { return m_format; }
    void start(Handler handler) override;
    void pause() override;
    void resume() override;
    void stop() override;
    // Each stream connected anew is raised too.
    void prioritizeDelivery() override;

    // How many times it connected again (for tests and the log).
    int reconnections() const;

private:
    void watch();
    // Installs `stream` as the current one, started unless paused; false when
    // the stream failed to start or this one stopped meanwhile. m_mutex held.
    bool install(std::unique_ptr<PulseCaptureStream>& stream);
    void arm(PulseCaptureStream& stream);

    const Connect m_connect;
    AudioFormat m_format;

    mutable std::mutex m_mutex; // guards what follows; never taken on a stream's loop thread
    std::unique_ptr<PulseCaptureStream> m_stream; // null while none could be connected
    bool m_streamStarted = false;
    Handler m_handler;
    bool m_started = false;
    bool m_paused = false;
    bool m_stopped = false;
    bool m_prioritized = false;
    int m_reconnections = 0;
    std::thread m_thread;

    // The wake-up of the thread; the streams' loop threads take only this lock.
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    uint64_t m_generation = 0; // of the current stream
    uint64_t m_endedGeneration = 0;
    bool m_quit = false;
};

} // namespace corvessa
