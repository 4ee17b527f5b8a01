#include "toolbar/kit/Symbols.h"
#include "support/Artifacts.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace corvessa;

namespace {
// The names the toolbar, menus, hints, tips and settings ask for.
const QStringList used = QStringLiteral(
    "xmark display macwindow rectangle.dashed video.fill video.slash eye.slash.fill mic.fill mic.slash.fill "
    "mic.slash speaker.wave.2.fill speaker.slash speaker.slash.fill headphones gearshape hourglass checkmark "
    "checkmark.circle.fill folder exclamationmark.triangle.fill pause.fill play.fill stop.fill "
    "arrow.counterclockwise trash arrow.up.left.and.arrow.down.right arrow.down.right.and.arrow.up.left "
    "leaf.fill moon.zzz.fill plus.viewfinder plus.magnifyingglass pencil.tip line.diagonal arrow.up.right "
    "rectangle circle eraser text.justify.left wand.and.sparkles record.circle gearshape.fill video mic "
    "speaker.wave.2 keyboard person.crop.circle paintbrush.pointed slider.horizontal.3 info.circle "
    "questionmark.circle power eye eye.slash camera square.and.arrow.down magnifyingglass textformat "
    "waveform cursorarrow.rays lock.shield command.circle ellipsis.circle exclamationmark.circle.fill lock.fill "
    "textformat.size gauge.with.dots.needle.33percent circle.lefthalf.filled backward.end.fill command square "
    "globe book chevron.left.forwardslash.chevron.right hand.tap person.crop.square circle.fill checkmark.circle")
                              .split(QLatin1Char(' '));

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Keeps every symbol side by side as <test>-symbols.png in $CORVESSA_TEST_ARTIFACTS, to look at.
void keepSheet(const QStringList& names)
{
    const QString kept = test::Artifacts::path(QStringLiteral("symbols.png"));
    if (kept.isEmpty())
        return;
    constexpr int cell = 48, columns = 10;
    QImage sheet(columns * cell, int((names.size() + columns - 1) / columns) * cell, QImage::Format_ARGB32);
    sheet.fill(Qt::white);
    QPainter p(&sheet);
    for (int i = 0; i < names.size(); ++i)
        p.drawPixmap((i % columns) * cell + 4, (i / columns) * cell + 4, Symbols::pixmap(names[i], 40, Qt::black));
    p.end();
    sheet.save(kept);
}
} // namespace

TEST(Symbols, EveryUsedNameIsBundledAndDrawsOnlyInTheWantedColour)
{
    for (const QString& name : used) {
        EXPECT_TRUE(Symbols::has(name)) << name.toStdString();
        EXPECT_FALSE(Symbols::icon(name).isNull()) << name.toStdString();
    }
    const QColor tint(30, 144, 255);
    const QStringList names = Symbols::names();
    keepSheet(names);
    for (const QString& name : names) {
        const QPixmap pm = Symbols::pixmap(name, 18, tint, 2.0);
        ASSERT_EQ(pm.size(), QSize(36, 36)) << name.toStdString();
        const QImage img = pm.toImage().convertToFormat(QImage::Format_ARGB32);
        int inked = 0, offColour = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = img.pixelColor(x, y);
                if (c.alpha() < 200)
                    continue;
                ++inked;
                if (std::abs(c.red() - tint.red()) > 2 || std::abs(c.green() - tint.green()) > 2
                    || std::abs(c.blue() - tint.blue()) > 2)
                    ++offColour;
            }
        EXPECT_GT(inked, 20) << name.toStdString() << " draws something";
        EXPECT_EQ(offColour, 0) << name.toStdString();
    }
    QImage tile(24, 24, QImage::Format_ARGB32_Premultiplied);
    tile.fill(Qt::transparent);
    QPainter tilePainter(&tile);
    Symbols::painter(QStringLiteral("xmark"), 18)(tilePainter, QRectF(0, 0, 24, 24), tint);
    tilePainter.end();
    EXPECT_GT(qAlpha(tile.pixel(12, 12)), 200) << "a tile draws the symbol";

    // Unknown names, and names that try to leave the folder, draw nothing.
    for (const QString& bad : {QString(), QStringLiteral("no.such.symbol"), QStringLiteral("xmark.svg"),
                               QStringLiteral("../symbols/xmark"), QStringLiteral("/xmark")}) {
        EXPECT_FALSE(Symbols::has(bad)) << bad.toStdString();
        EXPECT_TRUE(Symbols::icon(bad).isNull()) << bad.toStdString();
        const QImage img = Symbols::pixmap(bad, 16, tint, 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(img.size(), QSize(16, 16));
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                ASSERT_EQ(qAlpha(img.pixel(x, y)), 0) << bad.toStdString();
        QImage canvas(24, 24, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter p(&canvas);
        Symbols::painter(bad, 16)(p, QRectF(0, 0, 24, 24), tint);
        p.end();
        EXPECT_EQ(canvas.pixel(12, 12), 0u);
    }
}

TEST(Symbols, BundleIsExactlyWhatTheScriptDraws)
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        GTEST_SKIP() << "no python3";
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    QProcess run;
    run.start(python, {QStringLiteral(CORVESSA_SOURCE_DIR "/scripts/draw_symbols.py"), QStringLiteral("--out"), out.path()});
    ASSERT_TRUE(run.waitForFinished(60000));
    ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();

    const QStringList drawn = QDir(out.path()).entryList({QStringLiteral("*.svg")}, QDir::Files, QDir::Name);
    const QDir committed(QStringLiteral(CORVESSA_SOURCE_DIR "/Recorder/resources/symbols"));
    EXPECT_EQ(committed.entryList({QStringLiteral("*.svg")}, QDir::Files, QDir::Name), drawn);
    QStringList bundled;
    for (const QString& name : Symbols::names())
        bundled << name + QStringLiteral(".svg");
    EXPECT_EQ(bundled, drawn);
    for (const QString& file : drawn) {
        const QByteArray fresh = contents(out.filePath(file));
        EXPECT_EQ(contents(committed.filePath(file)), fresh) << file.toStdString() << " is stale";
        EXPECT_EQ(contents(QStringLiteral(":/symbols/") + file), fresh) << file.toStdString() << " is stale in the bundle";
    }
}
