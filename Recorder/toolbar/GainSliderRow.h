#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QSlider;

namespace corvessa {

// A gain slider inside the floating menu: its title over a -1 ... 1 slider and
// the value text. The row keeps the slider's position itself, so a rebuild of
// the menu elsewhere never jumps a slider being dragged; every move writes the
// mapped gain through `set`. Main thread.
class GainSliderRow : public QWidget {
public:
    static constexpr int titlePoints = 12;
    static constexpr int sliderWidth = 170;
    static constexpr int valueWidth = 62;
    static constexpr int spacing = 10;
    static constexpr int titleSpacing = 4;
    static constexpr int padX = 10;
    static constexpr int padY = 6;

    // `get` answers the gain in dB at creation; `set` takes every new gain.
    GainSliderRow(const QString& title, const std::function<double()>& get, std::function<void(double)> set,
                  QWidget* parent = nullptr);

    // The slider position, -1 ... 1.
    double position() const { return m_pos; }
    QSlider* slider() const { return m_slider; }
    QLabel* valueLabel() const { return m_value; }
    QLabel* titleLabel() const { return m_title; }

private:
    void moved(int value);

    std::function<void(double)> m_set;
    double m_pos;
    QLabel* m_title;
    QSlider* m_slider;
    QLabel* m_value;
};

} // namespace corvessa
