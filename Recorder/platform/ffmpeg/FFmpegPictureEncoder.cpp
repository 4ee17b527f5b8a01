#include "platform/ffmpeg/FFmpegPictureEncoder.h"

#include "platform/core/RecorderLog.h"
#include "platform/core/ThreadPriority.h"
#include "platform/ffmpeg/FFmpegMovieWriter.h"
#include "platform/ffmpeg/FFmpegMuxer.h"

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/opt.h>
}

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

namespace corvessa {

namespace {

// Slices converted in parallel from BGRA, or NV12 of another size, to the
// encoder's 4:2:0.
constexpr int kConversionThreads = 4;

// NV12 of the encoder's size into its three planes: the luma rows copied, the
// CbCr pairs parted. A plain copy, where swscale would wake its slice threads
// for what takes a fraction of a millisecond.
void splitNV12(const PixelBuffer& from, AVFrame& to)
{
    for (int y = 0; y < from.height(); ++y)
        std::memcpy(to.data[0] + ptrdiff_t(y) * to.linesize[0], from.baseAddress(0) + y * from.bytesPerRow(0),
                    size_t(from.width()));
    const int pairs = from.width() / 2;
    for (int y = 0; y < from.height() / 2; ++y) {
        const uint8_t* uv = from.baseAddress(1) + y * from.bytesPerRow(1);
        uint8_t* u = to.data[1] + ptrdiff_t(y) * to.linesize[1];
        uint8_t* v = to.data[2] + ptrdiff_t(y) * to.linesize[2];
        int x = 0;
#if defined(__SSE2__)
        const __m128i low = _mm_set1_epi16(0x00ff);
        for (; x + 16 <= pairs; x += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + 2 * x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + 2 * x + 16));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(u + x),
                             _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(v + x),
                             _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8)));
        }
#endif
        for (; x < pairs; ++x) {
            u[x] = uv[2 * x];
            v[x] = uv[2 * x + 1];
        }
    }
}

FFmpegFailure encodeFailure(int code)
{
    return {QStringLiteral("The video could not be encoded"), code};
}

} // namespace

FFmpegPictureEncoder::FFmpegPictureEncoder()
    : m_scaler(kConversionThreads)
{
}

