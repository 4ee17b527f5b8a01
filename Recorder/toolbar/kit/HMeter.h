#pragma once

#include "toolbar/kit/MeterView.h"

namespace corvessa {

// The horizontal segmented meter of the settings window's audio pane: a strip
// of `segs` segments (green, yellow from 70 %, red from 90 %; orange when
// muted) and a lamp reading "MUTE" while muted, else "OVER", lit red while the
// clip lamp is on. A click on the meter puts the clip lamp out; its hover tip
// reads "Audio Clipping". Main thread.
class HMeter : public MeterView {
public:
    // Segment size and gaps, in points.
    static constexpr double segmentWidth = 5;
    static constexpr double segmentHeight = 12;
    static constexpr double segmentRadius = 1.5;
    static constexpr double segmentSpacing = 2;
    static constexpr double lampSpacing = 8;
    static constexpr double lampPadX = 4;
    static constexpr double lampPadY = 2;
    static constexpr double lampRadius = 3;
    static constexpr int lampFontSize = 9;
    // More segments than this are drawn as this many.
    static constexpr int maxSegs = 256;

    HMeter(Meters& meters, bool isMic, bool muted, int segs, QWidget* parent = nullptr);

    int segs() const { return m_segs; }
    // Segment i of `segs` (0-based) is lit at level x when x reaches its threshold
    // (i + 1) / segs, give or take 0.001 so a full step lights its segment.
    static bool segmentLit(int i, int segs, double x);
    // The colour segment i has now.
    QColor segmentColour(int i) const;
    // Where segment i and the lamp are drawn, in widget coordinates.
    QRectF segmentRect(int i) const;
    QRectF lampRect() const;
    QString lampText() const;
    QColor lampColour() const;
    QColor lampTextColour() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QFont lampFont() const;
    QSizeF lampSize() const;
    double stripWidth() const;

    int m_segs;
    bool m_pressed = false;
};

} // namespace corvessa
