#pragma once

#include <QObject>
#include <QPoint>
#include <QPointF>

#include <functional>

class QWidget;

namespace corvessa {

// Moves a top-level window with the pointer while the left button, pressed on
// the window's background, stays down. A press taken by a child control never
// reaches the window, so only the background drags. The window follows the
// cursor's global position (not its own, which lags behind a window manager),
// so it works with or without one; each step is a plain move that the window's
// move handler sees. Main thread.
class DragHandle : public QObject {
public:
    // Whether a press at a point (window coordinates) may start a drag; any
    // point without it. `began` runs when a drag starts.
    using Grabbable = std::function<bool(const QPoint&)>;

    DragHandle(QWidget* window, Grabbable grabbable = {}, std::function<void()> began = {});

    bool dragging() const { return m_dragging; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    Grabbable m_grabbable;
    std::function<void()> m_began;
    bool m_dragging = false;
    QPointF m_pressCursor;
    QPoint m_pressWindow;
};

} // namespace corvessa
