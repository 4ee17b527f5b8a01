#pragma once

#include "platform/core/WorkItem.h"

#include <chrono>
#include <functional>

namespace corvessa {

// The main queue is the Qt event loop of the application's main thread.
//
// Without an application object there is no loop to hop to: async work is
// dropped with a warning on stderr (running it at once on the caller's thread
// would break the caller's assumptions about locks and threads), while sync
// runs the block at once, as the caller waits for it either way.
// Blocks must not throw; one that does is reported on stderr and the loop goes on.
class MainQueue {
public:
    // Runs the block on the main thread, after what is already queued there.
    static void async(std::function<void()> block);
    // Enqueues a work item; it is skipped if cancelled before its turn. A null item
    // throws std::invalid_argument.
    static void async(const WorkItemRef& item);
    // Runs the block on the main thread after a delay, never earlier. Callable from any thread.
    static void asyncAfter(std::chrono::milliseconds delay, std::function<void()> block);
    static void asyncAfter(std::chrono::milliseconds delay, const WorkItemRef& item);
    // Runs the block on the main thread and waits; runs it at once on the main thread.
    // An exception thrown by the block reaches the caller.
    static void sync(const std::function<void()>& block);
    static bool isCurrent();
};

} // namespace corvessa
