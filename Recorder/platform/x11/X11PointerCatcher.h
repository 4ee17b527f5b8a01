#pragma once

#include <memory>

class QWidget;
class QWindow;
struct _XDisplay;

namespace corvessa {

// Takes the pointer for a see-through canvas. Without a compositing manager a
// canvas is shaped to its ink, and the server then delivers no pointer event
// outside that shape (a window's input never reaches beyond its bounding
// shape). An input-only window laid right over the canvas takes the pointer
// over its whole rectangle instead, shows the canvas's cursor, draws nothing,
// and the pointer events Qt selected on the canvas (XInput 2 or core ones, as
// Qt chose) are selected for it on Qt's connection, where every one of them
// has its window rewritten to the canvas's before Qt reads it: Qt handles them
// as the canvas's own, tablet pressure included. The window is made on the caller's connection,
// so it goes when that connection does. Main thread.
class X11PointerCatcher {
public:
    // Over `canvas`, whose native window must exist; `own` is the connection
    // the catcher is made on. Unmapped until cover().
    X11PointerCatcher(_XDisplay* own, QWidget* canvas);
    ~X11PointerCatcher();
    X11PointerCatcher(const X11PointerCatcher&) = delete;
    X11PointerCatcher& operator=(const X11PointerCatcher&) = delete;

    // The catcher's X window; 0 when it could not be made.
    unsigned long window() const { return m_window; }
    // Takes the canvas's place on the server and maps the catcher right above
    // `top` (the canvas's top-level window).
    void cover(unsigned long top);

private:
    _XDisplay* m_own;
    unsigned long m_canvasWindow = 0;
    unsigned long m_window = 0;
    // Qt's handle on the catcher, through which Qt sets the canvas's cursor on it.
    std::unique_ptr<QWindow> m_cursorHolder;
};

} // namespace corvessa
