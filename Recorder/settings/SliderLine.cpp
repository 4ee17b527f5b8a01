#include "settings/SliderLine.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>

namespace corvessa {

QWidget* SliderLine::make(QSlider*& slider, QLabel*& value, QWidget* parent, int valueWidth, bool stretch)
{
    auto* box = new QWidget(parent);
    QHBoxLayout* line = layOut(box, slider, value, valueWidth);
    if (stretch)
        line->addStretch();
    return box;
}

QHBoxLayout* SliderLine::layOut(QWidget* box, QSlider*& slider, QLabel*& value, int valueWidth)
{
    auto* line = new QHBoxLayout(box);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(10);
    slider = new QSlider(Qt::Horizontal, box);
    slider->setFixedWidth(sliderWidth);
    value = new QLabel(box);
    value->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    value->setFixedWidth(valueWidth);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    line->addWidget(slider);
    line->addWidget(value);
    return line;
}

void SliderLine::showValue(QSlider* slider, int position)
{
    if (slider->isSliderDown())
        return;
    const QSignalBlocker block(slider);
    slider->setValue(position);
}

} // namespace corvessa
