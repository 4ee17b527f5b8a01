#pragma once

#include "platform/core/MediaTime.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/RecorderError.h"
#include "platform/ffmpeg/FFmpegFailure.h"
#include "platform/ffmpeg/FFmpegHandles.h"
#include "platform/ffmpeg/SwsScaler.h"
#include "platform/MovieWriter.h"

#include <cstdint>
#include <deque>
#include <optional>

namespace corvessa {

class FFmpegMuxer;

// The movie's picture track: screen pictures converted to BT.709 video-range
// 4:2:0 (scaled when a picture's size differs from the movie's), encoded to
// HEVC through libx265 (tag 'hvc1', a key frame at least every key frame
// interval of movie time) and handed to the muxer. Packets are written one
// behind, so that each one's duration is the distance to the next: a still
// screen gives long frames, not gaps. Owned by the movie writer's thread
// ("movie.writer").
class FFmpegPictureEncoder {
public:
    // Video time stamps count 1/90000 s: exact for 24, 25, 30, 50, 60 and 120 fps
    // and fine enough for the irregular times of a screen that changes now and then.
    static constexpr int kVideoTimescale = 90000;

    FFmpegPictureEncoder();

    // Opens the encoder and adds its stream to `muxer`, which must outlive it.
    std::optional<RecorderError> open(FFmpegMuxer& muxer, const MovieWriter::VideoSettings& v);
    bool isOpen() const { return bool(m_codec); }

    // Encodes a picture at movie time `at`, lasting `duration` unless the next
    // one comes sooner or later.
    std::optional<FFmpegFailure> encode(const PixelBuffer& pixels, MediaTime at, MediaTime duration);
    // The held picture lasts until movie time `at`, where the movie goes on,
    // unless the encoder still holds later ones, whose times then tell.
    std::optional<FFmpegFailure> writeHeldUntil(MediaTime at);
    // Drains the encoder; the last picture lasts until `end` (movie time) if
    // that is known and after it.
    std::optional<FFmpegFailure> finish(std::optional<MediaTime> end);
    // Lets go of the encoder. Frames and packets stay until this object goes,
    // as a failure can come from inside a loop that still holds them.
    void close();

private:
    std::optional<FFmpegFailure> convert(const PixelBuffer& pixels);
    std::optional<FFmpegFailure> drain();
    std::optional<FFmpegFailure> writeHeld(int64_t duration);

    FFmpegMuxer* m_muxer = nullptr;
    AVCodecContextPtr m_codec;
    AVStream* m_stream = nullptr;
    AVFramePtr m_frame;
    AVPacketPtr m_packet;
    // Converting a 4K picture takes one core about a frame's time at 30 fps; in
    // slices it keeps up.
    SwsScaler m_scaler;

    AVPacketPtr m_held;
    bool m_hasHeld = false;
    int64_t m_heldNominalDuration = 0;
    std::deque<int64_t> m_nominalDurations; // of the frames inside the encoder, in order
    int64_t m_defaultFrameTicks = kVideoTimescale / 30;
    int64_t m_lastTicks = -1;
    int64_t m_lastKeyTicks = 0;
    bool m_keySeen = false;
    int64_t m_keyIntervalTicks = 2 * kVideoTimescale;
};

} // namespace corvessa
