#include "engine/EarlySound.h"

namespace corvessa {

void EarlySound::keep(Source source, const SampleBuffer& buffer)
{
    m_buffers.emplace_back(source, buffer);
    m_frames += int64_t(buffer.frameCount());
    while (m_frames > m_maxFrames && m_buffers.size() > 1) {
        m_frames -= int64_t(m_buffers.front().second.frameCount());
        m_buffers.pop_front();
    }
}

EarlySound::Buffers EarlySound::take()
{
    m_frames = 0;
    return std::exchange(m_buffers, {});
}

void EarlySound::clear()
{
    m_buffers.clear();
    m_frames = 0;
}

} // namespace corvessa
