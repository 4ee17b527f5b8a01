#include "engine/compositor/CursorArt.h"

#include "platform/core/Resources.h"
#include "prefs/Loc.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QPainter>
#include <QPen>

namespace corvessa {

namespace {

double number(const QJsonObject& o, const char* key, double fallback)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isDouble() ? v.toDouble() : fallback;
}

CursorArt::Sprite drawPaw()
{
    constexpr int kSide = 256;
    QImage image(kSide, kSide, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::white);
    painter.setPen(QPen(QColor::fromRgbF(0.3f, 0.3f, 0.35f), 6));
    // The pad, then three toes; (x, y, w, h) with y measured from the bottom edge.
    const double ellipses[][4] = {{60, 30, 130, 120}, {50, 130, 50, 70}, {100, 150, 56, 80}, {150, 130, 50, 70}};
    for (const auto& e : ellipses)
        painter.drawEllipse(QRectF(e[0], kSide - e[1] - e[3], e[2], e[3]));
    painter.end();
    return {image, QPointF(0.4, 0.1), QPointF(0.5, 0.7), QStringLiteral("Default")};
}

} // namespace

const CursorArt::Sprite& CursorArt::fallback()
{
    static const Sprite paw = drawPaw();
    return paw;
}

const std::vector<CursorArt::Sprite>& CursorArt::all()
{
    static const std::vector<Sprite> sprites = load(bundleFolder());
    return sprites;
}

QString CursorArt::bundleFolder()
{
    return Resources::path(QStringLiteral("cursor"));
}

std::vector<CursorArt::Sprite> CursorArt::load(const QString& folder)
{
    std::vector<Sprite> sprites = readCatalogue(folder, QStringLiteral("themes"), QStringLiteral("theme-"), themeDefaults);
    if (sprites.empty())
        sprites.push_back(fallback());
    return sprites;
}

std::vector<CursorArt::Sprite> CursorArt::readCatalogue(const QString& folder, const QString& name,
                                                        const QString& picturePrefix, const Defaults& defaults)
{
    QFile file(folder + QLatin1Char('/') + name + QStringLiteral(".json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    if (!doc.isArray())
        return {};
    const QJsonArray entries = doc.array();
    for (const QJsonValue& entry : entries) {
        if (!entry.isObject())
            return {};
    }

    std::vector<Sprite> sprites;
    for (qsizetype n = 0; n < entries.size(); ++n) {
        const QJsonObject o = entries.at(n).toObject();
        QImage image(folder + QLatin1Char('/') + picturePrefix + QString::number(n) + QStringLiteral(".png"));
        if (image.isNull())
            continue;
        Sprite s;
        s.image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        s.hot = QPointF(number(o, "x", defaults.hot.x()), number(o, "y", defaults.hot.y()));
        s.pivot = QPointF(number(o, "px", defaults.pivot.x()), number(o, "py", defaults.pivot.y()));
        const QJsonValue label = o.value(QLatin1String("name"));
        if (label.isString())
            s.key = label.toString();
        else if (defaults.numberedNames)
            s.key = QStringLiteral("Cursor ") + QString::number(n + 1);
        sprites.push_back(std::move(s));
    }
    return sprites;
}

const QStringList& CursorArt::bundledNames()
{
    static const QStringList names{
        Loc::mark("Default"),
        Loc::mark("System Default"),
        // Art (themes.json)
        Loc::mark("Paper Plane"),
        Loc::mark("Paw"),
        Loc::mark("Pointing Hand"),
        Loc::mark("Pencil"),
        Loc::mark("Magic Wand"),
        Loc::mark("Star"),
        Loc::mark("Heart"),
        Loc::mark("Spotlight"),
        Loc::mark("Pixel Arrow"),
        // Arrows (arrows.json)
        Loc::mark("White Arrow"),
        Loc::mark("Black Arrow"),
        Loc::mark("Blue Arrow"),
        Loc::mark("Red Arrow"),
        Loc::mark("Green Arrow"),
        Loc::mark("Yellow Arrow"),
        Loc::mark("Purple Arrow"),
        Loc::mark("Orange Arrow"),
        Loc::mark("Hollow Arrow"),
    };
    return names;
}

} // namespace corvessa
