#include "platform/CameraFormat.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvessa {

namespace {

// Rates closer than this count as the same (a range edge read back from its duration).
constexpr double kRateTolerance = 1e-6;

// timescale / value rather than 1 / seconds: a duration of 1/30 s is exactly 30 fps.
double rateOf(const MediaTime& duration)
{
    if (!duration.isNumeric() || duration.value() <= 0)
        return 0.0;
    return double(duration.timescale()) / double(duration.value());
}

bool sameRate(double a, double b)
{
    return std::abs(a - b) <= kRateTolerance * std::max(1.0, std::abs(b));
}

// The duration of one frame at `rate`, exact for whole rates.
MediaTime durationFor(double rate)
{
    const double whole = std::round(rate);
    if (sameRate(rate, whole) && whole >= 1 && whole <= double(std::numeric_limits<int32_t>::max()))
        return MediaTime(1, int32_t(whole));
    return MediaTime::fromSeconds(1.0 / rate);
}

} // namespace

QString CameraPixelFormat::name(uint32_t code)
{
    QString text;
    for (int i = 0; i < 4; ++i) {
        const char c = char((code >> (8 * i)) & 0xff);
        if (c < 0x20 || c > 0x7e)
            return QStringLiteral("0x%1").arg(code, 8, 16, QLatin1Char('0'));
        text += QLatin1Char(c);
    }
    return text.trimmed();
}

double CameraFormat::Intervals::maximumRate() const
{
    return rateOf(shortest);
}

double CameraFormat::Intervals::minimumRate() const
{
    return rateOf(longest);
}

MediaTime CameraFormat::frameInterval(double rate) const
{
    std::vector<const Intervals*> usable;
    for (const Intervals& i : intervals) {
        if (i.shortest.isNumeric() && i.longest.isNumeric() && i.shortest > MediaTime::zero()
            && i.shortest <= i.longest)
            usable.push_back(&i);
    }
    if (usable.empty())
        return MediaTime::invalid();

    double lowest = std::numeric_limits<double>::infinity();
    double highest = 0;
    for (const Intervals* i : usable) {
        lowest = std::min(lowest, i->minimumRate());
        highest = std::max(highest, i->maximumRate());
    }
    // A rate that is no number asks for nothing in particular: the highest.
    if (!std::isfinite(rate) || rate <= 0)
        rate = highest;
    rate = std::clamp(rate, lowest, highest);

    const Intervals* chosen = nullptr;
    for (const Intervals* i : usable) {
        if ((i->minimumRate() <= rate || sameRate(i->minimumRate(), rate))
            && (rate <= i->maximumRate() || sameRate(i->maximumRate(), rate))) {
            chosen = i;
            break;
        }
    }
    if (!chosen) {
        // Between discrete durations: the nearest one.
        double best = std::numeric_limits<double>::infinity();
        for (const Intervals* i : usable) {
            const double distance = std::min(std::abs(i->minimumRate() - rate), std::abs(i->maximumRate() - rate));
            if (distance < best) {
                best = distance;
                chosen = i;
            }
        }
    }
    if (chosen->isSingle())
        return chosen->shortest;
    if (sameRate(rate, chosen->maximumRate()))
        return chosen->shortest;
    if (sameRate(rate, chosen->minimumRate()))
        return chosen->longest;

    MediaTime duration = MediaTime::max(chosen->shortest, MediaTime::min(durationFor(rate), chosen->longest));
    if (chosen->step.isNumeric() && chosen->step > MediaTime::zero()) {
        const double steps = std::round((duration - chosen->shortest).seconds() / chosen->step.seconds());
        int64_t n = int64_t(std::max(0.0, steps));
        duration = chosen->shortest + chosen->step.multiplied(n);
        while (n > 0 && duration > chosen->longest)
            duration = chosen->shortest + chosen->step.multiplied(--n);
    }
    return duration;
}

} // namespace corvessa
