#include "engine/compositor/PenStroke.h"

#include <algorithm>
#include <cmath>

namespace corvessa {

double PenStroke::pressure(size_t i) const
{
    if (i >= pressures.size() || !std::isfinite(pressures[i]))
        return 1.0;
    return std::clamp(pressures[i], kMinPressure, 1.0);
}

bool PenStroke::hasFinitePoints() const
{
    return std::all_of(pts.begin(), pts.end(), [](const GlobalPoint& p) { return std::isfinite(p.x) && std::isfinite(p.y); });
}

} // namespace corvessa
