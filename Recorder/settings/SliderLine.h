#pragma once

class QHBoxLayout;
class QLabel;
class QSlider;
class QWidget;

namespace corvessa {

// The settings' slider line: a 200-point slider and its value text, right
// aligned in a monospaced column, 10 points apart. Main thread.
class SliderLine {
public:
    SliderLine() = delete;

    static constexpr int sliderWidth = 200;
    static constexpr int valueWidth = 52;

    // A new box of `parent` holding the line, with a stretch after it when `stretch`.
    static QWidget* make(QSlider*& slider, QLabel*& value, QWidget* parent, int valueWidth = SliderLine::valueWidth,
                         bool stretch = true);
    // Makes `slider` and `value` children of `box` and lays them out in the
    // box's new row, which is returned for anything that follows them.
    static QHBoxLayout* layOut(QWidget* box, QSlider*& slider, QLabel*& value, int valueWidth = SliderLine::valueWidth);

    // Moves `slider` to `position` without a valueChanged; a slider the user is
    // dragging is left alone.
    static void showValue(QSlider* slider, int position);
};

} // namespace corvessa
