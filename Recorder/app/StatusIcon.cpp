#include "app/StatusIcon.h"
#include "toolbar/kit/GlassBackground.h"

#include <QPainter>
#include <QPalette>
#include <QPixmap>

namespace corvessa {

namespace {

QIcon glyph(const QColor& colour)
{
    const QImage shape = StatusIcon::mask();
    QIcon icon;
    for (const qreal scale : {1.0, 2.0})
        icon.addPixmap(QPixmap::fromImage(StatusIcon::make(colour, scale, shape)));
    return icon;
}

} // namespace

QImage StatusIcon::mask()
{
    static const QImage image = QImage(maskPath).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return image;
}

QColor StatusIcon::inkColour(bool dark)
{
    return dark ? QColor(Qt::white) : QColor(Qt::black);
}

QColor StatusIcon::recordingColour()
{
    return QColor(255, 59, 48);
}

QImage StatusIcon::make(const QColor& colour, qreal scale, const QImage& mask)
{
    const int side = qRound(points * scale);
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF whole(0, 0, side, side);
    if (mask.isNull()) {
        const qreal inset = 2 * scale;
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawEllipse(whole.adjusted(inset, inset, -inset, -inset));
    } else {
        // The mask's alpha, then the colour kept only where it is.
        p.drawImage(whole, mask);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(whole, colour);
    }
    p.end();
    image.setDevicePixelRatio(scale);
    return image;
}

QIcon StatusIcon::idle()
{
    static const QIcon light = glyph(inkColour(false));
    static const QIcon dark = glyph(inkColour(true));
    return GlassBackground::darkPalette() ? dark : light;
}

QIcon StatusIcon::rec()
{
    static const QIcon red = glyph(recordingColour());
    return red;
}

} // namespace corvessa
