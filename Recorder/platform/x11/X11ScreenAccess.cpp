#include "platform/x11/X11ScreenAccess.h"

#include "platform/x11/X11CaptureDisplay.h"

namespace corvessa {

Permissions::Access X11ScreenAccess::probe(const QString& displayName)
{
    X11CaptureDisplay display;
    return display.open(displayName) ? Permissions::Access::denied : Permissions::Access::granted;
}

} // namespace corvessa
