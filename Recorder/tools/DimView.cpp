#include "tools/DimView.h"

#include <QPainter>
#include <QPainterPath>

namespace corvessa {

namespace {
// The outline: white at level 0.72, 60 % opaque.
QColor outlineColour(double alpha)
{
    QColor c = QColor::fromRgbF(0.72f, 0.72f, 0.72f);
    c.setAlphaF(float(alpha));
    return c;
}
} // namespace

DimView::DimView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAutoFillBackground(false);
}

void DimView::setHole(const std::optional<QRectF>& hole, double radius)
{
    m_hole = hole;
    m_radius = radius;
    update();
}

void DimView::setVeiled(bool veiled)
{
    if (m_veiled == veiled)
        return;
    m_veiled = veiled;
    update();
}

QRegion DimView::frameRegion(const QSize& bounds, const std::optional<QRectF>& hole)
{
    if (!hole || !hole->isValid())
        return {};
    const QRect inner = hole->toAlignedRect();
    const QRect outer = inner.adjusted(-frameWidth, -frameWidth, frameWidth, frameWidth);
    return (QRegion(outer) - QRegion(inner)) & QRegion(QRect(QPoint(0, 0), bounds));
}

void DimView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(rect(), Qt::transparent);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setRenderHint(QPainter::Antialiasing);

    if (!m_veiled) {
        // Only the frame band shows (the window's shape); a dark outer line keeps
        // it visible on light content.
        p.fillRect(rect(), outlineColour(1));
        if (m_hole) {
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(Qt::NoBrush);
            p.drawRect(m_hole->adjusted(-frameWidth + 0.5, -frameWidth + 0.5, frameWidth - 0.5, frameWidth - 0.5));
        }
        return;
    }

    QColor veil(Qt::black);
    veil.setAlphaF(float(veilAlpha));
    if (!m_hole) {
        p.fillRect(rect(), veil);
        return;
    }
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    path.addRect(QRectF(rect()));
    path.addRoundedRect(*m_hole, m_radius, m_radius);
    p.fillPath(path, veil);
    p.setPen(QPen(outlineColour(0.6), outlineWidth));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(*m_hole, m_radius, m_radius);
}

} // namespace corvessa
