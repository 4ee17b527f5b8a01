#include "platform/x11/X11ErrorTrap.h"

#include <mutex>
#include <unordered_map>

#include <X11/Xlib.h>

namespace corvessa {

// The traps now set, by connection. The lock guards the table and the counts
// only; it is never held across a call that waits for the server.
struct X11ErrorTraps {
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static std::unordered_map<Display*, X11ErrorTrap*>& innermost()
    {
        static std::unordered_map<Display*, X11ErrorTrap*> table;
        return table;
    }
    static XErrorHandler& previous()
    {
        static XErrorHandler handler = nullptr;
        return handler;
    }

    static int handle(Display* display, XErrorEvent* event)
    {
        XErrorHandler forward = nullptr;
        {
            std::lock_guard lock(mutex());
            const auto it = innermost().find(display);
            if (it != innermost().end()) {
                X11ErrorTrap& trap = *it->second;
                if (trap.m_firstError == 0)
                    trap.m_firstError = event->error_code;
                ++trap.m_errors;
                return 0;
            }
            forward = previous();
        }
        return forward ? forward(display, event) : 0;
    }

    static void set(X11ErrorTrap* trap)
    {
        std::lock_guard lock(mutex());
        // Ours stays installed; another one set meanwhile is what we forward to.
        const XErrorHandler current = XSetErrorHandler(&handle);
        if (current != &handle)
            previous() = current;
        X11ErrorTrap*& slot = innermost()[trap->m_display];
        trap->m_outer = slot;
        slot = trap;
    }

    static void unset(X11ErrorTrap* trap)
    {
        std::lock_guard lock(mutex());
        if (trap->m_outer)
            innermost()[trap->m_display] = trap->m_outer;
        else
            innermost().erase(trap->m_display);
    }

    // The counts are written by the handler, which runs on the trap's own thread.
    static int takeFirstError(X11ErrorTrap* trap)
    {
        std::lock_guard lock(mutex());
        const int code = trap->m_firstError;
        trap->m_firstError = 0;
        return code;
    }
};

X11ErrorTrap::X11ErrorTrap(_XDisplay* display) : m_display(display)
{
    // Errors of requests sent before the trap are not ours to swallow.
    XSync(display, False);
    X11ErrorTraps::set(this);
}

X11ErrorTrap::~X11ErrorTrap()
{
    XSync(m_display, False);
    X11ErrorTraps::unset(this);
}

int X11ErrorTrap::sync()
{
    XSync(m_display, False);
    return X11ErrorTraps::takeFirstError(this);
}

int X11ErrorTrap::errorCount() const
{
    std::lock_guard lock(X11ErrorTraps::mutex());
    return m_errors;
}

} // namespace corvessa
