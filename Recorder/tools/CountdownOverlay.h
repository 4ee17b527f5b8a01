#pragma once

#include "platform/DisplayInfo.h"

#include <QPoint>
#include <QRectF>

#include <functional>
#include <memory>

namespace corvessa {

class CountdownDigit;

// The countdown's number in a small transparent, click-through window centred
// on the display that will be recorded, above every other window. The window
// is made on the first step and reused; hide() drops it. It belongs to the
// program, so recordings leave it out. Main thread.
class CountdownOverlay {
public:
    // `compositingActive` tells whether translucent windows show what lies
    // beneath (a compositing manager runs); without one the window keeps a
    // shape mask. By default the platform is asked.
    explicit CountdownOverlay(std::function<bool()> compositingActive = {});
    ~CountdownOverlay();
    CountdownOverlay(const CountdownOverlay&) = delete;
    CountdownOverlay& operator=(const CountdownOverlay&) = delete;

    // Shows `n` centred on `display`, replaying the pop-in.
    void show(int n, const DisplayInfo& display);
    // Takes the window off the screen and drops it.
    void hide();

    // The window while a countdown is on; null otherwise.
    CountdownDigit* window() const { return m_window.get(); }

    // Top left (Qt/X11 points, y down) of the window centred on a display whose
    // frame is `frame`, given the primary display's
    // frame in Qt/X11 points.
    static QPoint origin(const GlobalRect& frame, const QRectF& primary);

private:
    std::function<bool()> m_compositingActive;
    std::unique_ptr<CountdownDigit> m_window;
};

} // namespace corvessa
