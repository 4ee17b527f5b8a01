#include "tools/PickerPaint.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

namespace corvessa {

namespace {

QFont textFont(double points)
{
    QFont font;
    font.setPointSizeF(points);
    font.setWeight(QFont::Medium);
    return font;
}

} // namespace

void PickerPaint::veil(QPainter& painter, const QRect& view, const QPixmap& backdrop)
{
    if (!backdrop.isNull())
        painter.drawPixmap(view, backdrop);
    painter.fillRect(view, QColor(0, 0, 0, int(0.35 * 255)));
}

void PickerPaint::hole(QPainter& painter, const QRect& view, const QRectF& hole, const QPixmap& backdrop)
{
    if (!backdrop.isNull()) {
        painter.save();
        painter.setClipRect(hole);
        painter.drawPixmap(view, backdrop);
        painter.restore();
        return;
    }
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(hole, QColor(0, 0, 0, 5));
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void PickerPaint::label(QPainter& painter, const QRectF& target, const QString& text)
{
    const QString padded = QLatin1Char(' ') + text + QLatin1Char(' ');
    const QFont font = textFont(13);
    const QFontMetricsF metrics(font);
    const QSizeF size(metrics.horizontalAdvance(padded), metrics.height());
    const QRectF box(target.left(), std::max(4.0, target.top() - 6 - (size.height() + 2)), size.width(),
                     size.height() + 2);
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(blue);
    painter.drawRoundedRect(box, 4, 4);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(box.left(), box.top() + 1, size.width(), size.height()), Qt::AlignLeft | Qt::AlignTop,
                     padded);
    painter.restore();
}

void PickerPaint::pill(QPainter& painter, double viewWidth, const QString& text)
{
    const QFont font = textFont(15);
    const QFontMetricsF metrics(font);
    const QSizeF size(metrics.horizontalAdvance(text), metrics.height());
    const QRectF pill(viewWidth / 2.0 - size.width() / 2 - 16, 64 - (size.height() + 14), size.width() + 32,
                      size.height() + 14);
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, int(0.55 * 255)));
    painter.drawRoundedRect(pill, 10, 10);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(pill.left() + 16, pill.top() + 7, size.width(), size.height()), Qt::AlignLeft | Qt::AlignTop,
                     text);
    painter.restore();
}

} // namespace corvessa
