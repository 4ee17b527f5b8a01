#pragma once

#include <QHashFunctions>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringView>

#include <cstddef>
#include <functional>
#include <optional>

namespace corvessa {

// A frame size in pixels.
struct VideoDimensions {
    int width = 0;
    int height = 0;

    // Each side of a parsed size id lies in this range.
    static constexpr int minimumIdSide = 2;
    static constexpr int maximumIdSide = 8192;
    // A long side from this on is titled "4K".
    static constexpr int fourKLongSide = 3840;

    int shortSide() const { return width < height ? width : height; }
    int longSide() const { return width < height ? height : width; }
    qint64 area() const { return qint64(width) * height; }

    // "1920x1080".
    QString id() const;
    // The inverse of id(): two whole numbers split by "x" (empty pieces between
    // repeated "x" are dropped), each side in 2...8192. Nothing otherwise.
    static std::optional<VideoDimensions> fromId(QStringView id);

    // Menu text of a camera size: "1080p · 1920×1080", "4K · 3840×2160".
    QString title() const;

    // {"width": w, "height": h}; both must be whole numbers when decoding.
    QJsonObject toJson() const;
    static std::optional<VideoDimensions> fromJson(const QJsonValue& value);

    bool operator==(const VideoDimensions&) const = default;
};

inline size_t qHash(const VideoDimensions& d, size_t seed = 0) noexcept
{
    return qHashMulti(seed, d.width, d.height);
}

} // namespace corvessa

template <>
struct std::hash<corvessa::VideoDimensions> {
    size_t operator()(const corvessa::VideoDimensions& d) const noexcept { return corvessa::qHash(d); }
};
