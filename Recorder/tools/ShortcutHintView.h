#pragma once

#include "toolbar/kit/GlassPanel.h"
#include "tools/ShortcutRow.h"

#include <vector>

namespace corvessa {

// The shortcut hints' card: rows stacked leading-aligned 3 pt apart, each its
// symbol (10 pt) and title (11 pt, medium), then its items 9 pt apart: a key
// cap (10.5 pt on a faint rounded plate) when the item has a key, and its
// label (11 pt). On a glass card padded 11 pt across and 5 pt down, inside a
// 4 pt transparent margin, at its ideal size. A row wider than `maxWidth`
// (when above 0) goes on over more lines. Main thread.
class ShortcutHintView : public GlassPanel {
public:
    static constexpr double cornerRadius = 10;
    static constexpr int margin = 4;
    static constexpr int padX = 11;
    static constexpr int padY = 5;
    static constexpr int rowSpacing = 3;
    static constexpr int itemSpacing = 9;
    static constexpr int innerSpacing = 4;

    explicit ShortcutHintView(std::vector<ShortcutRow> rows, int maxWidth = 0, QWidget* parent = nullptr);

    const std::vector<ShortcutRow>& rows() const { return m_rows; }

private:
    std::vector<ShortcutRow> m_rows;
};

} // namespace corvessa
