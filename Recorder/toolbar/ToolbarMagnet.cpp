#include "toolbar/ToolbarMagnet.h"

#include <algorithm>
#include <cmath>

namespace corvessa {

std::optional<ToolbarMagnet::Dock> ToolbarMagnet::fromRaw(long long raw)
{
    if (raw < 0 || raw >= static_cast<long long>(all.size()))
        return std::nullopt;
    return all[size_t(raw)];
}

GlobalPoint ToolbarMagnet::cellOrigin(Dock cell, const QSizeF& barSize, const GlobalRect& visibleFrame, double margin)
{
    const int raw = int(cell);
    const double left = visibleFrame.left() + margin;
    const double right = std::max(visibleFrame.right() - barSize.width() - margin, left);
    const double bottom = visibleFrame.bottom() + margin;
    const double top = std::max(visibleFrame.top() - barSize.height() - margin, bottom);
    const double xs[3] = {left, (left + right) / 2, right};
    const double ys[3] = {bottom, (bottom + top) / 2, top};
    return {xs[raw % 3], ys[raw / 3]};
}

std::optional<ToolbarMagnet::Dock> ToolbarMagnet::nearest(const GlobalRect& frame, const GlobalRect& visibleFrame,
                                                          double margin, double distance)
{
    std::optional<Dock> best;
    double bestDistance = 0;
    for (const Dock cell : all) {
        const GlobalPoint origin = cellOrigin(cell, frame.size(), visibleFrame, margin);
        const double dx = std::abs(origin.x - frame.left());
        const double dy = std::abs(origin.y - frame.bottom());
        if (!(dx <= distance && dy <= distance))
            continue;
        const double d = std::hypot(dx, dy);
        if (!best || d < bestDistance) {
            best = cell;
            bestDistance = d;
        }
    }
    return best;
}

} // namespace corvessa
