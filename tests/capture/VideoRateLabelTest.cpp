#include "capture/VideoRateLabel.h"
#include "support/ServiceScope.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <limits>

using namespace corvessa;

namespace {

QString english(const QString& s)
{
    return s;
}

} // namespace

TEST(VideoRateLabel, WholeRatesHaveNoFractionOthersTwoDecimals)
{
    EXPECT_EQ(videoRateLabel(30, english), "30 fps");
    EXPECT_EQ(videoRateLabel(120, english), "120 fps");
    EXPECT_EQ(videoRateLabel(0, english), "0 fps");
    EXPECT_EQ(videoRateLabel(30000.0 / 1001.0, english), "29.97 fps");
    EXPECT_EQ(videoRateLabel(7.5, english), "7.50 fps");
    EXPECT_EQ(videoRateLabel(59.999, english), "60.00 fps");
    EXPECT_EQ(videoRateLabel(1e15, english), "1000000000000000 fps");
    EXPECT_EQ(videoRateLabel(std::numeric_limits<double>::quiet_NaN(), english), "nan fps");
}

TEST(VideoRateLabel, NumbersIgnoreTheLocale)
{
    test::ServiceScope german{[] { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); },
                             [saved = QLocale()] { QLocale::setDefault(saved); }};
    EXPECT_EQ(videoRateLabel(29.97, english), "29.97 fps");
    EXPECT_EQ(videoRateLabel(1000, english), "1000 fps");
}

TEST(VideoRateLabel, TemplateComesFromTheLookupAndIsFilled)
{
    QStringList asked;
    const TextLookup lookup = [&](const QString& key) {
        asked << key;
        return QStringLiteral("%@ images/s");
    };
    EXPECT_EQ(videoRateLabel(25, lookup), "25 images/s");
    EXPECT_EQ(asked, QStringList{"%@ fps"});

    // Fill rule: the first placeholder takes the number, later ones nothing, "%%" is "%".
    EXPECT_EQ(videoRateLabel(30, [](const QString&) { return QStringLiteral("%@ (%@) 100%%"); }), "30 () 100%");
    EXPECT_EQ(videoRateLabel(30, [](const QString&) { return QStringLiteral("fps"); }), "fps");
    // No lookup, or nothing found, gives the English template.
    EXPECT_EQ(videoRateLabel(30, TextLookup()), "30 fps");
    EXPECT_EQ(videoRateLabel(30, [](const QString&) { return QString(); }), "30 fps");
}
