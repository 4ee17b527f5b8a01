// Last: X11's macros clash with names in Qt.
#include "platform/x11/X11BoundingShape.h"

#include <X11/extensions/shape.h>

namespace corvessa {

std::optional<QRegion> X11BoundingShape::read(Display* dpy, X11ErrorTrap& trap, Window w)
{
    Bool boundingShaped = False;
    Bool clipShaped = False;
    int x = 0;
    int y = 0;
    int xc = 0;
    int yc = 0;
    unsigned width = 0;
    unsigned height = 0;
    unsigned wc = 0;
    unsigned hc = 0;
    const bool queried =
        XShapeQueryExtents(dpy, w, &boundingShaped, &x, &y, &width, &height, &clipShaped, &xc, &yc, &wc, &hc);
    if (trap.sync() != 0 || !queried || !boundingShaped)
        return std::nullopt;
    int count = 0;
    int ordering = 0;
    XFreed<XRectangle> rects(XShapeGetRectangles(dpy, w, ShapeBounding, &count, &ordering));
    if (trap.sync() != 0)
        return std::nullopt;
    QRegion region;
    for (int i = 0; rects && i < count; ++i) {
        const XRectangle& r = rects.get()[i];
        region += QRect(r.x, r.y, r.width, r.height);
    }
    return region;
}

void X11BoundingShape::watch(Display* dpy, Window w)
{
    XShapeSelectInput(dpy, w, ShapeNotifyMask);
}

} // namespace corvessa
