#pragma once

#include "platform/AudioCaptureStream.h"
#include "platform/core/CaptureClock.h"
#include "platform/pulse/PulseContext.h"
#include "platform/pulse/PulseHandles.h"

#include <memory>
#include <optional>
#include <vector>

#include <sys/types.h>

namespace corvessa {

class AudioThreadBoost;
class PulseKeepAlive;
class PulseTapRoute;

// A PulseAudio record stream, connected corked by the constructor and uncorked
// by start(). Buffers are stamped with the host time of their first frame: the
// time of reading less what is buffered and the server's latency, kept
// contiguous by a CaptureClock. Callers on any thread; the reads run on the
// context's loop thread, under its lock.
class PulseCaptureStream : public AudioCaptureStream {
public:
    // About 20 ms per buffer: steady enough for the meters, and the mixers place
    // any length on their 10 ms blocks; shorter ones only wake the process more.
    static constexpr int fragmentMs = 20;
    // The server's latency reports can be off by a good part of a second on a
    // busy machine (a timing request waits its turn like everything else), while
    // the samples stay contiguous. The real breaks are known (start, resume, an
    // overrun) and start the clock afresh; for the rest, the times only lean
    // towards the reports by 50 us a 20-ms buffer (0.25 %: far above the drift
    // of any sound card's clock, and half of what the mixer follows without a
    // break), and only an error above a second is taken over at once. A lean
    // of 1 ms a buffer let a wrong report pull the times a tenth of a second
    // away from the sample count within two seconds, and back when it was mended.
    static constexpr int64_t clockResyncNs = 1'000'000'000;
    static constexpr int64_t clockStepNs = 50'000;

    // Connects a record stream on `source` (a name; empty for the server's
    // default) in `format`. The route, when given, is released when the stream
    // stops. For a sink's monitor, `monitoredSink` names the sink, which is kept
    // rendering promptly while the stream runs (PulseKeepAlive; `nullSink` when
    // it is one). A `pinned` stream (and one with a route) ends when its source
    // goes, rather than record whatever the server moves it to. Throws
    // AudioInputError (stage Format or Stream).
    PulseCaptureStream(std::shared_ptr<PulseContext> context, const QString& source, const AudioFormat& format,
                       const QString& streamName, std::unique_ptr<PulseTapRoute> route = nullptr,
                       const QString& monitoredSink = {}, bool nullSink = false, bool pinned = false);
    ~PulseCaptureStream() override;

    AudioFormat format() const override { return m_format; }
    void start(Handler handler) override;
    void pause() override;
    void resume() override;
    void stop() override;
    // The loop thread is raised on its first read after start().
    void prioritizeDelivery() override;

    // The source the stream records from, as the server resolved it.
    QString sourceName() const;

    // `ended` is called once, on the loop thread with its lock held, when the
    // stream can deliver nothing more (the server went away, the source was
    // removed) or, after followDefaultOutput(), when another output became the
    // default: the owner makes a new stream. It must be quick. Set before start().
    void setOnEnded(std::function<void()> ended);
    // For the default output's sound without a route: ends the stream when the
    // default output changes (to an output that is no tap).
    void followDefaultOutput();

    // One read from the server as a buffer of whole frames: `partial` holds the
    // bytes of an incomplete frame from the read before and keeps this read's
    // remainder. Null `data` is a hole: silence of `bytes` length. Nothing when
    // not even one frame is complete yet.
    static std::optional<SampleBuffer> assemble(const AudioFormat& format, std::vector<std::byte>& partial,
                                                const void* data, size_t bytes, MediaTime pts);

private:
    void drain();
    void deliver(const void* data, size_t bytes, int64_t measuredNs);
    bool cork(bool corked);
    bool setCorked(bool corked);
    void keepAwake(bool on);
    void ended(const QString& why);
    int64_t bytesToNs(size_t bytes) const;

    std::shared_ptr<PulseContext> m_context;
    std::unique_ptr<PulseTapRoute> m_route;
    QString m_monitoredSink;
    bool m_nullSink;
    std::unique_ptr<PulseKeepAlive> m_keepAlive; // while running
    AudioFormat m_format;
    PulseStreamPtr m_stream;
    // Loop lock guards everything below.
    Handler m_handler;
    CaptureClock m_clock;
    std::vector<std::byte> m_partial; // bytes of an incomplete frame kept for the next read
    std::function<void()> m_onEnded;
    bool m_ended = false;
    bool m_following = false; // the context's subscription is this stream's
    std::shared_ptr<AudioThreadBoost> m_boost; // set by prioritizeDelivery()
    pid_t m_boostedTid = 0;                    // the loop thread, once asked for
};

} // namespace corvessa
