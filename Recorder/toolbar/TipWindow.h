#pragma once

#include "platform/core/Scheduler.h"
#include "prefs/HotKeyAction.h"
#include "toolbar/kit/FloatingKit.h"

#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QWindow;

namespace corvessa {

class FloatingSurfaces;
class TipView;

// The one hover tip of the program. A control schedules its tip when the
// pointer enters it; when the pointer has stayed on the control for `delay`
// the tip appears next to it in its own window: frameless, translucent, past
// the window manager, never focused and click-through, registered with the
// list of windows recordings leave out. A new schedule replaces any pending or
// visible tip, so at most one tip is on screen. Leaving the control, any
// click, key press or scroll in the program hides it. The pointer is also
// checked against the control while a tip is pending or shown, as a leave is
// not sure to come when it moves into another window of ours or onto an
// overlay past the window manager, and a control swapped in under a resting
// pointer is told of an enter that never was; a tip whose control is gone or
// no longer under the pointer goes. Main thread.
class TipWindow : public QObject {
public:
    // How long the pointer rests on a control before its tip shows.
    static constexpr double delay = 0.7;
    // Gap between the control and the tip, and between the tip and the screen's edge.
    static constexpr int gap = 4;
    // How often the pointer is checked against the control while a tip is
    // pending or shown, and for a move while a resting pointer is waited on.
    static constexpr double pointerCheck = 0.1;

    // The control's rectangle in global Qt coordinates; nothing when it is gone.
    using Anchor = std::function<std::optional<QRect>()>;
    // The display text of the key bound to an action; nothing when unbound.
    using KeyText = std::function<std::optional<QString>(HotKeyAction)>;
    // Where the pointer is, in global Qt coordinates.
    using Pointer = std::function<QPoint()>;

    // Tips become floating surfaces of the menus' level through `kit`, shaped
    // to their card where no compositing manager runs, and go on the list
    // recordings leave out. Without `keyText` the bindings come from
    // Prefs::shared(); without `pointer` the position is QCursor::pos().
    explicit TipWindow(Scheduler& scheduler, FloatingKit kit = {}, KeyText keyText = {}, Pointer pointer = {});
    ~TipWindow() override;
    TipWindow(const TipWindow&) = delete;
    TipWindow& operator=(const TipWindow&) = delete;

    // Other surfaces for the tips (the twin's when null), with the same registration.
    void setSurfaces(std::shared_ptr<FloatingSurfaces> surfaces)
    {
        m_kit = FloatingKit(std::move(surfaces), m_kit.registerWindow());
    }

    // Replaces any pending or visible tip by a new one shown after `delay`.
    void schedule(const QString& name, std::optional<HotKeyAction> action, Anchor anchor);
    // Cancels the pending tip and closes the visible one.
    void hide();
    // Hides, and lets no tip show before the pointer has moved: the controls
    // under it were swapped, and one that came in under a resting pointer has
    // not been hovered. A tip scheduled meanwhile waits for the move, then for
    // `delay` from it.
    void hideUntilPointerMoves();

    bool isPending() const { return m_pending; }
    // The tip on screen; null when none.
    TipView* view() const { return m_view.get(); }

    // Where a tip of `size` goes (top-left, global Qt coordinates, y down) for a
    // control at `anchor` on a screen whose usable area is `visible`: 4 pt above
    // the control, or 4 pt below when it would cross the top; centred on it and
    // kept 4 pt inside the usable area horizontally.
    static QPoint placedOrigin(const QRect& anchor, const QSize& size, const QRect& visible);
    // Which screen (by its geometry) a tip uses: the first whose area meets the
    // anchor or holds the pointer, else `primary`; -1 when there is none.
    static int screenIndex(const QRect& anchor, const QPoint& pointer, const QList<QRect>& screens, int primary);

protected:
    // Hides on any click, key press or scroll in the program, passing it on.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Tip {
        QString name;
        std::optional<HotKeyAction> action;
        Anchor anchor;
    };

    void startDelay();
    void startChecking();
    void delayEnded();
    void checkPointer();
    // The control's rectangle when it is still there and under the pointer.
    std::optional<QRect> anchorUnderPointer() const;
    void show(const QString& name, std::optional<HotKeyAction> action, const QRect& anchor);

    Scheduler& m_scheduler;
    FloatingKit m_kit;
    KeyText m_keyText;
    Pointer m_pointer;
    Tip m_tip; // the pending or shown tip
    Scheduler::TimerRef m_work;
    Scheduler::TimerRef m_check;
    bool m_pending = false;
    // Where the pointer rested when the controls were swapped under it.
    std::optional<QPoint> m_restingAt;
    std::unique_ptr<TipView> m_view;
    bool m_monitoring = false;
};

} // namespace corvessa
