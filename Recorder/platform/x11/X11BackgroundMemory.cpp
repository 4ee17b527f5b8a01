#include "platform/x11/X11BackgroundMemory.h"

#include <QRect>

#include <cstring>
#include <vector>

namespace corvessa {

namespace {

constexpr uint8_t kOpaqueBlack[4] = {0, 0, 0, 255};

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
    // A pixel beside the excluded region that shows the background, not a window.
    const auto background = [&](int x, int y) -> const uint8_t* {
        if (x < 0 || y < 0 || x >= frame.width || y >= frame.height || excluded.contains(QPoint(x, y))
            || windows.contains(QPoint(x, y)))
            return nullptr;
        return at(frame, x, y);
    };
    // The region's rectangles are its runs on each row, whole; a pixel takes
    // the background at both ends of its run and just above and below its
    // rectangle, the nearer ones counting more (a wide bar takes its colour
    // from above and below, a tall panel from its sides).
    const QRegion unknown = target - known;
    for (const QRect& run : excluded) {
        const QRegion here = unknown & run;
        if (here.isEmpty())
            continue;
        std::vector<const uint8_t*> above(size_t(run.width())), below(size_t(run.width()));
        bool vertical = false;
        for (int x = run.left(); x <= run.right(); ++x) {
            above[size_t(x - run.left())] = background(x, run.top() - 1);
            below[size_t(x - run.left())] = background(x, run.bottom() + 1);
            vertical |= above[size_t(x - run.left())] || below[size_t(x - run.left())];
        }
        for (const QRect& r : here) {
            for (int y = r.top(); y <= r.bottom(); ++y) {
                const uint8_t* left = background(run.left() - 1, y);
                const uint8_t* right = background(run.right() + 1, y);
                uint8_t* dst = at(frame, r.x(), y);
                if (!left && !right && !vertical) { // nothing to go by, as under a full-screen overlay
                    for (int x = r.left(); x <= r.right(); ++x, dst += 4)
                        std::memcpy(dst, kOpaqueBlack, 4);
                    continue;
                }
                for (int x = r.left(); x <= r.right(); ++x, dst += 4) {
                    const struct {
                        const uint8_t* pixel;
                        int distance;
                    } sides[] = {{left, x - run.left() + 1},
                                 {right, run.right() + 1 - x},
                                 {above[size_t(x - run.left())], y - run.top() + 1},
                                 {below[size_t(x - run.left())], run.bottom() + 1 - y}};
                    float sum[3] = {0, 0, 0};
                    float weights = 0;
                    for (const auto& side : sides) {
                        if (!side.pixel)
                            continue;
                        const float w = 1.0f / float(side.distance);
                        for (int c = 0; c < 3; ++c)
                            sum[c] += w * float(side.pixel[c]);
                        weights += w;
                    }
                    for (int c = 0; c < 3; ++c)
                        dst[c] = weights > 0 ? uint8_t(sum[c] / weights + 0.5f) : 0;
                    dst[3] = 255;
                }
            }
        }
    }
}

} // namespace corvessa
