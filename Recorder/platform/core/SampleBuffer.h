#pragma once

#include "platform/core/AudioFormat.h"
#include "platform/core/MediaTime.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace corvessa {

class PixelBuffer;

// The sample memory of an audio sample buffer: one byte run for interleaved
// audio, one per channel for planar audio. It is shared by every copy of the
// buffer (a retimed copy writes through to the same samples).
struct AudioBufferList {
    std::vector<std::vector<std::byte>> buffers;
};

// One timing entry of a sample buffer.
struct SampleTiming {
    MediaTime duration;
    MediaTime presentationTime;
    MediaTime decodeTime; // usually invalid
};

// A timed media sample: audio (format + sample memory + frame count) or video
// (a pixel buffer). Copies are cheap and share their data.
class SampleBuffer {
public:
    SampleBuffer() = default;

    // Audio: `frames` frames in `format`, zero-filled, presented at `pts`.
    static SampleBuffer audio(const AudioFormat& format, size_t frames, MediaTime pts);
    // Video: a pixel buffer with one timing entry.
    static SampleBuffer video(std::shared_ptr<PixelBuffer> pixels, MediaTime pts, MediaTime duration);

    const std::optional<AudioFormat>& audioFormat() const { return m_format; }
    void setAudioFormat(std::optional<AudioFormat> f) { m_format = f; }
    // Null when the buffer carries no audio memory.
    const std::shared_ptr<AudioBufferList>& audioBuffers() const { return m_audio; }
    void setAudioBuffers(std::shared_ptr<AudioBufferList> list) { m_audio = std::move(list); }
    size_t frameCount() const { return m_frames; }
    void setFrameCount(size_t n) { m_frames = n; }

    const std::shared_ptr<PixelBuffer>& imageBuffer() const { return m_pixels; }

    const std::vector<SampleTiming>& timing() const { return m_timing; }
    void setTiming(std::vector<SampleTiming> t) { m_timing = std::move(t); }
    MediaTime presentationTime() const { return m_timing.empty() ? MediaTime() : m_timing.front().presentationTime; }
    MediaTime duration() const;

    // Typed views of interleaved or planar float32 audio (nullptr when the format is other).
    float* floatData(size_t buffer = 0);
    const float* floatData(size_t buffer = 0) const;

private:
    std::optional<AudioFormat> m_format;
    std::shared_ptr<AudioBufferList> m_audio;
    size_t m_frames = 0;
    std::shared_ptr<PixelBuffer> m_pixels;
    std::vector<SampleTiming> m_timing;

    friend class MediaTime;
};

} // namespace corvessa
