#include "settings/PenColourDot.h"

#include <QPainter>

namespace corvessa {

PenColourDot::PenColourDot(const QColor& colour, const QString& name, QWidget* parent)
    : QAbstractButton(parent)
    , m_colour(colour)
{
    setToolTip(name);
    setAccessibleName(name);
    setFixedSize(sizeHint());
}

void PenColourDot::setChosen(bool chosen)
{
    if (chosen == m_chosen)
        return;
    m_chosen = chosen;
    update();
}

void PenColourDot::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = QRectF(rect()).center();
    const double r = diameter / 2.0;
    QColor edge = palette().color(QPalette::WindowText);
    edge.setAlphaF(0.25);
    p.setPen(QPen(edge, 1));
    p.setBrush(m_colour);
    p.drawEllipse(centre, r, r);
    if (m_chosen) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 2.5));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(centre, r + 3, r + 3);
    }
}

} // namespace corvessa
