#include "capture/CameraOverlayState.h"

#include "capture/OwnedPixels.h"

#include <vector>

namespace corvessa {

bool CameraOverlayState::Layout::isDrawable() const
{
    // A full-screen camera covers the frame whatever the bubble looks like.
    return fullScreen || (visible && frame.width() > kMinDrawableWidth);
}

CameraOverlayState::Snapshot CameraOverlayState::makeSnapshot(const Layout& layout, const Frame& frame)
{
    return Snapshot{layout.frame, layout.shape, layout.radius, layout.mirrored, frame.buffer, frame.pts, layout.fullScreen};
}

void CameraOverlayState::setBuffer(const PixelBuffer& picture, MediaTime pts)
{
    if (!pts.isNumeric())
        return;
    if (OwnedPixels::bytes(picture) > size_t(kMaxBytes))
        return;

    // Copy before locking: the engine must never wait for a camera picture's copy.
    PixelBufferRef copy = OwnedPixels::copy(picture);
    if (!copy)
        return;
    const auto bytes = int64_t(OwnedPixels::bytes(*copy));
    // The copy's rows may be padded more than the source's. One picture that alone
    // exceeds the budget would otherwise be trimmed away at once, emptying the store.
    if (bytes > kMaxBytes)
        return;

    // Trimmed pictures are freed after the lock is released.
    std::vector<Frame> trimmed;
    trimmed.reserve(4);
    std::lock_guard lock(l);
    if (!m_frames.empty() && pts <= m_frames.back().pts)
        return; // out of order or repeated

    m_frames.push_back(Frame{std::move(copy), pts, bytes});
    m_usedBytes += bytes;
    while (m_frames.size() > kMaxFrames || m_usedBytes > kMaxBytes
           || (m_frames.size() >= 2 && pts - m_frames.front().pts > kMaxSpan)) {
        m_usedBytes -= m_frames.front().bytes;
        trimmed.push_back(std::move(m_frames.front()));
        m_frames.pop_front();
    }
}

std::optional<CameraOverlayState::Snapshot> CameraOverlayState::snapshot() const
{
    std::lock_guard lock(l);
    if (!m_layout.isDrawable() || m_frames.empty())
        return std::nullopt;
    return makeSnapshot(m_layout, m_frames.back());
}

std::optional<CameraOverlayState::Snapshot> CameraOverlayState::snapshot(MediaTime t, const Layout& layout,
                                                                          MediaTime minimumPTS) const
{
    if (!layout.isDrawable() || !t.isNumeric())
        return std::nullopt;

    std::lock_guard lock(l);
    // Times only grow along the list, so the newest picture not later than t is the
    // only candidate: anything older is older still.
    for (auto it = m_frames.rbegin(); it != m_frames.rend(); ++it) {
        if (it->pts > t)
            continue;
        if (t - it->pts > kMaxAge)
            return std::nullopt;
        if (minimumPTS.isNumeric() && it->pts < minimumPTS)
            return std::nullopt;
        return makeSnapshot(layout, *it);
    }
    return std::nullopt;
}

CameraOverlayState::Layout CameraOverlayState::layout() const
{
    std::lock_guard lock(l);
    return m_layout;
}

void CameraOverlayState::setLayout(const Layout& layout)
{
    std::lock_guard lock(l);
    m_layout = layout;
}

void CameraOverlayState::setBubble(const Layout& layout)
{
    std::lock_guard lock(l);
    const bool fullScreen = m_layout.fullScreen;
    m_layout = layout;
    m_layout.fullScreen = fullScreen;
}

bool CameraOverlayState::fullScreen() const
{
    std::lock_guard lock(l);
    return m_layout.fullScreen;
}

void CameraOverlayState::setFullScreen(bool on)
{
    std::lock_guard lock(l);
    m_layout.fullScreen = on;
}

bool CameraOverlayState::mirrored() const
{
    std::lock_guard lock(l);
    return m_layout.mirrored;
}

void CameraOverlayState::setMirrored(bool on)
{
    std::lock_guard lock(l);
    m_layout.mirrored = on;
}

CameraOverlayState::Status CameraOverlayState::status() const
{
    std::lock_guard lock(l);
    return Status{m_layout, m_frames.size(), m_usedBytes};
}

size_t CameraOverlayState::frameCount() const
{
    std::lock_guard lock(l);
    return m_frames.size();
}

int64_t CameraOverlayState::usedBytes() const
{
    std::lock_guard lock(l);
    return m_usedBytes;
}

void CameraOverlayState::clear()
{
    std::deque<Frame> dropped;
    {
        std::lock_guard lock(l);
        dropped.swap(m_frames);
        m_usedBytes = 0;
    }
    // The pictures are freed here, outside the lock.
}

} // namespace corvessa
