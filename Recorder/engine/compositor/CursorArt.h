#pragma once

#include <QImage>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <vector>

namespace corvessa {

// The picture cursors. The catalogue is the bundled "cursor/themes.json" with a
// picture "cursor/theme-N.png" for entry N; when it is missing, malformed or
// leaves nothing, the built-in paw print stands in, so the list is never empty.
class CursorArt {
public:
    // One cursor picture.
    struct Sprite {
        QImage image;  // premultiplied ARGB, drawn square
        QPointF hot;   // hot spot as fractions of the image: x from the left, y from the top
        QPointF pivot; // the point the sprite tilts about when pressed, same fractions
        QString key;   // the English name; shown through Loc::text and part of the compositor's cache key

        bool operator==(const Sprite&) const = default;
    };

    // What a catalogue entry takes for a key it lacks (or holds with the wrong type).
    struct Defaults {
        bool numberedNames = false; // "Cursor " and N + 1 when the name is missing; else empty
        QPointF hot;
        QPointF pivot;
    };
    static inline const Defaults themeDefaults{true, QPointF(0.25, 0.1), QPointF(0.55, 0.86)};
    static inline const Defaults arrowDefaults{false, QPointF(0.2, 0.1), QPointF(0.7, 0.8)};

    // The bundled art, loaded once on first use; never empty. Any thread.
    static const std::vector<Sprite>& all();
    // The built-in paw print, "Default".
    static const Sprite& fallback();

    // The art catalogue of a folder ("themes.json", "theme-N.png"), or the paw
    // print alone when that gives nothing.
    static std::vector<Sprite> load(const QString& folder);
    // Reads "<folder>/<name>.json": a JSON array of objects with the optional keys
    // "name", "x", "y", "px", "py". Entry N takes "<folder>/<prefix>N.png"; an
    // entry whose picture is missing or unreadable is left out. Empty when the
    // catalogue is missing, unreadable or not an array of objects.
    static std::vector<Sprite> readCatalogue(const QString& folder, const QString& name, const QString& picturePrefix,
                                             const Defaults& defaults);

    // Where the bundled catalogues live.
    static QString bundleFolder();
    // The English names of the bundled cursors and the built-in ones, marked for
    // the translation tables.
    static const QStringList& bundledNames();
};

} // namespace corvessa
