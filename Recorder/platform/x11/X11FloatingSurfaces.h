#pragma once

#include "platform/FloatingSurfaces.h"
#include "platform/widgets/SurfaceStack.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <set>
#include <vector>

class QSocketNotifier;
struct _XDisplay;

namespace corvessa {

class X11PointerCatcher;

// Floating surfaces on the X server. Qt makes the windows (flags from
// SurfaceStack); shapes and stacking are set on a connection of our own, so a
// server that goes away leaves the program running and our errors never reach
// the toolkit's handler. Each request waits until Qt has sent its own, so the
// window exists on the server first.
//
// Stacking: override-redirect surfaces are placed directly (the top one raised,
// each lower one right below the one above it); managed surfaces are raised by
// asking the window manager, lowest level first, since it owns their frames.
// The manager answers later and may close up its frames around an
// override-redirect surface between them (openbox does), so whenever one of
// our frames is configured (its ConfigureNotify) and our surfaces are out of
// order, the override-redirect surfaces are placed again.
//
// Shapes: click-through is an empty input shape. Without a compositing manager
// the visible region is both the bounding and the input shape; with one, the
// window keeps its full shape. Shapes are applied again whenever Qt makes a new
// native window for a surface or shows it, and for every shown surface as soon
// as the owner of the manager's selection (_NET_WM_CM_S<screen>) changes: a
// manager that stops leaves the server to show the transparent parts black.
//
// Canvases: without a compositing manager a canvas's bounding shape is what it
// reports painted, sent as it paints, and its input shape is empty: an X11PointerCatcher laid over it takes the pointer
// for it over its whole window (a window takes no input outside its bounding
// shape). Showing it, or a manager coming or going, shapes it to nothing and
// has it repainted whole. With a manager it keeps its full shape and takes
// the pointer itself.
//
// Shadows: the surfaces draw their own; a manager's rectangular one around a
// round or glass card is asked away with _COMPTON_SHADOW = 0 on the window and
// on the frame a window manager puts it in (picom reads the top-level's).
// Off X (the offscreen platform) everything but the Qt flags is skipped. Main
// thread.
class X11FloatingSurfaces : public QObject, public FloatingSurfaces {
public:
    X11FloatingSurfaces();
    ~X11FloatingSurfaces() override;

    void prepare(QWidget* window, const Options& options) override;
    void raise(QWidget* window) override;
    void setClickThrough(QWidget* window, bool clickThrough) override;
    void setVisibleRegion(QWidget* window, const QRegion& visible) override;
    void setPaintedRegion(QWidget* window, const QRect& area, const QRegion& painted) override;
    bool compositing() const override;
    void watchCompositing(QObject* context, std::function<void()> changed) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Connection; // X types stay in the .cpp: Xlib's macros clash with Qt

    // Our connection, opened on first use when Qt runs on X; null off X and
    // once the server went away. Qt's pending requests are sent first.
    _XDisplay* display();
    void applyShapes(SurfaceStack::Entry& entry);
    // Asks compositing managers to draw no shadow round `window`; under an
    // error trap of the caller's, as the window may be gone.
    void refuseShadow(_XDisplay* dpy, unsigned long window);
    // A compositing manager came or went: every shown surface is shaped and
    // repainted for it, then the watchers hear of it.
    void compositorChanged();
    void writeShapes(_XDisplay* dpy, unsigned long window, const SurfaceStack::Entry& entry);
    // A canvas's shapes, and its catcher made, placed or dropped.
    void writeCanvasShapes(_XDisplay* dpy, unsigned long window, const SurfaceStack::Entry& entry);
    X11PointerCatcher* catcherOf(const QWidget* canvas);
    void dropCatcher(const QWidget* canvas);
    // Places the override-redirect surfaces around the others; with
    // `askManager`, also asks the window manager to raise the managed ones.
    // Without it, only when our surfaces are out of order.
    void restack(bool askManager);
    void placeSurfaces(bool askManager);
    void readQueuedLater();
    struct Placed {
        unsigned long window;
        unsigned long top; // the window, or the frame holding it
        bool managed;
    };
    // Whether the root's children hold these windows in this order, bottom first.
    static bool inOrder(_XDisplay* dpy, const std::vector<Placed>& order);
    void processPendingEvents();

    SurfaceStack m_stack;
    std::unique_ptr<Connection> m_connection;
    bool m_opened = false; // opening is tried once
    std::unique_ptr<QSocketNotifier> m_notifier;
    // The managed surfaces' frames we watch for restacking.
    std::set<unsigned long> m_frames;
    struct Caught {
        QPointer<QWidget> canvas; // null once the canvas is gone, and then dropped
        std::unique_ptr<X11PointerCatcher> catcher;
    };
    // Live on our connection: dropped before it closes.
    std::vector<Caught> m_catchers;
};

} // namespace corvessa
