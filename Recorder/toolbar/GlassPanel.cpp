#include "toolbar/GlassPanel.h"

#include "toolbar/GlassBackground.h"

#include <QPainter>

#include <algorithm>

namespace corvessa {

GlassPanel::GlassPanel(double cornerRadius, int margin, QWidget* parent)
    : QWidget(parent)
    , m_cornerRadius(cornerRadius)
    , m_margin(std::max(margin, 0))
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    setContentsMargins(m_margin, m_margin, m_margin, m_margin);
}

QRectF GlassPanel::cardRect() const
{
    return QRectF(rect()).adjusted(m_margin, m_margin, -m_margin, -m_margin);
}

void GlassPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    GlassBackground::paint(painter, cardRect(), m_cornerRadius, m_seeThrough);
}

void GlassPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_seeThrough = GlassBackground::seesThrough(window());
}

void GlassPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_seeThrough = GlassBackground::seesThrough(window());
}

} // namespace corvessa
