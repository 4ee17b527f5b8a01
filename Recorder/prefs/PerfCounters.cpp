#include "prefs/PerfCounters.h"

#include <algorithm>

namespace corvessa {

PerfCounters& PerfCounters::shared()
{
    static PerfCounters counters;
    return counters;
}

void PerfCounters::Sum::add(double ms)
{
    n += 1;
    sum += ms;
    max = std::max(max, ms);
}

PerfCounters::Stats PerfCounters::Sum::take()
{
    const Stats s{n, n < 1 ? 0.0 : sum / n, max};
    *this = Sum{};
    return s;
}

void PerfCounters::addRender(double ms)
{
    std::lock_guard lock(l);
    m_render.add(ms);
}

void PerfCounters::addPen(double ms)
{
    std::lock_guard lock(l);
    m_pen.add(ms);
}

PerfCounters::Drained PerfCounters::drain()
{
    std::lock_guard lock(l);
    return {m_render.take(), m_pen.take()};
}

} // namespace corvessa
