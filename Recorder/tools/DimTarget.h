#pragma once

#include "model/RangeMode.h"
#include "model/RecorderPhase.h"

#include <QRectF>
#include <QSizeF>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace corvessa {

class RecorderModel;

// What the dim overlay leaves clear: one window (followed as it moves), an
// area of one display, one whole display, or nothing (no veil at all).
struct DimTarget {
    enum class Kind { none, window, area, display };

    Kind kind = Kind::none;
    uint32_t id = 0; // window: the window number; area and display: the display
    QSizeF size;     // window: the recorded frame's size in points
    QRectF rect;     // area: display-local points, origin top left, y down

    static DimTarget window(uint32_t window, const QSizeF& size) { return {Kind::window, window, size, {}}; }
    static DimTarget area(uint32_t display, const QRectF& rect) { return {Kind::area, display, {}, rect}; }
    static DimTarget display(uint32_t display) { return {Kind::display, display, {}, {}}; }

    bool isNone() const { return kind == Kind::none; }
    // Case by case: only the payload of the case counts.
    bool operator==(const DimTarget& other) const;

    // What the target depends on, read from the model and the shell.
    struct Inputs {
        RecorderPhase::Kind phase = RecorderPhase::Kind::ready;
        bool barVisible = true;
        RangeMode mode = RangeMode::display;
        uint32_t display = 0; // the display a display recording records
        std::size_t screenCount = 1;
        std::optional<uint32_t> windowID;
        QSizeF windowSize;
        std::optional<uint32_t> areaDisplay;
        QRectF areaRect;
    };

    // The veil is wanted while recording or paused, and in the countdown or
    // ready while the toolbar shows; a display target only with two screens or
    // more (with one there is nothing to set apart); window and area targets
    // only once something was picked.
    static DimTarget forInputs(const Inputs& in);
    static DimTarget forModel(const RecorderModel& model, bool barVisible);
};

} // namespace corvessa
