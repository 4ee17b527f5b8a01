#pragma once

#include <functional>
#include <memory>

namespace corvessa {

// Time and timers for code that lives on the main thread: the recorder model,
// its meters and the views above it. The program's scheduler runs on the Qt
// event loop (MainLoopScheduler); tests use a virtual one whose time moves only
// when the test says, so a 10 s timer runs without waiting.
//
// Every timer runs its task on the main thread. A timer lives as long as its
// handle: dropping the handle cancels it, and a cancelled task never runs.
class Scheduler {
public:
    using Task = std::function<void()>;

    class Timer {
    public:
        virtual ~Timer() = default;
    };
    using TimerRef = std::unique_ptr<Timer>;

    virtual ~Scheduler() = default;

    // Monotonic seconds.
    virtual double now() const = 0;
    // Runs the task on the main thread after what is already queued. Any thread.
    virtual void post(Task task) = 0;
    // Runs the task once, `seconds` from now. Main thread.
    [[nodiscard]] virtual TimerRef after(double seconds, Task task) = 0;
    // Runs the task every `seconds`, first `seconds` from now; `tolerance` is how
    // late a firing may be to save power. Main thread.
    [[nodiscard]] virtual TimerRef every(double seconds, double tolerance, Task task) = 0;
};

} // namespace corvessa
