#pragma once

namespace corvessa {

// The levels of one audio buffer, linear with full scale 1.0.
struct LevelStats {
    float peak = 0; // largest |sample| after the gain, before clipping (may exceed 1)
    float rms = 0;  // root mean square after the gain, before clipping
    float pre = 0;  // largest |sample| before the gain

    bool operator==(const LevelStats&) const = default;
};

} // namespace corvessa
