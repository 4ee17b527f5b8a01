#pragma once

#include "platform/core/RecorderError.h"
#include "platform/ffmpeg/FFmpegFailure.h"
#include "platform/ffmpeg/FFmpegHandles.h"
#include "platform/MovieWriter.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace corvessa {

class FFmpegMuxer;

// The movie's sound track: interleaved float samples, each placed at its movie
// sample position, queued in FFmpeg's audio FIFO until they fill one of the AAC
// encoder's frames, encoded and handed to the muxer. The track stays
// continuous: a gap is filled with silence and an overlap with what was
// written is skipped. The encoder's priming output stands in for the movie's
// first samples, so every sample keeps its movie time. Owned by the movie
// writer's thread ("movie.writer").
class FFmpegSoundEncoder {
public:
    // Pieces that start within this many samples of where the last one ended
    // are taken as contiguous: their times were rounded, not cut.
    static constexpr int64_t kAudioSlack = 2;
    // A stretch of missing sound is filled with silence in pieces of this many
    // samples, so a long gap never needs a long buffer.
    static constexpr int64_t kSilenceChunk = 48000;

    // Opens the encoder and adds its stream to `muxer`, which must outlive it.
    std::optional<RecorderError> open(FFmpegMuxer& muxer, const MovieWriter::AudioSettings& a);
    bool isOpen() const { return bool(m_codec); }
    int sampleRate() const { return m_codec ? m_codec->sample_rate : 0; }

    // Encodes `samples` (interleaved, whole frames) from movie sample `position` on.
    std::optional<FFmpegFailure> encode(const std::vector<float>& samples, int64_t position);
    // Encodes what is queued up to movie sample `endSample` (all of it when
    // nothing is given), the last frame short, and drains the encoder.
    std::optional<FFmpegFailure> finish(std::optional<int64_t> endSample);
    // Lets go of the encoder. Frames and packets stay until this object goes,
    // as a failure can come from inside a loop that still holds them.
    void close();

private:
    // Queues `count` frames for the encoder; null `samples` queue silence.
    std::optional<FFmpegFailure> push(const float* samples, int64_t count);
    // Encodes whole frames of what is queued; with `flushAll` also the rest,
    // up to `limit` samples.
    std::optional<FFmpegFailure> encodeFrames(bool flushAll, int64_t limit = INT64_MAX);
    std::optional<FFmpegFailure> drain();

    FFmpegMuxer* m_muxer = nullptr;
    AVCodecContextPtr m_codec;
    AVStream* m_stream = nullptr;
    AVFramePtr m_frame;
    AVPacketPtr m_packet;
    int m_channels = 0;
    int64_t m_frameSize = 1024; // the encoder's
    // Samples waiting to fill an encoder frame, planar as the encoder takes them.
    AVAudioFifoPtr m_fifo;
    std::vector<std::vector<float>> m_planes; // one piece parted into channels on its way in
    int64_t m_fifoStart = 0; // movie sample position of the first sample in the FIFO
    int64_t m_next = 0;      // movie sample position where the next piece belongs
    int64_t m_padding = 0;   // the encoder's priming delay, in samples
};

} // namespace corvessa
