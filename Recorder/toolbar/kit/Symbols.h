#pragma once

#include "toolbar/kit/IconTile.h"

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace corvessa {

// The program's symbol icons, looked up by symbol name ("mic.slash.fill").
// They are monochrome drawings bundled as ":/symbols/<name>.svg"; every use
// tints them. Stateless; main thread.
class Symbols {
public:
    static bool has(const QString& name);
    // Every bundled name, sorted.
    static QStringList names();
    // The drawing in black; a null icon for an unknown name.
    static QIcon icon(const QString& name);
    // The drawing `points` square at `devicePixelRatio`, in `colour`;
    // a transparent pixmap for an unknown name.
    static QPixmap pixmap(const QString& name, double points, const QColor& colour, double devicePixelRatio = 1.0);
    // A tile painter drawing the symbol at `points` in the tile's colour.
    static IconTile::IconPainter painter(const QString& name, double points);
};

} // namespace corvessa
