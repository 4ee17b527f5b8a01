#include "capture/VideoDimensions.h"

#include <QJsonDocument>
#include <QSet>

#include <gtest/gtest.h>

#include <unordered_set>

using namespace corvessa;

TEST(VideoDimensions, IdRoundTrips)
{
    EXPECT_EQ((VideoDimensions{1920, 1080}).id(), "1920x1080");
    EXPECT_EQ(VideoDimensions::fromId(u"1920x1080"), (VideoDimensions{1920, 1080}));
    EXPECT_EQ(VideoDimensions::fromId(u"2x8192"), (VideoDimensions{2, 8192}));
    for (const VideoDimensions d : {VideoDimensions{640, 480}, VideoDimensions{1080, 1920}})
        EXPECT_EQ(VideoDimensions::fromId(d.id()), d);
}

TEST(VideoDimensions, IdParsingFollowsTheSplitAndRangeRules)
{
    // Empty pieces between repeated separators are dropped; a sign is accepted.
    EXPECT_EQ(VideoDimensions::fromId(u"1920xx1080"), (VideoDimensions{1920, 1080}));
    EXPECT_EQ(VideoDimensions::fromId(u"x1920x1080x"), (VideoDimensions{1920, 1080}));
    EXPECT_EQ(VideoDimensions::fromId(u"+1280x+720"), (VideoDimensions{1280, 720}));

    for (const char16_t* bad : {u"1920x1080x2", u"x1080", u"1x1080", u"9000x100", u"8193x2", u"1920x-1080",
                                u"", u"x", u"1920X1080", u" 1920x1080", u"1920x1080 ", u"19.5x1080", u"+x1080",
                                u"0x1f0", u"99999999999999999999x1080", u"１９２０x1080"})
        EXPECT_FALSE(VideoDimensions::fromId(bad).has_value()) << QString::fromUtf16(bad).toStdString();
}

TEST(VideoDimensions, TitleNamesTheShortSideOr4K)
{
    EXPECT_EQ((VideoDimensions{1920, 1080}).title(), QString::fromUtf8("1080p · 1920×1080"));
    EXPECT_EQ((VideoDimensions{3840, 2160}).title(), QString::fromUtf8("4K · 3840×2160"));
    EXPECT_EQ((VideoDimensions{1080, 1920}).title(), QString::fromUtf8("1080p · 1080×1920"));
    EXPECT_EQ((VideoDimensions{3840, 1600}).title(), QString::fromUtf8("4K · 3840×1600"));
    EXPECT_EQ((VideoDimensions{3839, 2160}).title(), QString::fromUtf8("2160p · 3839×2160"));
    // The separators are U+00B7 between spaces and U+00D7.
    const QString t = VideoDimensions{640, 480}.title();
    EXPECT_EQ(t, QStringLiteral("480p \u00B7 640\u00D7480"));
}

TEST(VideoDimensions, JsonNeedsBothWholeNumbers)
{
    const VideoDimensions d{1280, 720};
    const QByteArray json = QJsonDocument(d.toJson()).toJson(QJsonDocument::Compact);
    const QJsonObject back = QJsonDocument::fromJson(json).object();
    EXPECT_EQ(back.value("width").toInt(), 1280);
    EXPECT_EQ(back.value("height").toInt(), 720);
    EXPECT_EQ(VideoDimensions::fromJson(back), d);

    EXPECT_FALSE(VideoDimensions::fromJson(QJsonObject{{"width", 1280}}));
    EXPECT_FALSE(VideoDimensions::fromJson(QJsonObject{{"width", 1280}, {"height", "720"}}));
    EXPECT_FALSE(VideoDimensions::fromJson(QJsonObject{{"width", 1280.5}, {"height", 720}}));
    EXPECT_FALSE(VideoDimensions::fromJson(QJsonObject{{"width", 1e12}, {"height", 720}}));
    EXPECT_FALSE(VideoDimensions::fromJson(QJsonValue("1280x720")));
}

TEST(VideoDimensions, HashesOnBothSides)
{
    QSet<VideoDimensions> q{{1920, 1080}, {1920, 1080}, {1080, 1920}};
    std::unordered_set<VideoDimensions> s{{1920, 1080}, {1920, 1080}, {1080, 1920}};
    EXPECT_EQ(q.size(), 2);
    EXPECT_EQ(s.size(), 2u);
}
