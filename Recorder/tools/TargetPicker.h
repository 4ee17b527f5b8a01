#pragma once

#include "toolbar/kit/FloatingKit.h"
#include "model/RangeMode.h"
#include "model/ToolsFacade.h"
#include "platform/WindowInfo.h"

#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWindow;

namespace corvessa {

class FloatingSurfaces;
class TargetPickerView;

// Lets the user click another program's window or drag an area on any screen:
// one override-redirect veil per screen that holds the keyboard (for Esc)
// while it is open. Ends with one call of the completion, with the selection
// or nothing. Coordinates are Qt's global points (y down) throughout.
// Main thread.
class TargetPicker {
public:
    using Selection = ToolsFacade::Selection;

    // A window that can be picked, its frame in Qt global points.
    struct Candidate {
        uint32_t id = 0;
        QRectF frame;
        QString title;
    };
    // A screen the veil covers: its display number and frame in Qt global points.
    struct Screen {
        uint32_t display = 0;
        QRectF frame;
    };

    // Smallest area drag that is taken, in points.
    static constexpr double minimumWidth = 100;
    static constexpr double minimumHeight = 60;
    // Smallest window offered, in points.
    static constexpr double minimumWindowWidth = 80;
    static constexpr double minimumWindowHeight = 60;
    // A window's opacity must exceed this for it to be offered.
    static constexpr double minimumAlpha = 0.01;

    // `windows`: the pickable windows, front to back, frames in window-server
    // points; read once per window pick. `kit` makes the veils floating
    // surfaces and keeps them out of recordings.
    TargetPicker(FloatingKit kit, std::function<std::vector<WindowInfo>()> windows);
    // A pick still open ends with nothing.
    ~TargetPicker();
    TargetPicker(const TargetPicker&) = delete;
    TargetPicker& operator=(const TargetPicker&) = delete;

    // Opens the veils; a pick still open ends with nothing first.
    void pick(RangeMode mode, ToolsFacade::PickCompletion completion);
    // Closes the veils, lets go of the keyboard and calls the completion once.
    void finish(std::optional<Selection> selection);

    bool isOpen() const { return !m_views.empty(); }
    RangeMode mode() const { return m_mode; }
    const std::vector<Candidate>& candidates() const { return m_candidates; }
    const std::optional<Candidate>& hover() const { return m_hover; }
    const std::optional<QRectF>& dragRect() const { return m_dragRect; }
    // The open veils, one per screen.
    std::vector<TargetPickerView*> views() const;

    // Input from the veils, in Qt global points.
    void hoverAt(const QPointF& point);
    void press(const QPointF& point);
    void drag(const QPointF& point);
    void endDrag();

    // Other programs' windows fit to pick, front to back: normal windows shown
    // now (not minimised, not on another desktop), not `ownPid`'s, at least
    // 80 x 60 points; titled "class — name" (the class alone without a name).
    static std::vector<WindowInfo> pickable(const std::vector<WindowInfo>& windows, int64_t ownPid);
    // The area of a drag (Qt global points): nothing below 100 x 60 or with its
    // centre on no screen; else the part on the screen holding its centre, in
    // that screen's points with the origin at its top left.
    static std::optional<Selection> areaSelection(const QRectF& drag, const std::vector<Screen>& screens);

private:
    void redraw();

    FloatingKit m_kit;
    std::function<std::vector<WindowInfo>()> m_windows;

    std::vector<QPointer<TargetPickerView>> m_views;
    std::vector<Screen> m_screens;
    RangeMode m_mode = RangeMode::window;
    ToolsFacade::PickCompletion m_completion;
    std::vector<Candidate> m_candidates;
    std::optional<Candidate> m_hover;
    std::optional<QPointF> m_dragStart;
    std::optional<QRectF> m_dragRect;
};

} // namespace corvessa
