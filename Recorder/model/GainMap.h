#pragma once

namespace corvessa {

// The gain rules shared by the gain sliders, the model and the engine's factors.
// Stateless.
class GainMap {
public:
    static constexpr double minDB = -48; // the silent end of the slider
    static constexpr double maxDB = 12;

    // Slider position in -1 ... 1 to decibels: the left half spans -48 ... 0 dB,
    // the right half 0 ... +12 dB, with a dead zone of ±0.8 dB around the middle
    // (so the slider snaps to unity) and 0.5 dB steps elsewhere. Positions outside
    // -1 ... 1 count as the nearest end; a position that is not a number as the middle.
    static double dB(double x);

    // A stored or typed gain made usable: not a number or infinite gives
    // `fallback` (as given), anything else is clamped to -48 ... +12 dB.
    static double sanitize(double dB, double fallback);

    // The linear factor of a gain: 0 at or below -48 dB (the slider's silent end
    // is silence, not 10^-2.4), else 10^(dB/20). Gains above +12 dB give the
    // +12 dB factor and a gain that is not a number gives 0, so nonsense never
    // reaches the samples.
    static float factor(double dB);
};

} // namespace corvessa
