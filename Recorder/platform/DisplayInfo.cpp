#include "platform/DisplayInfo.h"

#include <cmath>

namespace corvessa {

QSize DisplayInfo::pixelSize() const
{
    return {int(std::lround(frame.width() * scale)), int(std::lround(frame.height() * scale))};
}

uint32_t DisplayInfo::idForName(const QString& outputName)
{
    uint32_t hash = 2166136261u;
    for (const char byte : outputName.toUtf8()) {
        hash ^= uint8_t(byte);
        hash *= 16777619u;
    }
    return hash;
}

} // namespace corvessa
