#include "platform/x11/X11Compositing.h"

#include "platform/x11/X11QtConnection.h"

#include <QByteArray>

#include <X11/Xlib.h>

namespace corvessa {

bool X11Compositing::isActive()
{
    Display* display = X11QtConnection::display();
    if (!display)
        return false;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
    const Atom selection = XInternAtom(display, name.constData(), False);
    return XGetSelectionOwner(display, selection) != 0; // 0: None
}

} // namespace corvessa
