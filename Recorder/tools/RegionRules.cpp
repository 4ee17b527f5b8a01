#include "tools/RegionRules.h"

#include "model/RecorderModel.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace corvessa {

namespace {

// The shortest text that reads back as the same double, always with a decimal
// point or an exponent, so 1440 is "1440.0".
QString number(double value)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    QString text = QString::fromLatin1(buffer, int(result.ptr - buffer));
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
        text += QStringLiteral(".0");
    return text;
}

bool finite(const GlobalPoint& p)
{
    return std::isfinite(p.x) && std::isfinite(p.y);
}

// The picker's limits are the magnifier's.
static_assert(RegionRules::minimumFraction == RecorderModel::minFocusFrac
              && RegionRules::maximumFraction == RecorderModel::maxFocusFrac);

} // namespace

double RegionRules::heldFraction(double fraction)
{
    if (!std::isfinite(fraction))
        return minimumFraction;
    return std::clamp(fraction, minimumFraction, maximumFraction);
}

bool RegionRules::accepts(const GlobalRect& area, const GlobalPoint& point)
{
    return finite(point) && area.normalized().contains(point);
}

GlobalRect RegionRules::fitted(const GlobalRect& area, const GlobalPoint& centre, double fraction)
{
    return RecorderModel::lensRect(area.normalized(), centre, fraction);
}

GlobalRect RegionRules::clippedDrag(const GlobalRect& area, const GlobalPoint& start, const GlobalPoint& end)
{
    return GlobalRect::spanning(start, end).intersected(area.normalized());
}

GlobalRect RegionRules::forDrag(const GlobalRect& area, const GlobalPoint& start, const GlobalPoint& end)
{
    const GlobalRect a = area.normalized();
    const GlobalRect d = clippedDrag(a, start, end);
    double f = 0;
    if (a.width() > 0 && a.height() > 0)
        f = std::max(d.width() / a.width(), d.height() / a.height());
    return fitted(a, d.center(), heldFraction(f));
}

std::optional<GlobalRect> RegionRules::release(const GlobalRect& area, const GlobalPoint& start, const GlobalPoint& end,
                                          double defaultFraction)
{
    // A point off the number line is no press anyone made.
    if (!finite(start) || !finite(end))
        return std::nullopt;
    const GlobalRect d = clippedDrag(area, start, end);
    if (d.width() >= minimumDrag && d.height() >= minimumDrag)
        return forDrag(area, start, end);
    const GlobalPoint moved = end - start;
    if (std::hypot(moved.x, moved.y) < clickSlop)
        return fitted(area, start, heldFraction(defaultFraction));
    return std::nullopt;
}

QString RegionRules::describe(const std::optional<GlobalRect>& rect)
{
    if (!rect)
        return QStringLiteral("nil");
    return QStringLiteral("(%1, %2, %3, %4)")
        .arg(number(rect->x()), number(rect->y()), number(rect->width()), number(rect->height()));
}

} // namespace corvessa
