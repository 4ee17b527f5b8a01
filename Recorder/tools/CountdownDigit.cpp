#include "tools/CountdownDigit.h"

#include <QApplication>
#include <QEasingCurve>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace corvessa {

namespace {

constexpr int kFontSize = 220;          // points
constexpr double kPopFrom = 1.25;       // scale at the start of the pop-in
constexpr double kShadowOpacity = 0.28;
constexpr double kShadowRadius = 22;
constexpr double kShadowDrop = 10;      // downwards on screen
constexpr double kRimOpacity = 0.55;
constexpr double kRimRadius = 1.5;
constexpr double kRimOffset = -1;       // up and to the left
// Without a compositing manager a pixel this opaque or more is kept by the
// shape mask: the glyph and the dense part of its shadow.
constexpr int kMaskAlpha = 48;

// Three box passes of radius r come close to a Gaussian of sigma r; a shadow's
// "radius" reads as about twice its sigma.
void blur(QImage& image, double radius)
{
    const int r = std::max(1, int(std::lround(radius / 2)));
    const int w = image.width(), h = image.height();
    std::vector<int> line(std::max(w, h) * 4);
    auto pass = [&](int count, int length, auto pixel) {
        for (int i = 0; i < count; ++i) {
            for (int j = 0; j < length; ++j) {
                const QRgb c = *pixel(i, j);
                line[j * 4] = qRed(c), line[j * 4 + 1] = qGreen(c), line[j * 4 + 2] = qBlue(c), line[j * 4 + 3] = qAlpha(c);
            }
            int sum[4] = {0, 0, 0, 0};
            for (int j = -r; j <= r; ++j)
                if (j >= 0 && j < length)
                    for (int k = 0; k < 4; ++k)
                        sum[k] += line[j * 4 + k];
            const int n = 2 * r + 1;
            for (int j = 0; j < length; ++j) {
                *pixel(i, j) = qRgba(sum[0] / n, sum[1] / n, sum[2] / n, sum[3] / n);
                const int out = j - r, in = j + r + 1;
                for (int k = 0; k < 4; ++k) {
                    if (out >= 0)
                        sum[k] -= line[out * 4 + k];
                    if (in < length)
                        sum[k] += line[in * 4 + k];
                }
            }
        }
    };
    auto at = [&](int x, int y) { return reinterpret_cast<QRgb*>(image.scanLine(y)) + x; };
    for (int p = 0; p < 3; ++p) {
        pass(h, w, [&](int y, int x) { return at(x, y); });
        pass(w, h, [&](int x, int y) { return at(x, y); });
    }
}

QImage blank(double pixelRatio)
{
    QImage image(QSize(CountdownDigit::side, CountdownDigit::side) * pixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(pixelRatio);
    image.fill(Qt::transparent);
    return image;
}

// `path` filled with `colour`, moved by `offset` and blurred.
QImage softCopy(const QPainterPath& path, const QColor& colour, QPointF offset, double radius, double pixelRatio)
{
    QImage image = blank(pixelRatio);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(offset);
    p.fillPath(path, colour);
    p.end();
    blur(image, radius * pixelRatio);
    return image;
}

QPainterPath glyphs(int n)
{
    QFont font = QApplication::font();
    // A rounded face where one is installed, else the system's own.
    font.setFamilies({QStringLiteral("Nunito"), QStringLiteral("Varela Round"), QStringLiteral("M PLUS Rounded 1c"),
                      QStringLiteral("Comfortaa"), font.family()});
    font.setWeight(QFont::Black);
    font.setPixelSize(kFontSize);
    QPainterPath path;
    path.addText(0, 0, font, QString::number(n));
    path.translate(QPointF(CountdownDigit::side, CountdownDigit::side) / 2 - path.boundingRect().center());
    return path;
}

// The pixels at least kMaskAlpha opaque, one band of runs per row.
QRegion inked(const QImage& frame)
{
    const double ratio = frame.devicePixelRatio();
    std::vector<QRect> runs;
    for (int y = 0; y < CountdownDigit::side; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(frame.constScanLine(std::min(frame.height() - 1, int(y * ratio))));
        int start = -1;
        for (int x = 0; x <= CountdownDigit::side; ++x) {
            const bool in = x < CountdownDigit::side && qAlpha(row[std::min(frame.width() - 1, int(x * ratio))]) >= kMaskAlpha;
            if (in && start < 0)
                start = x;
            if (!in && start >= 0) {
                runs.emplace_back(start, y, x - start, 1);
                start = -1;
            }
        }
    }
    QRegion region;
    region.setRects(runs.data(), int(runs.size()));
    return region;
}

} // namespace

double CountdownDigit::spring(double t)
{
    constexpr double response = 0.35, damping = 0.72;
    if (t <= 0)
        return 0;
    const double w0 = 2 * std::numbers::pi / response;
    const double wd = w0 * std::sqrt(1 - damping * damping);
    return 1 - std::exp(-damping * w0 * t) * (std::cos(wd * t) + damping * w0 / wd * std::sin(wd * t));
}

CountdownDigit::CountdownDigit(bool shaped, QWidget* parent)
    : QWidget(parent)
    , m_shaped(shaped)
{
    setFixedSize(side, side);
    QEasingCurve curve;
    curve.setCustomType([](qreal x) { return x >= 1 ? 1.0 : spring(x * settleSeconds); });
    m_pop.setEasingCurve(curve);
    m_pop.setStartValue(0.0);
    m_pop.setEndValue(1.0);
    m_pop.setDuration(int(settleSeconds * 1000));
    QObject::connect(&m_pop, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_progress = v.toDouble();
        renderFrame();
    });
}

