#include "capture/ScreenVideoCapabilities.h"

#include "capture/DecimalInteger.h"
#include "platform/DisplayInfo.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace corvessa {

namespace {

int wholeFPS(double refreshRate)
{
    if (!std::isfinite(refreshRate) || refreshRate < 0.5)
        return ScreenVideoCapabilities::unknownRefreshFPS;
    return int(std::min(std::lround(refreshRate), long(std::numeric_limits<int>::max())));
}

int pixelsOf(double points, double scale)
{
    const double px = points * (scale > 0 ? scale : 1);
    if (!std::isfinite(px) || px <= 0)
        return 0;
    return int(std::min(std::lround(px), long(std::numeric_limits<int>::max())));
}

// side × choice ÷ shortSide, rounded half away from zero, worked in integers so
// that an exact half is recognised as one.
int64_t scaledSide(int side, int choice, int shortSide)
{
    const int64_t n = int64_t(std::max(side, 0)) * choice;
    const int64_t d = shortSide;
    return (2 * n + d) / (2 * d);
}

} // namespace

ScreenVideoCapabilities ScreenVideoCapabilities::forDisplay(const DisplayInfo& display)
{
    return forRegion(display, display.frame.size());
}

ScreenVideoCapabilities ScreenVideoCapabilities::forRegion(const DisplayInfo& display, const QSizeF& points)
{
    return {{pixelsOf(points.width(), display.scale), pixelsOf(points.height(), display.scale)},
            wholeFPS(display.refreshRate)};
}

std::vector<int> ScreenVideoCapabilities::resolutions() const
{
    std::vector<int> result{0};
    for (const int side : shortSides) {
        if (side < size.shortSide())
            result.push_back(side);
    }
    return result;
}

std::vector<int> ScreenVideoCapabilities::frameRates() const
{
    if (maximumFPS < rateSteps.front())
        return {std::max(1, maximumFPS)};
    std::vector<int> result;
    for (const int rate : rateSteps) {
        if (rate <= maximumFPS)
            result.push_back(rate);
    }
    return result;
}

VideoDimensions ScreenVideoCapabilities::pixels(int choice) const
{
    const int shortSide = size.shortSide();
    const bool scales = choice > 0 && choice < shortSide;
    auto side = [&](int native) {
        int64_t v = scales ? scaledSide(native, choice, shortSide) : std::max(native, 0);
        v -= v % 2;
        return int(std::max<int64_t>(v, 2));
    };
    return {side(size.width), side(size.height)};
}

QString ScreenVideoCapabilities::label(int choice, const TextLookup& text) const
{
    QString prefix;
    if (choice != 0) {
        prefix = QString::number(choice) + u'p';
    } else {
        const QString english = QString::fromLatin1(nativeKey);
        prefix = text ? text(english) : QString();
        if (prefix.isEmpty())
            prefix = english;
    }
    const VideoDimensions out = pixels(choice);
    return prefix + QStringLiteral(" \u00B7 ") + QString::number(out.width) + u'\u00D7' + QString::number(out.height);
}

VideoDeviceChoice ScreenVideoCapabilities::normalized(const std::optional<VideoDeviceChoice>& choice) const
{
    int64_t number = defaultShortSide;
    if (choice) {
        if (const auto parsed = parseDecimalInteger(choice->resolution))
            number = *parsed;
    }
    // A wanted short side at or above the target's own is its native size: the
    // default 1080 on a 1080p screen records 1920×1080 rather than falling to
    // a smaller size.
    if (number >= 1 && number >= size.shortSide())
        number = 0;
    const std::vector<int> offered = resolutions();
    if (std::find(offered.begin(), offered.end(), number) == offered.end()) {
        number = 0;
        for (const int side : offered) {
            if (side >= 1 && side <= defaultShortSide)
                number = std::max<int64_t>(number, side);
        }
    }

    const double target = choice ? choice->frameRate : defaultFrameRate;
    int best = 0;
    bool found = false;
    // Ascending rates and a strict comparison keep the lower rate on a tie.
    for (const int rate : frameRates()) {
        if (!found || std::fabs(rate - target) < std::fabs(best - target)) {
            best = rate;
            found = true;
        }
    }
    return VideoDeviceChoice{QString::number(number), double(best)};
}

} // namespace corvessa
