#include "toolbar/GainSliderRow.h"

#include "model/GainMap.h"
#include "toolbar/FloatingMenuView.h"
#include "toolbar/kit/GainSlider.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace corvessa {

GainSliderRow::GainSliderRow(const QString& title, const std::function<double()>& get,
                             std::function<void(double)> set, QWidget* parent)
    : QWidget(parent)
    , m_set(std::move(set))
    , m_pos(GainSlider::position(get ? get() : 0))
    , m_title(FloatingMenuView::secondaryLabel(title, titlePoints, this))
    , m_slider(new QSlider(Qt::Horizontal, this))
    , m_value(new QLabel(this))
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(padX, padY, padX, padY);
    column->setSpacing(titleSpacing);
    column->addWidget(m_title, 0, Qt::AlignLeft);
    auto* line = new QHBoxLayout;
    line->setSpacing(spacing);
    line->addWidget(m_slider, 0, Qt::AlignVCenter);
    line->addWidget(m_value, 0, Qt::AlignVCenter);
    column->addLayout(line);

    m_slider->setRange(-GainSlider::resolution, GainSlider::resolution);
    m_slider->setFixedWidth(sliderWidth);
    m_slider->setFocusPolicy(Qt::NoFocus);
    m_slider->setValue(int(std::lround(m_pos * GainSlider::resolution)));

    m_value->setFont(FloatingMenuView::textFont(titlePoints, true));
    m_value->setFixedWidth(valueWidth);
    m_value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_value->setText(GainSlider::valueText(GainMap::dB(m_pos)));

    connect(m_slider, &QSlider::valueChanged, this, &GainSliderRow::moved);
}

void GainSliderRow::moved(int value)
{
    m_pos = double(value) / GainSlider::resolution;
    const double dB = GainMap::dB(m_pos);
    m_value->setText(GainSlider::valueText(dB));
    if (m_set)
        m_set(dB);
}

} // namespace corvessa
