#include "engine/VideoSyncQueue.h"

#include "capture/OwnedPixels.h"

namespace corvessa {

void VideoSyncQueue::append(Frame frame)
{
    if (!frame.buffer) {
        ++m_dropped;
        return;
    }
    const auto size = int64_t(OwnedPixels::bytes(*frame.buffer));
    if (size > kMaxBytes) {
        ++m_dropped; // lost; its buffer is released here
        return;
    }
    while (!m_frames.empty() && (m_frames.size() >= kMaxFrames || m_bytes + size > kMaxBytes)) {
        m_bytes -= m_frames.front().size;
        m_frames.pop_front();
        ++m_dropped;
    }
    m_frames.push_back(Entry{std::move(frame), size});
    m_bytes += size;
}

std::optional<VideoSyncQueue::Frame> VideoSyncQueue::popFront()
{
    if (m_frames.empty())
        return std::nullopt;
    Entry entry = std::move(m_frames.front());
    m_frames.pop_front();
    m_bytes -= entry.size;
    return std::move(entry.frame);
}

void VideoSyncQueue::reset()
{
    m_frames.clear();
    m_bytes = 0;
    m_dropped = 0;
}

} // namespace corvessa
