#include "platform/x11/X11BackgroundMemory.h"

#include <QRect>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace corvessa {

namespace {

// Where no background was ever seen anywhere (a full-screen window of ours
// stood there from the first frame): a neutral grey, as a compositing manager
// shows a desktop without wallpaper, rather than a hole of black.
constexpr uint8_t kNeutralGrey[4] = {128, 128, 128, 255};
// Frames a kept place waits before it is trusted: a compositing manager
// catches up with a window's change within a few frames, and a place an
// excluded window covers meanwhile may have shown that window's late picture.
constexpr size_t kTrustFrames = 8;

uint8_t* at(const X11PixelView& frame, int x, int y)
{
    return frame.data + size_t(y) * frame.bytesPerRow + size_t(x) * 4;
}

// The pixels of the excluded region and the windows around it, looked up in
// constant time. QRegion::contains walks every rectangle, and a round-cornered
// window of ours is hundreds of them, asked about for each pixel around it in
// every frame: on a screen that changes all the time that alone held the
// capture thread below the frame rate.
class BlockedPixels {
public:
    BlockedPixels(const QRect& bounds, const QRegion& excluded, const QRegion& windows)
        : m_bounds(bounds), m_excluded(excluded), m_windows(windows),
          m_mask(size_t(std::max(0, bounds.width())) * size_t(std::max(0, bounds.height())), 0)
    {
        for (const QRegion* region : {&excluded, &windows}) {
            for (const QRect& r : *region & bounds) {
                for (int y = r.top(); y <= r.bottom(); ++y)
                    std::memset(&m_mask[index(r.left(), y)], 1, size_t(r.width()));
            }
        }
    }

    bool operator()(int x, int y) const
    {
        if (m_bounds.contains(x, y))
            return m_mask[index(x, y)] != 0;
        return m_excluded.contains(QPoint(x, y)) || m_windows.contains(QPoint(x, y));
    }

private:
    size_t index(int x, int y) const
    {
        return size_t(y - m_bounds.top()) * size_t(m_bounds.width()) + size_t(x - m_bounds.left());
    }

    const QRect m_bounds;
    const QRegion& m_excluded;
    const QRegion& m_windows;
    std::vector<uint8_t> m_mask;
};

} // namespace

void X11BackgroundMemory::remember(const X11PixelView& frame, const QRegion& changed, const QRegion& covered,
                                   bool late, bool aged)
{
    const QSize size(frame.width, frame.height);
    const QRect whole(QPoint(0, 0), size);
    QRegion fresh = changed & whole;
    if (size != m_size) {
        m_size = size;
        m_pixels.assign(size_t(size.width()) * size_t(size.height()) * 4, 0);
        m_seen = QRegion();
        m_pending.clear();
        fresh = whole;
    }
    fresh -= covered;
    // What excluded windows now cover may have been their late picture.
    for (QRegion& pending : m_pending)
        pending -= covered;
    for (const QRect& r : fresh) {
        for (int y = r.top(); y <= r.bottom(); ++y)
            std::memcpy(m_pixels.data() + (size_t(y) * size_t(m_size.width()) + size_t(r.x())) * 4,
                        at(frame, r.x(), y), size_t(r.width()) * 4);
    }
    m_seen -= fresh; // overwritten: trusted again in its turn
    if (!aged && late && !m_pending.empty()) {
        m_pending.back() += fresh; // waits with the frame before it
        return;
    }
    m_pending.push_back(fresh);
    while (m_pending.size() > (late ? kTrustFrames : 0)) {
        m_seen += m_pending.front();
        m_pending.pop_front();
    }
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
    const BlockedPixels blocked(excluded.boundingRect().adjusted(-1, -1, 1, 1) & whole, excluded, windows);
    const auto background = [&](int x, int y) -> const uint8_t* {
        if (x < 0 || y < 0 || x >= frame.width || y >= frame.height || blocked(x, y))
            return nullptr;
        return at(frame, x, y);
    };
    // The region's rectangles are its runs on each row, whole; a pixel takes
    // the background at both ends of its run and just above and below its
    // rectangle, the nearer ones counting more (a wide bar takes its colour
    // from above and below, a tall panel from its sides).
    const QRegion unknown = target - known;
    // Pixels with nothing beside them on their row or column, gathered in
    // rectangles (rows of the same span, one under the other, join).
    std::vector<QRect> stranded;
    const auto strand = [&](int left, int right, int y) {
        if (!stranded.empty()) {
            QRect& last = stranded.back();
            if (last.left() == left && last.right() == right && last.bottom() == y - 1) {
                last.setBottom(y);
                return;
            }
        }
        stranded.emplace_back(QPoint(left, y), QPoint(right, y));
    };
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
                if (!left && !right && !vertical) {
                    strand(r.left(), r.right(), y);
                    continue;
                }
                uint8_t* dst = at(frame, r.x(), y);
                int alone = -1; // where the pixels with no side began
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
                    if (weights == 0) {
                        if (alone < 0)
                            alone = x;
                        continue;
                    }
                    if (alone >= 0)
                        strand(std::exchange(alone, -1), x - 1, y);
                    for (int c = 0; c < 3; ++c)
                        dst[c] = uint8_t(sum[c] / weights + 0.5f);
                    dst[3] = 255;
                }
                if (alone >= 0)
                    strand(alone, r.right(), y);
            }
        }
    }
    if (!stranded.empty())
        fillFromNearest(frame, stranded, QRegion(whole) - excluded - windows);
}

