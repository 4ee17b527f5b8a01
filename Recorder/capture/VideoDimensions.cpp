#include "capture/VideoDimensions.h"

#include "capture/DecimalInteger.h"

#include <QList>

#include <cmath>
#include <limits>

namespace corvessa {

namespace {

std::optional<int> wholeNumber(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d != std::trunc(d) || d < std::numeric_limits<int>::min() ||
        d > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(d);
}

} // namespace

QString VideoDimensions::id() const
{
    return QString::number(width) + u'x' + QString::number(height);
}

std::optional<VideoDimensions> VideoDimensions::fromId(QStringView id)
{
    const QList<QStringView> pieces = id.split(u'x', Qt::SkipEmptyParts);
    if (pieces.size() != 2)
        return std::nullopt;
    const auto w = parseDecimalInteger(pieces[0]);
    const auto h = parseDecimalInteger(pieces[1]);
    auto inRange = [](const std::optional<int64_t>& v) {
        return v && *v >= minimumIdSide && *v <= maximumIdSide;
    };
    if (!inRange(w) || !inRange(h))
        return std::nullopt;
    return VideoDimensions{int(*w), int(*h)};
}

QString VideoDimensions::title() const
{
    const QString prefix =
        longSide() >= fourKLongSide ? QStringLiteral("4K") : QString::number(shortSide()) + u'p';
    return prefix + QStringLiteral(" \u00B7 ") + QString::number(width) + u'\u00D7' + QString::number(height);
}

QJsonObject VideoDimensions::toJson() const
{
    return QJsonObject{{QStringLiteral("width"), width}, {QStringLiteral("height"), height}};
}

std::optional<VideoDimensions> VideoDimensions::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const auto w = wholeNumber(object.value(QStringLiteral("width")));
    const auto h = wholeNumber(object.value(QStringLiteral("height")));
    if (!w || !h)
        return std::nullopt;
    return VideoDimensions{*w, *h};
}

} // namespace corvessa
