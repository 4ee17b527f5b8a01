#pragma once

#include "platform/ScreenStreamConfig.h"

#include <QMargins>
#include <QRect>
#include <QRegion>

#include <optional>
#include <utility>
#include <vector>

// Last: X11's macros clash with names in Qt.
#include "platform/x11/X11CaptureDisplay.h"
#include "platform/x11/X11Handles.h"

namespace corvessa {

// The root's children (the top-level windows) in stacking order, kept up to
// date from the server's events, with the damage bookkeeping a display or area
// capture needs: the root's damage says when the captured area changed, and a
// window rebuilt under an excluded one gets a damage (and its own pixmap) of
// its own, since its changes there never reach the screen. Windows on the
// filter's exclusion lists are marked, and the places they lately left are
// remembered for a few frames. Owned by the capture thread.
class X11WindowStack {
public:
    // A top-level window as the stack tracks it.
    struct TopLevel {
        Window id = 0;
        QRect outer; // root pixels, border included
        int border = 0;
        bool viewable = false;
        bool inputOnly = false;
        bool known = false; // depth and visual read
        int depth = 0;
        Visual* visual = nullptr;
        bool excluded = false;
        PixmapHandle pixmap;
        DamageHandle damage; // only on windows that were rebuilt under an excluded one
        // The bounding shape relative to `outer`'s corner, nothing for the whole
        // rectangle; read on need, and again after a map, a resize or a new shape.
        std::optional<QRegion> shape;
        bool shapeKnown = false;

        bool shows() const { return viewable && !inputOnly; }
    };

    X11WindowStack(const X11CaptureDisplay& display, ScreenFilter filter);

    // Watches the root's children and reads them as they are; the caller's
    // next sync tells whether the server refused.
    void open(X11ErrorTrap& trap);

    // A change among the root's children; true when it shows in `area`.
    bool handleEvent(X11ErrorTrap& trap, const XEvent& e, const QRect& area);
    // True when the damage changed what `area` shows, or what it would show
    // without the excluded windows; false when the damage is none of ours.
    // `changed`, when given, gets the bounds of the root's damage, or of the
    // part of a window's damage that excluded windows hide; it stays empty
    // where the damage's extent is not known.
    bool handleDamage(X11ErrorTrap& trap, const XDamageNotifyEvent& e, const QRect& area,
                      std::optional<QRect>* changed = nullptr);

    // Root pixels of `area` that excluded windows cover, or lately covered:
    // their shapes, or, with a reach (see setReach), their rectangles and
    // what reaches beyond them.
    QRegion excludedRegion(X11ErrorTrap& trap, const QRect& area);
    // How far past its edges each excluded window darkens the screen: a
    // compositing manager's shadow is the window's too. It draws the shadow
    // of the whole rectangle, shaped or not, so with a reach the rectangle counts.
    void setReach(const QMargins& reach) { m_reach = reach; }
    // Where the windows that are not excluded show, within `area` (root pixels).
    QRegion windowRegion(const QRect& area) const;
    // One frame has passed: places left long enough ago are forgotten.
    void ageGhosts();
    // Whether the damage is the root's: something was drawn on the screen.
    bool isRootDamage(const XDamageNotifyEvent& e) const { return m_rootDamage && e.damage == m_rootDamage.get(); }

    // Bottom to top.
    std::vector<TopLevel>& windows() { return m_stack; }
    // Root pixels where the window shows: its shape, else its rectangle.
    QRegion covered(X11ErrorTrap& trap, TopLevel& t);
    // The window's own picture (border included), named afresh after a map or a resize.
    bool ensurePixmap(X11ErrorTrap& trap, TopLevel& t);
    // Watches the window's own changes from now on; false when it is gone.
    bool watch(X11ErrorTrap& trap, TopLevel& t);

private:
    bool readAttributes(X11ErrorTrap& trap, TopLevel& t);
    // Asks for the window's shape changes; the next sync answers.
    void watchShape(Window w);
    bool isExcluded(X11ErrorTrap& trap, Window topLevel);
    TopLevel* find(Window id);
    std::vector<TopLevel>::iterator position(Window id);
    void moveAbove(Window id, Window sibling);
    // Takes the window out of the stack; true when it showed in `area`.
    bool remove(X11ErrorTrap& trap, Window id, const QRect& area);
    void forget(X11ErrorTrap& trap, TopLevel& t);

    const X11CaptureDisplay& m_display;
    Display* const m_dpy;
    const ScreenFilter m_filter;
    DamageHandle m_rootDamage;
    RegionHandle m_region; // what the root's damage covered, fetched per event
    std::vector<TopLevel> m_stack;
    // A place an excluded window left, and the frames it is still rebuilt for.
    struct Ghost {
        QRect outer;
        QRegion covered; // root pixels
        int frames = 0;
    };
    void leaveGhost(const TopLevel& t);

    std::vector<Ghost> m_ghosts;
    QMargins m_reach;
};

} // namespace corvessa
