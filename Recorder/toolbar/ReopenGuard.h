#pragma once

#include <QRectF>

#include <limits>

namespace corvessa {

// Remembers when and for which control a menu or popover was last closed by an
// outside click, so the press that closed it does not reopen it on the same
// control. The opener records the close; the control asks blocks() before it
// opens. A plain value; owned by the opener's thread (main).
class ReopenGuard {
public:
    // How long after an outside close a press on the same control is ignored.
    // Long enough to cover the one mouse-down that both closes and reaches the
    // control, short enough that a deliberate second click opens again.
    static constexpr double window = 0.15;

    // Records an outside close at `closedAt` (seconds, the caller's clock) of the
    // menu that was anchored at `closedAnchor` (global coordinates).
    void closedByOutsideClick(double closedAt, const QRectF& closedAnchor)
    {
        m_closedAt = closedAt;
        m_closedAnchor = closedAnchor;
    }

    // Whether a press at `now` on a control at `anchor` must be ignored. A close
    // time in the future (clock went back, nonsense input) never blocks.
    bool blocks(double now, const QRectF& anchor) const
    {
        const double since = now - m_closedAt;
        return since >= 0 && since < window && m_closedAnchor.intersects(anchor);
    }

    double closedAt() const { return m_closedAt; }
    QRectF closedAnchor() const { return m_closedAnchor; }

private:
    double m_closedAt = -std::numeric_limits<double>::infinity();
    QRectF m_closedAnchor;
};

} // namespace corvessa
