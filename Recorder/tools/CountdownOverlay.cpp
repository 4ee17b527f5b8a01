#include "tools/CountdownOverlay.h"

#include "platform/FloatingSurfaces.h"
#include "platform/core/ScreenCoordinates.h"
#include "tools/CountdownDigit.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>
#include <utility>

namespace corvessa {

CountdownOverlay::CountdownOverlay(std::function<bool()> compositingActive)
    : m_compositingActive(compositingActive ? std::move(compositingActive) : &FloatingSurfaces::compositingActive)
{
}

CountdownOverlay::~CountdownOverlay() = default;

QPoint CountdownOverlay::origin(const GlobalRect& frame, const QRectF& primary)
{
    const QPointF centre = ScreenCoordinates(primary).fromGlobal(frame).center();
    const double half = CountdownDigit::side / 2.0;
    return {int(std::lround(centre.x() - half)), int(std::lround(centre.y() - half))};
}

void CountdownOverlay::show(int n, const DisplayInfo& display)
{
    if (!m_window) {
        // Asked once per countdown: the mask choice holds for the window's life.
        m_window = std::make_unique<CountdownDigit>(!m_compositingActive());
        // Frameless and above everything, past the window manager, never
        // focused, and clicks fall through to whatever lies beneath (an empty
        // input shape on X).
        m_window->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                                 | Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus
                                 | Qt::WindowTransparentForInput);
        m_window->setAttribute(Qt::WA_TranslucentBackground);
        m_window->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_window->setAttribute(Qt::WA_ShowWithoutActivating);
    }
    QScreen* primary = QGuiApplication::primaryScreen();
    m_window->move(origin(display.frame, primary ? QRectF(primary->geometry()) : QRectF()));
    m_window->setNumber(n);
    m_window->show();
    m_window->raise();
}

void CountdownOverlay::hide()
{
    m_window.reset();
}

} // namespace corvessa
