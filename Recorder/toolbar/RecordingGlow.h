#pragma once

#include <QImage>
#include <QWidget>

class QTimer;

namespace corvessa {

// The glow laid over the toolbar while a recording runs: a red wash at the top
// and bottom edges that pulses once every 1.6 s, or, while paused, still amber
// glows at both ends. Takes no mouse input. Main thread.
class RecordingGlow : public QWidget {
public:
    static constexpr double period = 1.6;
    static constexpr double cornerRadius = 24;
    static constexpr double sideGlowWidth = 64;

    explicit RecordingGlow(QWidget* parent = nullptr);

    bool isPaused() const { return m_paused; }
    void setPaused(bool paused);
    // 0 … 1 at time `t` seconds: 0.5 + 0.5 cos(2π t / period).
    static double pulse(double t);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateTimer();
    void makeLayers();

    // The glow's pictures for the present size, at full strength.
    struct Layers {
        QImage wash;  // the red wash, pulsed by opacity
        QImage edge;  // its rim, pulsed by opacity
        QImage amber; // the still glow while paused
        double dpr = 0;
    };
    Layers m_layers;

    bool m_paused = false;
    QTimer* m_timer;
};

} // namespace corvessa
