#pragma once

#include "platform/FloatingSurfaces.h"

#include <functional>
#include <memory>

class QRectF;
class QWidget;
class QWindow;

namespace corvessa {

// How the program puts up its own floating windows: the surfaces that make a
// window frameless, stacked among ours and shaped, and the registration that
// keeps it out of recordings. Never without surfaces: where none are given,
// the synthetic twin's, which only sets the Qt flags. A value, copied into
// every owner of a floating window; main thread.
class FloatingKit {
public:
    // The synthetic twin's surfaces, registering nothing.
    FloatingKit();
    // `surfaces` (the twin's when null); `registerWindow` may be empty.
    explicit FloatingKit(std::shared_ptr<FloatingSurfaces> surfaces,
                         std::function<void(QWindow*)> registerWindow = {});
    // The platform's surfaces (X11 where Qt runs on X, else the twin).
    static FloatingKit platform(std::function<void(QWindow*)> registerWindow = {});

    FloatingSurfaces& surfaces() const { return *m_surfaces; }
    const std::shared_ptr<FloatingSurfaces>& sharedSurfaces() const { return m_surfaces; }
    const std::function<void(QWindow*)>& registerWindow() const { return m_registerWindow; }

    // Makes `window` a surface with `options`; call before its first show().
    void prepare(QWidget* window, const FloatingSurfaces::Options& options) const;
    // Makes `window`'s native window and registers it.
    void track(QWidget* window) const;
    // track(), then showOnTop().
    void present(QWidget* window) const;
    // Shows `window` on top of its level.
    void showOnTop(QWidget* window) const;
    void raise(QWidget* window) const { m_surfaces->raise(window); }
    // Lets only the rounded card `card` (window coordinates) of `window` show
    // and take input.
    void showOnlyCard(QWidget* window, const QRectF& card, double cornerRadius) const;
    bool compositing() const { return m_surfaces->compositing(); }

private:
    std::shared_ptr<FloatingSurfaces> m_surfaces;
    std::function<void(QWindow*)> m_registerWindow;
};

} // namespace corvessa
