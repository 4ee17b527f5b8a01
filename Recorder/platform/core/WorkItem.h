#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace corvessa {

// A unit of work that can be cancelled before it runs. Cancelling a work item
// that is already running does not stop it; it only keeps it from running again
// (for repeating timers). Any thread: cancel() may race the queue that runs it.
class WorkItem {
public:
    explicit WorkItem(std::function<void()> block) : m_block(std::move(block)) {}

    void cancel() { m_cancelled.store(true, std::memory_order_release); }
    bool isCancelled() const { return m_cancelled.load(std::memory_order_acquire); }
    // Runs the block unless cancelled.
    void perform()
    {
        if (!isCancelled() && m_block)
            m_block();
    }

private:
    std::function<void()> m_block;
    std::atomic<bool> m_cancelled{false};
};

using WorkItemRef = std::shared_ptr<WorkItem>;

} // namespace corvessa
