#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

namespace corvessa {

// One remembered format of a camera or a screen capture target.
struct VideoDeviceChoice {
    // Camera: a size id such as "1280x720". Screen: a short side in decimal, "0"
    // meaning native size.
    QString resolution;
    double frameRate = 0; // frames per second

    static constexpr double minimumFrameRate = 0.1;
    static constexpr double maximumFrameRate = 120;

    // A finite frame rate in 0.1...120.
    bool isValid() const;

    // {"resolution": text, "frameRate": number}; both are required when decoding.
    QJsonObject toJson() const;
    static std::optional<VideoDeviceChoice> fromJson(const QJsonValue& value);

    bool operator==(const VideoDeviceChoice&) const = default;
};

} // namespace corvessa
