#pragma once

#include "capture/LevelStats.h"

#include <limits>
#include <mutex>
#include <optional>

namespace corvessa {

// Reduces the level statistics of one source, which arrive with every audio
// buffer, to at most one set per interval, keeping the loudest values of the sets
// held back in between. Offered from the audio queues, its interval set from the
// main thread: every field lives under the lock `l`.
class LevelThrottle {
public:
    static constexpr double idleInterval = 0.15;

    explicit LevelThrottle(double interval = idleInterval);

    // Merges `s` into the held-back set (field-wise maximum). Less than the
    // interval after the last set let through, keeps the merge back and returns
    // nothing; otherwise returns it, holding nothing back. Any thread.
    std::optional<LevelStats> offer(const LevelStats& s, double now);

    // Hands out the held-back set, if any, and forgets it; for when the source
    // stops, so the meter shows the last levels rather than freezing short of
    // them. Any thread.
    std::optional<LevelStats> takePending();

    // Seconds between sets let through; a negative interval counts as 0, one that
    // is not a number is ignored. Any thread (the model sets it on the main thread).
    void setInterval(double seconds);
    double interval() const;

private:
    mutable std::mutex l;
    std::optional<LevelStats> m_pending;
    double m_last = -std::numeric_limits<double>::infinity(); // when a set was last let through
    double m_interval;
};

} // namespace corvessa
