#include "tools/ZoomBadge.h"

#include <QFontMetricsF>
#include <QPainter>

namespace corvessa {

ZoomBadge::ZoomBadge(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    QFont bold = font();
    bold.setPointSizeF(20);
    bold.setWeight(QFont::DemiBold);
    setFont(bold);
}

void ZoomBadge::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    update();
}

double ZoomBadge::textWidth(const QString& text) const
{
    return QFontMetricsF(font()).horizontalAdvance(text);
}

void ZoomBadge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, int(cardAlpha * 255)));
    painter.drawRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    painter.setPen(Qt::white);
    painter.drawText(rect(), Qt::AlignCenter, m_text);
}

} // namespace corvessa
