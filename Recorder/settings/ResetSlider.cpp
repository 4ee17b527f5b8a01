#include "settings/ResetSlider.h"

#include "prefs/Loc.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include <cmath>

namespace corvessa {

namespace {

constexpr int kSliderWidth = 200;
constexpr int kValueWidth = 52;
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
    auto* line = new QHBoxLayout(this);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(10);
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setFixedWidth(kSliderWidth);
    m_value = new QLabel(this);
    m_value->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_value->setFixedWidth(kValueWidth);
    m_value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_reset = new QPushButton(Loc::text(QStringLiteral("Reset")), this);
    line->addWidget(m_slider);
    line->addWidget(m_value);
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
    if (!m_slider->isSliderDown()) {
        const QSignalBlocker block(m_slider);
        m_slider->setValue(int(std::lround((value - m_range.min) / m_range.step)));
    }
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
