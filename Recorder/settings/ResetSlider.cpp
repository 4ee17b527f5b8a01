#include "settings/ResetSlider.h"

#include "prefs/Loc.h"
#include "settings/SliderLine.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include <cmath>

namespace corvessa {

namespace {

constexpr double kResetTolerance = 0.001;

} // namespace

ResetSlider::ResetSlider(std::function<double()> get, std::function<void(double)> set, Range range,
                         double resetValue, std::function<QString(double)> text, QWidget* parent)
    : QWidget(parent)
    , m_get(std::move(get))
    , m_set(std::move(set))
    , m_text(std::move(text))
    , m_range(range)
    , m_resetValue(resetValue)
{
    QHBoxLayout* line = SliderLine::layOut(this, m_slider, m_value);
    m_reset = new QPushButton(Loc::text(QStringLiteral("Reset")), this);
    line->addWidget(m_reset);
    line->addStretch();
    connect(m_slider, &QSlider::valueChanged, this, [this](int steps) {
        m_set(m_range.min + steps * m_range.step);
        refresh();
    });
    connect(m_reset, &QPushButton::clicked, this, [this] {
        m_set(m_resetValue);
        refresh();
    });
    setRange(range);
}

void ResetSlider::setRange(Range range)
{
    m_range = range;
    const QSignalBlocker block(m_slider);
    m_slider->setRange(0, int(std::lround((range.max - range.min) / range.step)));
    refresh();
}

void ResetSlider::refresh()
{
    const double value = m_get();
    SliderLine::showValue(m_slider, int(std::lround((value - m_range.min) / m_range.step)));
    m_value->setText(m_text(value));
    m_reset->setEnabled(!(std::abs(value - m_resetValue) <= kResetTolerance));
}

QString ResetSlider::shadowText(double value)
{
    return value < 0.01 ? Loc::text(QStringLiteral("None")) : percentText(value);
}

QString ResetSlider::percentText(double value)
{
    return QString::number(std::lround(value * 100)) + QLatin1Char('%');
}

} // namespace corvessa
