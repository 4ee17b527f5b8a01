#include "platform/ffmpeg/AudioResampler.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace corvessa {

namespace {

AVSampleFormat sampleFormat(AudioResampler::SampleType type, bool planar)
{
    AVSampleFormat f = AV_SAMPLE_FMT_NONE;
    switch (type) {
    case AudioResampler::SampleType::Int16: f = AV_SAMPLE_FMT_S16; break;
    case AudioResampler::SampleType::Int32: f = AV_SAMPLE_FMT_S32; break;
    case AudioResampler::SampleType::Float32: f = AV_SAMPLE_FMT_FLT; break;
    case AudioResampler::SampleType::Float64: f = AV_SAMPLE_FMT_DBL; break;
    }
    return planar ? av_get_planar_sample_fmt(f) : f;
}

} // namespace

void AudioResampler::Free::operator()(SwrContext* context) const
{
    swr_free(&context);
}

AudioResampler::AudioResampler() = default;
AudioResampler::~AudioResampler() = default;
AudioResampler::AudioResampler(AudioResampler&&) noexcept = default;
AudioResampler& AudioResampler::operator=(AudioResampler&&) noexcept = default;

bool AudioResampler::open(const Input& input, int outputRate)
{
    m_context.reset();
    AVChannelLayout in{};
    av_channel_layout_default(&in, input.channels);
    AVChannelLayout out = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext* raw = nullptr;
    const int made = swr_alloc_set_opts2(&raw, &out, AV_SAMPLE_FMT_FLT, outputRate, &in,
                                         sampleFormat(input.type, input.planar), input.rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    std::unique_ptr<SwrContext, Free> context(raw);
    if (made < 0 || !context)
        return false;
    if (input.channels == 1) {
        // Both sides carry the mono signal at full level (the default pans it at -3 dB).
        const double matrix[2] = {1.0, 1.0};
        if (swr_set_matrix(context.get(), matrix, 1) < 0)
            return false;
    }
    if (swr_init(context.get()) < 0)
        return false;
    m_context = std::move(context);
    return true;
}

void AudioResampler::close()
{
    m_context.reset();
}

bool AudioResampler::restart()
{
    if (!m_context || swr_init(m_context.get()) < 0) {
        m_context.reset();
        return false;
    }
    return true;
}

int AudioResampler::outputCapacity(int frames) const
{
    return m_context ? swr_get_out_samples(m_context.get(), frames) : AVERROR(EINVAL);
}

int AudioResampler::convert(float* out, int capacity, const uint8_t* const* planes, int frames)
{
    if (!m_context)
        return AVERROR(EINVAL);
    auto* dst = reinterpret_cast<uint8_t*>(out);
    return swr_convert(m_context.get(), &dst, capacity, const_cast<const uint8_t**>(planes), planes ? frames : 0);
}

} // namespace corvessa
