#pragma once

#include "platform/core/Scheduler.h"

#include <QRect>
#include <QWidget>

#include <functional>

namespace corvessa {

// A transparent layer over a toolbar control that tells a short click from a
// press held for `holdDelay`. A hold is reported while the button is still down,
// with the control's rectangle in global coordinates, and is never followed by
// a tap; a release off the control before the hold is neither. Takes the first
// click of an inactive window and never moves it. Main thread.
class TapOrHold : public QWidget {
public:
    static constexpr double holdDelay = 0.4;

    using Tap = std::function<void()>;
    using Hold = std::function<void(const QRect& anchor)>;

    TapOrHold(Scheduler& scheduler, Tap onTap, Hold onHold, QWidget* parent = nullptr);

    void setCallbacks(Tap onTap, Hold onHold);
    // Whether a press is down and its hold not yet reported.
    bool isTiming() const { return m_timer != nullptr; }

    // The control's rectangle in global Qt coordinates.
    QRect globalRect() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    Scheduler& m_scheduler;
    Tap m_onTap;
    Hold m_onHold;
    Scheduler::TimerRef m_timer;
    bool m_fired = false;
};

} // namespace corvessa
