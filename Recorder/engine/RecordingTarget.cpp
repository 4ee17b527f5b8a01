#include "engine/RecordingTarget.h"

#include "platform/ScreenSource.h"
#include "prefs/Loc.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace corvessa {

RecordingTarget::Lookup RecordingTarget::atStart()
{
    Lookup lookup;
    lookup.windowGone = Loc::mark("Can't find this window (it may have been closed). Please select it again.");
    return lookup;
}

RecordingTarget::Lookup RecordingTarget::atRebuild(double streamScale)
{
    Lookup lookup;
    lookup.windowOnScreen = false;
    lookup.displayFallback = false;
    lookup.windowScale = streamScale;
    lookup.windowGone = Loc::mark("Can't find this window.");
    return lookup;
}

RecordingTarget::Found RecordingTarget::resolve(ScreenSource* source,
                                                const std::function<std::vector<uint32_t>()>& excludedWindows,
                                                const std::optional<QSizeF>& windowSize, const Lookup& lookup) const
{
    auto failed = [](std::optional<RecorderError> contentError, const char* missing) {
        Found found;
        found.contentError = std::move(contentError);
        found.missing = missing;
        return found;
    };
    if (!source)
        return failed(std::nullopt, Loc::mark("No screen available to record"));
    RecorderError contentError;
    std::optional<ShareableContent> content = source->content(&contentError);
    if (!content)
        return failed(contentError, nullptr);

    Found found;
    // Every window of this process stays out, and whatever else the owner names.
    found.filter.excludedPids = {int64_t(::getpid())};
    if (excludedWindows)
        found.filter.excludedWindows = excludedWindows();
    for (const auto& d : content->displays)
        if (d.isPrimary)
            found.primaryHeight = d.frame.height();

    auto displayWithID = [&](uint32_t id) -> const DisplayInfo* {
        for (const auto& d : content->displays)
            if (d.id == id)
                return &d;
        return nullptr;
    };
    auto scaleOf = [](const DisplayInfo* display) { return display && display->scale > 0 ? display->scale : 1; };

    if (kind == Kind::window) {
        const auto window = std::find_if(content->windows.begin(), content->windows.end(), [&](const WindowInfo& w) {
            return w.id == windowID && (w.onScreen || !lookup.windowOnScreen);
        });
        if (window == content->windows.end())
            return failed(std::nullopt, lookup.windowGone);
        found.filter.kind = ScreenFilter::Kind::Window;
        found.filter.windowId = window->id;
        found.filter.pointPixelScale = lookup.windowScale.value_or(scaleOf(displayWithID(window->displayId)));
        found.points = windowSize ? *windowSize : window->frame.size();
        return found;
    }

    const DisplayInfo* display = displayWithID(displayID);
    if (!display && kind == Kind::area)
        return failed(std::nullopt,
                      Loc::mark("The screen containing the selection is no longer available. Please select again."));
    if (!display && lookup.displayFallback) {
        for (const auto& d : content->displays)
            if (d.isPrimary) {
                display = &d;
                break;
            }
        if (!display && !content->displays.empty())
            display = &content->displays.front();
    }
    if (!display)
        return failed(std::nullopt, Loc::mark("No screen available to record"));
    found.filter.kind = ScreenFilter::Kind::Display;
    found.filter.displayId = display->id;
    found.filter.pointPixelScale = scaleOf(display);
    found.displayFrame = display->frame;
    found.points = kind == Kind::area ? rect.size() : display->frame.size();
    return found;
}

RecordingTarget::Sizes RecordingTarget::pixelSizes(const QSizeF& points, double scale, std::optional<int> maxShortSide)
{
    const double fullW = points.width() * scale;
    const double fullH = points.height() * scale;
    // Nearest integer (halves away from zero), even, at least 2.
    auto side = [](double v) {
        int64_t n = std::llround(v);
        if (n % 2 != 0)
            n -= 1;
        return int(std::clamp<int64_t>(n, 2, INT32_MAX - 1));
    };
    double w = fullW, h = fullH;
    const double shortSide = std::min(fullW, fullH);
    if (maxShortSide && shortSide > *maxShortSide && shortSide > 0) {
        const double k = double(*maxShortSide) / shortSide;
        w = fullW * k;
        h = fullH * k;
    }
    return {QSize(side(w), side(h)), QSize(side(fullW), side(fullH))};
}

} // namespace corvessa
