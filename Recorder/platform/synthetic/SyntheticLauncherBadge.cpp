#include "platform/synthetic/SyntheticLauncherBadge.h"

namespace corvessa {

void SyntheticLauncherBadge::setLabel(const QString& label)
{
    m_label = label;
    ++m_writes;
}

void SyntheticLauncherBadge::clear()
{
    m_label.reset();
    ++m_writes;
}

} // namespace corvessa
