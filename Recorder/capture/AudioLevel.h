#pragma once

#include "capture/LevelStats.h"

#include <optional>

namespace corvessa {

class SampleBuffer;

// Measures an audio sample buffer and applies a gain to its samples in place.
class AudioLevel {
public:
    // Measures every sample of every buffer (interleaved or planar; float32,
    // float64, int16, packed int24, int32). Unless `gain` is exactly 1, each
    // sample is multiplied by it and written back clipped to full scale. Nothing
    // when the buffer carries no usable audio.
    static std::optional<LevelStats> process(SampleBuffer& buffer, float gain);
};

} // namespace corvessa
