#pragma once

#include "toolbar/kit/FloatingKit.h"
#include "platform/DisplayInfo.h"
#include "tools/PenInput.h"
#include "tools/PenView.h"

#include <QPointer>

#include <memory>

class QWindow;

namespace corvessa {

class FloatingSurfaces;
class PenBoard;

// The pen's drawing surface: one full-screen canvas over a display, below the
// toolbar and every other floating panel of ours, that turns the pointer into
// ink on the board the recording's compositor reads. The canvas itself is
// never recorded; the ink reaches the recording through the board. Opening it
// again, or closing it, discards the drawing. Where no compositing manager
// lets the desktop show through clear pixels, the canvas shows only its ink
// (the window is shaped to it) and still takes the pointer everywhere, so the
// screen beneath stays live. Main thread.
class PenOverlay {
public:
    // `surfaces` (the platform's by default) makes the canvas a floating
    // surface.
    explicit PenOverlay(std::shared_ptr<FloatingSurfaces> surfaces = {}, PenBoard* board = nullptr);
    ~PenOverlay();
    PenOverlay(const PenOverlay&) = delete;
    PenOverlay& operator=(const PenOverlay&) = delete;

    // Opens the canvas over the display; an open one is closed first.
    void show(const DisplayInfo& display);
    // Closes the canvas and drops the drawing; harmless when closed.
    void hide();

    bool isOpen() const { return bool(m_view); }
    PenView* view() const { return m_view; }

private:
    // Shapes the canvas to its ink where clear pixels would show black.
    void followCompositing(PenView* view);

    // Without registration: the canvas is never captured, recording or not.
    FloatingKit m_kit;
    PenBoard& m_board;
    PenInput m_input;
    QPointer<PenView> m_view;
};

} // namespace corvessa
