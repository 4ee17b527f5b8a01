#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QString>

namespace corvessa {

// The tray glyphs: the shape of the mask "status/status-hand@2x.png" from the
// resources (a 14-point disc when it is missing), 18 x 18 points, filled red
// while a recording is busy, else in the tray's ink: black on a light palette,
// white on a dark one. Each glyph is drawn once, at scale 1 and 2, and shared.
// Main thread.
class StatusIcon {
public:
    StatusIcon() = delete;

    static constexpr int points = 18;
    static inline const QString maskPath = QStringLiteral(":/status/status-hand@2x.png");

    // The idle glyph for the current palette.
    static QIcon idle();
    // The red glyph.
    static QIcon rec();

    // One glyph at `scale` pixels per point, filled with `colour` through
    // `mask` (its alpha gives the shape; a null mask gives the disc).
    static QImage make(const QColor& colour, qreal scale, const QImage& mask);
    // The bundled mask, null when it is missing or does not load.
    static QImage mask();
    static QColor inkColour(bool dark);
    static QColor recordingColour();
};

} // namespace corvessa
