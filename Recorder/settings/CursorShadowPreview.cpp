#include "settings/CursorShadowPreview.h"

#include "engine/compositor/CursorLayer.h"
#include "prefs/Loc.h"
#include "settings/SettingsLayout.h"

#include <QPainter>
#include <QPainterPath>

#include <array>
#include <cmath>

namespace corvessa {

namespace {

constexpr int kPadX = 20;
constexpr int kPadY = 10;
constexpr int kOuter = 8;
constexpr int kCaptionGap = 6;
constexpr int kCaptionHeight = 16;
constexpr double kPageRadius = 10;

struct TextLine {
    double fromTop;
    double fraction;
};
constexpr std::array<TextLine, 7> kLines{{{30, 0.92}, {60, 0.80}, {90, 0.88}, {120, 0.62}, {150, 0.84},
                                          {180, 0.70}, {210, 0.80}}};
constexpr int kHighlightedLine = 1;
const QColor kLineGrey = QColor::fromRgbF(0.78f, 0.80f, 0.83f);
const QColor kHighlight = QColor::fromRgbF(0.72f, 0.83f, 1.0f);

} // namespace

CursorShadowPreview::CursorShadowPreview(QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(2 * kOuter + 2 * kPadY + pageHeight + kCaptionGap + kCaptionHeight);
    setMinimumWidth(pageWidth + 2 * kPadX);
}

void CursorShadowPreview::setLook(const CursorStyle::Look& look, double size, double up, double down)
{
    m_picture = render(look, size, up, down);
    update();
}

QImage CursorShadowPreview::page()
{
    QImage image(pageWidth * pixelsPerPoint, pageHeight * pixelsPerPoint, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {};
    image.setDevicePixelRatio(pixelsPerPoint);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    for (size_t i = 0; i < kLines.size(); ++i) {
        const double d = kLines[i].fromTop;
        const double w = kLines[i].fraction * 220;
        for (double left : {20.0, 260.0}) {
            if (int(i) == kHighlightedLine)
                p.fillRect(QRectF(left + 40, d - 10, 120, 14), kHighlight);
            p.setBrush(kLineGrey);
            p.drawRoundedRect(QRectF(left, d - 6, w, 6), 3, 3);
        }
    }
    return image;
}

QImage CursorShadowPreview::render(const CursorStyle::Look& look, double size, double up, double down)
{
    // The page never changes; each look paints on a copy of it.
    static const QImage blank = page();
    QImage image = blank;
    if (image.isNull() || !std::isfinite(size))
        return image;
    QPainter p(&image);
    // Pixels from here on: the cursor layers are made at the page's resolution.
    p.scale(1.0 / pixelsPerPoint, 1.0 / pixelsPerPoint);
    for (const Mark& mark : {released, pressed}) {
        CursorLayer::Sprite how;
        how.side = look.baseSize * size * pixelsPerPoint;
        how.press = mark.press;
        how.pressAngle = look.pressAngle;
        how.shadowSize = look.shadowScale * size * pixelsPerPoint;
        how.shadowUp = up;
        how.shadowDown = down;
        const CursorLayer layer = CursorLayer::sprite(look.sprite, how);
        if (layer.isNull())
            continue;
        const QPoint anchor(int(std::lround(mark.hot.x() * pixelsPerPoint)),
                            int(std::lround(mark.hot.y() * pixelsPerPoint)));
        p.drawImage(anchor - layer.hot, layer.image);
    }
    return image;
}

void CursorShadowPreview::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(rect()).adjusted(0, kOuter, 0, -kOuter), SettingsLayout::previewRadius, SettingsLayout::previewRadius);
    if (m_picture.isNull())
        return;
    const QRectF target((width() - pageWidth) / 2.0, kOuter + kPadY, pageWidth, pageHeight);
    QPainterPath clip;
    clip.addRoundedRect(target, kPageRadius, kPageRadius);
    p.save();
    p.setClipPath(clip);
    p.drawImage(target, m_picture);
    p.restore();

    QFont font = p.font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    p.setFont(font);
    p.setPen(QColor(0, 0, 0, 128));
    const QRectF captions(target.left(), target.bottom() + kCaptionGap, pageWidth, kCaptionHeight);
    p.drawText(QRectF(captions.left(), captions.top(), pageWidth / 2.0, kCaptionHeight), Qt::AlignCenter,
               Loc::text(QStringLiteral("Not Pressed")));
    p.drawText(QRectF(captions.center().x(), captions.top(), pageWidth / 2.0, kCaptionHeight), Qt::AlignCenter,
               Loc::text(QStringLiteral("Pressed")));
}

} // namespace corvessa
