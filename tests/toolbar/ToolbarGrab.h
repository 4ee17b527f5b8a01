#pragma once

#include "support/Artifacts.h"

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPointF>
#include <QString>
#include <QWidget>

namespace corvessa::test {

// The widget as drawn; kept as <test>-<name>.png in $CORVESSA_TEST_ARTIFACTS when set.
inline QImage grabKept(QWidget& w, const QString& name)
{
    w.adjustSize();
    const QImage img = w.grab().toImage();
    if (const QString kept = Artifacts::path(name + QStringLiteral(".png")); !kept.isEmpty())
        img.save(kept);
    return img;
}

// The pixel under a point in widget coordinates.
inline QColor pixelAt(const QImage& img, QPointF p)
{
    const double dpr = img.devicePixelRatio();
    return img.pixelColor(int(p.x() * dpr), int(p.y() * dpr));
}

// The meter colour a pixel shows: "unlit" for the greys of idle segments and
// tracks, else the hue family, whatever the opacity it was drawn at.
inline QString hueName(const QColor& c)
{
    if (c.hsvSaturation() < 80)
        return QStringLiteral("unlit");
    const int h = c.hsvHue();
    if (h < 20 || h > 340)
        return QStringLiteral("red");
    if (h < 42)
        return QStringLiteral("orange");
    if (h < 70)
        return QStringLiteral("yellow");
    if (h > 90 && h < 170)
        return QStringLiteral("green");
    return QStringLiteral("other");
}

} // namespace corvessa::test
