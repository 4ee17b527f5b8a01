#pragma once

#include "toolbar/kit/FloatingKit.h"
#include "platform/DisplayInfo.h"
#include "tools/PenInput.h"
#include "tools/PenView.h"

#include <QPointer>

#include <functional>
#include <memory>

class QWindow;

namespace corvessa {

class FloatingSurfaces;
class PenBoard;

// The pen's drawing surface: one full-screen canvas over a display, below the
// toolbar and every other floating panel of ours, that turns the pointer into
// ink on the board the recording's compositor reads. The canvas itself is
// never recorded; the ink reaches the recording through the board. Opening it
// again, or closing it, discards the drawing. Main thread.
class PenOverlay {
public:
    // `surfaces` (the platform's by default) makes the canvas a floating
    // surface; `compositing` says whether the desktop shows through a clear
    // window (the surfaces' answer by default).
    explicit PenOverlay(std::shared_ptr<FloatingSurfaces> surfaces = {}, PenBoard* board = nullptr,
                        std::function<bool()> compositing = {});
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
    // Without registration: the canvas is never captured, recording or not.
    FloatingKit m_kit;
    PenBoard& m_board;
    std::function<bool()> m_compositing;
    PenInput m_input;
    QPointer<PenView> m_view;
};

} // namespace corvessa
