#include "capture/VideoDevicePreferences.h"

#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "support/TempHome.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <limits>

using namespace corvessa;

namespace {

const QString kKey = QStringLiteral("captureVideoChoices.v1");

QJsonObject storedObject()
{
    const auto data = UserDefaults::standard().data(kKey);
    return data ? QJsonDocument::fromJson(*data).object() : QJsonObject();
}

void store(const QByteArray& bytes)
{
    UserDefaults::standard().setData(kKey, bytes);
}

} // namespace

TEST(VideoDevicePreferences, RemembersChoicesPerKeyInTheStandardDefaults)
{
    test::TempHome home;
    VideoDevicePreferences prefs;
    EXPECT_EQ(prefs.key(), kKey);
    EXPECT_FALSE(prefs.choice("camera:abc"));

    prefs.save({"1280x720", 30}, "camera:abc");
    prefs.save({"720", 60}, "screen:DP-1:window");
    prefs.save({"0", 24}, "screen:DP-1:area");
    prefs.save({"1920x1080", 29.97}, "camera:abc"); // replaces

    EXPECT_EQ(prefs.choice("camera:abc"), (VideoDeviceChoice{"1920x1080", 29.97}));
    // Window and area captures of one display are remembered apart.
    EXPECT_EQ(prefs.choice("screen:DP-1:window"), (VideoDeviceChoice{"720", 60}));
    EXPECT_EQ(prefs.choice("screen:DP-1:area"), (VideoDeviceChoice{"0", 24}));
    EXPECT_FALSE(prefs.choice("screen:DP-1:display"));

    // Stored as a data value holding one compact JSON object.
    const auto data = UserDefaults::standard().data(kKey);
    ASSERT_TRUE(data);
    EXPECT_FALSE(data->contains('\n'));
    const QJsonObject object = storedObject();
    EXPECT_EQ(object.size(), 3);
    EXPECT_EQ(object.value("camera:abc").toObject(),
              (QJsonObject{{"resolution", "1920x1080"}, {"frameRate", 29.97}}));

    // Nothing is cached: a fresh store on the same file reads the same choices.
    UserDefaults reopened(XdgPaths::defaultsFile());
    EXPECT_EQ(VideoDevicePreferences(reopened).choice("camera:abc"), (VideoDeviceChoice{"1920x1080", 29.97}));
    // Another key is another map.
    EXPECT_FALSE(VideoDevicePreferences(UserDefaults::standard(), "other").choice("camera:abc"));
}

TEST(VideoDevicePreferences, InvalidRatesAreNotSaved)
{
    test::TempHome home;
    VideoDevicePreferences prefs;
    prefs.save({"720", 30}, "screen:a:display");
    const auto before = UserDefaults::standard().data(kKey);

    for (const double bad : {0.05, 0.0, -30.0, 121.0, std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN()}) {
        prefs.save({"720", bad}, "screen:a:display");
        prefs.save({"720", bad}, "screen:b:display");
    }
    EXPECT_EQ(UserDefaults::standard().data(kKey), before);
    EXPECT_EQ(prefs.choice("screen:a:display"), (VideoDeviceChoice{"720", 30}));

    prefs.save({"720", 0.1}, "low");
    prefs.save({"720", 120}, "high");
    EXPECT_EQ(prefs.choice("low"), (VideoDeviceChoice{"720", 0.1}));
    EXPECT_EQ(prefs.choice("high"), (VideoDeviceChoice{"720", 120}));
}

TEST(VideoDevicePreferences, OutOfRangeEntriesAreDroppedOnReadAndRewrittenOnSave)
{
    test::TempHome home;
    const QByteArray blob =
        R"({"screen:x:display":{"resolution":"1080","frameRate":240},"camera:c":{"resolution":"640x480","frameRate":30}})";
    store(blob);
    VideoDevicePreferences prefs;
    EXPECT_FALSE(prefs.choice("screen:x:display"));
    EXPECT_EQ(prefs.choice("camera:c"), (VideoDeviceChoice{"640x480", 30}));
    // Reading leaves the stored blob alone.
    EXPECT_EQ(UserDefaults::standard().data(kKey), blob);

    prefs.save({"720", 60}, "screen:y:area");
    const QJsonObject object = storedObject();
    EXPECT_EQ(object.keys(), (QStringList{"camera:c", "screen:y:area"}));
}

TEST(VideoDevicePreferences, OneMalformedEntryCostsOnlyItself)
{
    test::TempHome home;
    store(R"({
        "camera:good": {"resolution": "1280x720", "frameRate": 30},
        "camera:noRate": {"resolution": "1280x720"},
        "camera:noResolution": {"frameRate": 30},
        "camera:textRate": {"resolution": "1280x720", "frameRate": "30"},
        "camera:numberResolution": {"resolution": 720, "frameRate": 30},
        "camera:notAnObject": "1280x720@30",
        "camera:null": null,
        "screen:s:display": {"resolution": "900", "frameRate": 60, "extra": true}
    })");
    VideoDevicePreferences prefs;
    EXPECT_EQ(prefs.choice("camera:good"), (VideoDeviceChoice{"1280x720", 30}));
    EXPECT_EQ(prefs.choice("screen:s:display"), (VideoDeviceChoice{"900", 60}));
    for (const char* bad : {"camera:noRate", "camera:noResolution", "camera:textRate", "camera:numberResolution",
                            "camera:notAnObject", "camera:null"})
        EXPECT_FALSE(prefs.choice(bad)) << bad;

    prefs.save({"640x480", 15}, "camera:new");
    EXPECT_EQ(storedObject().keys(), (QStringList{"camera:good", "camera:new", "screen:s:display"}));
    EXPECT_EQ(prefs.choice("camera:good"), (VideoDeviceChoice{"1280x720", 30}));
}

TEST(VideoDevicePreferences, UnreadableBlobsReadAsEmptyAndAreReplacedOnSave)
{
    test::TempHome home;
    VideoDevicePreferences prefs;
    for (const QByteArray& bad : {QByteArray("not json"), QByteArray("[1,2]"), QByteArray("\"text\""),
                                  QByteArray(R"({"camera:a":{"resolution":"1x1","frameRate":30})"), QByteArray()}) {
        store(bad);
        EXPECT_FALSE(prefs.choice("camera:a")) << bad.constData();
    }

    store("not json");
    prefs.save({"1280x720", 30}, "camera:a");
    EXPECT_EQ(storedObject(), (QJsonObject{{"camera:a", QJsonObject{{"resolution", "1280x720"}, {"frameRate", 30}}}}));

    // A value of another type under the key reads as absent too.
    UserDefaults::standard().setString(kKey, R"({"camera:a":{"resolution":"1280x720","frameRate":30}})");
    EXPECT_FALSE(prefs.choice("camera:a"));
}

TEST(VideoDevicePreferences, OversizedBlobsAreNotParsed)
{
    test::TempHome home;
    VideoDevicePreferences prefs;
    auto padded = [](qsizetype size) {
        QByteArray blob = R"({"camera:a":{"resolution":"1280x720","frameRate":30}})";
        blob.insert(1, QByteArray(size - blob.size(), ' '));
        return blob;
    };
    store(padded(VideoDevicePreferences::maximumBlobSize - 1));
    EXPECT_EQ(prefs.choice("camera:a"), (VideoDeviceChoice{"1280x720", 30}));
    store(padded(VideoDevicePreferences::maximumBlobSize));
    EXPECT_FALSE(prefs.choice("camera:a"));
}
