#include "tools/ProgramTools.h"

#include <utility>

namespace corvessa {

ProgramTools::ProgramTools(std::function<std::vector<WindowInfo>()> windows,
                           std::function<void(const QString&)> log, std::function<bool()> compositingActive)
    : m_standIn(std::move(windows), std::move(log))
    , m_countdown(std::move(compositingActive))
{
}

void ProgramTools::pickRange(RangeMode mode, PickCompletion completion)
{
    m_standIn.pickRange(mode, std::move(completion));
}

} // namespace corvessa
