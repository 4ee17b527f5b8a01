#pragma once

#include "engine/RecordingTimeline.h"
#include "platform/core/MediaTime.h"

#include <optional>

namespace corvessa {

// Where a live source's sound broke off and came back: the sound server
// restarted, the microphone was removed and added again. A source's buffers
// follow each other; one that starts well after the last one ended leaves the
// recording without that source in between (the mixer has nothing to put
// there). A plain value, one per source, owned by the engine queue.
class SourceGap {
public:
    // Shorter breaks are a busy machine's jitter or a stream made anew, which
    // nobody hears as a part of the recording gone missing.
    static constexpr double noticeSeconds = 1.0;

    void reset()
    {
        m_lastEnd = MediaTime::invalid();
        m_endTold = false;
    }
    // A buffer of the source, from `start` for `duration` (host clock), arrived.
    // Returns the recorded seconds (paused stretches left out) the source was
    // missing before it, when they reach noticeSeconds. Nothing is counted
    // before the timeline's origin.
    std::optional<double> arrived(MediaTime start, MediaTime duration, const RecordingTimeline& timeline);

    // The recording ends at `end` (host clock) with the source still gone: the
    // recorded seconds from its last buffer on, when they reach noticeSeconds.
    // Only for a source that delivered during the recording, and only once.
    std::optional<double> stillMissing(MediaTime end, const RecordingTimeline& timeline);

private:
    MediaTime m_lastEnd; // of the latest buffer so far
    bool m_endTold = false;
};

} // namespace corvessa
