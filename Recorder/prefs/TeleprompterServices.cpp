#include "prefs/TeleprompterServices.h"

#include "platform/core/UserDefaults.h"

namespace corvessa {

namespace {

TeleprompterServices* g_shared = nullptr;

double stored(const QString& key, double fallback)
{
    return UserDefaults::standard().doubleValue(key).value_or(fallback);
}

void store(const QString& key, double value)
{
    UserDefaults::standard().setDouble(key, value);
}

} // namespace

TeleprompterServices* TeleprompterServices::shared()
{
    return g_shared;
}

void TeleprompterServices::setShared(TeleprompterServices* services)
{
    g_shared = services;
}

double TeleprompterServices::currentSpeed()
{
    return g_shared ? g_shared->speed() : stored(speedKey, defaultSpeed);
}

double TeleprompterServices::currentOpacity()
{
    return g_shared ? g_shared->opacity() : stored(opacityKey, defaultOpacity);
}

double TeleprompterServices::currentFontSize()
{
    return g_shared ? g_shared->fontSize() : stored(fontSizeKey, defaultFontSize);
}

void TeleprompterServices::assignSpeed(double value)
{
    if (g_shared)
        g_shared->setSpeed(value);
    else
        store(speedKey, value);
}

void TeleprompterServices::assignOpacity(double value)
{
    if (g_shared)
        g_shared->setOpacity(value);
    else
        store(opacityKey, value);
}

void TeleprompterServices::assignFontSize(double value)
{
    if (g_shared)
        g_shared->setFontSize(value);
    else
        store(fontSizeKey, value);
}

} // namespace corvessa
