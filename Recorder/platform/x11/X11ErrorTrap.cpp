#include "platform/x11/X11ErrorTrap.h"

#include <mutex>

#include <X11/Xlib.h>

namespace corvessa {

namespace {

// Shared by every trap: the handler is global to the process.
std::mutex s_mutex;
Display* s_display = nullptr;
XErrorHandler s_previous = nullptr;
int s_firstError = 0;
int s_errors = 0;

int handleError(Display* display, XErrorEvent* event)
{
    if (display == s_display) {
        if (s_firstError == 0)
            s_firstError = event->error_code;
        ++s_errors;
        return 0;
    }
    return s_previous ? s_previous(display, event) : 0;
}

} // namespace

X11ErrorTrap::X11ErrorTrap(_XDisplay* display)
{
    s_mutex.lock();
    // Errors of requests sent before the trap are not ours to swallow.
    XSync(display, False);
    s_display = display;
    s_firstError = 0;
    s_errors = 0;
    s_previous = XSetErrorHandler(&handleError);
}

X11ErrorTrap::~X11ErrorTrap()
{
    XSync(s_display, False);
    XSetErrorHandler(s_previous);
    s_display = nullptr;
    s_previous = nullptr;
    s_mutex.unlock();
}

int X11ErrorTrap::sync()
{
    XSync(s_display, False);
    const int code = s_firstError;
    s_firstError = 0;
    return code;
}

int X11ErrorTrap::errorCount() const
{
    return s_errors;
}

} // namespace corvessa
