#include "support/XvfbClient.h"

#include <vector>

// X11 last: its macros clash with names in Qt.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

namespace corvessa::test {

XvfbClient::XvfbClient(const QString& display)
{
    const QByteArray name = display.toLocal8Bit();
    m_display = XOpenDisplay(name.constData());
    if (m_display) {
        // The server takes XFixes requests only after the version was agreed.
        int major = 6;
        int minor = 0;
        XFixesQueryVersion(m_display, &major, &minor);
    }
}

XvfbClient::~XvfbClient()
{
    if (m_display)
        XCloseDisplay(m_display);
}

uint32_t XvfbClient::createWindow(const QRect& geometry, int borderWidth)
{
    if (!m_display)
        return 0;
    const int screen = DefaultScreen(m_display);
    // x and y of a window are those of its border's outer corner.
    const Window w = XCreateSimpleWindow(m_display, RootWindow(m_display, screen), geometry.x() - borderWidth,
                                         geometry.y() - borderWidth, unsigned(geometry.width()),
                                         unsigned(geometry.height()), unsigned(borderWidth),
                                         BlackPixel(m_display, screen), WhitePixel(m_display, screen));
    XMapWindow(m_display, w);
    sync();
    return uint32_t(w);
}

void XvfbClient::destroyWindow(uint32_t window)
{
    if (!m_display)
        return;
    XDestroyWindow(m_display, Window(window));
    sync();
}

void XvfbClient::setCursor(uint32_t window, const QString& name, const QPoint& hot, const QColor& colour, int size)
{
    if (!m_display)
        return;
    const Window root = DefaultRootWindow(m_display);
    const int rowBytes = (size + 7) / 8;
    std::vector<char> ones(size_t(rowBytes * size), char(0xff));
    std::vector<char> mask(size_t(rowBytes * size), 0);
    for (int y = 0; y < size / 2; ++y)
        for (int b = 0; b < rowBytes; ++b)
            mask[size_t(y * rowBytes + b)] = char(0xff);
    const Pixmap source = XCreateBitmapFromData(m_display, root, ones.data(), unsigned(size), unsigned(size));
    const Pixmap maskMap = XCreateBitmapFromData(m_display, root, mask.data(), unsigned(size), unsigned(size));
    XColor fg{};
    fg.red = uint16_t(colour.red() * 257);
    fg.green = uint16_t(colour.green() * 257);
    fg.blue = uint16_t(colour.blue() * 257);
    XColor bg{};
    const Cursor cursor = XCreatePixmapCursor(m_display, source, maskMap, &fg, &bg, unsigned(hot.x()), unsigned(hot.y()));
    if (!name.isEmpty())
        XFixesSetCursorName(m_display, cursor, name.toUtf8().constData());
    XDefineCursor(m_display, Window(window), cursor);
    XFreePixmap(m_display, source);
    XFreePixmap(m_display, maskMap);
    XFreeCursor(m_display, cursor);
    sync();
}

void XvfbClient::warpPointer(const QPoint& rootPixel)
{
    if (!m_display)
        return;
    XWarpPointer(m_display, None, DefaultRootWindow(m_display), 0, 0, 0, 0, rootPixel.x(), rootPixel.y());
    sync();
}

void XvfbClient::sync()
{
    if (m_display)
        XSync(m_display, False);
}

} // namespace corvessa::test
