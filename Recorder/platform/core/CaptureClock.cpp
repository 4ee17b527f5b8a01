#include "platform/core/CaptureClock.h"

#include <algorithm>

#include <cstdlib>

namespace corvessa {

void CaptureClock::reset(uint32_t sampleRate)
{
    m_rate = sampleRate;
    m_started = false;
    m_anchorNs = 0;
    m_frames = 0;
}

int64_t CaptureClock::framesToNs(uint64_t frames) const
{
    if (m_rate == 0)
        return 0;
    // frames * 1e9 outgrows 64 bits after about four days at 48 kHz.
    const unsigned __int128 ns = (unsigned __int128)frames * 1000000000u;
    return int64_t(ns / m_rate);
}

int64_t CaptureClock::stamp(int64_t measuredNs, size_t frames)
{
    const int64_t expected = m_anchorNs + framesToNs(m_frames);
    const int64_t error = measuredNs - expected;
    int64_t pts;
    if (!m_started || m_rate == 0 || std::llabs(error) > m_resyncNs) {
        m_started = true;
        m_anchorNs = measuredNs;
        m_frames = 0;
        pts = measuredNs;
    } else {
        int64_t correction = error / smoothingDivisor;
        if (m_maxStepNs > 0)
            correction = std::clamp(correction, -m_maxStepNs, m_maxStepNs);
        m_anchorNs += correction;
        pts = expected + correction;
    }
    m_frames += frames;
    return pts;
}

} // namespace corvessa
