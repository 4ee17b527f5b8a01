#include "platform/x11/X11PixelReader.h"

namespace corvessa {

X11PixelView X11PixelReader::read(X11ErrorTrap& trap, Drawable drawable, Visual* visual, int depth, const QRect& rect)
{
    if (rect.isEmpty())
        return {};
    if (m_useShm) {
        X11ImagePtr image(XShmCreateImage(m_display, visual, unsigned(depth), ZPixmap, nullptr, m_segment.info(),
                                          unsigned(rect.width()), unsigned(rect.height())));
        if (image && image->bits_per_pixel == 32) {
            const size_t bytes = size_t(image->bytes_per_line) * size_t(image->height);
            if (ensureSegment(trap, bytes)) {
                image->data = m_segment.data();
                if (XShmGetImage(m_display, drawable, image.get(), rect.x(), rect.y(), AllPlanes)) {
                    m_shmImage = std::move(image);
                    return {reinterpret_cast<uint8_t*>(m_segment.data()), size_t(m_shmImage->bytes_per_line),
                            rect.width(), rect.height()};
                }
                trap.sync(); // the error is this read's answer; keep it from the next check
                return {};
            }
        }
        if (m_useShm)
            return {};
    }
    X11ImagePtr image(XGetImage(m_display, drawable, rect.x(), rect.y(), unsigned(rect.width()),
                                unsigned(rect.height()), AllPlanes, ZPixmap));
    if (!image) {
        trap.sync();
        return {};
    }
    if (image->bits_per_pixel != 32)
        return {};
    m_plainImage = std::move(image);
    return {reinterpret_cast<uint8_t*>(m_plainImage->data), size_t(m_plainImage->bytes_per_line), rect.width(),
            rect.height()};
}

std::optional<X11PixelReader::Geometry> X11PixelReader::geometry(X11ErrorTrap& trap, Display* display,
                                                                Drawable drawable)
{
    Window root = 0;
    int x = 0;
    int y = 0;
    unsigned w = 0;
    unsigned h = 0;
    unsigned border = 0;
    unsigned depth = 0;
    const bool exists = XGetGeometry(display, drawable, &root, &x, &y, &w, &h, &border, &depth);
    if (trap.sync() != 0 || !exists)
        return std::nullopt;
    return Geometry{QSize(int(w), int(h)), int(depth)};
}

bool X11PixelReader::ensureSegment(X11ErrorTrap& trap, size_t bytes)
{
    if (m_segment && bytes <= m_segment.size())
        return true;
    release();
    // Room to grow a little, so a window resized by a few pixels keeps the segment.
    if (!m_segment.attach(m_display, bytes + bytes / 8, trap)) {
        m_useShm = false;
        return false;
    }
    return true;
}

void X11PixelReader::release()
{
    m_shmImage.reset();
    m_segment.reset();
}

} // namespace corvessa
