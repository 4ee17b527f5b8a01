#pragma once

#include "platform/core/MediaTime.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace corvessa {

// Maps capture times (host clock) onto the movie's timeline, which starts at the
// first video frame (`origin`) and leaves out every paused stretch (`cuts`).
// A plain value: the engine owns one per recording and hands copies to the mixer.
// All comparisons and differences are exact rational time.
struct RecordingTimeline {
    struct Cut {
        MediaTime start;
        std::optional<MediaTime> end; // absent while the pause is open

        bool operator==(const Cut&) const = default;
    };

    // A run of consecutive frames of one buffer that lies outside the pauses.
    struct Span {
        struct Range {
            int64_t begin = 0; // first frame index in the buffer
            int64_t end = 0;   // one past the last
            bool operator==(const Range&) const = default;
        };
        Range input;
        int64_t outputFrame = 0; // output sample frame of input.begin, counted from origin

        bool operator==(const Span&) const = default;
    };

    MediaTime origin; // invalid until the first video frame
    std::vector<Cut> cuts;

    // A second pause while paused is ignored.
    void pause(MediaTime at);
    // Closes the open pause; a resume stamped before its pause gives an empty cut.
    void resume(MediaTime at);

    // Recorded time before t; a time inside a pause counts as the moment it began.
    // Works before the origin is known.
    MediaTime boundary(MediaTime t) const;
    // Movie time of capture time t (still on the host clock: t less the paused time
    // before it), or nothing when t lies before the origin or inside a pause.
    std::optional<MediaTime> mapped(MediaTime t) const;
    // Splits a buffer of `frames` frames whose first frame is at `start`, at
    // `rate` frames per second, into the runs that belong to the movie, each with
    // its output frame.
    std::vector<Span> spans(MediaTime start, int64_t frames, int32_t rate) const;
};

} // namespace corvessa
