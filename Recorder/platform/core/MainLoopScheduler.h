#pragma once

#include "platform/core/Scheduler.h"

namespace corvessa {

// The scheduler of the program: Qt timers on the main thread's event loop,
// CLOCK_MONOTONIC for its time, MainQueue for posted work.
class MainLoopScheduler final : public Scheduler {
public:
    // The one the program uses.
    static MainLoopScheduler& shared();

    double now() const override;
    void post(Task task) override;
    TimerRef after(double seconds, Task task) override;
    TimerRef every(double seconds, double tolerance, Task task) override;
};

} // namespace corvessa
