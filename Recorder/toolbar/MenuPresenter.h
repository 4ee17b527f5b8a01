#pragma once

#include "toolbar/ReopenGuard.h"

#include <QRect>

namespace corvessa {

// What a control that opens the floating menu needs to know of it: whether it
// is open for a given control, how to close it, and when and where an outside
// click last closed it. The floating menu implements it; tests fake it.
// Main thread.
class MenuPresenter {
public:
    virtual ~MenuPresenter() = default;

    // Whether the menu is open for a control at `anchor` (global coordinates).
    virtual bool isShowingFor(const QRect& anchor) const = 0;
    // Closes the menu when it is open for `anchor`, recording the close as an
    // outside one; false (and nothing changed) otherwise.
    virtual bool dismissIfShowing(const QRect& anchor) = 0;
    // The last close by an outside click, on the scheduler's clock.
    virtual ReopenGuard outsideClose() const = 0;
};

} // namespace corvessa
