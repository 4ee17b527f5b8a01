#pragma once

#include <QString>

namespace corvessa {

// How large ten minutes of recording come out, as the Recording pane shows it:
// a range from mostly still scenes (35 % of the bit rate) to constantly moving
// ones (95 %), each with 0.2 Mbps for the audio and the container. Stateless;
// any thread.
class RecordingEstimate {
public:
    RecordingEstimate() = delete;

    struct Range {
        double low = 0;  // megabytes
        double high = 0; // megabytes
    };

    // The tier the pane shows for a stored one: above Custom counts as Custom
    // (as the movie writer treats it), below Low as Low.
    static int shownTier(int storedTier);

    // Ten minutes at the bit rate the movie writer uses for this tier, size and
    // frame rate.
    static Range forTier(int tier, double customMbps, int width, int height, int fps);

    // "330 MB – 870 MB".
    static QString rangeText(const Range& range);

    // The explanation under the estimate: the size, the rate and the tier in
    // words, then the three fixed tiers' ranges.
    static QString explanation(int storedTier, double customMbps, int width, int height, int fps);
};

} // namespace corvessa
