#include "capture/VideoDeviceChoice.h"

#include <cmath>

namespace corvessa {

bool VideoDeviceChoice::isValid() const
{
    return std::isfinite(frameRate) && frameRate >= minimumFrameRate && frameRate <= maximumFrameRate;
}

QJsonObject VideoDeviceChoice::toJson() const
{
    return QJsonObject{{QStringLiteral("resolution"), resolution}, {QStringLiteral("frameRate"), frameRate}};
}

std::optional<VideoDeviceChoice> VideoDeviceChoice::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue resolution = object.value(QStringLiteral("resolution"));
    const QJsonValue frameRate = object.value(QStringLiteral("frameRate"));
    if (!resolution.isString() || !frameRate.isDouble())
        return std::nullopt;
    return VideoDeviceChoice{resolution.toString(), frameRate.toDouble()};
}

} // namespace corvessa
