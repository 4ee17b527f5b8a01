#include "platform/x11/X11QtConnection.h"

#include <QGuiApplication>

namespace corvessa {

_XDisplay* X11QtConnection::display()
{
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

} // namespace corvessa
