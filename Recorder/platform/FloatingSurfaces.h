#pragma once

#include <QRegion>

#include <functional>
#include <memory>

class QObject;
class QWidget;
class QWindow;

namespace corvessa {

// Stacking levels of the program's own floating windows; a higher level stays
// above a lower one among our windows.
enum class SurfaceLevel : int {
    dim = 2,        // dimmed surroundings of the recorded target
    floating = 3,   // toolbar, echo card, camera bubble, teleprompter
    popUpMenu = 101, // floating menu, popovers, hover tips, zoom HUD, lens outline
    status = 102,   // question dialogs: above the tips and menus
    overlay = 1000, // countdown, pickers
};

// Turns top-level widgets into the program's floating surfaces: frameless,
// translucent, shadowless, never activated, on every desktop, kept in our own
// stacking order, optionally click-through or past the window manager.
// Transparent margins and round corners never catch clicks, and without a
// compositing manager they are cut from the window's X shape so they never
// show black; a manager that starts or stops later has every surface shaped
// and repainted anew at once. Backend: X11FloatingSurfaces; the synthetic twin
// only sets the Qt flags. Main thread.
class FloatingSurfaces {
public:
    struct Options {
        SurfaceLevel level = SurfaceLevel::floating;
        // Past the window manager: it never moves, decorates or focuses it.
        bool overrideRedirect = false;
        // Clicks go through to whatever lies below.
        bool clickThrough = false;
        // A drawing canvas: takes the pointer everywhere over its window but
        // shows only what it paints. Without a compositing manager its shape
        // is what it reports painted (setPaintedRegion), nothing at first,
        // and an input-only window laid over it takes the pointer for it.
        bool canvas = false;
    };

    virtual ~FloatingSurfaces() = default;

    // The kit for the program, one for it: X11 when Qt runs on X, else the
    // twin. Chosen by the platform loader on first use.
    static std::shared_ptr<FloatingSurfaces> current();
    // The synthetic twin, one for the program whatever Qt runs on: the
    // surfaces of a window given none.
    static std::shared_ptr<FloatingSurfaces> twin();
    // Whether a compositing manager runs, so translucent windows show what lies
    // beneath. Asked anew each time; false off X (the tests' offscreen platform).
    static bool compositingActive();

    // Sets the window flags and attributes; call before the first show().
    virtual void prepare(QWidget* window, const Options& options) = 0;
    // After show(): brings the surface to the top of its level and keeps
    // every other surface of ours in level order.
    virtual void raise(QWidget* window) = 0;
    virtual void setClickThrough(QWidget* window, bool clickThrough) = 0;
    // `visible` (widget coordinates) is what the user sees of the surface: the
    // only part that takes clicks, and, without a compositing manager, the
    // window's shape. An empty region clears both.
    virtual void setVisibleRegion(QWidget* window, const QRegion& visible) = 0;
    // For a canvas: within `area` (widget coordinates) it now paints `painted`
    // and leaves the rest clear; called from its paint. Shapes the window only
    // without a compositing manager. A canvas is shaped to nothing again
    // whenever it is shown or a manager comes or goes, and repainted whole, so
    // its paint reports every area anew.
    virtual void setPaintedRegion(QWidget* window, const QRect& area, const QRegion& painted) = 0;
    // Whether a compositing manager runs on the window's screen now.
    virtual bool compositing() const = 0;
    // Runs `changed` each time a compositing manager starts or stops, after
    // every shown surface has been shaped and repainted for it, for as long as
    // `context` lives: for surfaces whose looks depend on compositing().
    virtual void watchCompositing(QObject* context, std::function<void()> changed) = 0;
};

} // namespace corvessa
