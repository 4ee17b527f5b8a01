#pragma once

#include <array>
#include <optional>

namespace corvessa {

// The pen's six tools. The value is what the "penTool" preference stores.
enum class PenTool : int {
    pencil = 0,
    line = 1,
    arrow = 2,
    rect = 3,
    ellipse = 4,
    eraser = 5,
};

// Lookups of the pen tools by their stored value.
class PenTools {
public:
    PenTools() = delete;

    static constexpr std::array<PenTool, 6> allCases{PenTool::pencil, PenTool::line, PenTool::arrow,
                                                     PenTool::rect, PenTool::ellipse, PenTool::eraser};

    static constexpr int rawValue(PenTool tool) { return static_cast<int>(tool); }

    // The tool stored as `raw`; none outside 0...5.
    static constexpr std::optional<PenTool> fromRawValue(int raw)
    {
        if (raw < 0 || raw >= int(allCases.size()))
            return std::nullopt;
        return allCases[size_t(raw)];
    }

    // What every caller uses for a stored value: an unknown value means the pencil.
    static constexpr PenTool fromRawValueOrPencil(int raw) { return fromRawValue(raw).value_or(PenTool::pencil); }

    // Tools that draw a vector shape while the button is held and burn it in on release.
    static constexpr bool isShape(PenTool tool) { return tool != PenTool::pencil && tool != PenTool::eraser; }
};

} // namespace corvessa
