#include "toolbar/kit/HMeter.h"

#include "model/Meters.h"
#include "prefs/Loc.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace corvessa {

HMeter::HMeter(Meters& meters, bool isMic, bool muted, int segs, QWidget* parent)
    : MeterView(meters, isMic, muted, true, parent)
    , m_segs(std::clamp(segs, 0, maxSegs))
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // The meter is what tells of clipping; its tip names it, with no key.
    setToolTip(Loc::text(QStringLiteral("Audio Clipping")));
}

bool HMeter::segmentLit(int i, int segs, double x)
{
    if (segs <= 0 || i < 0 || i >= segs)
        return false;
    return x + 0.001 >= double(i + 1) / segs;
}

QColor HMeter::segmentColour(int i) const
{
    if (!segmentLit(i, m_segs, shownLevel()))
        return primary(0.14);
    if (isMuted())
        return withOpacity(orange(), 0.5);
    return levelColour(double(i + 1) / m_segs);
}

double HMeter::stripWidth() const
{
    return m_segs > 0 ? m_segs * segmentWidth + (m_segs - 1) * segmentSpacing : 0;
}

QFont HMeter::lampFont() const
{
    QFont f = font();
    f.setPixelSize(lampFontSize);
    f.setWeight(QFont::ExtraBold);
    return f;
}

QString HMeter::lampText() const
{
    return isMuted() ? Loc::text(QStringLiteral("MUTE")) : Loc::text(QStringLiteral("OVER"));
}

QSizeF HMeter::lampSize() const
{
    const QFontMetricsF fm(lampFont());
    return QSizeF(std::ceil(fm.horizontalAdvance(lampText())) + 2 * lampPadX, std::ceil(fm.height()) + 2 * lampPadY);
}

QSize HMeter::sizeHint() const
{
    const QSizeF lamp = lampSize();
    const double gap = m_segs > 0 ? lampSpacing : 0;
    return QSize(int(std::ceil(stripWidth() + gap + lamp.width())),
                 int(std::ceil(std::max(segmentHeight, lamp.height()))));
}

QRectF HMeter::segmentRect(int i) const
{
    return QRectF(i * (segmentWidth + segmentSpacing), (height() - segmentHeight) / 2, segmentWidth, segmentHeight);
}

QRectF HMeter::lampRect() const
{
    const QSizeF lamp = lampSize();
    const double gap = m_segs > 0 ? lampSpacing : 0;
    return QRectF(QPointF(stripWidth() + gap, (height() - lamp.height()) / 2), lamp);
}

QColor HMeter::lampColour() const
{
    if (isMuted())
        return orange();
    return clipLit() ? red() : primary(0.1);
}

QColor HMeter::lampTextColour() const
{
    return isMuted() || clipLit() ? QColor(Qt::white) : secondary(0.6);
}

void HMeter::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < m_segs; ++i) {
        p.setBrush(segmentColour(i));
        p.drawRoundedRect(segmentRect(i), segmentRadius, segmentRadius);
    }
    const QRectF lamp = lampRect();
    p.setBrush(lampColour());
    p.drawRoundedRect(lamp, lampRadius, lampRadius);
    p.setFont(lampFont());
    p.setPen(lampTextColour());
    p.drawText(lamp, Qt::AlignCenter | Qt::TextSingleLine, lampText());
}

void HMeter::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

// A click, not a press, so a press dragged off the meter changes nothing.
void HMeter::mouseReleaseEvent(QMouseEvent* event)
{
    const bool tap = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (tap && meters())
        meters()->clearClip(isMic());
}

} // namespace corvessa
