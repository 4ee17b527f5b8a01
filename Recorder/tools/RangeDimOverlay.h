#pragma once

#include "toolbar/kit/FloatingKit.h"
#include "tools/DimTarget.h"

#include <QObject>
#include <QPointF>
#include <QRectF>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QTimer;
class QWindow;

namespace corvessa {

class DimView;
class FloatingSurfaces;

// Veils every display except what will be recorded: one click-through,
// full-screen window per display (level dim), each a DimView with the hole
// where the target is. A window target is followed four times a second; while
// the window cannot be found the veils are taken off and come back when it
// returns. Windows are made per display on first need and dropped only by
// set(none). All geometry is in Qt points (y down). Main thread.
class RangeDimOverlay : public QObject {
public:
    using Target = DimTarget;

    // Polling a followed window: often enough to keep up with a drag.
    static constexpr int followIntervalMs = 250;
    // Smaller moves reported for a window are noise: the hole stays put.
    static constexpr double jitter = 1.5;
    static constexpr double windowRadius = 10;
    static constexpr double areaRadius = 4;
    static constexpr double displayRadius = 0;

    // A display by its identifier and its frame in Qt points.
    struct Screen {
        uint32_t id = 0;
        QRectF frame;
    };
    struct Setup {
        // The veils' surfaces and Stealth::track, which keeps them out of recordings.
        FloatingKit kit;
        // The displays now; by default the display list placed by Qt's primary screen.
        std::function<std::vector<Screen>()> screens;
        // A window's frame in Qt points, nothing when it is gone or not shown; by
        // default its frame in the target picker's list (window manager's frame
        // included), nothing while it is not listed there.
        std::function<std::optional<QRectF>(uint32_t)> windowFrame;
    };

    // Per display: its hole (none = fully veiled) and the hole's corner radius.
    struct Holes {
        std::map<uint32_t, std::optional<QRectF>> holes;
        double radius = 0;
    };

    explicit RangeDimOverlay(Setup setup);
    ~RangeDimOverlay() override;
    RangeDimOverlay(const RangeDimOverlay&) = delete;
    RangeDimOverlay& operator=(const RangeDimOverlay&) = delete;

    // Shows the target; the same target while its veils are up costs nothing,
    // none takes every veil down.
    void set(const Target& target);
    const Target& target() const { return m_target; }

    // Recomputes the holes now; what the follow timer does.
    void refresh();
    bool following() const;
    // A display's veil, made on first need; null before.
    DimView* view(uint32_t display) const;
    // How often a veil was redrawn for a new hole or on coming back.
    int redraws() const { return m_redraws; }

    // The holes for `target` over `screens`; `window` is the followed window's
    // hole (its top-left corner with the recorded size). Every screen gets an
    // entry: displays other than the recorded one are veiled whole.
    static Holes holesFor(const Target& target, const std::vector<Screen>& screens, const std::optional<QRectF>& window);
    // The origin a followed window's hole uses: the last one while the window
    // moved less than `jitter` on both axes.
    static QPointF followedOrigin(const std::optional<QPointF>& last, const QPointF& now);

private:
    void hide();
    void orderOutAll();
    DimView* viewFor(const Screen& screen);

    Setup m_setup;
    std::map<uint32_t, DimView*> m_overlays; // owned: top-level views
    Target m_target;
    QTimer* m_timer;
    std::map<uint32_t, std::optional<QRectF>> m_lastHole; // view coordinates
    std::map<uint32_t, bool> m_lastVeiled;
    std::optional<QPointF> m_lastWindowOrigin;
    int m_redraws = 0;
};

} // namespace corvessa
