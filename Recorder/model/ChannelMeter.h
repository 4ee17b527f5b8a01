#pragma once

#include "capture/LevelStats.h"

#include <limits>

namespace corvessa {

// What one level meter shows: the levels after and before the gain, the
// peak-hold line and the clip lamp. A plain value; `Meters` keeps the published
// ones on the main thread. Times are seconds on the scheduler's monotonic clock.
struct ChannelMeter {
    static constexpr double distantPast = -std::numeric_limits<double>::infinity();

    static constexpr float floorAmplitude = 0.000001f; // -120 dB: what silence is measured as
    static constexpr float rangeDB = 60;               // the meters show -60 ... 0 dB
    static constexpr double holdSeconds = 1.2;         // how long the hold line stays at a higher peak
    static constexpr float clipPeak = 0.99f;           // a peak this high lights the clip lamp ...
    static constexpr double clipSeconds = 3;           // ... for this long
    static constexpr int keySteps = 24;                // no view resolves a level finer than this

    float norm = 0;    // shown level after the gain, 0 ... 1
    float hold = 0;    // peak-hold level, 0 ... 1
    float preNorm = 0; // shown level before the gain, 0 ... 1
    double holdAt = distantPast;    // when `hold` was last set
    double clipUntil = distantPast; // the clip lamp is lit until then
    float lastPeakDB = -90;

    // A meter showing nothing (the same as a new one).
    static ChannelMeter silent() { return {}; }

    // Linear amplitude to the meter's 0 ... 1 scale (-60 dB ... 0 dB); silence,
    // negative values and values that are not a number give 0.
    static float level(float amplitude);

    // Takes one set of statistics, `dt` seconds after the previous one: levels
    // jump up at once and fall by at most min(dt, 1) per call; the hold line keeps
    // a higher peak for 1.2 s and then drops to the current peak; a peak of 0.99 or
    // more lights the clip lamp for 3 s. Statistics that are not a number count as silence.
    void update(const LevelStats& s, double dt, double now);

    bool clipLit(double now) const { return clipUntil > now; }

    // The levels quantised to 24 steps (norm in bits 0-7, preNorm in 8-15, hold in
    // 16-23) and the clip lamp in bit 24: equal keys look the same in every view.
    int visualKey(double now) const;

    bool operator==(const ChannelMeter&) const = default;
};

} // namespace corvessa
