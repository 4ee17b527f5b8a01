#include "platform/core/SampleBuffer.h"

#include "platform/core/PixelBuffer.h"

namespace corvessa {

SampleBuffer SampleBuffer::audio(const AudioFormat& format, size_t frames, MediaTime pts)
{
    SampleBuffer b;
    b.m_format = format;
    b.m_frames = frames;
    b.m_audio = std::make_shared<AudioBufferList>();
    b.m_audio->buffers.resize(format.bufferCount());
    for (auto& buf : b.m_audio->buffers)
        buf.assign(frames * format.bytesPerFrame, std::byte{0});
    const auto rate = int32_t(format.sampleRate);
    b.m_timing.push_back({rate > 0 ? MediaTime(int64_t(frames), rate) : MediaTime(), pts, MediaTime()});
    return b;
}

SampleBuffer SampleBuffer::video(std::shared_ptr<PixelBuffer> pixels, MediaTime pts, MediaTime duration)
{
    SampleBuffer b;
    b.m_pixels = std::move(pixels);
    b.m_timing.push_back({duration, pts, MediaTime()});
    return b;
}

MediaTime SampleBuffer::duration() const
{
    if (m_timing.empty())
        return {};
    MediaTime total = MediaTime::zero();
    for (const auto& t : m_timing) {
        if (!t.duration.isValid())
            return {};
        total += t.duration;
    }
    return total;
}

float* SampleBuffer::floatData(size_t buffer)
{
    if (!m_format || !m_format->isFloat() || m_format->bitsPerChannel != 32 || !m_audio || buffer >= m_audio->buffers.size())
        return nullptr;
    return reinterpret_cast<float*>(m_audio->buffers[buffer].data());
}

const float* SampleBuffer::floatData(size_t buffer) const
{
    return const_cast<SampleBuffer*>(this)->floatData(buffer);
}

} // namespace corvessa
