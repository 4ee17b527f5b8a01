#pragma once

#include "toolbar/kit/FloatingKit.h"
#include "tools/PenPalettePanel.h"
#include "platform/OutsideClickMonitor.h"
#include "platform/core/Scheduler.h"
#include "toolbar/ReopenGuard.h"
#include "tools/MagnifierPanelView.h"

#include <QObject>
#include <QPointer>
#include <QRect>

#include <functional>
#include <memory>

class QWindow;

namespace corvessa {

class FloatingSurfaces;
class Prefs;

// The magnifier's settings card, opened beside the toolbar's magnifier button
// by a press held on it: a floating, never-focused panel, out of recordings,
// closed by any press outside it. The press that closes it must not reopen it
// on the same button (reopenBlocked). Coordinates are Qt global points (y
// down). Main thread.
class MagnifierPanel : public QObject {
public:
    // Gap between the card and its anchor, and between the card and the edge
    // of the screen's usable area.
    static constexpr int gap = PenPalettePanel::gap;
    // How long the outside-click monitor may still report the press that
    // opened the card (it lands on the anchor): such a report is not outside.
    static constexpr double echoWindow = 0.5;

    struct Setup {
        Scheduler* clock = nullptr; // required
        // The card's surfaces and what keeps it out of recordings.
        FloatingKit kit;
        // Presses anywhere; may observe nothing (presses in our own windows are seen anyway).
        std::shared_ptr<OutsideClickMonitor> clicks;
        // By default Prefs::shared().
        Prefs* prefs = nullptr;
    };

    explicit MagnifierPanel(Setup setup);
    ~MagnifierPanel() override;
    MagnifierPanel(const MagnifierPanel&) = delete;
    MagnifierPanel& operator=(const MagnifierPanel&) = delete;

    // Closes an open card and opens one beside `anchor`, unless the press that
    // asks closed the card on this anchor a moment ago. The mode segments call
    // `setFocusMode`.
    void show(const QRect& anchor, std::function<void(int mode)> setFocusMode);
    // Closes the card if one is open; safe at any time.
    void dismiss();

    bool isOpen() const { return bool(m_view); }
    MagnifierPanelView* view() const { return m_view; }
    QRect anchorRect() const { return m_anchor; }
    const ReopenGuard& outsideClose() const { return m_closed; }
    // Whether a press on a control at `anchor` now is the one that just closed the card.
    bool reopenBlocked(const QRect& anchor) const;

    // Where a card window of `size` (card plus its transparent margin) goes:
    // centred on the anchor; above it when there is room or at least as much
    // room as below, else below; the card kept `gap` inside `visible`.
    static QPoint placedOrigin(const QRect& visible, const QRect& anchor, const QSize& size);

protected:
    // Sees presses in the program's own windows; never takes them.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void pressed(const QPointF& position, bool fromMonitor);
    void place();

    Setup m_setup;
    QPointer<MagnifierPanelView> m_view;
    std::unique_ptr<OutsideClickMonitor::Subscription> m_subscription;
    QRect m_anchor;
    QSize m_placedSize; // of the card last placed
    double m_openedAt = 0;
    ReopenGuard m_closed;
};

} // namespace corvessa