std::optional<RecorderError> FFmpegPictureEncoder::open(FFmpegMuxer& muxer, const MovieWriter::VideoSettings& v)
{
    m_muxer = &muxer;
    if (v.width <= 0 || v.height <= 0)
        return encoderOpenError(AVERROR(EINVAL), QStringLiteral("The movie size %1x%2 is not valid").arg(v.width).arg(v.height));
    const AVCodec* codec = avcodec_find_encoder_by_name("libx265");
    if (!codec)
        return encoderOpenError(AVERROR_ENCODER_NOT_FOUND, QStringLiteral("No HEVC encoder (libx265) is available"));
    m_codec.reset(avcodec_alloc_context3(codec));
    m_packet.reset(av_packet_alloc());
    if (!m_codec || !m_packet)
        return encoderOpenError(AVERROR(ENOMEM), QStringLiteral("Out of memory"));

    const int fps = v.expectedFrameRate > 0 ? v.expectedFrameRate : 30;
    const double keySeconds = v.maxKeyFrameInterval > 0 ? v.maxKeyFrameInterval : 2.0;
    const int keyint = std::max(1, int(std::lround(keySeconds * fps)));
    m_defaultFrameTicks = std::max<int64_t>(1, kVideoTimescale / fps);
    m_keyIntervalTicks = std::max<int64_t>(1, std::llround(keySeconds * kVideoTimescale));

    AVCodecContext* c = m_codec.get();
    c->width = FFmpegMovieWriter::encodedSide(v.width);
    c->height = FFmpegMovieWriter::encodedSide(v.height);
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = {1, kVideoTimescale};
    c->framerate = {fps, 1};
    c->bit_rate = std::max(v.averageBitRate, FFmpegMovieWriter::minimumVideoBitRate);
    c->gop_size = keyint;
    c->max_b_frames = v.allowFrameReordering ? -1 : 0;
    // One frame thread (below); x265 still spreads each picture's rows over
    // the cores.
    c->thread_count = 0;
    c->color_range = AVCOL_RANGE_MPEG;
    if (v.colorTags) {
        c->color_primaries = AVCOL_PRI_BT709;
        c->color_trc = AVCOL_TRC_IEC61966_2_1;
        c->colorspace = AVCOL_SPC_BT709;
    }
    if (muxer.wantsGlobalHeader())
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    const QString preset = v.speedPreset.isEmpty() ? FFmpegMovieWriter::defaultSpeedPreset : v.speedPreset;
    // frame-threads: the wrapper overrides the tuning's one frame thread with
    // its own count (0 = several), and each frame thread holds a picture back.
    QString params = QStringLiteral("keyint=%1:open-gop=0:info=0:log-level=error:frame-threads=1").arg(keyint);
    if (!v.allowFrameReordering)
        params += QStringLiteral(":bframes=0");
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", preset.toUtf8().constData(), 0);
    // No look-ahead and one frame thread: each picture leaves the encoder as it
    // goes in. Otherwise x265 holds about a dozen, which on a still screen (a
    // frame every 0.9 s) is ten seconds that a crash would lose.
    av_dict_set(&options, "tune", "zerolatency", 0);
    av_dict_set(&options, "x265-params", params.toUtf8().constData(), 0);
    av_dict_set(&options, "forced-idr", "1", 0);
    // x265 lowers its pool's threads by ten nice steps; with every CPU busy
    // they then get a tenth of a normal thread's share, the encoder falls
    // behind and the queue overflows. They are started while the encoder
    // opens, so it opens where they keep their priority: a little below their
    // creator's, where the sound's threads run.
    int r = 0;
    const bool kept =
        runWithPriorityKept([&] { r = avcodec_open2(c, codec, &options); }, FFmpegMovieWriter::encoderNiceSteps);
    av_dict_free(&options);
    if (!kept && r >= 0) {
        static std::once_flag said;
        std::call_once(said, [] {
            RecorderLog::write(QStringLiteral("[writer] the encoder's threads run at lowered priority on this system"));
        });
    }
    if (r < 0)
        return encoderOpenError(r, QStringLiteral("The HEVC encoder could not be started: ") + ffmpegErrorText(r));

    m_stream = avformat_new_stream(muxer.context(), nullptr);
    if (!m_stream)
        return encoderOpenError(AVERROR(ENOMEM), QStringLiteral("Out of memory"));
    avcodec_parameters_from_context(m_stream->codecpar, c);
    m_stream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
    m_stream->time_base = c->time_base;

    m_frame.reset(av_frame_alloc());
    m_held.reset(av_packet_alloc());
    if (!m_frame || !m_held)
        return encoderOpenError(AVERROR(ENOMEM), QStringLiteral("Out of memory"));
    m_frame->format = c->pix_fmt;
    m_frame->width = c->width;
    m_frame->height = c->height;
    m_frame->color_range = c->color_range;
    m_frame->color_primaries = c->color_primaries;
    m_frame->color_trc = c->color_trc;
    m_frame->colorspace = c->colorspace;
    if (const int e = av_frame_get_buffer(m_frame.get(), 0); e < 0)
        return encoderOpenError(e, QStringLiteral("Out of memory"));
    return std::nullopt;
}

std::optional<FFmpegFailure> FFmpegPictureEncoder::convert(const PixelBuffer& pixels)
{
    if (const int r = av_frame_make_writable(m_frame.get()); r < 0)
        return FFmpegFailure{QStringLiteral("The picture could not be converted"), r};
    // Screen pictures are BT.709 (NV12 in video range, BGRA full range); the
    // movie is BT.709 video range, as its colour tags say. The scaler's
    // defaults are just that.
    if (pixels.format() == PixelFormat::NV12VideoRange && pixels.width() == m_frame->width
        && pixels.height() == m_frame->height) {
        splitNV12(pixels, *m_frame);
        return std::nullopt;
    }
    SwsScaler::Picture to;
    to.format = SwsScaler::Format::YUV420P;
    to.width = m_frame->width;
    to.height = m_frame->height;
    for (int i = 0; i < 3; ++i) {
        to.data[i] = m_frame->data[i];
        to.stride[i] = m_frame->linesize[i];
    }
    if (!m_scaler.scale(SwsScaler::crop(pixels, QRect(0, 0, pixels.width(), pixels.height())), to))
        return FFmpegFailure{QStringLiteral("The picture could not be converted"), m_scaler.lastError()};
    return std::nullopt;
}

