#include "tools/PenView.h"

#include "engine/compositor/PenBoard.h"
#include "engine/compositor/PenRender.h"
#include "prefs/PerfCounters.h"
#include "tools/PenCursor.h"
#include "tools/PenInput.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTabletEvent>

#include <cmath>
#include <cstdint>
#include <ctime>

namespace corvessa {

PenView::PenView(PenBoard& board, PenInput& input, const GlobalRect& frame, const ScreenCoordinates& coordinates,
                 QPixmap backdrop)
    : m_board(board)
    , m_input(input)
    , m_frame(frame)
    , m_coordinates(coordinates)
    , m_backdrop(std::move(backdrop))
{
    setAttribute(Qt::WA_TranslucentBackground, m_backdrop.isNull());
    setAttribute(Qt::WA_OpaquePaintEvent, !m_backdrop.isNull());
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

void PenView::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const QRect area = event->rect();
    if (!m_backdrop.isNull()) {
        const double sx = m_backdrop.width() / double(std::max(width(), 1));
        const double sy = m_backdrop.height() / double(std::max(height(), 1));
        p.drawPixmap(QRectF(area), m_backdrop, QRectF(area.x() * sx, area.y() * sy, area.width() * sx, area.height() * sy));
    } else {
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(area, Qt::transparent);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }

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
