#include "toolbar/kit/GlassPanel.h"

#include "toolbar/kit/GlassBackground.h"

#include <QGuiApplication>
#include <QPainter>

#include <algorithm>

namespace corvessa {

GlassPanel::GlassPanel(double cornerRadius, int margin, QWidget* parent)
    : QWidget(parent)
    , m_cornerRadius(cornerRadius)
    , m_margin(std::max(margin, 0))
    , m_baseOpacity(GlassBackground::opacity)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    setContentsMargins(m_margin, m_margin, m_margin, m_margin);
}

void GlassPanel::setBaseOpacity(double opacity)
{
    m_baseOpacity = opacity;
    m_card = QPixmap();
    update();
}

QRectF GlassPanel::cardRect() const
{
    return QRectF(rect()).adjusted(m_margin, m_margin, -m_margin, -m_margin);
}

void GlassPanel::paintEvent(QPaintEvent*)
{
    const double dpr = devicePixelRatioF();
    const qint64 palette = QGuiApplication::palette().cacheKey();
    if (m_card.isNull() || m_card.deviceIndependentSize() != QSizeF(size()) || m_card.devicePixelRatio() != dpr
        || m_cardPalette != palette) {
        m_card = QPixmap(size() * dpr);
        m_card.setDevicePixelRatio(dpr);
        m_card.fill(Qt::transparent);
        QPainter p(&m_card);
        GlassBackground::paint(p, cardRect(), m_cornerRadius, m_baseOpacity);
        m_cardPalette = palette;
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_card);
}

} // namespace corvessa
