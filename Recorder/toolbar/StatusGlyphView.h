#pragma once

#include "toolbar/RecordingRowTexts.h"

#include <QWidget>

class QTimer;

namespace corvessa {

// The recording status's glyph: a red dot that pulses while recording, a steady
// orange dot or the pause tier's symbol while paused, in an 18 × 22 pt frame.
// Main thread.
class StatusGlyphView : public QWidget {
public:
    explicit StatusGlyphView(RecordingRowTexts::StatusGlyph glyph, QWidget* parent = nullptr);

    RecordingRowTexts::StatusGlyph glyph() const { return m_glyph; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    RecordingRowTexts::StatusGlyph m_glyph;
    QTimer* m_timer = nullptr;
};

} // namespace corvessa
