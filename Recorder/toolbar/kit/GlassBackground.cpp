#include "toolbar/kit/GlassBackground.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <algorithm>
#include <cmath>

namespace corvessa {

namespace {

// Layers of the shadow: enough that the steps do not show at 1x or 2x.
constexpr int shadowLayers = 10;
// Darkness of the shadow right at the card's edge, fading to nothing outwards.
constexpr double shadowOpacity = 0.22;

QPainterPath cardPath(const QRectF& card, double radius)
{
    QPainterPath path;
    path.addRoundedRect(card, radius, radius);
    return path;
}

} // namespace

double GlassBackground::usableRadius(const QRectF& card, double cornerRadius)
{
    if (!(cornerRadius > 0))
        return 0;
    return std::min(cornerRadius, std::min(card.width(), card.height()) / 2);
}

bool GlassBackground::darkPalette()
{
    return QGuiApplication::palette().color(QPalette::Window).lightnessF() < 0.5;
}

// Without the blur of a real material, a nearly opaque base keeps text readable
// over any backdrop; the slight gradient gives the card its sheen.
QColor GlassBackground::baseTop(double baseOpacity)
{
    const auto a = float(baseOpacity);
    return darkPalette() ? QColor::fromRgbF(0.22f, 0.22f, 0.24f, a) : QColor::fromRgbF(0.98f, 0.98f, 0.99f, a);
}

QColor GlassBackground::baseBottom(double baseOpacity)
{
    const auto a = float(baseOpacity);
    return darkPalette() ? QColor::fromRgbF(0.16f, 0.16f, 0.18f, a) : QColor::fromRgbF(0.92f, 0.92f, 0.94f, a);
}

void GlassBackground::paint(QPainter& painter, const QRectF& card, double cornerRadius, double baseOpacity)
{
    if (!card.isValid() || card.isEmpty() || !std::isfinite(card.width()) || !std::isfinite(card.height()))
        return;
    const double radius = usableRadius(card, cornerRadius);
    const QPainterPath shape = cardPath(card, radius);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);

    // Shadow: rings growing outwards, each fainter, kept off the card itself so
    // it never darkens the translucent base.
    {
        QPainterPath outside;
        outside.addRect(card.adjusted(-2 * shadowExtent, -2 * shadowExtent, 2 * shadowExtent, 2 * shadowExtent));
        painter.save();
        painter.setClipPath(outside.subtracted(shape));
        painter.setPen(Qt::NoPen);
        const QRectF dropped = card.translated(0, shadowOffsetY);
        for (int i = shadowLayers; i >= 1; --i) {
            const double grow = shadowExtent * i / shadowLayers;
            const double fade = 1.0 - double(i - 1) / shadowLayers;
            // Every layer covers the ones outside it, so each adds only its share.
            painter.setBrush(QColor::fromRgbF(0, 0, 0, float(shadowOpacity * fade * fade / shadowLayers * 2.5)));
            painter.drawPath(cardPath(dropped.adjusted(-grow, -grow, grow, grow), radius + grow));
        }
        painter.restore();
    }

    QLinearGradient sheen(card.topLeft(), card.bottomLeft());
    sheen.setColorAt(0, baseTop(baseOpacity));
    sheen.setColorAt(1, baseBottom(baseOpacity));
    painter.fillPath(shape, sheen);

    QPen rim(QColor::fromRgbF(1, 1, 1, float(rimOpacity)), rimWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    rim.setMiterLimit(10);
    painter.strokePath(shape, rim);
    painter.restore();
}

} // namespace corvessa
