#include "platform/core/AudioFormat.h"

namespace corvessa {

static AudioFormat makeFormat(double rate, uint32_t channels, uint32_t bits, bool interleaved, uint32_t flags)
{
    AudioFormat f;
    f.sampleRate = rate;
    f.channelsPerFrame = channels;
    f.bitsPerChannel = bits;
    f.formatFlags = flags | uint32_t(AudioFormat::IsPacked) | (interleaved ? 0u : uint32_t(AudioFormat::IsNonInterleaved));
    const uint32_t bytes = (bits + 7) / 8;
    f.bytesPerFrame = interleaved ? bytes * channels : bytes;
    return f;
}

AudioFormat AudioFormat::floatFormat(double rate, uint32_t channels, bool interleaved, uint32_t bits)
{
    return makeFormat(rate, channels, bits, interleaved, IsFloat);
}

AudioFormat AudioFormat::integerFormat(double rate, uint32_t channels, uint32_t bits, bool interleaved)
{
    return makeFormat(rate, channels, bits, interleaved, IsSignedInteger);
}

} // namespace corvessa
