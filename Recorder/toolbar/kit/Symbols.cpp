#include "toolbar/kit/Symbols.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>

namespace corvessa {

namespace {
const QString folder = QStringLiteral(":/symbols");

QString pathOf(const QString& name)
{
    return folder + QLatin1Char('/') + name + QStringLiteral(".svg");
}
} // namespace

bool Symbols::has(const QString& name)
{
    // A name with a slash would reach outside the folder.
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && QFile::exists(pathOf(name));
}

QStringList Symbols::names()
{
    QStringList out;
    for (const QString& file : QDir(folder).entryList({QStringLiteral("*.svg")}, QDir::Files, QDir::Name))
        out << file.chopped(4);
    return out;
}

QIcon Symbols::icon(const QString& name)
{
    return has(name) ? QIcon(pathOf(name)) : QIcon();
}

QPixmap Symbols::pixmap(const QString& name, double points, const QColor& colour, double devicePixelRatio)
{
    const double dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const int px = std::max(1, int(std::ceil(std::max(points, 0.0) * dpr)));
    QPixmap out(px, px);
    out.fill(Qt::transparent);
    out.setDevicePixelRatio(dpr);
    if (!has(name))
        return out;
    QSvgRenderer renderer(pathOf(name));
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    renderer.render(&p, QRectF(0, 0, px / dpr, px / dpr));
    // Only the drawing's coverage is kept; the colour is the caller's.
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(QRectF(0, 0, px / dpr, px / dpr), colour);
    return out;
}

IconTile::IconPainter Symbols::painter(const QString& name, double points)
{
    return IconTile::fromIcon(icon(name), points);
}

} // namespace corvessa
