#pragma once

#include <functional>
#include <memory>

class QWidget;
class QWindow;

namespace corvessa {

class FloatingSurfaces;

// Puts a window of ours on screen the way all of them go: with its native
// window made and handed to `registerWindow` (which keeps it out of
// recordings), then shown and raised among our surfaces. Stateless; main
// thread.
class FloatingWindow {
public:
    FloatingWindow() = delete;

    // Makes `window`'s native window and registers it (when there is a registrar).
    static void track(QWidget* window, const std::function<void(QWindow*)>& registerWindow);
    // track(), then shows `window` on top of its level (of Qt's stack without surfaces).
    static void present(QWidget* window, const std::shared_ptr<FloatingSurfaces>& surfaces,
                        const std::function<void(QWindow*)>& registerWindow);
};

} // namespace corvessa