std::optional<FFmpegFailure> FFmpegPictureEncoder::encode(const PixelBuffer& pixels, MediaTime at, MediaTime duration)
{
    if (auto failed = convert(pixels))
        return failed;
    int64_t ticks = at.convertScale(kVideoTimescale).value();
    if (ticks <= m_lastTicks)
        ticks = m_lastTicks + 1; // two times closer than one tick
    m_lastTicks = ticks;

    // The encoder counts its key frame interval in frames; a screen that is still
    // for a while sends few frames, so the interval is also kept in time here.
    const bool forceKey = !m_keySeen || ticks - m_lastKeyTicks >= m_keyIntervalTicks - m_defaultFrameTicks / 2;
    if (forceKey) {
        m_keySeen = true;
        m_lastKeyTicks = ticks;
    }
    m_frame->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    m_frame->pts = ticks;
    const int64_t nominal = duration.isValid() && duration > MediaTime::zero()
                                ? std::max<int64_t>(1, duration.convertScale(kVideoTimescale).value())
                                : m_defaultFrameTicks;
    m_nominalDurations.push_back(nominal);

    if (const int r = avcodec_send_frame(m_codec.get(), m_frame.get()); r < 0)
        return encodeFailure(r);
    return drain();
}

std::optional<FFmpegFailure> FFmpegPictureEncoder::drain()
{
    for (;;) {
        const int r = avcodec_receive_packet(m_codec.get(), m_packet.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return std::nullopt;
        if (r < 0)
            return encodeFailure(r);
        if (m_packet->flags & AV_PKT_FLAG_KEY)
            m_lastKeyTicks = std::max(m_lastKeyTicks, m_packet->pts);
        int64_t nominal = m_defaultFrameTicks;
        if (!m_nominalDurations.empty()) {
            nominal = m_nominalDurations.front();
            m_nominalDurations.pop_front();
        }
        if (m_hasHeld) {
            const int64_t gap = m_packet->dts - m_held->dts;
            if (auto failed = writeHeld(gap > 0 ? gap : m_heldNominalDuration)) {
                av_packet_unref(m_packet.get());
                return failed;
            }
        }
        av_packet_move_ref(m_held.get(), m_packet.get());
        m_hasHeld = true;
        m_heldNominalDuration = nominal;
    }
}

std::optional<FFmpegFailure> FFmpegPictureEncoder::writeHeld(int64_t duration)
{
    m_hasHeld = false;
    m_held->duration = duration;
    if (const int r = m_muxer->write(m_held.get(), m_codec->time_base, m_stream); r < 0)
        return FFmpegFailure{QStringLiteral("The movie file could not be written"), r};
    return std::nullopt;
}

std::optional<FFmpegFailure> FFmpegPictureEncoder::writeHeldUntil(MediaTime at)
{
    if (!m_codec || !m_hasHeld || !m_nominalDurations.empty())
        return std::nullopt;
    const int64_t endTicks = at.convertScale(kVideoTimescale).value();
    const int64_t duration = endTicks > m_held->pts ? endTicks - m_held->pts : m_heldNominalDuration;
    m_lastTicks = std::max(m_lastTicks, m_held->pts + duration - 1); // nothing lands inside it
    return writeHeld(duration);
}

std::optional<FFmpegFailure> FFmpegPictureEncoder::finish(std::optional<MediaTime> end)
{
    if (const int r = avcodec_send_frame(m_codec.get(), nullptr); r < 0 && r != AVERROR_EOF)
        return encodeFailure(r);
    if (auto failed = drain())
        return failed;
    if (!m_hasHeld)
        return std::nullopt;
    int64_t duration = m_heldNominalDuration;
    if (end) {
        const int64_t endTicks = end->convertScale(kVideoTimescale).value();
        if (endTicks > m_held->pts)
            duration = endTicks - m_held->pts;
    }
    return writeHeld(duration);
}

void FFmpegPictureEncoder::close()
{
    if (m_held)
        av_packet_unref(m_held.get());
    m_hasHeld = false;
    m_scaler.reset();
    m_codec.reset();
    m_stream = nullptr;
}

} // namespace corvessa
