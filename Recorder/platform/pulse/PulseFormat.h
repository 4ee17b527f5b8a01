#pragma once

#include "platform/core/AudioFormat.h"

#include <optional>

#include <pulse/sample.h>

namespace corvessa {

// Conversions between the server's sample formats (pa_sample_spec) and AudioFormat. Only
// little-endian linear PCM that the audio paths read (float32, s16, s24, s32)
// converts; anything else gives nothing.
std::optional<AudioFormat> audioFormatFromPulse(const pa_sample_spec& spec);
std::optional<pa_sample_spec> pulseSampleSpec(const AudioFormat& format);

} // namespace corvessa
