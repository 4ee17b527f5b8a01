#pragma once

#include "model/MenuRow.h"
#include "model/RangeMode.h"
#include "platform/DisplayInfo.h"
#include "platform/core/GlobalRect.h"
#include "platform/WindowInfo.h"

#include <QRectF>
#include <QSizeF>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace corvessa {

// The on-screen tools as the recorder model drives them: the target picker,
// the lens outline, the region picker and zoom HUD, the pen overlay, the
// teleprompter and the floating menu. The program's windows implement it;
// until a tool exists, StandInTools answers for it. Main thread.
class ToolsFacade {
public:
    // What the target picker hands back.
    struct Selection {
        enum class Kind { window, area };
        Kind kind = Kind::window;
        uint32_t id = 0;   // window: its number
        QString title;     // window: "class — name"
        QSizeF size;       // window: its size in points
        uint32_t display = 0; // area: the display it lies on
        QRectF rect;       // area: display-local points, origin top left
    };
    using PickCompletion = std::function<void(std::optional<Selection>)>;

    virtual ~ToolsFacade() = default;

    // Lets the user pick a window or drag an area; nothing when cancelled.
    virtual void pickRange(RangeMode mode, PickCompletion completion) = 0;
    // Other programs' windows on screen, front to back, as the picker offers them.
    virtual std::vector<WindowInfo> windowList() = 0;
    // Shows the outline of the magnified area, or hides it.
    virtual void showLensOutline(const GlobalRect& rect, bool armed) = 0;
    virtual void hideLensOutline() = 0;
    virtual void hidePenOverlay() = 0;
    virtual bool isRegionPickOpen() const = 0;
    // The countdown's number, centred on the display that will be recorded;
    // hideCountdown() ends the countdown and drops its window.
    virtual void showCountdown(int n, const DisplayInfo& display) = 0;
    virtual void hideCountdown() = 0;

    // Magnifier. Opens the region picker over `region` (the recorded area),
    // proposing `defaultFrac` of it; the completion gets the picked rectangle,
    // or nothing when the pick is cancelled. The default cancels at once.
    using RegionCompletion = std::function<void(std::optional<GlobalRect>)>;
    virtual void pickRegion(const GlobalRect& region, double defaultFrac, RegionCompletion completion)
    {
        (void)region, (void)defaultFrac;
        if (completion)
            completion(std::nullopt);
    }
    // Ends an open region pick as cancelled (its completion gets nothing).
    virtual void cancelRegionPick() {}
    // The short zoom message, near the recorded area when there is one.
    virtual void showZoomHUD(const QString& text, const std::optional<GlobalRect>& near) { (void)text, (void)near; }
    virtual void dismissMagnifierPanel() {}

    // Pen: the drawing surface over `display`.
    virtual void showPenOverlay(const DisplayInfo& display) { (void)display; }

    // Teleprompter: hiding stops its scrolling and orders it out.
    virtual bool isTeleprompterShown() const { return false; }
    virtual void showTeleprompter() {}
    virtual void hideTeleprompter() {}

    // The floating menu, opened beside `anchor`.
    virtual void showMenu(MenuRows rows, const GlobalRect& anchor) { (void)rows, (void)anchor; }
    virtual void dismissFloatingMenu() {}
};

} // namespace corvessa
