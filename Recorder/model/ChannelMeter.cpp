#include "model/ChannelMeter.h"

#include <algorithm>
#include <cmath>

namespace corvessa {

namespace {

// Not-a-number statistics are treated as silence.
float amplitude(float a)
{
    return std::isnan(a) ? 0.0f : a;
}

int step(float level)
{
    return int(std::clamp(level, 0.0f, 1.0f) * float(ChannelMeter::keySteps));
}

} // namespace

float ChannelMeter::level(float a)
{
    if (std::isnan(a))
        return 0;
    const float db = 20 * std::log10(std::max(a, floorAmplitude));
    return std::clamp((db + rangeDB) / rangeDB, 0.0f, 1.0f);
}

void ChannelMeter::update(const LevelStats& s, double dt, double now)
{
    const float peak = amplitude(s.peak);
    // A bad or negative interval makes nothing fall rather than everything.
    const float fall = std::isnan(dt) ? 0.0f : float(std::clamp(dt, 0.0, 1.0));
    norm = std::max(level(s.rms), norm - fall);
    preNorm = std::max(level(s.pre), preNorm - fall);
    const float p = level(peak);
    if (hold <= p || now - holdAt > holdSeconds) {
        hold = p;
        holdAt = now;
    }
    lastPeakDB = 20 * std::log10(std::max(peak, floorAmplitude));
    if (peak >= clipPeak)
        clipUntil = now + clipSeconds;
}

int ChannelMeter::visualKey(double now) const
{
    return step(norm) | step(preNorm) << 8 | step(hold) << 16 | (clipLit(now) ? 1 << 24 : 0);
}

} // namespace corvessa
