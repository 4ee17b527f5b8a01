#include "model/StandInTools.h"

#include <utility>

namespace corvessa {

StandInTools::StandInTools(std::function<std::vector<WindowInfo>()> windows, std::function<void(const QString&)> log)
    : m_windows(std::move(windows))
    , m_log(std::move(log))
{
}

void StandInTools::pickRange(RangeMode mode, PickCompletion completion)
{
    if (m_log)
        m_log(QStringLiteral("[tools] no target picker yet: %1 pick cancelled").arg(rangeModeName(mode)));
    if (completion)
        completion(std::nullopt);
}

std::vector<WindowInfo> StandInTools::windowList()
{
    return m_windows ? m_windows() : std::vector<WindowInfo>{};
}

} // namespace corvessa
