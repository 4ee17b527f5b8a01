#include "platform/x11/X11WindowProperties.h"

#include <QByteArray>
#include <QMargins>

#include <algorithm>
#include <cstring>

// Last: X11's macros clash with names in Qt.
#include "platform/x11/X11ExclusionRepair.h"

namespace corvessa {

namespace {

// The shadow a compositing manager draws around a window, as xcompmgr -c and
// picom with shadows on do by default: blurred with a radius of 12 pixels and
// moved 15 up and left, it reaches 15 pixels past the window's left and top
// edges and 21 past its right and bottom ones. Neither tells its settings, and
// xcompmgr cannot be asked to leave a window out, so while one runs that much
// around every excluded window is rebuilt too.
const QMargins kShadowReach(15, 15, 21, 21);

// Copies (or, for windows with alpha, blends premultiplied) `part` into `frame`
// at `at`.
void blit(const X11PixelView& frame, const QPoint& at, const X11PixelView& part, bool blend)
{
    for (int y = 0; y < part.height; ++y) {
        const uint8_t* src = part.data + size_t(y) * part.bytesPerRow;
        uint8_t* dst = frame.data + size_t(at.y() + y) * frame.bytesPerRow + size_t(at.x()) * 4;
        if (!blend) {
            std::memcpy(dst, src, size_t(part.width) * 4);
            continue;
        }
        for (int x = 0; x < part.width; ++x, src += 4, dst += 4) {
            const unsigned a = src[3];
            if (a == 255) {
                std::memcpy(dst, src, 4);
            } else if (a != 0) {
                for (int c = 0; c < 3; ++c)
                    dst[c] = uint8_t(std::min(255u, src[c] + (dst[c] * (255 - a) + 127) / 255));
            }
        }
    }
}

Atom internAtom(Display* dpy, const QByteArray& name)
{
    return XInternAtom(dpy, name.constData(), False);
}

} // namespace

X11ExclusionRepair::X11ExclusionRepair(const X11CaptureDisplay& display)
    : m_display(display), m_dpy(display.get()), m_reader(display.get(), display.hasShm()),
      m_rootPmapAtom(internAtom(m_dpy, "_XROOTPMAP_ID")), m_esetrootAtom(internAtom(m_dpy, "ESETROOT_PMAP_ID")),
      m_compositorAtom(internAtom(m_dpy, "_NET_WM_CM_S" + QByteArray::number(display.screen()))),
      m_rootBackground(display)
{
}

void X11ExclusionRepair::open(X11ErrorTrap& trap)
{
    XFixesSelectSelectionInput(m_dpy, m_display.root(), m_compositorAtom,
                               XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
    compositorChanged();
    loadWallpaper(trap);
}

void X11ExclusionRepair::compositorChanged()
{
    m_compositorRunning = XGetSelectionOwner(m_dpy, m_compositorAtom) != None;
    m_rootBackground.forget();
}

bool X11ExclusionRepair::rootPropertyChanged(X11ErrorTrap& trap, const XPropertyEvent& e)
{
    if (e.window != m_display.root() || (e.atom != m_rootPmapAtom && e.atom != m_esetrootAtom))
        return false;
    loadWallpaper(trap);
    m_rootBackground.forget(); // a wallpaper setter sets the root's background too
    return true;
}

void X11ExclusionRepair::loadWallpaper(X11ErrorTrap& trap)
{
    m_wallpaper = X11WindowProperties::rootPixmap(m_dpy, m_display.root());
    m_wallpaperSize = {};
    if (!m_wallpaper)
        return;
    const auto geometry = X11PixelReader::geometry(trap, m_dpy, m_wallpaper);
    if (!geometry || geometry->depth != m_display.rootDepth()) {
        m_wallpaper = 0;
        return;
    }
    m_wallpaperSize = geometry->size;
}

QRect X11ExclusionRepair::repair(X11ErrorTrap& trap, const X11PixelView& frame, const QRect& area,
                                 X11WindowStack& stack, const QRegion& changed, bool painted)
{
    stack.setReach(m_compositorRunning ? kShadowReach : QMargins());
    const QRegion region = stack.excludedRegion(trap, area);
    // A compositing manager catches up with a window's change only when it
    // paints, which a busy machine may put off for many of our frames: what
    // it may still show ages only with its paints.
    const bool caughtUp = !m_compositorRunning || painted;
    if (caughtUp)
        stack.ageGhosts();
    const QPoint origin = area.topLeft();
    const QRegion local = region.translated(-origin);
    if (area != m_area) {
        m_area = area;
        m_memory = X11BackgroundMemory();
    }
    const QRegion windows = stack.windowRegion(area).translated(-origin);
    // The background the screen shows, for the places excluded windows may
    // cover later; a place they left shows again even without new damage.
    m_memory.remember(frame, changed.translated(-origin) + (m_excluded - local), local + windows, m_compositorRunning,
                      caughtUp);
    m_excluded = local;
    if (region.isEmpty())
        return {};
    ++m_repairs;
    const int rootDepth = m_display.rootDepth();
    QRegion unknown; // frame pixels with no wallpaper to show
    for (const QRect& r : region) {
        X11PixelView bg;
        if (m_wallpaper && QRect(QPoint(0, 0), m_wallpaperSize).contains(r))
            bg = m_reader.read(trap, m_wallpaper, m_display.rootVisual(), rootDepth, r);
        if (bg)
            blit(frame, r.topLeft() - origin, bg, false);
        else
            unknown += r.translated(-origin);
    }
    // Where the screen never showed the background, without a compositing
    // manager, it shows the root window's own.
    const Pixmap own = unknown.isEmpty() || m_compositorRunning ? 0 : m_rootBackground.pixmap(trap, area);
    if (own) {
        const QRegion seen = m_memory.seen(frame);
        for (const QRect& r : unknown - seen) {
            if (const X11PixelView bg = m_reader.read(trap, own, m_display.rootVisual(), rootDepth, r)) {
                blit(frame, r.topLeft(), bg, false);
                unknown -= r;
            }
        }
    }
    if (!unknown.isEmpty())
        m_memory.fill(frame, unknown, local, windows);
    for (X11WindowStack::TopLevel& t : stack.windows()) {
        if (!t.shows() || t.excluded || !t.known)
            continue;
        QRegion part = region.intersected(t.outer);
        if (part.isEmpty())
            continue;
        if (t.depth != rootDepth && t.depth != 32)
            continue; // no way to read it as 32-bit pixels
        if (!stack.watch(trap, t))
            continue; // gone; its DestroyNotify follows
        part &= stack.covered(trap, t);
        if (part.isEmpty() || !stack.ensurePixmap(trap, t))
            continue;
        const bool blend = t.depth == 32 && rootDepth != 32 && m_compositorRunning;
        for (const QRect& r : part) {
            const X11PixelView p =
                m_reader.read(trap, t.pixmap.get(), t.visual, t.depth, r.translated(-t.outer.topLeft()));
            if (p)
                blit(frame, r.topLeft() - origin, p, blend);
        }
    }
    return region.boundingRect();
}

} // namespace corvessa
