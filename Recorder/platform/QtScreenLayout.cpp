#include "platform/QtScreenLayout.h"

#include <QGuiApplication>
#include <QScreen>

namespace corvessa {

ScreenCoordinates QtScreenLayout::current()
{
    QScreen* primary = QGuiApplication::primaryScreen();
    std::vector<ScreenCoordinates::Screen> screens;
    for (QScreen* s : QGuiApplication::screens()) {
        const QRectF points(s->geometry());
        const double scale = s->devicePixelRatio();
        screens.push_back({QRectF(points.topLeft() * scale, points.size() * scale), points});
    }
    return ScreenCoordinates(primary ? QRectF(primary->geometry()) : QRectF(), std::move(screens));
}

} // namespace corvessa
