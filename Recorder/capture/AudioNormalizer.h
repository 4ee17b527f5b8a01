#pragma once

#include "platform/core/AudioFormat.h"
#include "platform/core/MediaTime.h"
#include "platform/core/SampleBuffer.h"
#include "platform/ffmpeg/AudioResampler.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvessa {

// Converts captured audio of any PCM format (16/24/32-bit integer, 32/64-bit
// float, interleaved or planar, any rate and channel count) into the engine's
// format: 32-bit float, 48000 Hz, stereo, interleaved. Mono is copied to both
// channels at full level.
//
// The resampler runs on from one buffer to the next, so a continuous input gives
// a continuous output. Each output buffer carries its input buffer's presentation
// time; the resampler holds back a few frames (under 1 ms), which the mixer glues
// on. The held-back frames are flushed out, behind the audio they belong to, when
// the input format changes or the input's times jump (a hole or an overlap), so
// no audio is carried across a hole or lost at a device switch.
//
// Used from one queue only.
class AudioNormalizer {
public:
    static constexpr int32_t outputRate = 48000;
    static AudioFormat outputFormat();

    // "rate/channels/flags/bits", e.g. "48000.0/1/41/32": inputs with the same key
    // share a converter.
    static std::string formatKey(const AudioFormat& format);

    AudioNormalizer();
    ~AudioNormalizer();
    AudioNormalizer(AudioNormalizer&&) noexcept;
    AudioNormalizer& operator=(AudioNormalizer&&) noexcept;

    // Converted audio for one captured buffer, in the order it plays: usually one
    // buffer, none while the resampler is still filling or when the input cannot be
    // used (see lastError), and an extra one in front when earlier audio was flushed.
    std::vector<SampleBuffer> convert(const SampleBuffer& buffer);

    // Drops the converter and its held-back audio; the next buffer starts afresh.
    void reset();

    // The key of the format the current converter was made for ("" after reset).
    const std::string& inKey() const { return m_inKey; }
    // Why the last convert gave nothing for its buffer; empty when it was usable.
    const std::string& lastError() const { return m_lastError; }

private:
    bool makeConverter(const AudioFormat& format, int32_t rate);
    void flushInto(std::vector<SampleBuffer>& out);
    SampleBuffer outputBuffer(size_t capacity, MediaTime pts) const;

    AudioResampler m_converter;
    std::string m_inKey;
    std::string m_lastError;
    // Where the input's next buffer is due, to notice holes and overlaps.
    MediaTime m_expectedInput;
    // Where the converter's next output frame goes (end of the last output).
    MediaTime m_nextOutput;
    // Integer samples widened to 32 bits or byte-swapped before conversion.
    std::vector<std::vector<std::byte>> m_staging;
};

} // namespace corvessa
