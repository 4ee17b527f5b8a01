#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QSlider;

namespace corvessa {

// A 200-point slider over a real preference, its value text in a 52-point
// monospaced column and a "Reset" button that writes the reset value; the
// button is disabled while the value is within 0.001 of it. The value lives
// with its owner, read through `get`. Main thread.
class ResetSlider : public QWidget {
    Q_OBJECT
public:
    struct Range {
        double min = 0;
        double max = 1;
        double step = 0.01;
    };

    ResetSlider(std::function<double()> get, std::function<void(double)> set, Range range, double resetValue,
                std::function<QString(double)> text, QWidget* parent = nullptr);

    // Another range (the size slider's differs per cursor style).
    void setRange(Range range);
    // Shows what `get` gives now; leaves a slider being dragged alone.
    void refresh();

    // "None" below 0.01, else the percentage rounded half away from zero.
    static QString shadowText(double value);
    // The percentage rounded half away from zero, "100%".
    static QString percentText(double value);

    QSlider* slider() const { return m_slider; }
    QLabel* valueLabel() const { return m_value; }
    QPushButton* resetButton() const { return m_reset; }

private:
    std::function<double()> m_get;
    std::function<void(double)> m_set;
    std::function<QString(double)> m_text;
    Range m_range;
    double m_resetValue;
    QSlider* m_slider;
    QLabel* m_value;
    QPushButton* m_reset;
};

} // namespace corvessa
