#pragma once

#include "platform/core/WorkItem.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace corvessa {

// A serial dispatch queue: one thread runs blocks one after another in FIFO
// order. Delayed blocks and repeating timers run on the same thread, no earlier
// than their deadline and, where the queue is idle, within their leeway.
// Destroying the queue runs what is already due, drops what is not, and joins
// the thread (never from the queue's own thread: then it detaches the join).
// Blocks must not throw; one that does is reported on stderr and the queue goes on.
class SerialQueue {
public:
    using Clock = std::chrono::steady_clock;
    using Duration = std::chrono::nanoseconds;

    enum class QoS { Utility, UserInitiated, UserInteractive };

    explicit SerialQueue(std::string label, QoS qos = QoS::UserInitiated);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return m_label; }

    // Enqueues a block.
    void async(std::function<void()> block);
    // Enqueues a work item; it is skipped if cancelled before its turn. A null item
    // throws std::invalid_argument.
    void async(const WorkItemRef& item);
    // Runs a block on the queue and waits for it. Called on the queue itself, it
    // runs the block at once (so re-entrant use cannot deadlock). An exception
    // thrown by the block reaches the caller.
    void sync(const std::function<void()>& block);
    // Runs a block after `delay`; the returned item cancels it.
    WorkItemRef asyncAfter(Duration delay, std::function<void()> block, Duration leeway = Duration::zero());
    void asyncAfter(Duration delay, const WorkItemRef& item, Duration leeway = Duration::zero());

    // A repeating timer: first fire after `delay`, then every `interval`. Fires
    // that fall behind are coalesced (never a burst of catch-up fires). Cancel the
    // returned item to stop it. An interval that is not positive throws
    // std::invalid_argument.
    WorkItemRef scheduleTimer(Duration delay, Duration interval, std::function<void()> block,
                              Duration leeway = Duration::zero());

    // True when called from this queue's thread.
    bool isCurrent() const;

private:
    // Everything the thread touches lives here and is shared with it, so a queue
    // destroyed by one of its own blocks leaves the thread a valid state to finish on.
    struct State;
    static void run(const std::shared_ptr<State>& state);
    void schedule(Duration delay, Duration interval, Duration leeway, WorkItemRef item);

    const std::string m_label;
    const QoS m_qos;
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

} // namespace corvessa
