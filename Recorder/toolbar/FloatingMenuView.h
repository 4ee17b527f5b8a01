#pragma once

#include "toolbar/kit/GlassPanel.h"
#include "model/MenuRow.h"

#include <QFont>

#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QScrollArea;

namespace corvessa {

// The content of the floating menu: one row per spec, in order, on a glass
// card with two soft shadows that fall into a transparent margin around it.
// With a maximum content height the rows scroll inside that height. The view
// is fixed to its ideal size. Main thread.
class FloatingMenuView : public GlassPanel {
public:
    static constexpr double cornerRadius = 14;
    // Room for the shadows around the card.
    static constexpr int margin = 26;
    static constexpr int padding = 8;
    static constexpr int minimumCardWidth = 210;
    static constexpr int rowSpacing = 2;
    static constexpr int notePoints = 12;
    static constexpr int notePadX = 10;
    static constexpr int notePadY = 5;
    static constexpr int separatorPad = 4;
    // Share of the text colour that the secondary (dimmer) texts keep.
    static constexpr double secondaryStrength = 0.5;

    // `dismiss` closes the menu; items call it before their action.
    FloatingMenuView(const MenuRows& specs, std::function<void()> dismiss,
                     std::optional<int> maximumContentHeight = std::nullopt, QWidget* parent = nullptr);

    // One widget per spec, in the specs' order.
    const std::vector<QWidget*>& rows() const { return m_rows; }
    // The scrolling frame of the rows; null when they do not scroll.
    QScrollArea* scrollArea() const { return m_scroll; }

    // The system font at `points` (logical pixels), monospaced when asked.
    static QFont textFont(int points, bool monospaced = false);
    static QColor primaryColour(const QPalette& palette);
    static QColor secondaryColour(const QPalette& palette);
    // A plain-text label in the secondary colour.
    static QLabel* secondaryLabel(const QString& text, int points, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* makeRow(const MenuRow& spec, const std::function<void()>& dismiss, QWidget* parent);

    std::vector<QWidget*> m_rows;
    QScrollArea* m_scroll = nullptr;
};

} // namespace corvessa
