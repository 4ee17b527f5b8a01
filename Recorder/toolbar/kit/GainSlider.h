#pragma once

#include <QLabel>
#include <QWidget>

#include <functional>

class QSlider;

namespace corvessa {

// A source's gain in decibels: a slider whose left half spans -48 (mute) ...
// 0 dB and right half 0 ... +12 dB, so unity sits in the middle, and the value
// text ("Mute" or "+6.0 dB"); a double click on the text resets to 0 dB. The
// value lives with its owner, read through `get` and written through `set`;
// moves snap to unity near the middle and to 0.5 dB steps. Main thread.
class GainSlider : public QWidget {
public:
    using Get = std::function<double()>;
    using Set = std::function<void(double)>;

    // The slider's travel is -1 ... 1 in steps of 1 / resolution.
    static constexpr int resolution = 1000;
    static constexpr int sliderWidth = 210;
    static constexpr int textWidth = 52;
    static constexpr int spacing = 10;
    static constexpr int textFontSize = 12;

    GainSlider(Get get, Set set, QWidget* parent = nullptr);

    // Where a gain sits on the slider (-1 ... 1): the far left at -48 dB or
    // below or for a value that is not a number, dB / 48 below 0, dB / 12 above.
    static double position(double dB);
    // "Mute" at -48 dB or below (or not a number), else "%+.1f dB".
    static QString valueText(double dB);

    // Shows the value `get` gives now (after the owner changed it).
    void refresh();

    QSlider* slider() const { return m_slider; }
    QLabel* valueLabel() const { return m_text; }

private:
    class ValueText;
    // A slider move: writes the mapped gain, then shows what the owner kept.
    void moved(int value);
    void write(double dB);

    Get m_get;
    Set m_set;
    QSlider* m_slider;
    QLabel* m_text;
};

} // namespace corvessa
