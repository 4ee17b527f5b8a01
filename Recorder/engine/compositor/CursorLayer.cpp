#include "engine/compositor/CursorLayer.h"

#include "engine/compositor/ShadowBlur.h"

#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <cmath>

namespace corvessa {

namespace {

// Shadow shape per unit of shadow size, going from button up (press 0) to down
// (press 1): blur 7 -> 3, drop 5 -> 0.8, vertical stretch 1.4 -> 1.2.
double blurRadius(double press) { return 7 - 4 * press; }
double dropDistance(double press) { return 5 - 4.2 * press; }
double stretch(double press) { return 0.4 - 0.2 * press; }
// Below this the shadow would not show.
constexpr double kMinShadowOpacity = 0.005;
// Below this a press does not tilt.
constexpr double kMinPress = 0.001;

// Whole pixels around `r`, and the hot spot (the origin of r's space) in them.
QRect pixelBounds(const QRectF& r)
{
    const int x0 = int(std::floor(r.left()));
    const int y0 = int(std::floor(r.top()));
    const int x1 = int(std::ceil(r.right()));
    const int y1 = int(std::ceil(r.bottom()));
    return QRect(x0, y0, std::max(x1 - x0, 1), std::max(y1 - y0, 1));
}

// Null when it cannot be had (out of memory).
QImage transparent(const QSize& size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (!image.isNull())
        image.fill(Qt::transparent);
    return image;
}

void drawWith(QImage& target, const QImage& picture, const QTransform& transform)
{
    QPainter p(&target);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setRenderHint(QPainter::Antialiasing);
    p.setTransform(transform);
    p.drawImage(QPointF(0, 0), picture);
}

int roundHalfAway(double v)
{
    return int(std::lround(v));
}

} // namespace

CursorLayer::Key CursorLayer::spriteKey(const CursorArt::Sprite& sprite, const Sprite& how)
{
    const int side = roundHalfAway(how.side);
    return {-1,
            sprite.image.cacheKey(),
            side,
            side,
            int(std::lround(16 * how.press)),
            how.plain,
            roundHalfAway(how.shadowSize),
            int(100 * how.shadowUp),
            int(100 * how.shadowDown),
            int(100 * how.pressAngle)};
}

CursorLayer::Key CursorLayer::shapeKey(int index, const QSizeF& size)
{
    return {index, 0, roundHalfAway(size.width()), roundHalfAway(size.height()), 0, true, 0, 0, 0, 0};
}

CursorLayer CursorLayer::sprite(const CursorArt::Sprite& sprite, const Sprite& how)
{
    const QImage& picture = sprite.image;
    if (picture.isNull() || !std::isfinite(how.side) || how.side <= 0)
        return {};
    const double w = picture.width();
    const double h = picture.height();
    const double s = how.side;
    const double m = std::clamp(std::isfinite(how.press) ? how.press : 0.0, 0.0, 1.0);

    // Output space, y down, with the hot spot at the origin.
    const QPointF hot(sprite.hot.x() * s, sprite.hot.y() * s);
    QTransform place = QTransform::fromScale(s / w, s / h) * QTransform::fromTranslate(-hot.x(), -hot.y());
    QPointF h0(0, 0);
    if (!how.plain && m > kMinPress) {
        // Counter-clockwise on screen is a negative angle with y pointing down.
        const QPointF pivot(sprite.pivot.x() * s - hot.x(), sprite.pivot.y() * s - hot.y());
        QTransform turn;
        turn.rotateRadians(-m * how.pressAngle);
        const QTransform tilt = QTransform::fromTranslate(-pivot.x(), -pivot.y()) * turn *
                                QTransform::fromTranslate(pivot.x(), pivot.y());
        place = place * tilt;
        h0 = tilt.map(QPointF(0, 0));
    }
    const QRectF extent = place.mapRect(QRectF(0, 0, w, h));

    const bool shadowed = !how.plain && std::max(how.shadowUp, how.shadowDown) > kMinShadowOpacity;
    if (!shadowed) {
        const QRect box = pixelBounds(extent);
        CursorLayer layer{transparent(box.size()), -box.topLeft()};
        if (layer.isNull())
            return {};
        drawWith(layer.image, picture, place * QTransform::fromTranslate(-box.left(), -box.top()));
        return layer;
    }

    const double alpha = std::clamp(how.shadowUp + m * (how.shadowDown - how.shadowUp), 0.0, 1.0);
    const double r = std::max(how.shadowSize, 0.0) * blurRadius(m);
    const double drop = std::max(how.shadowSize, 0.0) * dropDistance(m);
    const double q = stretch(m);
    // Down by the drop, then stretched downwards about the (tilted) hot spot.
    const QTransform fall = QTransform::fromTranslate(0, drop) * QTransform::fromTranslate(-h0.x(), -h0.y()) *
                            QTransform::fromScale(1, 1 + q) * QTransform::fromTranslate(h0.x(), h0.y());
    const QRectF reach = extent.united(extent.translated(0, drop + q * extent.height()))
                             .adjusted(-3 * r, -3 * r, 3 * r, 3 * r);
    const QRect box = pixelBounds(reach);
    const QTransform toBox = QTransform::fromTranslate(-box.left(), -box.top());

    // The silhouette: the sprite's coverage times the opacity, blurred, black.
    QImage silhouette = transparent(box.size());
    CursorLayer layer{transparent(box.size()), -box.topLeft()};
    if (silhouette.isNull() || layer.isNull())
        return {};
    drawWith(silhouette, picture, place * fall * toBox);
    std::vector<uint8_t> cover(size_t(box.width()) * size_t(box.height()));
    for (int y = 0; y < box.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(silhouette.constScanLine(y));
        for (int x = 0; x < box.width(); ++x)
            cover[size_t(y) * size_t(box.width()) + size_t(x)] = uint8_t(std::lround(qAlpha(row[x]) * alpha));
    }
    ShadowBlur::blur(cover.data(), box.width(), box.height(), box.width(), r);

    for (int y = 0; y < box.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(layer.image.scanLine(y));
        for (int x = 0; x < box.width(); ++x)
            row[x] = QRgb(cover[size_t(y) * size_t(box.width()) + size_t(x)]) << 24;
    }
    drawWith(layer.image, picture, place * toBox);
    return layer;
}

CursorLayer CursorLayer::shape(const MouseTrack::Shape& shape, const QSizeF& size)
{
    if (shape.image.isNull() || shape.size.isEmpty() || !std::isfinite(size.width()) || !std::isfinite(size.height())
        || size.width() <= 0 || size.height() <= 0)
        return {};
    const double fx = size.width() / shape.size.width();
    const double fy = size.height() / shape.size.height();
    // Image pixels to output pixels, with the hot spot (points from the top left) at the origin.
    const QTransform place = QTransform::fromScale(size.width() / shape.image.width(),
                                                   size.height() / shape.image.height()) *
                             QTransform::fromTranslate(-shape.hot.x() * fx, -shape.hot.y() * fy);
    const QRect box = pixelBounds(place.mapRect(QRectF(0, 0, shape.image.width(), shape.image.height())));
    CursorLayer layer{transparent(box.size()), -box.topLeft()};
    if (layer.isNull())
        return {};
    drawWith(layer.image, shape.image, place * QTransform::fromTranslate(-box.left(), -box.top()));
    return layer;
}

} // namespace corvessa
