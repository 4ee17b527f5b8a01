#include "model/Meters.h"

#include <algorithm>

namespace corvessa {

Meters::Meters(Scheduler& scheduler, QObject* parent)
    : QObject(parent)
    , m_scheduler(scheduler)
    , m_lastMic(scheduler.now())
    , m_lastSys(m_lastMic)
{
    // The timer dies with this object, so its task never outlives it.
    m_timer = m_scheduler.every(republishSeconds, 0.1 * republishSeconds, [this] { emit tick(); });
}

void Meters::pushed(std::optional<LevelStats> mic, std::optional<LevelStats> sys)
{
    const double now = m_scheduler.now();
    bool published = false;
    if (mic) {
        m_lastMicPush = now;
        // !(>=) also takes a level that is not a number for silence.
        if (!(mic->pre >= silentPre)) {
            if (!m_micZeroSince)
                m_micZeroSince = now;
        } else {
            m_micZeroSince.reset();
        }
        published |= apply(m_mic, m_lastMic, *mic, now);
    }
    if (sys)
        published |= apply(m_sys, m_lastSys, *sys, now);
    if (published)
        emit changed();
}

bool Meters::apply(ChannelMeter& meter, double& last, const LevelStats& s, double now)
{
    ChannelMeter copy = meter;
    copy.update(s, now - last, now);
    last = now;
    if (copy.visualKey(now) == meter.visualKey(now)) {
        // Clipping that goes on keeps the lamp lit: the look is the same, but
        // dropping the later end would let the lamp go dark mid-clip.
        meter.clipUntil = std::max(meter.clipUntil, copy.clipUntil);
        return false;
    }
    meter = copy;
    return true;
}

double Meters::micSilentSeconds() const
{
    const double now = m_scheduler.now();
    if (!m_micZeroSince || now - m_lastMicPush >= staleSeconds)
        return 0;
    return now - *m_micZeroSince;
}

void Meters::store(ChannelMeter& meter, const ChannelMeter& value)
{
    if (meter == value)
        return;
    meter = value;
    emit changed();
}

void Meters::setMic(const ChannelMeter& meter)
{
    store(m_mic, meter);
}

void Meters::setSys(const ChannelMeter& meter)
{
    store(m_sys, meter);
}

void Meters::clearClip(bool isMic)
{
    ChannelMeter meter = this->meter(isMic);
    meter.clipUntil = ChannelMeter::distantPast;
    store(isMic ? m_mic : m_sys, meter);
}

} // namespace corvessa
