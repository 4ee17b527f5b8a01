#include "model/LevelThrottle.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace corvessa {

namespace {

// fmax keeps the number when one side is not one, so a bad value never hides a level.
LevelStats loudest(const LevelStats& a, const LevelStats& b)
{
    return {std::fmax(a.peak, b.peak), std::fmax(a.rms, b.rms), std::fmax(a.pre, b.pre)};
}

} // namespace

LevelThrottle::LevelThrottle(double interval)
    : m_interval(idleInterval)
{
    setInterval(interval);
}

std::optional<LevelStats> LevelThrottle::offer(const LevelStats& s, double now)
{
    std::lock_guard lock(l);
    const LevelStats merged = m_pending ? loudest(*m_pending, s) : s;
    if (now - m_last < m_interval) {
        m_pending = merged;
        return std::nullopt;
    }
    m_last = now;
    m_pending.reset();
    return merged;
}

std::optional<LevelStats> LevelThrottle::takePending()
{
    std::lock_guard lock(l);
    return std::exchange(m_pending, std::nullopt);
}

void LevelThrottle::setInterval(double seconds)
{
    if (std::isnan(seconds))
        return;
    std::lock_guard lock(l);
    m_interval = std::max(seconds, 0.0);
}

double LevelThrottle::interval() const
{
    std::lock_guard lock(l);
    return m_interval;
}

} // namespace corvessa
