#include "platform/x11/X11ErrorTrap.h"

#include <condition_variable>
#include <mutex>
#include <unordered_map>

#include <X11/Xlib.h>

namespace corvessa {

namespace {

// The traps in force, one per connection, and the handler that was installed
// before the first of them. The lock is held only for bookkeeping, never while
// the server is asked something.
std::mutex s_mutex;
std::condition_variable s_released; // a connection's trap ended
std::unordered_map<Display*, X11ErrorTrap*> s_traps;
XErrorHandler s_previous = nullptr;

} // namespace

// Whether a trap on `display` took the error.
int recordTrappedError(Display* display, int code)
{
    std::lock_guard lock(s_mutex);
    const auto it = s_traps.find(display);
    if (it == s_traps.end() || !it->second) // none, or one still syncing what came before it
        return 0;
    X11ErrorTrap& trap = *it->second;
    if (trap.m_firstError == 0)
        trap.m_firstError = code;
    ++trap.m_errors;
    return 1;
}

namespace {

int handleError(Display* display, XErrorEvent* event)
{
    if (recordTrappedError(display, event->error_code))
        return 0;
    XErrorHandler previous = nullptr;
    {
        std::lock_guard lock(s_mutex);
        previous = s_previous;
    }
    return previous ? previous(display, event) : 0;
}

} // namespace

X11ErrorTrap::X11ErrorTrap(_XDisplay* display) : m_display(display)
{
    {
        std::unique_lock lock(s_mutex);
        s_released.wait(lock, [&] { return !s_traps.contains(display); });
        // Claimed before the sync, so no other thread traps this connection meanwhile.
        s_traps.emplace(display, nullptr);
    }
    // Errors of requests sent before the trap are not ours to swallow.
    XSync(display, False);
    std::lock_guard lock(s_mutex);
    s_traps[display] = this;
    const XErrorHandler before = XSetErrorHandler(&handleError);
    if (before != &handleError)
        s_previous = before;
}

X11ErrorTrap::~X11ErrorTrap()
{
    XSync(m_display, False);
    std::lock_guard lock(s_mutex);
    s_traps.erase(m_display);
    if (s_traps.empty()) {
        XSetErrorHandler(s_previous);
        s_previous = nullptr;
    }
    s_released.notify_all();
}

int X11ErrorTrap::sync()
{
    XSync(m_display, False);
    std::lock_guard lock(s_mutex);
    const int code = m_firstError;
    m_firstError = 0;
    return code;
}

int X11ErrorTrap::errorCount() const
{
    std::lock_guard lock(s_mutex);
    return m_errors;
}

} // namespace corvessa
