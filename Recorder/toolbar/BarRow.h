#pragma once

#include <QWidget>

class QHBoxLayout;

namespace corvessa {

class BarElements;

// One row of the toolbar: its controls left to right, vertically centred, 2 pt
// apart. The toolbar shows one row at a time, the one of the recording phase;
// a row rebuilds its controls when what they show changes and keeps what it
// must remember between rebuilds. Main thread.
class BarRow : public QWidget {
public:
    explicit BarRow(const BarElements& elements, QWidget* parent = nullptr);

    // Builds the row's controls anew from the model and the preferences.
    void refresh();
    // The recording's elapsed time changed: rows that show it update in place.
    virtual void elapsedChanged() {}

protected:
    virtual void build() = 0;
    void add(QWidget* element);
    // Keeps the row at most `room` wide: narrows its wrapped texts, or, when
    // that is not enough, moves them to a line beneath the controls.
    void fitTexts(int room);

    const BarElements& m_elements;

private:
    QHBoxLayout* m_layout;
    QHBoxLayout* m_below; // texts with no room beside the controls
};

} // namespace corvessa
