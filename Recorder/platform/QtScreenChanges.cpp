#include "platform/QtScreenChanges.h"

#include <QGuiApplication>
#include <QScreen>

namespace corvessa {

void QtScreenChanges::follow(QObject* context, std::function<void()> changed)
{
    if (!qGuiApp)
        return;
    const auto watch = [context, changed](QScreen* screen) {
        QObject::connect(screen, &QScreen::availableGeometryChanged, context, changed);
        QObject::connect(screen, &QScreen::geometryChanged, context, changed);
    };
    QObject::connect(qGuiApp, &QGuiApplication::screenAdded, context, [watch, changed](QScreen* screen) {
        watch(screen);
        changed();
    });
    QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, context, changed);
    QObject::connect(qGuiApp, &QGuiApplication::primaryScreenChanged, context, changed);
    for (QScreen* screen : QGuiApplication::screens())
        watch(screen);
}

} // namespace corvessa
