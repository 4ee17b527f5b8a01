#pragma once

#include "toolbar/kit/GlassPanel.h"

#include <functional>

namespace corvessa {

// The pen palette's card: the twelve pen colours in a grid of six columns,
// the chosen one ringed; a click on a colour hands its index to `pick`.
// Main thread.
class PaletteView : public GlassPanel {
public:
    static constexpr int columns = 6;
    static constexpr int cell = 24;    // points, a colour's button
    static constexpr int spacing = 8;  // between cells, both ways
    static constexpr int padding = 14; // inside the card
    static constexpr int margin = 26;  // transparent, around the card, for its shadow
    static constexpr double cornerRadius = 16;

    PaletteView(std::function<void(int index)> pick, int chosen, QWidget* parent = nullptr);

    // The colour's cell, in view coordinates.
    static QRect cellRect(int index);
    // The colour under a point in view coordinates; -1 for none.
    static int indexAt(const QPoint& point);
    static QSize fittingSize();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::function<void(int index)> m_pick;
    int m_chosen;
    int m_pressed = -1;
};

} // namespace corvessa
