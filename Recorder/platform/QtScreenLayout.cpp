#include "platform/QtScreenLayout.h"

#include <QGuiApplication>
#include <QScreen>

namespace corvessa {

ScreenCoordinates QtScreenLayout::current()
{
    if (!qGuiApp || !QGuiApplication::primaryScreen())
        return {};
    // Qt keeps a screen's top-left corner where its pixels start and scales
    // from there, so each screen's pixels are its point frame grown by its ratio.
    std::vector<ScreenCoordinates::Screen> screens;
    for (const QScreen* s : QGuiApplication::screens()) {
        const QRectF points(s->geometry());
        screens.push_back({QRectF(points.topLeft(), points.size() * s->devicePixelRatio()), points});
    }
    return ScreenCoordinates(QRectF(QGuiApplication::primaryScreen()->geometry()), std::move(screens));
}

} // namespace corvessa
