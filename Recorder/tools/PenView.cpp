#include "tools/PenView.h"

#include "engine/compositor/PenBoard.h"
#include "engine/compositor/PenRender.h"
#include "prefs/PerfCounters.h"
#include "tools/PenCursor.h"
#include "tools/PenInput.h"
#include "tools/SolidPaint.h"

#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTabletEvent>

#include <cmath>
#include <cstdint>
#include <ctime>

namespace corvessa {

namespace {

// A region in device pixels as the points that hold any of them.
QRegion pointsOf(const QRegion& pixels, double ratio)
{
    QRegion points;
    for (const QRect& r : pixels) {
        const int x0 = int(std::floor(r.x() / ratio));
        const int y0 = int(std::floor(r.y() / ratio));
        const int x1 = int(std::ceil((r.x() + r.width()) / ratio));
        const int y1 = int(std::ceil((r.y() + r.height()) / ratio));
        points += QRect(x0, y0, x1 - x0, y1 - y0);
    }
    return points;
}

} // namespace

PenView::PenView(PenBoard& board, PenInput& input, const GlobalRect& frame, const ScreenCoordinates& coordinates)
    : m_board(board)
    , m_input(input)
    , m_frame(frame)
    , m_coordinates(coordinates)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TabletTracking);
    setMouseTracking(true);
    setCursor(PenCursor::drawing());
}

void PenView::notePenLatency(quint64 eventTime)
{
    // X stamps events with its own 32-bit millisecond clock, which on Linux
    // counts from the same origin as CLOCK_MONOTONIC; it wraps after 49 days.
    timespec ts{};
    if (eventTime == 0 || clock_gettime(CLOCK_MONOTONIC, &ts) != 0)
        return;
    const auto now = uint32_t(uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000);
    const uint32_t ms = now - uint32_t(eventTime);
    // Anything longer is another clock, not a slow stroke.
    if (ms < kLatencyCeilingMs)
        PerfCounters::shared().addPen(ms);
}

QPointF PenView::toLocal(const GlobalPoint& global) const
{
    return m_coordinates.fromGlobal(global) - m_coordinates.fromGlobal(m_frame).topLeft();
}

QRectF PenView::toLocal(const GlobalRect& global) const
{
    return m_coordinates.fromGlobal(global).translated(-m_coordinates.fromGlobal(m_frame).topLeft());
}

void PenView::repaint(const GlobalRect& global)
{
    if (!global.isEmpty())
        update(toLocal(global).toAlignedRect().adjusted(-1, -1, 1, 1));
}

void PenView::setPaintedSink(PaintedSink sink)
{
    m_paintedSink = std::move(sink);
    update();
}

void PenView::paintEvent(QPaintEvent* event)
{
    const QRect area = event->rect();
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    if (!m_paintedSink) {
        p.fillRect(area, Qt::transparent);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        paintContent(p, area);
        return;
    }
    // Painted aside first, to be made solid or clear and measured.
    const double ratio = devicePixelRatioF();
    QImage aside((QSizeF(area.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    aside.fill(Qt::transparent);
    {
        QPainter q(&aside);
        q.scale(ratio, ratio);
        q.translate(-area.topLeft());
        paintContent(q, area);
    }
    const QRegion solid = SolidPaint::solidify(aside);
    aside.setDevicePixelRatio(ratio);
    p.drawImage(area.topLeft(), aside);
    p.end();
    m_paintedSink(area, ratio == 1 ? solid.translated(area.topLeft()) : pointsOf(solid, ratio).translated(area.topLeft()));
}

void PenView::paintContent(QPainter& p, const QRect& area)
{
    // The same copy of the ink the recording gets, let go of before the next.
    if (auto snap = m_board.snapshotForCompositor()) {
        if (snap->ink) {
            const QRectF placed = toLocal(snap->frame);
            const double s = snap->scale;
            const QRectF target = QRectF(area).intersected(placed);
            const QRectF source((target.x() - placed.x()) * s, (target.y() - placed.y()) * s, target.width() * s,
                                target.height() * s);
            p.drawImage(target, *snap->ink, source);
        }
        if (snap->shape) {
            p.setRenderHint(QPainter::Antialiasing);
            PenRender::draw(*snap->shape, p, [this](const GlobalPoint& g) { return toLocal(g); }, 1);
        }
    }

    if (const auto ring = m_input.ring(); ring && m_input.tool() == PenTool::eraser) {
        const QPointF c = toLocal(*ring);
        const double r = PenInput::eraserRadius(m_input.settings().width);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.9), 3));
        p.drawEllipse(c, r, r);
        p.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.7), 1));
        p.drawEllipse(c, r, r);
    }
}

void PenView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    repaint(m_input.press(toGlobal(event->globalPosition()), std::nullopt));
    notePenLatency(event->timestamp());
}

void PenView::mouseMoveEvent(QMouseEvent* event)
{
    const GlobalPoint g = toGlobal(event->globalPosition());
    if (m_input.stroking()) {
        repaint(m_input.drag(g, std::nullopt));
        notePenLatency(event->timestamp());
    } else {
        repaint(m_input.hover(g));
    }
}

void PenView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    repaint(m_input.release());
}

void PenView::tabletEvent(QTabletEvent* event)
{
    // Taken here, so Qt makes no mouse events of it as well.
    event->accept();
    const GlobalPoint g = toGlobal(event->globalPosition());
    const std::optional<double> pressure = event->pressure();
    switch (event->type()) {
    case QEvent::TabletPress:
        if (event->button() == Qt::LeftButton) {
            repaint(m_input.press(g, pressure));
            notePenLatency(event->timestamp());
        }
        break;
    case QEvent::TabletMove:
        if (m_input.stroking()) {
            repaint(m_input.drag(g, pressure));
            notePenLatency(event->timestamp());
        } else {
            repaint(m_input.hover(g));
        }
        break;
    case QEvent::TabletRelease:
        if (event->button() == Qt::LeftButton)
            repaint(m_input.release());
        break;
    default:
        event->ignore();
        break;
    }
}

} // namespace corvessa
