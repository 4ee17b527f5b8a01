#include "tools/PenInput.h"

#include "engine/compositor/PenBoard.h"
#include "engine/compositor/PenRender.h"
#include "prefs/Prefs.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace corvessa {

namespace {

GlobalRect around(const GlobalPoint& a, const GlobalPoint& b, double pad)
{
    return GlobalRect::spanning(a, b).adjusted(-pad, -pad, pad, pad);
}

} // namespace

PenInput::PenInput(PenBoard& board, std::function<Settings()> settings)
    : m_board(board)
    , m_settings(std::move(settings))
{
    if (!m_settings) {
        m_settings = [] {
            const Prefs& prefs = Prefs::shared();
            return Settings{prefs.penTool(), prefs.penColor(), prefs.penWidth()};
        };
    }
}

double PenInput::pressureOf(std::optional<double> devicePressure)
{
    if (!devicePressure || std::isnan(*devicePressure))
        return 1;
    return std::clamp(*devicePressure, PenStroke::kMinPressure, 1.0);
}

double PenInput::eraserRadius(double width)
{
    return std::isfinite(width) ? std::max(width * 2, 10.0) : 10.0;
}

PenTool PenInput::tool() const
{
    return PenTools::fromRawValueOrPencil(m_settings().tool);
}

GlobalRect PenInput::press(const GlobalPoint& global, std::optional<double> devicePressure)
{
    const Settings s = m_settings();
    const PenTool tool = PenTools::fromRawValueOrPencil(s.tool);
    m_stroking = true;
    m_lastGlobal = global;
    if (tool == PenTool::eraser) {
        const double r = eraserRadius(s.width);
        m_board.erase(global, global, r);
        return moveRing(global, r);
    }
    m_ring.reset();
    PenStroke stroke{tool, s.color, s.width, {global}, {pressureOf(devicePressure)}};
    m_board.begin(stroke);
    if (PenTools::isShape(tool)) {
        const GlobalRect before = shapeArea();
        m_shape = stroke;
        return before.united(shapeArea());
    }
    m_shape.reset();
    return around(global, global, s.width);
}

GlobalRect PenInput::drag(const GlobalPoint& global, std::optional<double> devicePressure)
{
    if (!m_stroking)
        return {};
    const Settings s = m_settings();
    const PenTool tool = PenTools::fromRawValueOrPencil(s.tool);
    const GlobalPoint from = m_lastGlobal.value_or(global);
    m_lastGlobal = global;
    if (tool == PenTool::eraser) {
        const double r = eraserRadius(s.width);
        m_board.erase(from, global, r);
        return around(from, global, r).united(moveRing(global, r));
    }
    m_board.extend(global, pressureOf(devicePressure));
    if (m_shape) {
        const GlobalRect before = shapeArea();
        if (m_shape->pts.size() >= 2)
            m_shape->pts[1] = global;
        else
            m_shape->pts.push_back(global);
        return before.united(shapeArea());
    }
    return around(from, global, s.width);
}

GlobalRect PenInput::release()
{
    if (!m_stroking)
        return {};
    m_stroking = false;
    m_board.finish();
    const GlobalRect area = shapeArea();
    m_shape.reset();
    return area;
}

GlobalRect PenInput::hover(const GlobalPoint& global)
{
    const Settings s = m_settings();
    if (PenTools::fromRawValueOrPencil(s.tool) != PenTool::eraser) {
        // Another tool was chosen meanwhile: the old ring goes.
        if (!m_ring)
            return {};
        const GlobalPoint old = *m_ring;
        m_ring.reset();
        return around(old, old, eraserRadius(s.width) + kRingGap + 2);
    }
    return moveRing(global, eraserRadius(s.width));
}

GlobalRect PenInput::moveRing(const GlobalPoint& global, double radius)
{
    const double g = radius + kRingGap;
    GlobalRect area = around(global, global, g);
    if (m_ring)
        area = area.united(around(*m_ring, *m_ring, g));
    m_ring = global;
    return area;
}

GlobalRect PenInput::shapeArea() const
{
    if (!m_shape)
        return {};
    // Global points to global points: the flip to the screen keeps a box a box.
    const GlobalRect drawn = GlobalRect::fromYUp(PenRender::bounds(*m_shape, [](const GlobalPoint& p) { return p.yUp(); }, 1));
    return drawn.isEmpty() ? drawn : drawn.adjusted(-2, -2, 2, 2);
}

} // namespace corvessa
