#pragma once

#include "toolbar/kit/FloatingKit.h"
#include "platform/core/ScreenCoordinates.h"

#include <QRect>
#include <QRectF>
#include <QRegion>

#include <functional>
#include <memory>
#include <optional>

class QWindow;

namespace corvessa {

class FloatingSurfaces;
class LensOutlineView;

// The outline of the magnified area on screen: a click-through window above
// everything, made on the first show and then only shown and hidden. Main
// thread.
class LensOverlay {
public:
    // Outlines this narrow or narrower are not worth drawing.
    static constexpr double minimumWidth = 4;
    // The band that stays visible where nothing composites translucent
    // windows: the fill would show black, so only the rim is drawn.
    static constexpr int rimBand = 2;

    // `kit` makes the outline a floating surface and keeps it out of
    // recordings; `coords` gives the screen layout (by default Qt's primary
    // screen, read at each update).
    explicit LensOverlay(FloatingKit kit, std::function<ScreenCoordinates()> coords = {});
    ~LensOverlay();
    LensOverlay(const LensOverlay&) = delete;
    LensOverlay& operator=(const LensOverlay&) = delete;

    // Shows the outline at `rect`, in its armed look or not;
    // nothing, or a rectangle 4 points wide or less, hides it.
    void update(const std::optional<GlobalRect>& rect, bool armed);
    void hide();

    bool isVisible() const;
    // Null before the first show.
    LensOutlineView* view() const { return m_view.get(); }

    // Where the window goes for `rect`, in Qt points; nothing
    // when it is too narrow or not a finite rectangle.
    static std::optional<QRect> windowFrame(const std::optional<GlobalRect>& rect, const ScreenCoordinates& coords);
    // The rim band of a window of `size`.
    static QRegion rimRegion(const QSize& size);

private:
    FloatingKit m_kit;
    std::function<ScreenCoordinates()> m_coords;
    std::unique_ptr<LensOutlineView> m_view;
};

} // namespace corvessa
