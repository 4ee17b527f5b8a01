#include "toolbar/kit/MeterView.h"

#include "model/Meters.h"

namespace corvessa {

namespace {
// Secondary text is the primary colour at about half strength.
constexpr double secondaryStrength = 0.5;
} // namespace

MeterView::MeterView(Meters& meters, bool isMic, bool muted, bool active, QWidget* parent)
    : QWidget(parent)
    , m_meters(&meters)
    , m_isMic(isMic)
    , m_muted(muted)
    , m_active(active)
{
    connect(&meters, &Meters::changed, this, qOverload<>(&QWidget::update));
    connect(&meters, &Meters::tick, this, qOverload<>(&QWidget::update));
}

void MeterView::setMuted(bool muted)
{
    if (m_muted == muted)
        return;
    m_muted = muted;
    // HMeter's lamp label changes with it.
    updateGeometry();
    update();
}

void MeterView::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    update();
}

ChannelMeter MeterView::meter() const
{
    return m_meters ? m_meters->meter(m_isMic) : ChannelMeter::silent();
}

float MeterView::shownLevel() const
{
    const ChannelMeter m = meter();
    return m_muted ? m.preNorm : m.norm;
}

bool MeterView::clipLit() const
{
    return m_meters && meter().clipLit(m_meters->now());
}

QColor MeterView::orange()
{
    return QColor::fromRgbF(1.0f, 0.584f, 0.0f);
}

QColor MeterView::red()
{
    return QColor::fromRgbF(1.0f, 0.231f, 0.188f);
}

QColor MeterView::yellow()
{
    return QColor::fromRgbF(1.0f, 0.8f, 0.0f);
}

QColor MeterView::green()
{
    return QColor::fromRgbF(0.204f, 0.78f, 0.349f);
}

QColor MeterView::levelColour(double g)
{
    if (g > 0.9)
        return red();
    if (g > 0.7)
        return yellow();
    return green();
}

QColor MeterView::withOpacity(QColor c, double opacity)
{
    c.setAlphaF(float(c.alphaF() * opacity));
    return c;
}

QColor MeterView::primary(double opacity) const
{
    return withOpacity(palette().color(QPalette::WindowText), opacity);
}

QColor MeterView::secondary(double opacity) const
{
    return primary(secondaryStrength * opacity);
}

} // namespace corvessa
