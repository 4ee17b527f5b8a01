#pragma once

#include "platform/core/Scheduler.h"

#include <cstddef>
#include <memory>

namespace corvessa {

// A scheduler whose clock moves only when the test moves it. advance() runs the
// timers that fall due, in the order of their times (ties in the order they were
// armed), with the clock set to each one's time, and the posted tasks after each.
// Timers and the clock belong to the test's thread; post() may be called from
// any thread. Timer handles may outlive the scheduler.
class VirtualScheduler final : public Scheduler {
public:
    // Repeating timers shorter than this run at this period, so a zero period
    // cannot make advance() spin forever.
    static constexpr double shortestPeriod = 0.001;

    explicit VirtualScheduler(double start = 0);
    ~VirtualScheduler() override;

    double now() const override;
    void post(Task task) override;
    TimerRef after(double seconds, Task task) override;
    TimerRef every(double seconds, double tolerance, Task task) override;

    // Runs the posted tasks, then the timers due within `seconds`; the clock ends
    // `seconds` later. Negative or not-a-number steps run what is due now.
    void advance(double seconds);
    // The same up to the time `t`; a time already past runs what is due now.
    void advanceTo(double t);
    // Moves the clock without running anything (a time already past is ignored).
    void setNow(double t);
    // Runs posted tasks, including those they post, until none is left.
    void runPosted();
    // Armed timers (cancelled and finished one-shot timers not counted).
    size_t timerCount() const;

private:
    struct State;
    class Handle;
    TimerRef arm(double delay, double period, Task task);
    std::shared_ptr<State> m_state;
};

} // namespace corvessa
