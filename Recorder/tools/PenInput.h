#pragma once

#include "engine/compositor/PenStroke.h"
#include "engine/compositor/PenTool.h"
#include "platform/core/GlobalRect.h"

#include <functional>
#include <optional>

namespace corvessa {

class PenBoard;

// The pen overlay's input: turns presses, drags and releases (global points)
// into strokes and erasures on the ink board, with the tool, colour and
// width of the moment, read afresh at every event. Each call answers the area
// (global points) whose look may have changed, for the overlay to repaint.
// Main thread.
class PenInput {
public:
    struct Settings {
        int tool = 0;     // PenTool raw value; an unknown one means the pencil
        int color = 0;    // palette index, clamped where it is used
        double width = 1; // points
    };

    // The eraser ring is drawn this far outside the erased radius.
    static constexpr double kRingGap = 4;

    // `settings` defaults to the user's pen preferences.
    explicit PenInput(PenBoard& board, std::function<Settings()> settings = {});

    // A device's pressure as the board takes it: a tablet's reading kept within
    // 0.05...1 (a reading that is not a number counts as a full press); a
    // device without pressure (mouse, touchpad) presses fully.
    static double pressureOf(std::optional<double> devicePressure);
    // The eraser's radius in points for a pen width.
    static double eraserRadius(double width);

    GlobalRect press(const GlobalPoint& global, std::optional<double> devicePressure);
    // Ignored unless a press went down here and is not released yet.
    GlobalRect drag(const GlobalPoint& global, std::optional<double> devicePressure);
    GlobalRect release();
    // The pointer moving without a press: the eraser ring follows it.
    GlobalRect hover(const GlobalPoint& global);

    Settings settings() const { return m_settings(); }
    PenTool tool() const;
    bool stroking() const { return m_stroking; }
    // Centre of the eraser ring, while the eraser is the tool.
    std::optional<GlobalPoint> ring() const { return m_ring; }

private:
    GlobalRect moveRing(const GlobalPoint& global, double radius);
    GlobalRect shapeArea() const; // what the preview of the shape covers

    PenBoard& m_board;
    std::function<Settings()> m_settings;
    bool m_stroking = false;
    std::optional<GlobalPoint> m_lastGlobal;
    std::optional<GlobalPoint> m_ring;
    std::optional<PenStroke> m_shape; // the shape as the board holds it, for its repaint area
};

} // namespace corvessa