void CountdownDigit::setNumber(int n)
{
    m_pop.stop();
    m_number = n;
    m_sprite = QImage();
    m_progress = 0;
    renderFrame();
    m_pop.start();
}

QImage CountdownDigit::renderSprite(double ratio) const
{
    const QPainterPath path = glyphs(m_number);
    const QRectF box = path.boundingRect();
    QImage sprite = blank(ratio);
    QPainter p(&sprite);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(kShadowOpacity);
    p.drawImage(0, 0, softCopy(path, Qt::black, {0, kShadowDrop}, kShadowRadius, ratio));
    p.setOpacity(1);
    QLinearGradient fill(box.topLeft(), box.bottomLeft());
    fill.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.96f));
    fill.setColorAt(1, QColor::fromRgbF(1, 1, 1, 0.52f));
    p.fillPath(path, fill);
    // The rim: a soft light copy up and left of the glyphs, showing only outside them.
    QImage rim = softCopy(path, Qt::white, {kRimOffset, kRimOffset}, kRimRadius, ratio);
    {
        QPainter cut(&rim);
        cut.setRenderHint(QPainter::Antialiasing);
        cut.setCompositionMode(QPainter::CompositionMode_DestinationOut);
        cut.fillPath(path, Qt::black);
    }
    p.setOpacity(kRimOpacity);
    p.drawImage(0, 0, rim);
    return sprite;
}

void CountdownDigit::renderFrame()
{
    const double ratio = devicePixelRatioF();
    if (m_sprite.isNull() || m_sprite.devicePixelRatio() != ratio)
        m_sprite = renderSprite(ratio);
    m_frame = blank(ratio);
    QPainter p(&m_frame);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setOpacity(std::clamp(m_progress, 0.0, 1.0));
    const double scale = kPopFrom + (1 - kPopFrom) * m_progress;
    p.translate(side / 2.0, side / 2.0);
    p.scale(scale, scale);
    p.translate(-side / 2.0, -side / 2.0);
    p.drawImage(0, 0, m_sprite);
    p.end();
    if (m_shaped) {
        // An empty mask would mean no mask at all, a black square.
        const QRegion region = inked(m_frame);
        setMask(region.isEmpty() ? QRegion(side / 2, side / 2, 1, 1) : region);
    }
    update();
}

void CountdownDigit::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(0, 0, m_frame);
}

} // namespace corvessa
