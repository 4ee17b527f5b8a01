#include "engine/compositor/CursorStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace corvessa {

namespace {

CursorArt::Sprite drawSystemArrow()
{
    constexpr int side = CursorStyle::canvasSide;
    constexpr double k = CursorStyle::canvasScale;
    constexpr double inset = CursorStyle::canvasInset;
    const QSizeF size = CursorStyle::arrowSize;
    const QPointF hot = CursorStyle::arrowHot;

    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(inset, inset);
    painter.scale(k, k);
    // The classic arrow in points from the image's top-left corner, tip on the hot spot.
    const QPolygonF outline({hot, QPointF(3, 19), QPointF(7, 15.2), QPointF(9.8, 21.6), QPointF(12.4, 20.5),
                             QPointF(9.7, 14.3), QPointF(14.6, 14.3)});
    QPainterPath path;
    path.addPolygon(outline);
    path.closeSubpath();
    // A white rim outside the black body: stroke first, then fill over its inner half.
    painter.strokePath(path, QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.fillPath(path, Qt::black);
    painter.end();

    CursorArt::Sprite s;
    s.image = image;
    s.hot = QPointF((k * hot.x() + inset) / side, (k * hot.y() + inset) / side);
    s.pivot = QPointF((0.6 * k * size.width() + inset) / side, (0.88 * k * size.height() + inset) / side);
    s.key = QStringLiteral("System Default");
    return s;
}

template <typename T>
const T& clampedElement(const std::vector<T>& list, int index)
{
    return list[size_t(std::clamp(index, 0, int(list.size()) - 1))];
}

} // namespace

const CursorArt::Sprite& CursorStyle::systemArrow()
{
    static const CursorArt::Sprite arrow = drawSystemArrow();
    return arrow;
}

const std::vector<CursorArt::Sprite>& CursorStyle::arrows()
{
    static const std::vector<CursorArt::Sprite> list = loadArrows(CursorArt::bundleFolder());
    return list;
}

std::vector<CursorArt::Sprite> CursorStyle::loadArrows(const QString& folder)
{
    return CursorArt::readCatalogue(folder, QStringLiteral("arrows"), QStringLiteral("arrow-"),
                                    CursorArt::arrowDefaults);
}

CursorStyle::Look CursorStyle::look(CursorTheme theme, int art, int arrow)
{
    return look(theme, art, arrow, CursorArt::all(), arrows());
}

CursorStyle::Look CursorStyle::look(CursorTheme theme, int art, int arrow,
                                    const std::vector<CursorArt::Sprite>& artList,
                                    const std::vector<CursorArt::Sprite>& arrowList)
{
    if (theme == CursorTheme::system) {
        std::vector<const CursorArt::Sprite*> list{&systemArrow()};
        for (const CursorArt::Sprite& s : arrowList)
            list.push_back(&s);
        // The size follows the setting, not the clamped index: arrow 1 with no
        // extra arrows shows the built-in arrow at 22 points.
        return {*clampedElement(list, arrow), arrow < 1 ? systemArrowBaseSize : arrowBaseSize, 0.1, 0.6, true};
    }
    const CursorArt::Sprite& sprite = artList.empty() ? CursorArt::fallback() : clampedElement(artList, art);
    return {sprite, artBaseSize, 0.2, 1.0, false};
}

double CursorStyle::clampedSize(CursorTheme theme, double size)
{
    if (!std::isfinite(size))
        return 1.0;
    return std::clamp(size, 0.5, theme == CursorTheme::system ? 5.0 : 2.0);
}

} // namespace corvessa