void X11BackgroundMemory::fillFromNearest(const X11PixelView& frame, const std::vector<QRect>& rest,
                                          const QRegion& visible) const
{
    // Background the memory holds that this frame does not show.
    const QRegion remembered = QSize(frame.width, frame.height) == m_size ? m_seen - visible : QRegion();
    for (const QRect& r : rest) {
        // The gap, on the farther axis, between r and the nearest known background.
        int nearest = -1;
        for (const QRegion* source : {&visible, &remembered}) {
            for (const QRect& k : *source) {
                const int dx = std::max({0, k.left() - r.right(), r.left() - k.right()});
                const int dy = std::max({0, k.top() - r.bottom(), r.top() - k.bottom()});
                const int gap = std::max(dx, dy);
                if (nearest < 0 || gap < nearest)
                    nearest = gap;
            }
        }
        uint8_t colour[4];
        std::memcpy(colour, kNeutralGrey, 4);
        if (nearest >= 0) {
            // Every known pixel this close lies on the ring around r at that
            // distance: the hole takes their mean.
            const QRect reach = r.adjusted(-nearest, -nearest, nearest, nearest);
            uint64_t sum[3] = {0, 0, 0};
            uint64_t n = 0;
            const auto add = [&](const uint8_t* p) {
                for (int c = 0; c < 3; ++c)
                    sum[c] += p[c];
                ++n;
            };
            for (const QRect& k : visible & reach)
                for (int y = k.top(); y <= k.bottom(); ++y)
                    for (int x = k.left(); x <= k.right(); ++x)
                        add(at(frame, x, y));
            for (const QRect& k : remembered & reach)
                for (int y = k.top(); y <= k.bottom(); ++y)
                    for (int x = k.left(); x <= k.right(); ++x)
                        add(m_pixels.data() + (size_t(y) * size_t(m_size.width()) + size_t(x)) * 4);
            for (int c = 0; n > 0 && c < 3; ++c)
                colour[c] = uint8_t((sum[c] + n / 2) / n);
        }
        for (int y = r.top(); y <= r.bottom(); ++y) {
            uint8_t* dst = at(frame, r.x(), y);
            for (int x = r.left(); x <= r.right(); ++x, dst += 4)
                std::memcpy(dst, colour, 4);
        }
    }
}

} // namespace corvessa
