#pragma once

#include <functional>
#include <memory>

#include "platform/FloatingSurfaces.h"

class QRectF;
class QWidget;
class QWindow;

namespace corvessa {

// Puts a window of ours on screen the way all of them go: with its native
// window made and handed to `registerWindow` (which keeps it out of
// recordings), then shown and raised among our surfaces. Stateless; main
// thread.
class FloatingWindow {
public:
    FloatingWindow() = delete;

    // Prepares `window` as a surface with `options`; without surfaces, the
    // plain Qt flags that come closest (a frameless tool window on top that is
    // never focused, past the window manager and click-through as asked).
    static void prepare(QWidget* window, const std::shared_ptr<FloatingSurfaces>& surfaces,
                        const FloatingSurfaces::Options& options);

    // Makes `window`'s native window and registers it (when there is a registrar).
    static void track(QWidget* window, const std::function<void(QWindow*)>& registerWindow);
    // track(), then shows `window` on top of its level (of Qt's stack without surfaces).
    static void present(QWidget* window, const std::shared_ptr<FloatingSurfaces>& surfaces,
                        const std::function<void(QWindow*)>& registerWindow);
    // Lets only the rounded card `card` (window coordinates) of `window` show
    // and take input, where surfaces can shape windows; nothing without them.
    static void showOnlyCard(QWidget* window, const std::shared_ptr<FloatingSurfaces>& surfaces, const QRectF& card,
                             double cornerRadius);
};

} // namespace corvessa
