#pragma once

#include <functional>

class QWidget;
class QWindow;

namespace corvessa {

// Registers a window of ours that is no floating surface (a dialog, a Qt menu)
// the way all of them are: with its native window made and handed to
// `registerWindow`, which keeps it out of recordings. Floating surfaces go
// through FloatingKit. Stateless; main thread.
class FloatingWindow {
public:
    FloatingWindow() = delete;

    // Makes `window`'s native window and registers it (when there is a registrar).
    static void track(QWidget* window, const std::function<void(QWindow*)>& registerWindow);
};

} // namespace corvessa
