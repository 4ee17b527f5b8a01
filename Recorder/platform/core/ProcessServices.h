#pragma once

#include <functional>

namespace corvessa {

// How the process-wide services end. Each registers its end when it is
// created; main runs them all, in the reverse order of creation, while the
// application object still exists. Nothing holding Qt objects, X or bus
// connections, bitmaps or locks is then left for the C runtime's clean-up
// after main returns, where it would outlive the objects it uses. The list
// itself is guarded by a lock; the ends run on the main thread.
class ProcessServices {
public:
    // `end` releases what the service holds; the service may be created again later.
    static void atEnd(std::function<void()> end);
    // Runs every end registered so far, the latest first, including ends
    // registered while it runs.
    static void endAll();

    // Ends them all when it goes out of scope: main keeps one right after the
    // application object, so that every way out of main passes through it.
    class Scope {
    public:
        Scope() = default;
        ~Scope() { endAll(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
    };
};

} // namespace corvessa
