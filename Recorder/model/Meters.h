#pragma once

#include "capture/LevelStats.h"
#include "model/ChannelMeter.h"
#include "platform/core/Scheduler.h"

#include <QObject>

#include <optional>

namespace corvessa {

// The published microphone and system-audio meters. Statistics arrive here
// already throttled; a meter is re-published only when its look changes, so the
// views redraw cheaply. Main thread.
class Meters : public QObject {
    Q_OBJECT
public:
    static constexpr float silentPre = 0.00002f;   // a level before gain below this is silence
    static constexpr double staleSeconds = 2;      // older microphone statistics say nothing about silence
    static constexpr double republishSeconds = 1;  // how often views re-evaluate the hold and clip lamp

    explicit Meters(Scheduler& scheduler, QObject* parent = nullptr);

    const ChannelMeter& mic() const { return m_mic; }
    const ChannelMeter& sys() const { return m_sys; }
    const ChannelMeter& meter(bool isMic) const { return isMic ? m_mic : m_sys; }
    std::optional<double> micZeroSince() const { return m_micZeroSince; }
    double lastMicPush() const { return m_lastMicPush; }
    double lastMic() const { return m_lastMic; }
    double lastSys() const { return m_lastSys; }
    // The scheduler's time, against which views judge the clip lamp.
    double now() const { return m_scheduler.now(); }

    // New statistics for either meter. A meter is stored only when its visual key
    // changes; an update that changes nothing visible is dropped whole.
    void pushed(std::optional<LevelStats> mic, std::optional<LevelStats> sys);

    // For how long the microphone has delivered silence before its gain: 0 when it
    // has not, or when no microphone statistics arrived for 2 s.
    double micSilentSeconds() const;

    // Replace a published meter (the model resets a stopped source to silent()).
    void setMic(const ChannelMeter& meter);
    void setSys(const ChannelMeter& meter);
    // Puts the clip lamp out (a tap on the meter).
    void clearClip(bool isMic);

signals:
    // A published meter changed.
    void changed();
    // Every second, so views notice a hold or clip lamp that timed out.
    void tick();

private:
    // Updates a copy of `meter`; stores it when it looks different. True when stored.
    bool apply(ChannelMeter& meter, double& last, const LevelStats& s, double now);
    void store(ChannelMeter& meter, const ChannelMeter& value);

    Scheduler& m_scheduler;
    ChannelMeter m_mic;
    ChannelMeter m_sys;
    std::optional<double> m_micZeroSince;
    double m_lastMicPush = ChannelMeter::distantPast;
    Scheduler::TimerRef m_timer;
    double m_lastMic;
    double m_lastSys;
};

} // namespace corvessa
