#pragma once

class QWidget;

namespace corvessa {

class BarElements;

// The toolbar's tool controls: the magnifier button, the pen with its colour
// swatch and the teleprompter button (together the tools cluster of the ready
// and recording rows), and the compact row's tools button. Built afresh from
// the model and the preferences each time a row is. Main thread.
class ToolControls {
public:
    explicit ToolControls(const BarElements& elements);

    QWidget* toolsCluster() const;
    QWidget* magnifierButton() const;
    QWidget* penControls() const;
    QWidget* prompterButton() const;
    QWidget* toolsButton() const;

private:
    const BarElements& m_elements;
};

} // namespace corvessa
