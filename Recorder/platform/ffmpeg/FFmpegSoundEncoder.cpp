#include "platform/ffmpeg/FFmpegSoundEncoder.h"

#include "platform/ffmpeg/FFmpegMuxer.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <climits>

namespace corvessa {

namespace {

FFmpegFailure encodeFailure(int code)
{
    return {QStringLiteral("The audio could not be encoded"), code};
}

} // namespace

std::optional<RecorderError> FFmpegSoundEncoder::open(FFmpegMuxer& muxer, const MovieWriter::AudioSettings& a)
{
    m_muxer = &muxer;
    if (a.sampleRate <= 0 || a.channels <= 0)
        return encoderOpenError(AVERROR(EINVAL), QStringLiteral("The audio format %1 Hz, %2 channels is not valid").arg(a.sampleRate).arg(a.channels));
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec)
        return encoderOpenError(AVERROR_ENCODER_NOT_FOUND, QStringLiteral("No AAC encoder is available"));
    m_codec.reset(avcodec_alloc_context3(codec));
    m_packet.reset(av_packet_alloc());
    if (!m_codec || !m_packet)
        return encoderOpenError(AVERROR(ENOMEM), QStringLiteral("Out of memory"));
    m_channels = a.channels;
    AVCodecContext* c = m_codec.get();
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = a.sampleRate;
    av_channel_layout_default(&c->ch_layout, a.channels);
    c->bit_rate = a.bitRate;
    c->time_base = {1, a.sampleRate};
    if (muxer.wantsGlobalHeader())
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int r = avcodec_open2(c, codec, nullptr);
    if (r < 0)
        return encoderOpenError(r, QStringLiteral("The AAC encoder could not be started: ") + ffmpegErrorText(r));
    m_padding = c->initial_padding;
    m_frameSize = c->frame_size > 0 ? c->frame_size : 1024;

    m_stream = avformat_new_stream(muxer.context(), nullptr);
    if (!m_stream)
        return encoderOpenError(AVERROR(ENOMEM), QStringLiteral("Out of memory"));
    avcodec_parameters_from_context(m_stream->codecpar, c);
    m_stream->time_base = c->time_base;

    m_frame.reset(av_frame_alloc());
    m_fifo.reset(av_audio_fifo_alloc(c->sample_fmt, a.channels, int(m_frameSize)));
    if (!m_frame || !m_fifo)
        return encoderOpenError(AVERROR(ENOMEM), QStringLiteral("Out of memory"));
    m_frame->format = c->sample_fmt;
    m_frame->sample_rate = c->sample_rate;
    av_channel_layout_copy(&m_frame->ch_layout, &c->ch_layout);
    m_frame->nb_samples = int(m_frameSize);
    if (const int e = av_frame_get_buffer(m_frame.get(), 0); e < 0)
        return encoderOpenError(e, QStringLiteral("Out of memory"));
    m_planes.resize(size_t(a.channels));
    return std::nullopt;
}

std::optional<FFmpegFailure> FFmpegSoundEncoder::push(const float* samples, int64_t count)
{
    const int ch = m_channels;
    // The encoder's priming output stands in for the movie's first samples, so
    // the input starts that far in and every sample keeps its movie time.
    if (m_next < m_padding) {
        const int64_t skip = std::min(count, m_padding - m_next);
        m_next += skip;
        if (samples) // no samples stands for silence: nothing to step over
            samples += skip * ch;
        count -= skip;
    }
    if (count <= 0)
        return std::nullopt;
    if (av_audio_fifo_size(m_fifo.get()) == 0)
        m_fifoStart = m_next;
    void* planes[AV_NUM_DATA_POINTERS] = {};
    for (int c = 0; c < ch; ++c) {
        std::vector<float>& plane = m_planes[size_t(c)];
        plane.resize(size_t(count));
        if (samples) {
            for (int64_t i = 0; i < count; ++i)
                plane[size_t(i)] = samples[i * ch + c];
        } else {
            std::fill(plane.begin(), plane.end(), 0.0f);
        }
        planes[c] = plane.data();
    }
    if (const int r = av_audio_fifo_write(m_fifo.get(), planes, int(count)); r < 0)
        return encodeFailure(r);
    m_next += count;
    return std::nullopt;
}

std::optional<FFmpegFailure> FFmpegSoundEncoder::encode(const std::vector<float>& samples, int64_t position)
{
    const int ch = m_channels;
    const int64_t count = int64_t(samples.size()) / ch;
    int64_t skip = 0;
    if (position > m_next + kAudioSlack) {
        // A gap: keep the track continuous with silence.
        int64_t gap = position - m_next;
        while (gap > 0) {
            const int64_t n = std::min(gap, kSilenceChunk);
            if (auto failed = push(nullptr, n))
                return failed;
            gap -= n;
            if (auto failed = encodeFrames(false))
                return failed;
        }
    } else if (position < m_next - kAudioSlack) {
        skip = std::min(count, m_next - position); // overlaps what was written
    }
    if (auto failed = push(samples.data() + skip * ch, count - skip))
        return failed;
    return encodeFrames(false);
}

std::optional<FFmpegFailure> FFmpegSoundEncoder::encodeFrames(bool flushAll, int64_t limit)
{
    for (;;) {
        const int64_t available = std::min<int64_t>(av_audio_fifo_size(m_fifo.get()), limit);
        if (available <= 0 || (available < m_frameSize && !flushAll))
            break;
        const int64_t n = std::min(available, m_frameSize);
        if (const int r = av_frame_make_writable(m_frame.get()); r < 0)
            return encodeFailure(r);
        m_frame->nb_samples = int(n);
        void** planes = reinterpret_cast<void**>(m_frame->extended_data);
        if (const int r = av_audio_fifo_read(m_fifo.get(), planes, int(n)); r < n)
            return encodeFailure(r < 0 ? r : AVERROR_BUG);
        m_frame->pts = m_fifoStart;
        m_fifoStart += n;
        limit -= n;
        if (const int r = avcodec_send_frame(m_codec.get(), m_frame.get()); r < 0)
            return encodeFailure(r);
        if (auto failed = drain())
            return failed;
    }
    return std::nullopt;
}

std::optional<FFmpegFailure> FFmpegSoundEncoder::drain()
{
    for (;;) {
        const int r = avcodec_receive_packet(m_codec.get(), m_packet.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return std::nullopt;
        if (r < 0)
            return encodeFailure(r);
        if (const int w = m_muxer->write(m_packet.get(), m_codec->time_base, m_stream); w < 0)
            return FFmpegFailure{QStringLiteral("The movie file could not be written"), w};
    }
}

std::optional<FFmpegFailure> FFmpegSoundEncoder::finish(std::optional<int64_t> endSample)
{
    // What lies past the end of the movie is dropped.
    const int64_t limit = endSample ? std::max<int64_t>(0, *endSample - m_fifoStart) : INT64_MAX;
    if (auto failed = encodeFrames(true, limit))
        return failed;
    av_audio_fifo_reset(m_fifo.get());
    if (const int r = avcodec_send_frame(m_codec.get(), nullptr); r < 0 && r != AVERROR_EOF)
        return encodeFailure(r);
    return drain();
}

void FFmpegSoundEncoder::close()
{
    m_codec.reset();
    m_stream = nullptr;
}

} // namespace corvessa
