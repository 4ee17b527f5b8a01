#include "platform/x11/X11Compositing.h"

#include <QByteArray>
#include <QGuiApplication>

#include <X11/Xlib.h>

namespace corvessa {

bool X11Compositing::isActive()
{
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb"))
        return false;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    Display* display = x11 ? x11->display() : nullptr;
    if (!display)
        return false;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
    const Atom selection = XInternAtom(display, name.constData(), False);
    return XGetSelectionOwner(display, selection) != 0; // 0: None
}

} // namespace corvessa
