#include "app/DockBadge.h"

#include "platform/LauncherBadge.h"

namespace corvessa {

std::optional<QString> DockBadge::wanted(const RecorderPhase& phase)
{
    if (phase.isLive())
        return QStringLiteral("REC");
    return std::nullopt;
}

bool DockBadge::apply(LauncherBadge& badge, const RecorderPhase& phase)
{
    const std::optional<QString> label = wanted(phase);
    if (badge.label() == label)
        return false;
    if (label)
        badge.setLabel(*label);
    else
        badge.clear();
    return true;
}

} // namespace corvessa
