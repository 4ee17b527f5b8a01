#pragma once

#include "model/Hint.h"
#include "toolbar/kit/GlassPanel.h"

#include <vector>

namespace corvessa {

// The echo card's content: one row per hint (its symbol at 11 pt, 6 pt, its
// text at 12 pt), rows stacked leading-aligned 4 pt apart, on a glass card
// padded 12 pt across and 7 pt down, inside a 4 pt transparent margin. Fixed to
// its ideal size: long texts are neither wrapped nor cut. Main thread.
class HintView : public GlassPanel {
public:
    static constexpr double cornerRadius = 12;
    static constexpr int margin = 4;
    static constexpr int padX = 12;
    static constexpr int padY = 7;
    static constexpr int rowSpacing = 4;
    static constexpr int iconSpacing = 6;
    static constexpr double iconPoints = 11;
    static constexpr double textPoints = 12;

    explicit HintView(std::vector<Hint> items, QWidget* parent = nullptr);

    const std::vector<Hint>& items() const { return m_items; }

private:
    std::vector<Hint> m_items;
};

} // namespace corvessa
