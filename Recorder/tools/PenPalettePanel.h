#pragma once

#include "toolbar/kit/FloatingKit.h"
#include "platform/OutsideClickMonitor.h"
#include "toolbar/ReopenGuard.h"

#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <functional>
#include <memory>

namespace corvessa {

class FloatingSurfaces;
class PaletteView;

// The pen's colour popover, opened from the toolbar's colour swatch: the
// twelve pen colours on a card beside the swatch; a choice sets the pen colour
// and closes it, and so does any press outside it. Never recorded. Coordinates
// are Qt global points (y down). Main thread.
class PenPalettePanel {
public:
    // Space between the card and the swatch, and the least between the card
    // and the screen's edge.
    static constexpr int gap = 8;
    // How late the screen-wide monitor may report the press that opened the
    // palette (seconds); a press on the swatch within it does not close it.
    static constexpr double echoWindow = 0.5;

    // `surfaces` and `clicks` default to the platform's; `clock` (seconds)
    // times the outside closes; `choose` takes the chosen colour (by default
    // into the pen colour preference).
    PenPalettePanel(std::shared_ptr<FloatingSurfaces> surfaces = {}, std::shared_ptr<OutsideClickMonitor> clicks = {},
                    std::function<double()> clock = {}, std::function<void(int index)> choose = {});
    ~PenPalettePanel();
    PenPalettePanel(const PenPalettePanel&) = delete;
    PenPalettePanel& operator=(const PenPalettePanel&) = delete;

    // The program's instance, made on first use.
    static PenPalettePanel& shared();

    // What the swatch calls on a press: closes an open palette, else opens one,
    // unless the press is the one that just closed it from outside.
    void open(const QRect& anchor);
    // Opens the palette beside `anchor`; an open one closes first.
    void show(const QRect& anchor);
    // Closes it; harmless when closed.
    void dismiss();

    bool isOpen() const { return bool(m_window); }
    QWidget* window() const { return m_window; }
    const ReopenGuard& guard() const { return m_guard; }

    // Where the popover of `size` goes beside `anchor` within the visible
    // frame: above unless there is too little room there and more below; the
    // card (inside the transparent `margin`) keeps `gap` from the frame's edges.
    static QPoint placedOrigin(const QRect& visible, const QRect& anchor, const QSize& size, int margin);

private:
    void outsidePress(const QPointF& position);

    // Without registration: the palette is never recorded.
    FloatingKit m_kit;
    std::shared_ptr<OutsideClickMonitor> m_clicks;
    std::function<double()> m_clock;
    std::function<void(int)> m_choose;
    QPointer<QWidget> m_window;
    std::unique_ptr<OutsideClickMonitor::Subscription> m_subscription;
    QRect m_anchor;
    double m_shownAt = 0;
    ReopenGuard m_guard;
};

} // namespace corvessa
