#pragma once

#include "toolbar/kit/FloatingKit.h"
#include "model/ToolsFacade.h"
#include "platform/core/ScreenCoordinates.h"
#include "tools/RegionPickerView.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWindow;

namespace corvessa {

class FloatingSurfaces;

// Lets the user choose the part of the recorded area the magnifier locks onto:
// a veil over the screen holding the area takes a click (the default fraction
// centred there) or a drag (its size, with the area's aspect ratio), see
// RegionRules. Esc or a right click cancels. The veil holds the keyboard
// while open and lets go on every exit. Ends with one call of the completion.
// Main thread.
class RegionPicker {
public:
    using Completion = ToolsFacade::RegionCompletion;

    // `log` takes the "[region]" lines; `kit` makes the veil a floating
    // surface and keeps it out of recordings.
    RegionPicker(FloatingKit kit, std::function<void(const QString&)> log);
    // A pick still open ends with nothing.
    ~RegionPicker();
    RegionPicker(const RegionPicker&) = delete;
    RegionPicker& operator=(const RegionPicker&) = delete;

    // Opens the veil over the screen holding `region`'s centre (else the
    // primary screen). A pick still open ends with nothing first. With no
    // screen, or an empty region, the completion gets nothing at once.
    void pick(const GlobalRect& region, double defaultFraction, Completion completion);
    // Closes the veil, lets go of the keyboard and calls the completion once.
    // Safe when nothing is open.
    void finish(std::optional<GlobalRect> rect);

    bool isOpen() const { return bool(m_view); }
    RegionPickerView* view() const { return m_view; }
    const GlobalRect& region() const { return m_region; }
    // Where the press in progress began; nothing between presses.
    const std::optional<GlobalPoint>& start() const { return m_start; }
    const GlobalPoint& current() const { return m_current; }

    // Input from the veil.
    void press(const GlobalPoint& point);
    void drag(const GlobalPoint& point);
    void release(const GlobalPoint& point);

private:
    void redraw();

    FloatingKit m_kit;
    std::function<void(const QString&)> m_log;

    QPointer<RegionPickerView> m_view;
    Completion m_completion;
    GlobalRect m_region;
    double m_defaultFraction = 0;
    std::optional<GlobalPoint> m_start;
    GlobalPoint m_current;
};

} // namespace corvessa
