#include "engine/compositor/CursorArt.h"
#include "engine/compositor/CursorStyle.h"
#include "engine/compositor/CursorTheme.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace corvessa;
using Sprite = CursorArt::Sprite;

namespace {

// A catalogue folder with the given JSON text and square pictures for the listed entries.
class Catalogue {
public:
    void write(const QString& name, const QByteArray& json)
    {
        QFile f(m_dir.filePath(name + ".json"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(json);
    }
    void picture(const QString& file, QColor colour, int side = 32)
    {
        QImage image(side, side, QImage::Format_ARGB32);
        image.fill(colour);
        ASSERT_TRUE(image.save(m_dir.filePath(file), "PNG"));
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

QByteArray json(const QJsonArray& entries)
{
    return QJsonDocument(entries).toJson();
}

bool transparent(const QImage& image, int x, int y)
{
    return qAlpha(image.pixel(x, y)) == 0;
}

} // namespace

TEST(CursorTheme, RawValuesAndStoredSettings)
{
    EXPECT_EQ(cursorThemeFromRaw(0), CursorTheme::system);
    EXPECT_EQ(cursorThemeFromRaw(1), CursorTheme::art);
    EXPECT_EQ(cursorThemeFromRaw(2), CursorTheme::hidden);
    EXPECT_FALSE(cursorThemeFromRaw(3));
    EXPECT_FALSE(cursorThemeFromRaw(-1));
    // A stored setting out of range still gives a theme: the system arrow.
    EXPECT_EQ(cursorThemeFromSetting(1), CursorTheme::art);
    EXPECT_EQ(cursorThemeFromSetting(2), CursorTheme::hidden);
    for (int wild : {0, 3, -1, 99, std::numeric_limits<int>::min()})
        EXPECT_EQ(cursorThemeFromSetting(wild), CursorTheme::system) << wild;
}

TEST(CursorArt, BundledCataloguesLoad)
{
    const auto& art = CursorArt::all();
    ASSERT_EQ(art.size(), 9u);
    EXPECT_EQ(art[0].key, "Paper Plane");
    EXPECT_EQ(art[7].key, "Spotlight");
    EXPECT_EQ(art[7].hot, QPointF(0.5, 0.5));
    const auto& arrows = CursorStyle::arrows();
    ASSERT_EQ(arrows.size(), 9u);
    for (const Sprite& s : arrows) {
        EXPECT_EQ(s.hot, QPointF(0.2, 0.1)); // the catalogue's defaults
        EXPECT_EQ(s.pivot, QPointF(0.7, 0.8));
    }
    for (const auto* list : {&art, &arrows}) {
        for (const Sprite& s : *list) {
            EXPECT_EQ(s.image.size(), QSize(256, 256)) << s.key.toStdString();
            EXPECT_EQ(s.image.format(), QImage::Format_ARGB32_Premultiplied);
            // The hot spot is on the picture and the picture has a clear margin.
            EXPECT_TRUE(s.hot.x() >= 0 && s.hot.x() <= 1 && s.hot.y() >= 0 && s.hot.y() <= 1);
            EXPECT_TRUE(transparent(s.image, 0, 0)) << s.key.toStdString();
            // Every name the user may see is in the translation tables.
            EXPECT_TRUE(CursorArt::bundledNames().contains(s.key)) << s.key.toStdString();
        }
    }
    EXPECT_TRUE(CursorArt::bundledNames().contains(CursorArt::fallback().key));
    EXPECT_TRUE(CursorArt::bundledNames().contains(CursorStyle::systemArrow().key));
    // Loaded once.
    EXPECT_EQ(&CursorArt::all(), &art);
}

TEST(CursorArt, CatalogueKeysAndDefaults)
{
    Catalogue c;
    c.write("themes", json({QJsonObject{{"name", "Red"}, {"x", 0.5}, {"y", 0.25}, {"px", 0.1}, {"py", 0.9}},
                            QJsonObject{{"name", "No picture"}},
                            QJsonObject{{"x", "0.9"}, {"y", true}, {"name", 7}}}));
    c.picture("theme-0.png", Qt::red);
    c.picture("theme-2.png", Qt::blue, 48);
    const auto sprites = CursorArt::load(c.path());
    // The entry without a picture is left out; the third keeps its own number.
    ASSERT_EQ(sprites.size(), 2u);
    EXPECT_EQ(sprites[0].key, "Red");
    EXPECT_EQ(sprites[0].hot, QPointF(0.5, 0.25));
    EXPECT_EQ(sprites[0].pivot, QPointF(0.1, 0.9));
    EXPECT_EQ(sprites[0].image.pixel(4, 4), qRgb(255, 0, 0));
    EXPECT_EQ(sprites[1].key, "Cursor 3");
    EXPECT_EQ(sprites[1].hot, QPointF(0.25, 0.1)); // values of the wrong type take the defaults
    EXPECT_EQ(sprites[1].pivot, QPointF(0.55, 0.86));
    EXPECT_EQ(sprites[1].image.size(), QSize(48, 48));
    // Art indices address the surviving entries.
    const auto look = CursorStyle::look(CursorTheme::art, 1, 0, sprites, {});
    EXPECT_EQ(look.sprite.key, "Cursor 3");
}

TEST(CursorArt, ArrowCatalogueDefaults)
{
    Catalogue c;
    c.write("arrows", json({QJsonObject{}, QJsonObject{{"name", "Green"}, {"x", 0.3}}}));
    c.picture("arrow-0.png", Qt::black);
    c.picture("arrow-1.png", Qt::green);
    const auto arrows = CursorStyle::loadArrows(c.path());
    ASSERT_EQ(arrows.size(), 2u);
    EXPECT_EQ(arrows[0].key, "");
    EXPECT_EQ(arrows[0].hot, QPointF(0.2, 0.1));
    EXPECT_EQ(arrows[0].pivot, QPointF(0.7, 0.8));
    EXPECT_EQ(arrows[1].key, "Green");
    EXPECT_EQ(arrows[1].hot, QPointF(0.3, 0.1));
}

TEST(CursorArt, BrokenCataloguesFallBack)
{
    const QList<QByteArray> broken{"not json", "{\"name\": \"object, not array\"}", "[{\"name\": \"a\"}, 3]", "[]",
                                   "\"text\""};
    for (const QByteArray& text : broken) {
        Catalogue c;
        c.write("themes", text);
        c.write("arrows", text);
        c.picture("theme-0.png", Qt::red);
        c.picture("arrow-0.png", Qt::red);
        EXPECT_EQ(CursorArt::load(c.path()), std::vector<Sprite>{CursorArt::fallback()}) << text.toStdString();
        EXPECT_TRUE(CursorStyle::loadArrows(c.path()).empty()) << text.toStdString();
    }
    // No catalogue at all: exactly the paw, which the art look then uses at 52 points.
    Catalogue empty;
    const auto art = CursorArt::load(empty.path());
    ASSERT_EQ(art, std::vector<Sprite>{CursorArt::fallback()});
    const auto look = CursorStyle::look(CursorTheme::art, 5, 0, art, {});
    EXPECT_EQ(look.sprite, CursorArt::fallback());
    EXPECT_EQ(look.baseSize, 52);
    // Pictures that are not images are skipped like missing ones.
    Catalogue garbage;
    garbage.write("themes", "[{}]");
    QFile f(garbage.path() + "/theme-0.png");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a png");
    f.close();
    EXPECT_EQ(CursorArt::load(garbage.path()), std::vector<Sprite>{CursorArt::fallback()});
}

TEST(CursorArt, FallbackIsAPawPrint)
{
    const Sprite& paw = CursorArt::fallback();
    EXPECT_EQ(paw.key, "Default");
    EXPECT_EQ(paw.hot, QPointF(0.4, 0.1));
    EXPECT_EQ(paw.pivot, QPointF(0.5, 0.7));
    ASSERT_EQ(paw.image.size(), QSize(256, 256));
    // Ellipses are given from the bottom edge: the pad's middle is at (125, 90) up.
    EXPECT_EQ(paw.image.pixel(125, 256 - 90), qRgba(255, 255, 255, 255));
    // The middle toe's centre (128, 190) up; the stroke on the pad's left edge.
    EXPECT_EQ(paw.image.pixel(128, 256 - 190), qRgba(255, 255, 255, 255));
    const QRgb edge = paw.image.pixel(60, 256 - 90);
    EXPECT_NEAR(qRed(edge), 77, 2);
    EXPECT_NEAR(qBlue(edge), 89, 2);
    EXPECT_EQ(qAlpha(edge), 255);
    EXPECT_TRUE(transparent(paw.image, 5, 5));
    EXPECT_TRUE(transparent(paw.image, 125, 250)); // below the pad
}

TEST(CursorStyle, SystemArrowFitsItsImageBox)
{
    const Sprite& arrow = CursorStyle::systemArrow();
    EXPECT_EQ(arrow.key, "System Default");
    ASSERT_EQ(arrow.image.size(), QSize(256, 256));
    // Six times the natural size, 16 pixels in: hot spot and pivot in canvas fractions.
    EXPECT_DOUBLE_EQ(arrow.hot.x(), (6 * 3 + 16) / 256.0);
    EXPECT_DOUBLE_EQ(arrow.hot.y(), (6 * 2 + 16) / 256.0);
    EXPECT_DOUBLE_EQ(arrow.pivot.x(), (0.6 * 6 * 17 + 16) / 256.0);
    EXPECT_DOUBLE_EQ(arrow.pivot.y(), (0.88 * 6 * 24 + 16) / 256.0);
    // Just inside the tip the arrow is black; around it a white rim.
    const QRgb body = arrow.image.pixel(36, 40);
    EXPECT_EQ(body, qRgba(0, 0, 0, 255));
    const QRgb rim = arrow.image.pixel(31, 60);
    EXPECT_EQ(qAlpha(rim), 255);
    EXPECT_GT(qRed(rim), 200);
    // Nothing outside the box the hot spot and pivot are measured in.
    const QRect box(16, 16, 6 * 17, 6 * 24);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            if (!box.contains(x, y)) {
                ASSERT_TRUE(transparent(arrow.image, x, y)) << x << "," << y;
            }
        }
    }
}

TEST(CursorStyle, LookForEachTheme)
{
    Catalogue c;
    c.write("arrows", json({QJsonObject{{"name", "One"}}, QJsonObject{{"name", "Two"}}}));
    c.picture("arrow-0.png", Qt::red);
    c.picture("arrow-1.png", Qt::green);
    const auto arrows = CursorStyle::loadArrows(c.path());
    const std::vector<Sprite> art{CursorArt::fallback(), arrows[0], arrows[1]};

    auto look = CursorStyle::look(CursorTheme::system, 0, -3, art, arrows);
    EXPECT_EQ(look.sprite, CursorStyle::systemArrow());
    EXPECT_DOUBLE_EQ(look.baseSize, 128.0 / 3);
    EXPECT_EQ(look.pressAngle, 0.1);
    EXPECT_EQ(look.shadowScale, 0.6);
    EXPECT_TRUE(look.isSystem);

    look = CursorStyle::look(CursorTheme::system, 0, 1, art, arrows);
    EXPECT_EQ(look.sprite.key, "One");
    EXPECT_EQ(look.baseSize, 22);
    look = CursorStyle::look(CursorTheme::system, 0, 99, art, arrows);
    EXPECT_EQ(look.sprite.key, "Two");
    // The size follows the setting even when there are no extra arrows.
    look = CursorStyle::look(CursorTheme::system, 0, 1, art, {});
    EXPECT_EQ(look.sprite, CursorStyle::systemArrow());
    EXPECT_EQ(look.baseSize, 22);

    for (CursorTheme theme : {CursorTheme::art, CursorTheme::hidden}) {
        look = CursorStyle::look(theme, 1, 0, art, arrows);
        EXPECT_EQ(look.sprite.key, "One");
        EXPECT_EQ(look.baseSize, 52);
        EXPECT_EQ(look.pressAngle, 0.2);
        EXPECT_EQ(look.shadowScale, 1.0);
        EXPECT_FALSE(look.isSystem);
    }
    EXPECT_EQ(CursorStyle::look(CursorTheme::art, -7, 0, art, arrows).sprite, CursorArt::fallback());
    EXPECT_EQ(CursorStyle::look(CursorTheme::art, std::numeric_limits<int>::max(), 0, art, arrows).sprite.key, "Two");
    EXPECT_EQ(CursorStyle::look(CursorTheme::art, 0, 0, {}, {}).sprite, CursorArt::fallback());

    // Over the bundled lists.
    EXPECT_EQ(CursorStyle::look(CursorTheme::art, 42, 0).sprite, CursorArt::all().back());
    EXPECT_EQ(CursorStyle::look(CursorTheme::system, 0, 9).sprite, CursorStyle::arrows().back());
}

TEST(CursorStyle, WildSizesAreMadeDrawable)
{
    EXPECT_EQ(CursorStyle::clampedSize(CursorTheme::art, 1.0), 1.0);
    EXPECT_EQ(CursorStyle::clampedSize(CursorTheme::art, 9), 2);
    EXPECT_EQ(CursorStyle::clampedSize(CursorTheme::system, 9), 5);
    EXPECT_EQ(CursorStyle::clampedSize(CursorTheme::system, 3), 3);
    EXPECT_EQ(CursorStyle::clampedSize(CursorTheme::hidden, 0.1), 0.5);
    EXPECT_EQ(CursorStyle::clampedSize(CursorTheme::art, -4), 0.5);
    EXPECT_EQ(CursorStyle::clampedSize(CursorTheme::art, std::nan("")), 1);
    EXPECT_EQ(CursorStyle::clampedSize(CursorTheme::system, std::numeric_limits<double>::infinity()), 1);
}
