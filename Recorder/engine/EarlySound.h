#pragma once

#include "engine/AudioTimelineMixer.h"
#include "platform/core/SampleBuffer.h"

#include <cstdint>
#include <deque>
#include <utility>

namespace corvessa {

// Sound that reaches the engine before the recording's first frame: the
// sources start before the picture does, and what they caught is placed in the
// mix once the first frame gives the timeline its origin. Kept in arrival
// order up to a bound over both sources; beyond it the oldest buffers go first,
// though the newest is always kept. Owned by the engine queue.
class EarlySound {
public:
    using Source = AudioTimelineMixer::Source;
    using Buffers = std::deque<std::pair<Source, SampleBuffer>>;

    // `maxFrames`: 48 kHz frames kept at most, over both sources.
    explicit EarlySound(int64_t maxFrames)
        : m_maxFrames(maxFrames)
    {
    }

    void keep(Source source, const SampleBuffer& buffer);
    // Everything kept, in arrival order; nothing is kept afterwards.
    Buffers take();
    void clear();
    int64_t frames() const { return m_frames; }
    bool isEmpty() const { return m_buffers.empty(); }

private:
    int64_t m_maxFrames;
    Buffers m_buffers;
    int64_t m_frames = 0;
};

} // namespace corvessa
