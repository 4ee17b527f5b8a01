#include "platform/core/CaptureStallMeter.h"

#include <cmath>
#include <utility>

namespace corvessa {

void CaptureStallMeter::owed(double due)
{
    if (!m_owedSince)
        m_owedSince = due;
}

std::optional<double> CaptureStallMeter::read(double now)
{
    const std::optional<double> since = std::exchange(m_owedSince, std::nullopt);
    if (!since || now - *since <= stallSeconds)
        return std::nullopt;
    return now - *since;
}

QString CaptureStallMeter::line(double seconds, double interval)
{
    const long lost = interval > 0 ? std::lround(std::floor(seconds / interval)) : 0;
    return QStringLiteral("[capture] no picture for %1 s while the screen changed: about %2 pictures lost, the last one stands in")
        .arg(seconds, 0, 'f', 1)
        .arg(lost);
}

} // namespace corvessa
