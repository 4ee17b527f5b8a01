#pragma once

#include "model/RangeMode.h"
#include "platform/DisplayInfo.h"
#include "platform/WindowInfo.h"

#include <QRectF>
#include <QSizeF>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace corvessa {

// The on-screen tools as the recorder model drives them: the target picker,
// the lens outline, the pen overlay and the region picker. The program's
// windows implement it; until a tool exists, StandInTools answers for it.
// Main thread.
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
    // Shows the outline of the magnified area (global points), or hides it.
    virtual void showLensOutline(const QRectF& rect, bool armed) = 0;
    virtual void hideLensOutline() = 0;
    virtual void hidePenOverlay() = 0;
    virtual bool isRegionPickOpen() const = 0;
    // The countdown's number, centred on the display that will be recorded;
    // hideCountdown() ends the countdown and drops its window.
    virtual void showCountdown(int n, const DisplayInfo& display) = 0;
    virtual void hideCountdown() = 0;
};

} // namespace corvessa
