#pragma once

#include "toolbar/kit/MeterView.h"

namespace corvessa {

// The dot row of the toolbar's source items: `count` round lamps lit from the
// left up to the level, with the peak-hold dot lit on its own; lit dots glow in
// their colour (green, yellow past 70 %, red past 90 %; orange when muted).
// Inactive (the source is off), no dot is lit. Main thread.
class LEDBar : public MeterView {
public:
    static constexpr double dotSize = 5;
    static constexpr double dotSpacing = 3;
    static constexpr double glowRadius = 2;
    static constexpr double glowOpacity = 0.7;
    // More dots than this are drawn as this many.
    static constexpr int maxCount = 256;

    LEDBar(Meters& meters, bool isMic, bool muted, bool active, int count, QWidget* parent = nullptr);

    int count() const { return m_count; }

    // How many dots from the left are lit at level x: ceil(count × x) while
    // active, none otherwise.
    static int litCount(double x, int count, bool active);
    // The hold dot at hold level `hold`: ceil(count × hold) − 1, at most the last
    // dot; −1 (none) while inactive or when the hold is at 0.
    static int holdIndex(double hold, int count, bool active);

    // Whether dot i is lit now, and its colour now.
    bool dotLit(int i) const;
    QColor dotColour(int i) const;
    QRectF dotRect(int i) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_count;
};

} // namespace corvessa
