#include "model/GainMap.h"

#include <algorithm>
#include <cmath>

namespace corvessa {

double GainMap::dB(double x)
{
    if (std::isnan(x))
        return 0;
    x = std::clamp(x, -1.0, 1.0);
    if (x <= -0.995)
        return minDB;
    const double d = x < 0 ? -minDB * x : maxDB * x;
    if (std::abs(d) < 0.8)
        return 0;
    return std::round(2 * d) / 2; // std::round takes halves away from zero
}

double GainMap::sanitize(double dB, double fallback)
{
    if (!std::isfinite(dB))
        return fallback;
    return std::clamp(dB, minDB, maxDB);
}

float GainMap::factor(double dB)
{
    // The comparison is made on the gain as a float, as the engine sees it.
    const float g = float(dB);
    if (std::isnan(g) || g <= float(minDB))
        return 0;
    return std::pow(10.0f, std::min(g, float(maxDB)) / 20.0f);
}

} // namespace corvessa
