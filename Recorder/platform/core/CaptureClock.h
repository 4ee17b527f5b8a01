#pragma once

#include <cstddef>
#include <cstdint>

namespace corvessa {

// Turns the measured host time of each captured audio buffer into a presentation
// time. Measurements jitter by a millisecond or so (latency estimates, thread
// wake-ups), while the samples themselves are contiguous; so each buffer is
// placed right after the previous one and only a fraction of the measured error
// is followed, which tracks the drift between the audio and host clocks without
// splitting or overlapping the audio. A large error is a real discontinuity
// (a stall, a resume) and is taken over at once.
class CaptureClock {
public:
    // Beyond any jitter of the latency estimate; smaller errors are smoothed.
    static constexpr int64_t resyncThresholdNs = 50'000'000;
    // Follow 1/16 of the error per buffer: about 10 buffers (100 ms) to halve it.
    static constexpr int smoothingDivisor = 16;

    // `resyncNs` replaces the threshold; a non-zero `maxStepNs` caps how far one
    // buffer's stamp may lean towards its measurement, for a source whose real
    // breaks are known and reset the clock, while its measurements can be far off.
    explicit CaptureClock(uint32_t sampleRate = 0, int64_t resyncNs = resyncThresholdNs, int64_t maxStepNs = 0)
        : m_rate(sampleRate), m_resyncNs(resyncNs), m_maxStepNs(maxStepNs) {}

    // Starts afresh: the next buffer takes its measured time as is.
    void reset(uint32_t sampleRate);
    void reset() { reset(m_rate); }

    // The host time (ns) of the first frame of a buffer of `frames` frames whose
    // first frame was measured at `measuredNs`.
    int64_t stamp(int64_t measuredNs, size_t frames);

private:
    int64_t framesToNs(uint64_t frames) const;

    uint32_t m_rate;
    int64_t m_resyncNs;
    int64_t m_maxStepNs;
    bool m_started = false;
    int64_t m_anchorNs = 0;    // host time of frame 0 since the last resync
    uint64_t m_frames = 0;     // frames placed since then
};

} // namespace corvessa
