#include "toolbar/kit/GainSlider.h"

#include "model/GainMap.h"
#include "prefs/Loc.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <cmath>

namespace corvessa {

// The value text: double-clicking it resets the gain.
class GainSlider::ValueText final : public QLabel {
public:
    ValueText(std::function<void()> reset, QWidget* parent)
        : QLabel(parent)
        , m_reset(std::move(reset))
    {
    }

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton)
            m_reset();
        event->accept();
    }

private:
    std::function<void()> m_reset;
};

GainSlider::GainSlider(Get get, Set set, QWidget* parent)
    : QWidget(parent)
    , m_get(std::move(get))
    , m_set(std::move(set))
    , m_slider(new QSlider(Qt::Horizontal, this))
    , m_text(new ValueText([this] { write(0); }, this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(spacing);
    row->addWidget(m_slider, 0, Qt::AlignVCenter);
    row->addWidget(m_text, 0, Qt::AlignVCenter);

    m_slider->setRange(-resolution, resolution);
    m_slider->setFixedWidth(sliderWidth);
    m_slider->setSingleStep(resolution / 100);
    m_slider->setPageStep(resolution / 10);

    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(textFontSize);
    m_text->setFont(mono);
    m_text->setFixedWidth(textWidth);
    m_text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_text->setToolTip(Loc::text(QStringLiteral("Double-click to reset to 0 dB")));

    connect(m_slider, &QSlider::valueChanged, this, &GainSlider::moved);
    refresh();
}

double GainSlider::position(double dB)
{
    if (!(dB > GainMap::minDB))
        return -1;
    if (dB < 0)
        return dB / -GainMap::minDB;
    return std::min(dB / GainMap::maxDB, 1.0);
}

QString GainSlider::valueText(double dB)
{
    if (!(dB > GainMap::minDB))
        return Loc::text(QStringLiteral("Mute"));
    // +0.0, never -0.0, for unity; asprintf is locale-independent.
    return QString::asprintf("%+.1f dB", dB == 0 ? 0.0 : dB);
}

void GainSlider::refresh()
{
    const double dB = m_get ? m_get() : 0;
    {
        const QSignalBlocker quiet(m_slider);
        m_slider->setValue(int(std::lround(position(dB) * resolution)));
    }
    m_text->setText(valueText(dB));
    QPalette pal = m_text->palette();
    QColor colour = palette().color(QPalette::WindowText);
    // Unity is the resting value: it reads in the dimmer secondary style.
    if (dB == 0)
        colour.setAlphaF(0.5f);
    pal.setColor(QPalette::WindowText, colour);
    m_text->setPalette(pal);
}

void GainSlider::moved(int value)
{
    write(GainMap::dB(double(value) / resolution));
}

void GainSlider::write(double dB)
{
    if (m_set)
        m_set(dB);
    refresh();
}

} // namespace corvessa
