#pragma once

#include "capture/CameraOverlayState.h"
#include "platform/core/MediaTime.h"
#include "platform/core/PixelBuffer.h"

#include <QRectF>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

namespace corvessa {

// Screen frames that were rendered before the camera picture of their moment had
// arrived, parked with what is needed to add the bubble later. The sync drain
// takes them from the front. At most kMaxFrames and kMaxBytes of pixel data wait;
// when full, the oldest frames are dropped.
//
// A plain value inside the engine, touched only on the engine queue; no lock.
class VideoSyncQueue {
public:
    struct Frame {
        PixelBufferRef buffer;                // rendered frame, still without the camera picture
        MediaTime pts;                        // capture time on the host clock
        MediaTime adjusted;                   // time in the movie, after the pause cuts
        CameraOverlayState::Layout layout;    // how the camera is to be drawn for this frame
        MediaTime minimumCameraPTS;           // oldest acceptable camera picture time
        std::optional<QRectF> windowFrame;    // the recorded window's frame then, for window targets
    };

    static constexpr size_t kMaxFrames = 8;
    static constexpr int64_t kMaxBytes = 67'108'864; // 64 MiB

    // Queues the frame, first dropping the oldest ones as needed to stay within the
    // limits. A frame without a buffer, or larger than kMaxBytes on its own, is not
    // queued. Every frame refused or evicted counts in dropped().
    void append(Frame frame);

    bool isEmpty() const { return m_frames.empty(); }
    size_t count() const { return m_frames.size(); }
    // The oldest frame; the queue must not be empty.
    const Frame& front() const { return m_frames.front().frame; }
    const Frame& at(size_t i) const { return m_frames.at(i).frame; }
    // Takes the oldest frame out; nothing when empty.
    std::optional<Frame> popFront();

    int64_t bytes() const { return m_bytes; }
    int64_t dropped() const { return m_dropped; }

    // Back to {no frames, 0 bytes, 0 dropped}: at creation and before each recording.
    void reset();

private:
    struct Entry {
        Frame frame;
        int64_t size = 0; // counted once on entry, so bytes() always balances
    };

    std::deque<Entry> m_frames; // oldest first
    int64_t m_bytes = 0;
    int64_t m_dropped = 0;
};

} // namespace corvessa
