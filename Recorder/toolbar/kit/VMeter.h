#pragma once

#include "toolbar/kit/MeterView.h"

namespace corvessa {

// The slim upright meter of the compact row: a 4 × 24 pt capsule with the
// level rising from the bottom (at least 3 pt while active, so a silent
// source still shows it is on), green, yellow past 70 %, red past 90 % or while
// the clip lamp is lit, orange at half strength when muted. Main thread.
class VMeter : public MeterView {
public:
    static constexpr double barWidth = 4;
    static constexpr double barHeight = 24;
    static constexpr double minFill = 3;

    VMeter(Meters& meters, bool isMic, bool muted, bool active, QWidget* parent = nullptr);


    // Height of the level at x: max(x × 24, 3) pt.
    static double fillHeight(double x);
    // The level's capsule (empty while inactive) and its colour now.
    QRectF fillRect() const;
    QColor fillColour() const;
    QColor trackColour() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

};

} // namespace corvessa
