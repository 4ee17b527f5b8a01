#include "platform/x11/XRandRDisplayList.h"

// What the parts below need of Qt, before X11's macros exist.
#include <QRect>
#include <QRegion>
#include <QSize>

#include <algorithm>
#include <utility>

// Last: X11's macros clash with names in Qt.
#include "platform/x11/X11CaptureSession.h"
#include "platform/x11/X11ErrorTrap.h"
#include "platform/x11/X11ExclusionRepair.h"
#include "platform/x11/X11Handles.h"
#include "platform/x11/X11PixelReader.h"
#include "platform/x11/X11WindowStack.h"
#include "platform/x11/X11WindowTarget.h"

namespace corvessa {

namespace {

QRect rootPixels(const XRandRDisplayList::Output& o)
{
    return (o.pixels.isEmpty() ? o.frame : o.pixels).toAlignedRect();
}

// The root pixel the compositing manager is asked to paint.
const QPoint kCatchUpPixel(0, 0);

} // namespace

// What lives on the server, by target. The redirection serves both: a window's
// own pixmap exists only while it is redirected.
struct X11CaptureSession::Parts {
    Parts(const X11CaptureDisplay& display)
        : redirection(display.get(), display.root()),
          readers{{display.get(), display.hasShm()}, {display.get(), display.hasShm()}}
    {
    }
    CompositeRedirection redirection;
    X11PixelReader readers[kReaders]; // the frames themselves
    std::unique_ptr<X11WindowStack> stack; // display and area targets
    std::unique_ptr<X11ExclusionRepair> repair;
    std::unique_ptr<X11WindowTarget> target; // window targets
};

X11CaptureSession::X11CaptureSession(ScreenFilter filter, ScreenStreamConfig config)
    : m_filter(std::move(filter)), m_config(std::move(config))
{
}

X11CaptureSession::~X11CaptureSession()
{
    close();
}

void X11CaptureSession::close()
{
    if (!m_display)
        return;
    {
        X11ErrorTrap trap(m_display.get());
        m_parts.reset();
    }
    m_display.close();
}

std::optional<RecorderError> X11CaptureSession::open(const QString& displayName)
{
    if (auto error = m_display.open(displayName))
        return error;
    Display* dpy = m_display.get();
    X11ErrorTrap trap(dpy);
    m_parts = std::make_unique<Parts>(m_display);
    if (m_display.randrEvent() >= 0) {
        XRRSelectInput(dpy, m_display.root(),
                       RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask |
                           RROutputPropertyNotifyMask);
    }
    if (trap.sync() != 0) {
        return screenCaptureError(ScreenCaptureErrorCode::StartFailed,
                                  QStringLiteral("The X server refused to redirect windows for capture."));
    }
    if (isWindowTarget()) {
        m_parts->target = std::make_unique<X11WindowTarget>(m_display, m_filter.windowId);
        return m_parts->target->open(trap);
    }
    m_parts->stack = std::make_unique<X11WindowStack>(m_display, m_filter);
    m_parts->repair = std::make_unique<X11ExclusionRepair>(m_display);
    m_parts->stack->open(trap);
    m_parts->repair->open(trap);
    if (trap.sync() != 0) {
        return screenCaptureError(ScreenCaptureErrorCode::StartFailed,
                                  QStringLiteral("The X server refused to report screen changes."));
    }
    // Asked once the damage of the redirection itself has come and gone.
    m_awaitingManager = m_parts->repair->compositorRunning();
    return std::nullopt;
}

void X11CaptureSession::askManagerToPaint()
{
    // An exposure of the root, as the server sends when a part of it must be
    // drawn again: the manager repaints there once it has read every event
    // sent to it before this one. It draws nothing on the server's side, so
    // the damage that follows is the manager's.
    XEvent e{};
    e.xexpose.type = Expose;
    e.xexpose.display = m_display.get();
    e.xexpose.window = m_display.root();
    e.xexpose.x = kCatchUpPixel.x();
    e.xexpose.y = kCatchUpPixel.y();
    e.xexpose.width = 1;
    e.xexpose.height = 1;
    m_askSerial = NextRequest(m_display.get());
    XSendEvent(m_display.get(), m_display.root(), False, ExposureMask, &e);
    XFlush(m_display.get());
}

bool X11CaptureSession::answersAsk(const XEvent& e, const std::optional<QRect>& bounds) const
{
    // Damage reported before the request was handled is no answer to it.
    return m_askSerial != 0 && e.xany.serial >= m_askSerial && bounds && bounds->contains(kCatchUpPixel);
}

void X11CaptureSession::reconfigure(const ScreenStreamConfig& config)
{
    if (config.sourceRect != m_config.sourceRect)
        m_layoutChanged = true;
    m_config = config;
    m_dirty = true;
    noteChange(std::nullopt);
}

void X11CaptureSession::noteChange(const std::optional<QRect>& rect)
{
    if (rect)
        m_changed |= *rect;
    else
        m_changedAll = true;
}

void X11CaptureSession::markLost(RecorderError error)
{
    if (!m_lost)
        m_lost = std::move(error);
}

void X11CaptureSession::checkWindowLost()
{
    if (m_parts->target->isLost())
        markLost(windowLostError());
}

void X11CaptureSession::applyLayout(std::vector<XRandRDisplayList::Output> layout)
{
    m_layoutChanged = false;
    if (isWindowTarget())
        return;
    const auto it = std::find_if(layout.begin(), layout.end(), [&](const XRandRDisplayList::Output& o) {
        return DisplayInfo::idForName(o.name) == m_filter.displayId;
    });
    if (it == layout.end()) {
        markLost(m_running ? displayLostError() : displayMissingError());
        return;
    }
    QRect pixels = rootPixels(*it);
    // The root grows after the outputs while a mode or position change is in
    // progress; its own RandR event asks for the layout again once it has. A
    // picture of part of the display, or of what lies where it is not yet, would
    // be no picture of it.
    const QRect root(QPoint(0, 0), m_display.rootSize());
    const bool wasOutside = std::exchange(m_outsideRoot, m_running && !root.contains(pixels));
    if (m_outsideRoot)
        return;
    if (wasOutside) {
        m_dirty = true;
        noteChange(std::nullopt);
    }
    pixels &= root;
    // An area belongs to its display: it moves with it, and that is told.
    if (m_running && m_config.sourceRect && m_displayOrigin && *m_displayOrigin != pixels.topLeft())
        ++m_areaMoves;
    m_displayOrigin = pixels.topLeft();
    QRect next = pixels;
    if (m_config.sourceRect) {
        const QRectF& s = *m_config.sourceRect;
        const double scale = it->scale > 0 ? it->scale : 1;
        next = QRectF(pixels.x() + s.x() * scale, pixels.y() + s.y() * scale, s.width() * scale, s.height() * scale)
                   .toAlignedRect() &
               pixels;
    }
    if (next.isEmpty()) {
        if (!m_running) {
            markLost(screenCaptureError(ScreenCaptureErrorCode::InvalidConfiguration,
                                        QStringLiteral("The area to record lies outside its display.")));
        }
        return; // while running, a bad area keeps the last good one
    }
    if (next != m_area) {
        m_area = next;
        m_dirty = true;
        noteChange(std::nullopt);
    }
}

void X11CaptureSession::handleEvents(X11ErrorTrap& trap, bool queuedOnly)
{
    Display* dpy = m_display.get();
    while (XEventsQueued(dpy, queuedOnly ? QueuedAlready : QueuedAfterReading) > 0) {
        XEvent e;
        XNextEvent(dpy, &e);
        handle(trap, e);
    }
    if (m_awaitingManager && m_askSerial == 0 && !queuedOnly)
        askManagerToPaint();
}

bool X11CaptureSession::hasQueuedEvents() const
{
    // Asks XCB too: it may hold events it read while waiting for a reply.
    return XEventsQueued(m_display.get(), QueuedAfterReading) > 0;
}

void X11CaptureSession::handle(X11ErrorTrap& trap, XEvent& e)
{
    Parts& p = *m_parts;
    if (e.type == m_display.damageEvent() + XDamageNotify) {
        const auto& damage = reinterpret_cast<const XDamageNotifyEvent&>(e);
        std::optional<QRect> bounds;
        if (p.stack && p.stack->isRootDamage(damage))
            m_painted = true;
        if (p.target ? p.target->handleDamage(trap, damage) : p.stack->handleDamage(trap, damage, m_area, &bounds)) {
            m_dirty = true;
            noteChange(bounds);
        }
        if (answersAsk(e, bounds))
            m_awaitingManager = false;
        return;
    }
    if (e.type == m_display.fixesEvent() + XFixesSelectionNotify) {
        m_awaitingManager = false; // a manager that came or went paints all afresh
        if (p.repair)
            p.repair->compositorChanged();
        m_dirty = true;
        noteChange(std::nullopt);
        return;
    }
    const int randr = m_display.randrEvent();
    if (randr >= 0 && (e.type == randr + RRScreenChangeNotify || e.type == randr + RRNotify)) {
        XRRUpdateConfiguration(&e);
        m_layoutChanged = true;
        return;
    }
    if (p.target) {
        if (p.target->handleEvent(trap, e))
            m_dirty = true;
        checkWindowLost();
    } else if (e.type == PropertyNotify) {
        if (p.repair->rootPropertyChanged(trap, e.xproperty)) {
            m_dirty = true;
            noteChange(std::nullopt);
        }
    } else if (p.stack->handleEvent(trap, e, m_area)) {
        // What the screen shows comes with the root's damage, and what the
        // excluded windows cover, before and after, is painted over each frame.
        m_dirty = true;
    }
}

X11PixelView X11CaptureSession::frame(X11ErrorTrap& trap, int reader)
{
    // The picture shows every change noted before it. The events handled while
    // reading it are answered by taking the damage from the server after the
    // read, so what they report may have been painted after the picture, with
    // no further event to say so: those changes count for this picture and stay
    // for the next one, which is then due.
    QRect changed = std::exchange(m_changed, QRect());
    bool changedAll = std::exchange(m_changedAll, false);
    m_dirty = false;
    QRect repaired;
    const bool painted = std::exchange(m_painted, false);
    const X11PixelView view =
        grab(trap, reader, changedAll ? QRegion(m_area) : QRegion(changed), painted, &repaired);
    changed |= m_changed | repaired;
    changedAll |= m_changedAll;
    const QRect whole(0, 0, view.width, view.height);
    const QRect part = changed.translated(-m_area.topLeft()) & whole;
    m_changedRows = changedAll || isWindowTarget() ? std::pair(0, view.height)
                    : part.isEmpty()               ? std::pair(0, 0)
                                                   : std::pair(part.top(), part.bottom() + 1);
    if (!view) {
        // Nothing to show now; the next picture is told apart from nothing.
        m_dirty = std::exchange(m_readAgain, false);
        m_changedAll = true;
    }
    return view;
}

X11PixelView X11CaptureSession::grab(X11ErrorTrap& trap, int reader, const QRegion& changed, bool painted,
                                     QRect* repaired)
{
    Parts& p = *m_parts;
    X11PixelReader& r = p.readers[reader];
    if (p.target) {
        const uint64_t departures = p.target->departures();
        const X11PixelView view = p.target->grab(trap, r);
        // The read answered the events that came before it: a window that left
        // the screen meanwhile may have been read gone, black or half drawn.
        handleEvents(trap, true);
        checkWindowLost();
        if (p.target->departures() == departures)
            return view;
        m_readAgain = p.target->isShown(); // and it is back already
        return {};
    }
    if (m_area.isEmpty() || m_outsideRoot)
        return {};
    const X11PixelView frame =
        r.read(trap, m_display.root(), m_display.rootVisual(), m_display.rootDepth(), m_area);
    if (!frame)
        return {};
    // Events that came before the picture describe the screen it shows: an
    // excluded window mapped just before the read is painted over too.
    handleEvents(trap, true);
    if (m_lost)
        return {};
    const QRegion changedNow = m_changedAll ? QRegion(m_area) : changed + m_changed;
    // Damage handled just now was drawn before the picture was read.
    *repaired = p.repair->repair(trap, frame, m_area, *p.stack, changedNow, painted || std::exchange(m_painted, false));
    return frame;
}

uint64_t X11CaptureSession::repairs() const
{
    return m_parts && m_parts->repair ? m_parts->repair->repairs() : 0;
}

} // namespace corvessa
