#pragma once

#include "platform/core/AudioFormat.h"
#include "platform/core/SampleBuffer.h"

#include <functional>

namespace corvessa {

// A prepared capture stream: connected, its format known, not yet delivering.
// start() delivers buffers to the handler on the backend's own thread, with
// presentation times on the host clock; a handler must be quick and must not
// call back into the stream. Delivery never skips time: a gap the server reports
// arrives as silence of its length. Only where what it records went away for a
// while (the sound server restarted, the device was removed and came back) and
// the backend connected again do the times jump over the time without sound.
// Destroying the stream stops it.
class AudioCaptureStream {
public:
    using Handler = std::function<void(SampleBuffer)>;

    virtual ~AudioCaptureStream() = default;

    // Float or integer, interleaved, at the device's rate.
    virtual AudioFormat format() const = 0;
    // Starts (or restarts after pause) delivery. Throws AudioInputError (stage Start).
    virtual void start(Handler handler) = 0;
    // Suspends delivery; the stream stays connected.
    virtual void pause() = 0;
    // Resumes delivery after pause() with the handler given to start().
    virtual void resume() = 0;
    // Stops delivery for good and releases the stream; idempotent. No handler
    // call is in progress or follows once it returns.
    virtual void stop() = 0;

    // Raises the thread that delivers the buffers above the rest of the program
    // (AudioThreadBoost), for a stream whose sound is recorded; the level meters
    // need no such thing. Before start(); a backend without threads of its own
    // ignores it.
    virtual void prioritizeDelivery() {}
};

} // namespace corvessa
