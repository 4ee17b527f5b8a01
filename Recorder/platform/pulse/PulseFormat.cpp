#include "platform/pulse/PulseFormat.h"

namespace corvessa {

std::optional<AudioFormat> audioFormatFromPulse(const pa_sample_spec& spec)
{
    if (!pa_sample_spec_valid(&spec))
        return std::nullopt;
    switch (spec.format) {
    case PA_SAMPLE_FLOAT32LE:
        return AudioFormat::floatFormat(spec.rate, spec.channels);
    case PA_SAMPLE_S16LE:
        return AudioFormat::integerFormat(spec.rate, spec.channels, 16);
    case PA_SAMPLE_S24LE:
        return AudioFormat::integerFormat(spec.rate, spec.channels, 24);
    case PA_SAMPLE_S32LE:
        return AudioFormat::integerFormat(spec.rate, spec.channels, 32);
    default:
        return std::nullopt;
    }
}

std::optional<pa_sample_spec> pulseSampleSpec(const AudioFormat& format)
{
    if (!format.isInterleaved() || (format.formatFlags & AudioFormat::IsBigEndian))
        return std::nullopt;
    pa_sample_spec spec{};
    if (format.isFloat() && format.bitsPerChannel == 32)
        spec.format = PA_SAMPLE_FLOAT32LE;
    else if (!format.isFloat() && format.bitsPerChannel == 16)
        spec.format = PA_SAMPLE_S16LE;
    else if (!format.isFloat() && format.bitsPerChannel == 24)
        spec.format = PA_SAMPLE_S24LE;
    else if (!format.isFloat() && format.bitsPerChannel == 32)
        spec.format = PA_SAMPLE_S32LE;
    else
        return std::nullopt;
    if (format.sampleRate < 1 || format.sampleRate > PA_RATE_MAX || format.channelsPerFrame < 1
        || format.channelsPerFrame > PA_CHANNELS_MAX)
        return std::nullopt;
    spec.rate = uint32_t(format.sampleRate);
    spec.channels = uint8_t(format.channelsPerFrame);
    if (!pa_sample_spec_valid(&spec) || pa_frame_size(&spec) != format.bytesPerFrame)
        return std::nullopt;
    return spec;
}

} // namespace corvessa
