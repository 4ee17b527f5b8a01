#pragma once

#include "platform/pulse/PulseContext.h"
#include "platform/pulse/PulseHandles.h"

#include <QString>

#include <memory>

namespace corvessa {

// A silent, low-latency playback stream on a sink, so that its monitor delivers
// promptly and steadily. An idle sink (or one whose players buffer seconds
// ahead) renders in blocks of up to two seconds, and its monitor then stays
// silent until the current block ends; a stream that asks for a short buffer
// keeps it rendering in small steps from then on. A null sink does not render
// afresh for a new stream, so one is suspended and resumed once, which restarts
// its clock (harmless: nothing real plays there). It carries roleProperty =
// "keepalive", which a tap route leaves where it is. Made and dropped by its
// capture stream's callers; it is fed on the context's loop thread.
class PulseKeepAlive {
public:
    static constexpr const char* role = "keepalive";
    // The sink's latency asked for, and how much silence is written at a time.
    static constexpr int sinkLatencyMs = 20;
    static constexpr int refillMs = 250;

    // `restartSink` asks for the suspend and resume. `lockHeld`: the caller holds
    // the context's lock (once), which waiting for the stream then releases.
    // Throws AudioInputError (stage Stream).
    PulseKeepAlive(std::shared_ptr<PulseContext> context, const QString& sink, uint32_t rate, bool restartSink,
                   bool lockHeld = false);
    ~PulseKeepAlive();
    PulseKeepAlive(const PulseKeepAlive&) = delete;
    PulseKeepAlive& operator=(const PulseKeepAlive&) = delete;

private:
    void fill(size_t bytes);

    std::shared_ptr<PulseContext> m_context;
    PulseStreamPtr m_stream;
};

} // namespace corvessa
