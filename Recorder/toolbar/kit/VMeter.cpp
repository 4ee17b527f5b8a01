#include "toolbar/kit/VMeter.h"

#include <QPainter>

#include <algorithm>

namespace corvessa {

VMeter::VMeter(Meters& meters, bool isMic, bool muted, bool active, QWidget* parent)
    : MeterView(meters, isMic, muted, active, parent)
{
    setFixedSize(sizeHint());
}

double VMeter::fillHeight(double x)
{
    if (!(x > 0))
        return minFill;
    return std::clamp(x * barHeight, minFill, barHeight);
}

QRectF VMeter::fillRect() const
{
    if (!isActive())
        return {};
    const double h = fillHeight(shownLevel());
    return QRectF(0, barHeight - h, barWidth, h);
}

QColor VMeter::fillColour() const
{
    if (isMuted())
        return withOpacity(orange(), 0.5);
    const double x = shownLevel();
    return clipLit() ? red() : levelColour(x);
}

QColor VMeter::trackColour() const
{
    return primary(isActive() ? 0.26 : 0.18);
}

QSize VMeter::sizeHint() const
{
    return QSize(int(barWidth), int(barHeight));
}

void VMeter::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    const double r = barWidth / 2;
    p.setBrush(trackColour());
    p.drawRoundedRect(QRectF(0, 0, barWidth, barHeight), r, r);
    if (const QRectF fill = fillRect(); !fill.isEmpty()) {
        p.setBrush(fillColour());
        p.drawRoundedRect(fill, r, std::min(r, fill.height() / 2));
    }
}

} // namespace corvessa
