#pragma once

#include <cstdint>

namespace corvessa {

// Describes linear PCM audio the way capture backends report it: rate, channel
// count, bits and bytes per frame and layout flags.
struct AudioFormat {
    enum Flags : uint32_t {
        IsFloat = 1u << 0,
        IsBigEndian = 1u << 1,
        IsSignedInteger = 1u << 2,
        IsPacked = 1u << 3,
        IsNonInterleaved = 1u << 5,
    };

    double sampleRate = 0;
    uint32_t formatFlags = 0;
    uint32_t bytesPerFrame = 0;   // of one buffer: all channels when interleaved, one when planar
    uint32_t channelsPerFrame = 0;
    uint32_t bitsPerChannel = 0;

    bool isFloat() const { return formatFlags & IsFloat; }
    bool isInterleaved() const { return !(formatFlags & IsNonInterleaved); }
    // How many separate sample buffers one sample buffer of this format carries.
    uint32_t bufferCount() const { return isInterleaved() ? 1 : channelsPerFrame; }

    // Linear PCM formats as the capture paths deliver them.
    static AudioFormat floatFormat(double rate, uint32_t channels, bool interleaved = true, uint32_t bits = 32);
    static AudioFormat integerFormat(double rate, uint32_t channels, uint32_t bits, bool interleaved = true);

    bool operator==(const AudioFormat&) const = default;
};

} // namespace corvessa
