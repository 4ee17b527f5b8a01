#pragma once

#include "platform/CameraError.h"
#include "platform/core/SampleBuffer.h"

#include <functional>

namespace corvessa {

// Receives a camera stream's output. Every call arrives on the queue given to
// CameraService::open; none starts after CameraStream::stop() has returned.
struct CameraStreamOutput {
    // A picture: a video sample with a host-clock presentation time (when the
    // device took it, where the device says) and the frame interval as duration.
    std::function<void(const SampleBuffer&)> onFrame;
    // Frames lost: skipped by the device, unreadable, or discarded because the
    // queue had not taken the previous ones yet (a slow consumer never builds a
    // backlog).
    std::function<void(int count)> onDrop;
    // The stream ended by itself: Disconnected when the device went away, else
    // RuntimeError. Nothing is delivered after it.
    std::function<void(const CameraError&)> onStop;
};

} // namespace corvessa
