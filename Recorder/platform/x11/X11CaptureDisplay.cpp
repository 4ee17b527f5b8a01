#include "platform/x11/X11CaptureDisplay.h"

#include <X11/extensions/shape.h>

namespace corvessa {

std::optional<RecorderError> X11CaptureDisplay::open(const QString& displayName)
{
    m_connection = openX11Display(displayName);
    if (!m_connection) {
        return screenCaptureError(ScreenCaptureErrorCode::ServerUnavailable,
                                  QStringLiteral("Can't connect to the X display."));
    }
    Display* dpy = m_connection.get();
    m_screen = DefaultScreen(dpy);
    m_root = RootWindow(dpy, m_screen);
    m_rootVisual = DefaultVisual(dpy, m_screen);
    m_rootDepth = DefaultDepth(dpy, m_screen);

    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 4;
    if (!XCompositeQueryExtension(dpy, &event, &error) || !XCompositeQueryVersion(dpy, &major, &minor) ||
        (major == 0 && minor < 2)) {
        return screenCaptureError(ScreenCaptureErrorCode::ExtensionMissing,
                                  QStringLiteral("The X server has no Composite extension (0.2 or later)."));
    }
    major = 1;
    minor = 1;
    if (!XDamageQueryExtension(dpy, &m_damageEvent, &error) || !XDamageQueryVersion(dpy, &major, &minor)) {
        return screenCaptureError(ScreenCaptureErrorCode::ExtensionMissing,
                                  QStringLiteral("The X server has no Damage extension."));
    }
    major = 5;
    minor = 0;
    if (!XFixesQueryExtension(dpy, &m_fixesEvent, &error) || !XFixesQueryVersion(dpy, &major, &minor) || major < 2) {
        return screenCaptureError(ScreenCaptureErrorCode::ExtensionMissing,
                                  QStringLiteral("The X server has no XFixes extension (2.0 or later)."));
    }
    // Captured pixels are read as 32-bit BGRX.
    if (ImageByteOrder(dpy) != LSBFirst || (m_rootDepth != 24 && m_rootDepth != 32) ||
        m_rootVisual->red_mask != 0xff0000 || m_rootVisual->green_mask != 0xff00 || m_rootVisual->blue_mask != 0xff) {
        return screenCaptureError(ScreenCaptureErrorCode::StartFailed,
                                  QStringLiteral("The X display's pixel format is not supported (24-bit colour "
                                                 "in 32-bit little-endian pixels is needed)."));
    }
    m_shm = XShmQueryExtension(dpy);
    int randrError = 0;
    if (!XRRQueryExtension(dpy, &m_randrEvent, &randrError))
        m_randrEvent = -1;
    m_shapeEvent = XShapeQueryExtension(dpy, &event, &error) ? event : -1;
    return std::nullopt;
}

QSize X11CaptureDisplay::rootSize() const
{
    Display* dpy = m_connection.get();
    return QSize(DisplayWidth(dpy, m_screen), DisplayHeight(dpy, m_screen));
}

} // namespace corvessa
