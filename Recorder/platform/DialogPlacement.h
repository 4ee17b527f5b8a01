#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <functional>
#include <memory>

class QScreen;
class QWindow;

namespace corvessa {

class WindowHints;

// Puts every dialog window of the program in the same place: centred on the
// screen under the mouse pointer, a little above the middle, above other
// windows on every desktop, and on the list of the program's own windows that
// recordings leave out. Main thread only.
class DialogPlacement {
public:
    // Puts a window on the list of the program's own windows; installed at
    // start-up by the keeper of that list.
    using Registrar = std::function<void(QWindow* window)>;

    // Share of the screen's usable height by which a dialog sits above the middle.
    static constexpr double raise = 0.04;

    DialogPlacement() = delete;

    static void setRegistrar(Registrar registrar);
    // What the window system is asked for each dialog (kept on every desktop);
    // installed at start-up from the platform loader.
    static void setWindowHints(std::shared_ptr<WindowHints> hints);

    // The screen whose area holds the mouse pointer, else the screen of the
    // window with the focus, else the primary screen; null with no screen.
    static QScreen* currentScreen();

    // Prepares and places a window before its owner shows it (for a widget:
    // widget->winId() first, then its windowHandle()). It does not show the window.
    static void present(QWindow* window);
    // Makes the window a dialog to the window manager: a frame with no title
    // bar, so neither a minimise nor a maximise button, resizable only when
    // its size is not fixed. Every dialog gets it as it is shown (DialogFrames);
    // call it again after changing the window's flags.
    static void frame(QWindow* window);

    // Which of the screens (given by their areas) to use: the first one holding
    // the pointer, else `focused`, else `primary` (indexes; -1 = none).
    static int screenIndex(const QPoint& pointer, const QList<QRect>& screens, int focused, int primary);

    // The screen a window shows on: the one holding its frame's centre, else
    // `assigned`, the screen the toolkit gives it. That one can be out of date:
    // a window moved off a screen that went away stays on the primary screen
    // after the other comes back.
    static int windowScreenIndex(const QRect& frame, const QList<QRect>& screens, int assigned);

    // The top-left corner (y down) that centres a window of `size` on the usable
    // area `available`, raised by `raise` of its height; halves round away from zero.
    static QPoint placedOrigin(const QRect& available, const QSize& size);
};

} // namespace corvessa
