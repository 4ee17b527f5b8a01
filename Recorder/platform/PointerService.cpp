#include "platform/PointerService.h"

namespace corvessa {

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

} // namespace corvessa
