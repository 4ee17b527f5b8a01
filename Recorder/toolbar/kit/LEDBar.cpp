#include "toolbar/kit/LEDBar.h"

#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace corvessa {

LEDBar::LEDBar(Meters& meters, bool isMic, bool muted, bool active, int count, QWidget* parent)
    : MeterView(meters, isMic, muted, active, parent)
    , m_count(std::clamp(count, 0, maxCount))
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

int LEDBar::litCount(double x, int count, bool active)
{
    if (!active || count <= 0 || !(x > 0))
        return 0;
    return int(std::min<double>(std::ceil(count * x), count));
}

int LEDBar::holdIndex(double hold, int count, bool active)
{
    if (!active || count <= 0 || !(hold > 0))
        return -1;
    return int(std::min<double>(std::ceil(count * hold) - 1, count - 1));
}

bool LEDBar::dotLit(int i) const
{
    return i < litCount(shownLevel(), m_count, isActive()) || i == holdIndex(meter().hold, m_count, isActive());
}

QColor LEDBar::dotColour(int i) const
{
    if (!dotLit(i))
        return primary(isActive() ? 0.3 : 0.18);
    return isMuted() ? orange() : levelColour(double(i + 1) / m_count);
}

QRectF LEDBar::dotRect(int i) const
{
    return QRectF(i * (dotSize + dotSpacing), (height() - dotSize) / 2, dotSize, dotSize);
}

QSize LEDBar::sizeHint() const
{
    const double w = m_count > 0 ? m_count * dotSize + (m_count - 1) * dotSpacing : 0;
    return QSize(int(std::ceil(w)), int(dotSize));
}

void LEDBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    // Glows first, so a neighbour's glow never covers a dot.
    for (int i = 0; i < m_count; ++i) {
        if (!dotLit(i))
            continue;
        const QRectF dot = dotRect(i);
        const double outer = dotSize / 2 + glowRadius;
        QRadialGradient glow(dot.center(), outer);
        const QColor c = dotColour(i);
        glow.setColorAt(dotSize / 2 / outer, withOpacity(c, glowOpacity));
        glow.setColorAt(1, withOpacity(c, 0));
        p.setBrush(glow);
        p.drawEllipse(dot.center(), outer, outer);
    }
    for (int i = 0; i < m_count; ++i) {
        p.setBrush(dotColour(i));
        p.drawEllipse(dotRect(i));
    }
}

} // namespace corvessa
