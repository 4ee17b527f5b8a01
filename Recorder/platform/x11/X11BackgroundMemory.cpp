#include "platform/x11/X11BackgroundMemory.h"

#include <QRect>

#include <cstring>
#include <optional>

namespace corvessa {

namespace {

uint8_t* at(const X11PixelView& frame, int x, int y)
{
    return frame.data + size_t(y) * frame.bytesPerRow + size_t(x) * 4;
}

} // namespace

void X11BackgroundMemory::remember(const X11PixelView& frame, const QRegion& changed, const QRegion& covered)
{
    const QSize size(frame.width, frame.height);
    const QRect whole(QPoint(0, 0), size);
    QRegion fresh = changed & whole;
    if (size != m_size) {
        m_size = size;
        m_pixels.assign(size_t(size.width()) * size_t(size.height()) * 4, 0);
        m_seen = QRegion();
        fresh = whole;
    }
    fresh -= covered;
    for (const QRect& r : fresh) {
        for (int y = r.top(); y <= r.bottom(); ++y)
            std::memcpy(m_pixels.data() + (size_t(y) * size_t(m_size.width()) + size_t(r.x())) * 4,
                        at(frame, r.x(), y), size_t(r.width()) * 4);
    }
    m_seen += fresh;
}

void X11BackgroundMemory::fill(const X11PixelView& frame, const QRegion& part, const QRegion& excluded,
                               const QRegion& windows) const
{
    const QRect whole(0, 0, frame.width, frame.height);
    const QRegion target = part & whole;
    const QRegion known = QSize(frame.width, frame.height) == m_size ? target & m_seen : QRegion();
    for (const QRect& r : known) {
        for (int y = r.top(); y <= r.bottom(); ++y)
            std::memcpy(at(frame, r.x(), y),
                        m_pixels.data() + (size_t(y) * size_t(m_size.width()) + size_t(r.x())) * 4,
                        size_t(r.width()) * 4);
    }
    // A pixel beside the excluded run that shows the background, not a window.
    const auto background = [&](int x, int y) -> std::optional<const uint8_t*> {
        if (x < 0 || x >= frame.width || windows.contains(QPoint(x, y)))
            return std::nullopt;
        return at(frame, x, y);
    };
    // The region's rectangles are its runs on each row: a run of excluded
    // pixels lies in one of them, whole.
    const QRegion unknown = target - known;
    for (const QRect& run : excluded) {
        for (const QRect& r : unknown & run) {
            for (int y = r.top(); y <= r.bottom(); ++y) {
                const auto left = background(run.left() - 1, y);
                const auto right = background(run.right() + 1, y);
                const int span = run.width() + 1;
                uint8_t* dst = at(frame, r.x(), y);
                for (int x = r.left(); x <= r.right(); ++x, dst += 4) {
                    dst[3] = 255;
                    if (!left && !right) {
                        dst[0] = dst[1] = dst[2] = 0;
                        continue;
                    }
                    const uint8_t* a = left ? *left : *right;
                    const uint8_t* b = right ? *right : *left;
                    const int t = x - run.left() + 1; // 1 .. span - 1
                    for (int c = 0; c < 3; ++c)
                        dst[c] = uint8_t((a[c] * (span - t) + b[c] * t + span / 2) / span);
                }
            }
        }
    }
}

} // namespace corvessa
