#include "toolbar/RecordingGlow.h"

#include <QDateTime>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <cmath>
#include <functional>
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

void RecordingGlow::resizeEvent(QResizeEvent*)
{
    m_layers = {};
}

void RecordingGlow::makeLayers()
{
    const double dpr = devicePixelRatioF();
    if (!m_layers.wash.isNull() && m_layers.dpr == dpr)
        return;
    const QRectF r = rect();
    QPainterPath shape;
    shape.addRoundedRect(r, cornerRadius, cornerRadius);
    const QRectF inner = r.adjusted(0.5, 0.5, -0.5, -0.5);
    const auto layer = [&](const std::function<void(QPainter&)>& draw) {
        QImage image(size() * dpr, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(dpr);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setClipPath(shape);
        draw(p);
        return image;
    };
    // The red wash at full strength: the pulse only scales its opacity. It
    // fades towards both ends: drawn, then kept by the horizontal mask.
    m_layers.wash = layer([&](QPainter& p) {
        const auto red = [](double opacity) { return QColor::fromRgbF(1.0f, 0.2f, 0.2f, float(opacity)); };
        QLinearGradient wash(r.topLeft(), r.bottomLeft());
        wash.setColorAt(0, red(1));
        wash.setColorAt(0.22, red(0.35));
        wash.setColorAt(0.5, red(0));
        wash.setColorAt(0.78, red(0.35));
        wash.setColorAt(1, red(1));
        p.fillRect(r, wash);
        QLinearGradient mask(r.topLeft(), r.topRight());
        mask.setColorAt(0, QColor(0, 0, 0, 0));
        mask.setColorAt(0.22, QColor::fromRgbF(0, 0, 0, 0.55f));
        mask.setColorAt(0.5, QColor(0, 0, 0, 255));
        mask.setColorAt(0.78, QColor::fromRgbF(0, 0, 0, 0.55f));
        mask.setColorAt(1, QColor(0, 0, 0, 0));
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        p.fillRect(r, mask);
    });
    m_layers.edge = layer([&](QPainter& p) {
        p.setPen(QPen(QColor::fromRgbF(1.0f, 0.3f, 0.3f), 1));
        p.drawRoundedRect(inner, cornerRadius, cornerRadius);
    });
    m_layers.amber = layer([&](QPainter& p) {
        const QColor amber = QColor::fromRgbF(1.0f, 0.72f, 0.1f, 0.54f);
        const QColor clear = QColor::fromRgbF(1.0f, 0.72f, 0.1f, 0);
        QLinearGradient left(r.topLeft(), QPointF(r.left() + sideGlowWidth, r.top()));
        left.setColorAt(0, amber);
        left.setColorAt(1, clear);
        p.fillRect(QRectF(r.left(), r.top(), sideGlowWidth, r.height()), left);
        QLinearGradient right(r.topRight(), QPointF(r.right() - sideGlowWidth, r.top()));
        right.setColorAt(0, amber);
        right.setColorAt(1, clear);
        p.fillRect(QRectF(r.right() - sideGlowWidth, r.top(), sideGlowWidth, r.height()), right);
        p.setPen(QPen(QColor::fromRgbF(1.0f, 0.75f, 0.2f, 0.35f), 1));
        p.drawRoundedRect(inner, cornerRadius, cornerRadius);
    });
    m_layers.dpr = dpr;
}

void RecordingGlow::paintEvent(QPaintEvent*)
{
    // The pictures are made once for the size; each frame of the pulse only
    // lays them down with its strength.
    makeLayers();
    QPainter painter(this);
    if (m_paused) {
        painter.drawImage(QPointF(0, 0), m_layers.amber);
        return;
    }
    const double p = pulse(QDateTime::currentMSecsSinceEpoch() / 1000.0);
    painter.setOpacity(0.14 + 0.26 * p);
    painter.drawImage(QPointF(0, 0), m_layers.wash);
    painter.setOpacity(0.1 + 0.14 * p);
    painter.drawImage(QPointF(0, 0), m_layers.edge);
}

} // namespace corvessa
