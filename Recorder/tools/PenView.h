#pragma once

#include "platform/core/ScreenCoordinates.h"
#include "tools/PenInput.h"

#include <QRectF>
#include <QRegion>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

namespace corvessa {

class PenBoard;

// The pen overlay's full-screen canvas: takes every press, drag and release of
// the mouse or a tablet on its screen and hands them to the pen input, shows
// the board's ink, the shape being dragged and the eraser's ring, and gives
// the pointer the pencil. Everything else is clear, so the desktop beneath
// stays live. Main thread.
class PenView : public QWidget {
public:
    // What the view paints within a repainted area (widget coordinates).
    using PaintedSink = std::function<void(const QRect& area, const QRegion& painted)>;

    // `frame`: the screen; `coordinates` turns Qt's points into global ones.
    PenView(PenBoard& board, PenInput& input, const GlobalRect& frame, const ScreenCoordinates& coordinates);

    // Where clear pixels show black (no compositing manager) the window is
    // shaped to what it paints: the view then paints every pixel solid or
    // clear and tells `sink` what it painted in each area it repaints. An
    // empty sink: translucent paint, shown as it is. Repaints the whole view.
    void setPaintedSink(PaintedSink sink);

    // A point in global points, from Qt's global points.
    GlobalPoint toGlobal(const QPointF& qtGlobal) const { return m_coordinates.toGlobalPoint(qtGlobal); }
    // A global rectangle in this view's coordinates.
    QRectF toLocal(const GlobalRect& global) const;
    QPointF toLocal(const GlobalPoint& global) const;
    // A press went down here and is not released yet.
    bool isStroking() const { return m_input.stroking(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void tabletEvent(QTabletEvent* event) override;

private:
    // Pen latencies at or above this (milliseconds) are not counted.
    static constexpr uint32_t kLatencyCeilingMs = 10000;

    void repaint(const GlobalRect& global);
    // The ink, the shape in progress and the eraser's ring within `area`.
    void paintContent(QPainter& p, const QRect& area);
    // From the event's time to the end of its handling, into the pen timings.
    void notePenLatency(quint64 eventTime);

    PenBoard& m_board;
    PenInput& m_input;
    GlobalRect m_frame;
    ScreenCoordinates m_coordinates;
    PaintedSink m_paintedSink;
};

} // namespace corvessa
