#include "tools/LensOutlineView.h"

#include <QPainter>

namespace corvessa {

namespace {

const QColor kOrange(255, 149, 0);

QColor withAlpha(QColor c, double alpha)
{
    c.setAlphaF(float(alpha));
    return c;
}

} // namespace

LensOutlineView::LensOutlineView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
}

void LensOutlineView::setArmed(bool armed)
{
    if (armed == m_armed)
        return;
    m_armed = armed;
    ++m_recolours;
    update();
}

QColor LensOutlineView::fill() const
{
    return m_armed ? withAlpha(kOrange, 0.12) : withAlpha(QColor(128, 128, 128), 0.22);
}

QColor LensOutlineView::rim() const
{
    return m_armed ? withAlpha(kOrange, 0.9) : withAlpha(Qt::white, 0.55);
}

void LensOutlineView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    const double inset = rimWidth / 2;
    painter.setPen(QPen(rim(), rimWidth));
    painter.setBrush(fill());
    painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), cornerRadius, cornerRadius);
}

} // namespace corvessa
