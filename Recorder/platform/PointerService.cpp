#include "platform/PointerService.h"

#include "platform/synthetic/SyntheticPointerService.h"
#include "platform/x11/X11PointerService.h"

#include <mutex>

namespace corvessa {

namespace {

struct CurrentService {
    std::mutex mutex;
    std::shared_ptr<PointerService> service;
};

CurrentService& currentService()
{
    static CurrentService c;
    return c;
}

} // namespace

bool CursorImage::isPlainArrow() const
{
    return PointerService::isPlainArrowName(name);
}

bool PointerService::isPlainArrowName(const QString& name)
{
    // Names of the arrow across cursor themes: X core and freedesktop, CSS, and old themes.
    return name == QLatin1String("left_ptr") || name == QLatin1String("default") || name == QLatin1String("arrow") ||
           name == QLatin1String("top_left_arrow");
}

std::shared_ptr<PointerService> PointerService::current()
{
    CurrentService& c = currentService();
    std::lock_guard lock(c.mutex);
    if (!c.service) {
        if (X11PointerService::isAvailable())
            c.service = std::make_shared<X11PointerService>();
        else
            c.service = std::make_shared<SyntheticPointerService>();
    }
    return c.service;
}

void PointerService::setCurrent(std::shared_ptr<PointerService> service)
{
    CurrentService& c = currentService();
    std::lock_guard lock(c.mutex);
    c.service = std::move(service);
}

} // namespace corvessa
