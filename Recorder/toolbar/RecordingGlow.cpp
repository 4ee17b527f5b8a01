#include "toolbar/RecordingGlow.h"

#include <QDateTime>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <cmath>
#include <numbers>

namespace corvessa {

RecordingGlow::RecordingGlow(QWidget* parent)
    : QWidget(parent)
    , m_timer(new QTimer(this))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    m_timer->setInterval(1000 / 24);
    connect(m_timer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void RecordingGlow::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    updateTimer();
    update();
}

double RecordingGlow::pulse(double t)
{
    return 0.5 + 0.5 * std::cos(2 * std::numbers::pi * t / period);
}

void RecordingGlow::showEvent(QShowEvent*)
{
    updateTimer();
}

void RecordingGlow::hideEvent(QHideEvent*)
{
    updateTimer();
}

void RecordingGlow::updateTimer()
{
    // A paused glow stands still, so nothing needs redrawing.
    if (isVisible() && !m_paused)
        m_timer->start();
    else
        m_timer->stop();
}

void RecordingGlow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    QPainterPath shape;
    shape.addRoundedRect(r, cornerRadius, cornerRadius);
    painter.setClipPath(shape);
    const QRectF inner = r.adjusted(0.5, 0.5, -0.5, -0.5);

    if (!m_paused) {
        const double p = pulse(QDateTime::currentMSecsSinceEpoch() / 1000.0);
        const double a = 0.14 + 0.26 * p;
        const auto red = [](double opacity) { return QColor::fromRgbF(1.0f, 0.2f, 0.2f, float(opacity)); };
        QLinearGradient wash(r.topLeft(), r.bottomLeft());
        wash.setColorAt(0, red(a));
        wash.setColorAt(0.22, red(0.35 * a));
        wash.setColorAt(0.5, red(0));
        wash.setColorAt(0.78, red(0.35 * a));
        wash.setColorAt(1, red(a));
        // The wash fades towards both ends: draw it, then keep it by the
        // horizontal mask.
        QImage layer(size() * devicePixelRatioF(), QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(devicePixelRatioF());
        layer.fill(Qt::transparent);
        {
            QPainter lp(&layer);
            lp.fillRect(r, wash);
            QLinearGradient mask(r.topLeft(), r.topRight());
            mask.setColorAt(0, QColor(0, 0, 0, 0));
            mask.setColorAt(0.22, QColor::fromRgbF(0, 0, 0, 0.55f));
            mask.setColorAt(0.5, QColor(0, 0, 0, 255));
            mask.setColorAt(0.78, QColor::fromRgbF(0, 0, 0, 0.55f));
            mask.setColorAt(1, QColor(0, 0, 0, 0));
            lp.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            lp.fillRect(r, mask);
        }
        painter.drawImage(QPointF(0, 0), layer);
        painter.setPen(QPen(QColor::fromRgbF(1.0f, 0.3f, 0.3f, float(0.1 + 0.14 * p)), 1));
        painter.drawRoundedRect(inner, cornerRadius, cornerRadius);
        return;
    }

    const QColor amber = QColor::fromRgbF(1.0f, 0.72f, 0.1f, 0.54f);
    const QColor clear = QColor::fromRgbF(1.0f, 0.72f, 0.1f, 0);
    QLinearGradient left(r.topLeft(), QPointF(r.left() + sideGlowWidth, r.top()));
    left.setColorAt(0, amber);
    left.setColorAt(1, clear);
    painter.fillRect(QRectF(r.left(), r.top(), sideGlowWidth, r.height()), left);
    QLinearGradient right(r.topRight(), QPointF(r.right() - sideGlowWidth, r.top()));
    right.setColorAt(0, amber);
    right.setColorAt(1, clear);
    painter.fillRect(QRectF(r.right() - sideGlowWidth, r.top(), sideGlowWidth, r.height()), right);
    painter.setPen(QPen(QColor::fromRgbF(1.0f, 0.75f, 0.2f, 0.35f), 1));
    painter.drawRoundedRect(inner, cornerRadius, cornerRadius);
}

} // namespace corvessa
