#include "platform/synthetic/SyntheticDisplayList.h"

namespace corvessa {

namespace {

std::vector<DisplayInfo> completed(std::vector<DisplayInfo> displays)
{
    for (DisplayInfo& d : displays) {
        if (d.visibleFrame.isEmpty())
            d.visibleFrame = d.frame;
        if (d.label.isEmpty())
            d.label = d.name;
    }
    return displays;
}

} // namespace

SyntheticDisplayList::SyntheticDisplayList(std::vector<DisplayInfo> displays)
    : m_displays(completed(std::move(displays)))
{
}

std::vector<DisplayInfo> SyntheticDisplayList::displays() const
{
    std::lock_guard lock(m_mutex);
    return m_displays;
}

void SyntheticDisplayList::setDisplays(std::vector<DisplayInfo> displays)
{
    std::lock_guard lock(m_mutex);
    m_displays = completed(std::move(displays));
}

DisplayInfo SyntheticDisplayList::makeDisplay(const QString& name, const GlobalRect& frame, double scale,
                                              double refreshRate, bool isPrimary)
{
    DisplayInfo d;
    d.id = DisplayInfo::idForName(name);
    d.name = name;
    d.uuid = name;
    d.frame = frame;
    d.visibleFrame = frame;
    d.label = name;
    d.scale = scale;
    d.refreshRate = refreshRate;
    d.isPrimary = isPrimary;
    return d;
}

std::vector<DisplayInfo> SyntheticDisplayList::defaultDisplays()
{
    return {makeDisplay(QStringLiteral("SYNTHETIC-1"), GlobalRect(0, 0, 1920, 1080), 1, 60, true)};
}

} // namespace corvessa
