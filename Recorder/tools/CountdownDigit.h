#pragma once

#include <QImage>
#include <QVariantAnimation>
#include <QWidget>

namespace corvessa {

// One step of the countdown: the number, large and glossy (gradient fill, a
// light rim, a soft drop shadow), popping in from 125 % to its size on a spring
// while it fades in. Shown as its own translucent top-level window; `shaped`
// (for screens without a compositing manager, where transparent pixels show
// black) keeps a shape mask on the inked pixels of each frame. Main thread.
class CountdownDigit : public QWidget {
public:
    // Side of the square window, in points.
    static constexpr int side = 360;

    explicit CountdownDigit(bool shaped, QWidget* parent = nullptr);

    int number() const { return m_number; }
    // Shows `n` and plays the pop-in from the start.
    void setNumber(int n);
    // Pop-in progress: 0 at the start, 1 once settled (above 1 while overshooting).
    double popProgress() const { return m_progress; }
    bool isPopping() const { return m_pop.state() == QAbstractAnimation::Running; }
    bool isShaped() const { return m_shaped; }

    // The pop-in spring (response 0.35 s, damping fraction 0.72) after
    // `seconds`: 0 at rest, about 4 % overshoot, 1 in the end.
    static double spring(double seconds);
    // Time after which the spring is within 0.1 % of its end.
    static constexpr double settleSeconds = 0.6;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The composed digit at full size and opacity.
    QImage renderSprite(double pixelRatio) const;
    // Redraws the frame for the current progress and, when shaped, its mask.
    void renderFrame();

    bool m_shaped;
    int m_number = 0;
    double m_progress = 0;
    QVariantAnimation m_pop;
    QImage m_sprite;
    QImage m_frame;
};

} // namespace corvessa
