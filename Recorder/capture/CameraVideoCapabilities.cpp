#include "capture/CameraVideoCapabilities.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace corvessa {

CameraVideoCapabilities::CameraVideoCapabilities(const std::vector<DeviceFormat>& deviceFormats)
{
    for (size_t i = 0; i < deviceFormats.size(); ++i) {
        const DeviceFormat& f = deviceFormats[i];
        const VideoDimensions size{f.width, f.height};
        if (size.width < 1 || size.height < 1 || size.longSide() > maximumLongSide ||
            size.shortSide() > maximumShortSide)
            continue;
        std::vector<RateRange> kept;
        for (const RateRange& r : f.rates) {
            if (std::isfinite(r.minimum) && std::isfinite(r.maximum) && r.minimum > 0 && r.minimum <= r.maximum)
                kept.push_back(r);
        }
        if (std::none_of(kept.begin(), kept.end(), [](const RateRange& r) { return r.minimum <= highestRate; }))
            continue;
        formats.push_back(Format{size, std::move(kept), int(i)});
    }
}

std::vector<VideoDimensions> CameraVideoCapabilities::sizes() const
{
    std::vector<VideoDimensions> result;
    for (const Format& f : formats) {
        if (std::find(result.begin(), result.end(), f.size) == result.end())
            result.push_back(f.size);
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const VideoDimensions& a, const VideoDimensions& b) { return a.area() < b.area(); });
    return result;
}

std::vector<double> CameraVideoCapabilities::rates(const VideoDimensions& size) const
{
    std::vector<const RateRange*> ranges;
    for (const Format& f : formats) {
        if (f.size == size) {
            for (const RateRange& r : f.rates)
                ranges.push_back(&r);
        }
    }
    std::vector<double> result;
    for (const double rate : standardRates) {
        if (std::any_of(ranges.begin(), ranges.end(), [&](const RateRange* r) { return r->contains(rate); }))
            result.push_back(rate);
    }
    // A range holding none of the rates so far still offers one of its own, so a
    // 29.97 fps-only camera is usable.
    for (const RateRange* r : ranges) {
        if (std::any_of(result.begin(), result.end(), [&](double rate) { return r->contains(rate); }))
            continue;
        if (r->maximum <= highestRate)
            result.push_back(r->maximum);
        else if (r->minimum <= highestRate)
            result.push_back(r->minimum);
    }
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

std::optional<VideoDimensions> CameraVideoCapabilities::preferredSize(int shortSide) const
{
    std::optional<VideoDimensions> best;
    qint64 bestDistance = 0;
    for (const VideoDimensions& size : sizes()) {
        const qint64 distance = std::llabs(qint64(size.shortSide()) - shortSide);
        if (!best || distance < bestDistance || (distance == bestDistance && size.area() < best->area())) {
            best = size;
            bestDistance = distance;
        }
    }
    return best;
}

std::optional<double> CameraVideoCapabilities::preferredRate(const VideoDimensions& size, double target) const
{
    std::optional<double> best;
    // Ascending rates and a strict comparison keep the lower rate on a tie.
    for (const double rate : rates(size)) {
        if (!best || std::fabs(rate - target) < std::fabs(*best - target))
            best = rate;
    }
    return best;
}

std::optional<int> CameraVideoCapabilities::formatIndex(const VideoDimensions& size, double rate) const
{
    for (const Format& f : formats) {
        if (f.size == size &&
            std::any_of(f.rates.begin(), f.rates.end(), [&](const RateRange& r) { return r.contains(rate); }))
            return f.index;
    }
    return std::nullopt;
}

std::optional<VideoDeviceChoice> CameraVideoCapabilities::normalized(const std::optional<VideoDeviceChoice>& choice,
                                                                     double defaultRate) const
{
    std::optional<VideoDimensions> size;
    if (choice) {
        for (const VideoDimensions& s : sizes()) {
            if (s.id() == choice->resolution) {
                size = s;
                break;
            }
        }
    }
    if (!size)
        size = preferredSize(720);
    if (!size)
        return std::nullopt;
    const auto rate = preferredRate(*size, choice ? choice->frameRate : defaultRate);
    if (!rate)
        return std::nullopt;
    return VideoDeviceChoice{size->id(), *rate};
}

} // namespace corvessa
