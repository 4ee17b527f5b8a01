#include "engine/compositor/FocusState.h"

#include "platform/core/HostClock.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace corvessa {

namespace {

std::optional<QPointF> finite(std::optional<QPointF> p)
{
    if (p && (!std::isfinite(p->x()) || !std::isfinite(p->y())))
        return std::nullopt;
    return p;
}

// Cubic ease-in-out of c, clamped to 0...1; not a number gives 0.
double ease(double c)
{
    if (!(c >= 0))
        return 0;
    if (c >= 1)
        return 1;
    if (c < 0.5)
        return 4 * c * c * c;
    const double r = 2 - 2 * c;
    return 1 - r * r * r / 2;
}

} // namespace

void FocusState::set(bool on, std::optional<double> time)
{
    const double t = time ? *time : HostClock::seconds();
    if (std::isnan(t))
        return;
    std::lock_guard lock(l);
    const bool changes = m_edges.empty() ? on : m_edges.back().on != on;
    if (!changes)
        return;
    m_edges.push_back({t, on});
    if (m_edges.size() > kLimit)
        m_edges.erase(m_edges.begin(), m_edges.begin() + kTrim);
}

double FocusState::progress(double time) const
{
    std::lock_guard lock(l);
    // Newest first: normally the last edge is the one in force.
    for (auto it = m_edges.rbegin(); it != m_edges.rend(); ++it) {
        if (it->t <= time) {
            const double eased = ease((time - it->t) / durations[size_t(m_speed)]);
            return it->on ? eased : 1 - eased;
        }
    }
    return 0;
}

FocusState::Snapshot FocusState::snapshot() const
{
    std::lock_guard lock(l);
    return {m_frac, m_mode, m_anchor, m_touch, m_speed, !m_edges.empty() && m_edges.back().on};
}

std::vector<FocusState::Edge> FocusState::edges() const
{
    std::lock_guard lock(l);
    return m_edges;
}

double FocusState::frac() const
{
    std::lock_guard lock(l);
    return m_frac;
}

void FocusState::setFrac(double value)
{
    if (!std::isfinite(value))
        return;
    std::lock_guard lock(l);
    m_frac = std::clamp(value, minFrac, maxFrac);
}

int FocusState::mode() const
{
    std::lock_guard lock(l);
    return m_mode;
}

void FocusState::setMode(int value)
{
    std::lock_guard lock(l);
    m_mode = value;
}

std::optional<QPointF> FocusState::anchor() const
{
    std::lock_guard lock(l);
    return m_anchor;
}

void FocusState::setAnchor(std::optional<QPointF> value)
{
    value = finite(value);
    std::lock_guard lock(l);
    m_anchor = value;
}

void FocusState::setAnchor(QPointF value, double touch)
{
    const auto anchor = finite(std::optional<QPointF>(value));
    std::lock_guard lock(l);
    m_anchor = anchor;
    m_touch = touch;
}

std::optional<QPointF> FocusState::seed() const
{
    std::lock_guard lock(l);
    return m_seed;
}

void FocusState::setSeed(std::optional<QPointF> value)
{
    value = finite(value);
    std::lock_guard lock(l);
    m_seed = value;
}

std::optional<QPointF> FocusState::takeSeed()
{
    std::lock_guard lock(l);
    return std::exchange(m_seed, std::nullopt);
}

double FocusState::touch() const
{
    std::lock_guard lock(l);
    return m_touch;
}

void FocusState::setTouch(double value)
{
    std::lock_guard lock(l);
    m_touch = value;
}

int FocusState::speed() const
{
    std::lock_guard lock(l);
    return m_speed;
}

void FocusState::setSpeed(int value)
{
    std::lock_guard lock(l);
    m_speed = std::clamp(value, 0, int(durations.size()) - 1);
}

} // namespace corvessa
