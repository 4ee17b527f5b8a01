#include "platform/core/UserDefaults.h"
#include "prefs/Loc.h"
#include "prefs/VideoQuality.h"
#include "support/English.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace corvessa;
using namespace Qt::StringLiterals;

namespace {

TEST(VideoQuality, SizeTextAtItsBoundaries)
{
    // The gigabyte threshold is tested before rounding.
    EXPECT_EQ(VideoQuality::sizeText(999.9), u"1000 MB"_s);
    EXPECT_EQ(VideoQuality::sizeText(1000), u"1.0 GB"_s);
    EXPECT_EQ(VideoQuality::sizeText(1549), u"1.5 GB"_s);
    EXPECT_EQ(VideoQuality::sizeText(2360), u"2.4 GB"_s);
    EXPECT_EQ(VideoQuality::sizeText(4.9), u"0 MB"_s);
    EXPECT_EQ(VideoQuality::sizeText(5), u"10 MB"_s);
    EXPECT_EQ(VideoQuality::sizeText(0), u"0 MB"_s);
    EXPECT_EQ(VideoQuality::sizeText(344.9), u"340 MB"_s);
    EXPECT_EQ(VideoQuality::sizeText(345), u"350 MB"_s);
    EXPECT_EQ(VideoQuality::sizeText(12345), u"12.3 GB"_s);
}

TEST(VideoQuality, SizeTextOfNonsenseIsZero)
{
    EXPECT_EQ(VideoQuality::sizeText(-3), u"0 MB"_s);
    EXPECT_EQ(VideoQuality::sizeText(std::nan("")), u"0 MB"_s);
    EXPECT_EQ(VideoQuality::sizeText(std::numeric_limits<double>::infinity()), u"0 MB"_s);
}

TEST(VideoQuality, SizeTextIgnoresTheLocale)
{
    test::ServiceScope german{[] { QLocale::setDefault(QLocale(QLocale::German)); },
                             [saved = QLocale()] { QLocale::setDefault(saved); }};
    EXPECT_EQ(VideoQuality::sizeText(1549), u"1.5 GB"_s);
}

TEST(VideoQuality, TiersAndRates)
{
    EXPECT_EQ(VideoQuality::targetMbps.size(), 3u);
    EXPECT_EQ(VideoQuality::targetMbps[0], 3);
    EXPECT_EQ(VideoQuality::targetMbps[1], 6);
    EXPECT_EQ(VideoQuality::targetMbps[2], 12);
    EXPECT_EQ(VideoQuality::mbps(0, 20), 3);
    EXPECT_EQ(VideoQuality::mbps(2, 20), 12);
    EXPECT_EQ(VideoQuality::mbps(3, 20), 20);
    // A stored tier outside the list is Custom, never an index past the end.
    for (const int tier : {-1, 4, 7, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()}) {
        EXPECT_EQ(VideoQuality::index(tier), 3) << tier;
        EXPECT_EQ(VideoQuality::name(tier), u"Custom"_s) << tier;
        EXPECT_EQ(VideoQuality::mbps(tier, 9), 9) << tier;
    }
    // The custom rate is brought into range before it reaches the writer.
    EXPECT_EQ(VideoQuality::mbps(3, 0), 1);
    EXPECT_EQ(VideoQuality::mbps(3, 500), 40);
    EXPECT_EQ(VideoQuality::mbps(3, std::nan("")), 7.5);
}

TEST(VideoQuality, NamesFollowTheInterfaceLanguage)
{
    test::TempHome home;
    test::useEnglish();
    EXPECT_EQ(VideoQuality::names(), (QStringList{u"Low"_s, u"Medium"_s, u"High"_s, u"Custom"_s}));

    const QString dir = home.file(u"lang"_s);
    ASSERT_TRUE(QDir().mkpath(dir));
    QFile f(dir + u"/de.json"_s);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QJsonDocument(QJsonObject{{u"High"_s, u"Hoch"_s}}).toJson());
    f.close();
    Loc::setTableDirectory(dir);
    UserDefaults::standard().setString(u"language"_s, u"de"_s);
    Loc::load();
    const QStringList names = VideoQuality::names();
    EXPECT_EQ(names.value(2), u"Hoch"_s);
    EXPECT_EQ(names.value(1), u"Medium"_s); // no entry: the English name
    EXPECT_EQ(VideoQuality::name(2), u"Hoch"_s);

    test::useEnglish();
}

} // namespace
