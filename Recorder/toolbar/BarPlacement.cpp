#include "toolbar/BarPlacement.h"

#include "platform/core/UserDefaults.h"

#include <algorithm>
#include <cmath>

namespace corvessa {

namespace {

// Keeps [start, start + length) inside [low + inset, high - inset] where it
// fits; otherwise the low edge wins.
double clampInto(double start, double length, double low, double high, double inset)
{
    const double first = low + inset;
    return std::min(std::max(start, first), std::max(high - length - inset, first));
}

std::optional<uint32_t> readDisplayId(const UserDefaults& defaults, const QString& key)
{
    // Any number, wrapped to 32 bits the way it was written.
    if (const auto whole = defaults.integer(key))
        return uint32_t(uint64_t(*whole));
    if (const auto real = defaults.doubleValue(key); real && std::isfinite(*real))
        return uint32_t(uint64_t(int64_t(std::clamp(*real, -9.0e18, 9.0e18))));
    return std::nullopt;
}

} // namespace

QString BarPlacement::midXKey() { return QStringLiteral("barMidX"); }
QString BarPlacement::topKey() { return QStringLiteral("barTop"); }
QString BarPlacement::dockKey() { return QStringLiteral("barDock"); }
QString BarPlacement::dockDisplayKey() { return QStringLiteral("barDockDisplay"); }

const DisplayInfo* BarPlacement::primary(const std::vector<DisplayInfo>& displays)
{
    const auto it = std::find_if(displays.begin(), displays.end(), [](const DisplayInfo& d) { return d.isPrimary; });
    if (it != displays.end())
        return &*it;
    return displays.empty() ? nullptr : &displays.front();
}

const DisplayInfo* BarPlacement::barScreen(const std::vector<DisplayInfo>& displays, const GlobalRect& rect)
{
    const DisplayInfo* best = nullptr;
    double bestArea = 0;
    for (const DisplayInfo& d : displays) {
        if (!d.frame.intersects(rect))
            continue;
        const GlobalRect common = d.frame.intersected(rect);
        const double area = common.width() * common.height();
        if (!best || area > bestArea) {
            best = &d;
            bestArea = area;
        }
    }
    if (best)
        return best;
    double bestDistance = 0;
    for (const DisplayInfo& d : displays) {
        const GlobalPoint delta = d.frame.center() - rect.center();
        const double distance = std::hypot(delta.x, delta.y);
        if (!best || distance < bestDistance) {
            best = &d;
            bestDistance = distance;
        }
    }
    return best;
}

GlobalRect BarPlacement::onScreen(const std::vector<DisplayInfo>& displays, const GlobalRect& rect)
{
    const DisplayInfo* screen = barScreen(displays, rect);
    if (!screen)
        return rect;
    const GlobalRect& v = screen->visibleFrame;
    return GlobalRect(clampInto(rect.left(), rect.width(), v.left(), v.right(), margin),
                      clampInto(rect.bottom(), rect.height(), v.bottom(), v.top(), margin), rect.width(),
                      rect.height());
}

GlobalPoint BarPlacement::defaultAnchor(const std::vector<DisplayInfo>& displays)
{
    const DisplayInfo* main = primary(displays);
    if (!main)
        return {fallbackMidX, defaultTop};
    return {main->frame.center().x, main->frame.bottom() + defaultTop};
}

BarPlacement::Placement BarPlacement::restore(const UserDefaults& defaults, const std::vector<DisplayInfo>& displays)
{
    Placement p;
    p.anchor = defaultAnchor(displays);
    const auto midX = defaults.doubleValue(midXKey());
    const auto top = defaults.doubleValue(topKey());
    if (midX && top) {
        const GlobalPoint probe{*midX, *top - savedProbe};
        if (std::any_of(displays.begin(), displays.end(), [&](const DisplayInfo& d) { return d.frame.contains(probe); }))
            p.anchor = GlobalPoint{*midX, *top};
    }
    if (const auto raw = defaults.integer(dockKey())) {
        p.dock = ToolbarMagnet::fromRaw(*raw);
        if (p.dock)
            p.dockDisplay = readDisplayId(defaults, dockDisplayKey());
    }
    return p;
}

void BarPlacement::store(UserDefaults& defaults, const Placement& placement)
{
    defaults.setDouble(midXKey(), placement.anchor.x);
    defaults.setDouble(topKey(), placement.anchor.y);
    if (placement.dock)
        defaults.setInteger(dockKey(), int(*placement.dock));
    else
        defaults.remove(dockKey());
    if (placement.dock && placement.dockDisplay)
        defaults.setInteger(dockDisplayKey(), *placement.dockDisplay);
    else
        defaults.remove(dockDisplayKey());
}

GlobalRect BarPlacement::barRect(const std::vector<DisplayInfo>& displays, const Placement& placement,
                                 const QSizeF& barSize)
{
    const GlobalRect hung(placement.anchor.x - barSize.width() / 2, placement.anchor.y - barSize.height(),
                          barSize.width(), barSize.height());
    if (!placement.dock)
        return onScreen(displays, hung);
    const DisplayInfo* screen = nullptr;
    if (placement.dockDisplay) {
        const auto it = std::find_if(displays.begin(), displays.end(),
                                     [&](const DisplayInfo& d) { return d.id == *placement.dockDisplay; });
        if (it != displays.end())
            screen = &*it;
    }
    if (!screen)
        screen = barScreen(displays, hung);
    if (!screen)
        return hung;
    return GlobalRect(ToolbarMagnet::cellOrigin(*placement.dock, barSize, screen->visibleFrame, margin), barSize);
}

BarPlacement::Settled BarPlacement::settle(const std::vector<DisplayInfo>& displays, const GlobalRect& bar)
{
    Settled s;
    s.target = onScreen(displays, bar);
    if (const DisplayInfo* screen = barScreen(displays, bar)) {
        const GlobalRect& visible = screen->visibleFrame;
        s.placement.dock = ToolbarMagnet::nearest(bar, visible, margin, snapDistance);
        if (s.placement.dock) {
            s.placement.dockDisplay = screen->id;
            const GlobalPoint origin = ToolbarMagnet::cellOrigin(*s.placement.dock, bar.size(), visible, margin);
            s.target = GlobalRect(origin, bar.size());
        }
    }
    s.placement.anchor = anchorOf(s.target);
    return s;
}

} // namespace corvessa
