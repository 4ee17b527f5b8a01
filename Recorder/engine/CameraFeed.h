#pragma once

#include "platform/core/SampleBuffer.h"

#include <functional>
#include <memory>

namespace corvessa {

class CameraOverlayState;

// What the recording engine needs of a running camera: its pictures (for a
// separate camera file), a way to pause and restart it around a deep pause, and
// its own overlay store (for the full-screen camera). The camera capture object
// of the capture layer is adapted to this by its owner, so the engine does not
// depend on a particular camera backend.
class CameraFeed {
public:
    // One camera picture, host-clock timed, and whether the file wants it mirrored.
    using SampleHandler = std::function<void(const SampleBuffer& sample, bool mirrored)>;

    virtual ~CameraFeed() = default;

    // Installs (or, with an empty handler, removes) the receiver of every picture.
    // Called from any thread; the handler runs on the camera's own queue.
    virtual void setOnSample(SampleHandler handler) = 0;
    // Stops the device for a long pause, and starts it again.
    virtual void suspend() = 0;
    virtual void resume() = 0;
    // The camera's own picture store and layout; null when it keeps none.
    virtual std::shared_ptr<CameraOverlayState> overlay() const = 0;
};

} // namespace corvessa
