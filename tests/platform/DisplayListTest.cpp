#include "platform/DisplayList.h"
#include "platform/synthetic/SyntheticDisplayList.h"
#include "platform/x11/XRandRDisplayList.h"

#include <gtest/gtest.h>

using namespace corvessa;
using Output = XRandRDisplayList::Output;

namespace {

// A 128-byte EDID base block with the given identification bytes.
QByteArray edid(uint16_t vendor, uint16_t product, uint32_t serial)
{
    QByteArray e(128, '\0');
    const QByteArray header = QByteArray::fromHex("00ffffffffffff00");
    e.replace(0, 8, header);
    e[8] = char(vendor >> 8);
    e[9] = char(vendor & 0xff);
    e[10] = char(product & 0xff);
    e[11] = char(product >> 8);
    for (int i = 0; i < 4; ++i)
        e[12 + i] = char((serial >> (8 * i)) & 0xff);
    return e;
}

Output output(const QString& name, QRectF frame, bool primary = false)
{
    Output o;
    o.name = name;
    o.frame = frame;
    o.refreshRate = 60;
    o.isPrimary = primary;
    return o;
}

} // namespace

TEST(DisplayInfo, IdIsFnv1aOfTheOutputName)
{
    // Published FNV-1a 32-bit vectors, then output names.
    EXPECT_EQ(DisplayInfo::idForName(""), 0x811c9dc5u);
    EXPECT_EQ(DisplayInfo::idForName("a"), 0xe40c292cu);
    EXPECT_EQ(DisplayInfo::idForName("foobar"), 0xbf9cf968u);
    EXPECT_EQ(DisplayInfo::idForName("DP-1"), 0x1dbad777u);
    EXPECT_EQ(DisplayInfo::idForName("HDMI-A-0"), 0x47306448u);
    // Hashed over UTF-8 bytes.
    EXPECT_EQ(DisplayInfo::idForName(QString::fromUtf8("é")), 0x1e9de8c1u);
}

TEST(DisplayInfo, PixelSizeAppliesTheScale)
{
    DisplayInfo d = SyntheticDisplayList::makeDisplay("eDP-1", GlobalRect(0, 0, 1440, 900), 2);
    EXPECT_EQ(d.pixelSize(), QSize(2880, 1800));
    d.scale = 1.5;
    EXPECT_EQ(d.pixelSize(), QSize(2160, 1350));
}

TEST(SyntheticDisplayList, ReportsWhatItWasGiven)
{
    SyntheticDisplayList list;
    EXPECT_TRUE(list.displays().empty());
    EXPECT_FALSE(list.primary());

    const DisplayInfo left = SyntheticDisplayList::makeDisplay("HDMI-1", GlobalRect(-1920, 0, 1920, 1080));
    const DisplayInfo main = SyntheticDisplayList::makeDisplay("DP-1", GlobalRect(0, 0, 2560, 1440), 2, 120, true);
    list.setDisplays({left, main});
    EXPECT_EQ(list.displays(), (std::vector<DisplayInfo>{left, main}));
    EXPECT_EQ(list.primary(), main);
    EXPECT_EQ(list.display(DisplayInfo::idForName("HDMI-1")), left);
    EXPECT_FALSE(list.display(12345));
    EXPECT_EQ(main.uuid, "DP-1");
    EXPECT_EQ(main.label, "DP-1");
    EXPECT_EQ(main.visibleFrame, main.frame);
    EXPECT_EQ(main.id, DisplayInfo::idForName("DP-1"));

    // Without a marked primary, the first display stands in.
    list.setDisplays({left});
    EXPECT_EQ(list.primary(), left);

    const auto defaults = SyntheticDisplayList::defaultDisplays();
    ASSERT_EQ(defaults.size(), 1u);
    EXPECT_TRUE(defaults[0].isPrimary);
    EXPECT_EQ(defaults[0].pixelSize(), QSize(1920, 1080));
}

TEST(DisplayList, CurrentCanBeReplacedForTests)
{
    auto synthetic = std::make_shared<SyntheticDisplayList>(SyntheticDisplayList::defaultDisplays());
    DisplayList::setCurrent(synthetic);
    EXPECT_EQ(DisplayList::current(), synthetic);
    // Going back to the automatic choice always yields some list.
    DisplayList::setCurrent(nullptr);
    const auto automatic = DisplayList::current();
    ASSERT_TRUE(automatic);
    EXPECT_NE(automatic, synthetic);
    EXPECT_EQ(DisplayList::current(), automatic);
    DisplayList::setCurrent(synthetic);
    EXPECT_EQ(DisplayList::current()->displays(), synthetic->displays());
    DisplayList::setCurrent(nullptr);
}

TEST(XRandRDisplayList, LayoutBecomesGlobalPointsFromThePrimaryBottomLeft)
{
    // X layout (y down): a primary 2560x1440 at x 1920, a 1920x1080 to its left and
    // lower, a 1280x1024 above-left at a negative origin, and one beyond a gap.
    std::vector<Output> outputs{
        output("HDMI-1", QRectF(0, 360, 1920, 1080)),
        output("DP-1", QRectF(1920, 0, 2560, 1440), true),
        output("DP-2", QRectF(-1280, -1024, 1280, 1024)),
        output("DP-3", QRectF(4600, 100, 1920, 1200)),
    };
    const auto displays = XRandRDisplayList::fromOutputs(outputs);
    ASSERT_EQ(displays.size(), 4u);
    EXPECT_EQ(displays[0].name, "DP-1");
    EXPECT_TRUE(displays[0].isPrimary);
    EXPECT_EQ(displays[0].frame, GlobalRect(0, 0, 2560, 1440));
    EXPECT_EQ(displays[1].name, "DP-2");
    EXPECT_EQ(displays[1].frame, GlobalRect(-3200, 1440, 1280, 1024));
    EXPECT_EQ(displays[2].name, "HDMI-1");
    EXPECT_EQ(displays[2].frame, GlobalRect(-1920, 0, 1920, 1080)); // bottoms aligned
    EXPECT_EQ(displays[3].name, "DP-3");
    EXPECT_EQ(displays[3].frame, GlobalRect(2680, 140, 1920, 1200));
    for (const DisplayInfo& d : displays) {
        EXPECT_EQ(d.id, DisplayInfo::idForName(d.name));
        EXPECT_EQ(d.uuid, d.name); // no EDID
        EXPECT_EQ(d.isPrimary, d.name == "DP-1");
    }
}

TEST(XRandRDisplayList, CoordinatesFollowThePrimaryAndEachOutputsScale)
{
    // A 2x output left of the primary: its pixels are twice its points.
    Output hidpi = output("eDP-1", QRectF(0, 0, 1440, 900));
    hidpi.pixels = QRectF(0, 0, 2880, 1800);
    hidpi.scale = 2;
    Output main = output("DP-1", QRectF(2880, 200, 1920, 1080), true);
    main.pixels = QRectF(2880, 200, 1920, 1080);
    const ScreenCoordinates c = XRandRDisplayList::coordinates({hidpi, main});
    EXPECT_EQ(c.primary(), main.frame);
    EXPECT_EQ(c.globalFromPixel(QPointF(2880, 200)), (GlobalPoint{0, 1080}));
    EXPECT_EQ(c.globalFromPixel(QPointF(200, 100)), (GlobalPoint{-2780, 1230})); // (100, 50) in points
    // The display list places frames the same way.
    const auto displays = XRandRDisplayList::fromOutputs({hidpi, main});
    EXPECT_EQ(displays.at(1).frame, c.toGlobalRect(hidpi.frame));
    // An output without pixels counts its points as pixels.
    EXPECT_EQ(XRandRDisplayList::coordinates({output("A", QRectF(0, 0, 800, 600), true)}).pointFromPixel(QPointF(7, 9)),
              QPointF(7, 9));
    EXPECT_EQ(XRandRDisplayList::coordinates({}).primary(), QRectF());
}

TEST(XRandRDisplayList, FirstOutputIsPrimaryWhenNoneIsMarked)
{
    const auto displays = XRandRDisplayList::fromOutputs(
        {output("A", QRectF(100, 200, 800, 600)), output("B", QRectF(900, 0, 800, 800))});
    ASSERT_EQ(displays.size(), 2u);
    EXPECT_EQ(displays[0].name, "A");
    EXPECT_TRUE(displays[0].isPrimary);
    EXPECT_FALSE(displays[1].isPrimary);
    EXPECT_EQ(displays[0].frame, GlobalRect(0, 0, 800, 600));
    EXPECT_EQ(displays[1].frame, GlobalRect(800, 0, 800, 800));
    EXPECT_TRUE(XRandRDisplayList::fromOutputs({}).empty());
}

TEST(XRandRDisplayList, UuidIsTheEdidIdentityInHex)
{
    const QByteArray dell = edid(0x10AC, 0xA0C4, 0x4C4A3831);
    EXPECT_EQ(XRandRDisplayList::uuidFromEdid(dell, "DP-1"), "10AC-A0C4-4C4A3831");
    EXPECT_EQ(XRandRDisplayList::uuidFromEdid(dell + QByteArray(128, '\x02'), "DP-1"), "10AC-A0C4-4C4A3831");
    EXPECT_EQ(XRandRDisplayList::uuidFromEdid(edid(0x0610, 0x1, 0), "eDP-1"), "0610-0001-00000000");
    // Unreadable EDIDs fall back to the output name.
    EXPECT_EQ(XRandRDisplayList::uuidFromEdid({}, "DP-1"), "DP-1");
    EXPECT_EQ(XRandRDisplayList::uuidFromEdid(dell.left(127), "DP-1"), "DP-1");
    QByteArray badHeader = dell;
    badHeader[0] = 1;
    EXPECT_EQ(XRandRDisplayList::uuidFromEdid(badHeader, "DP-1"), "DP-1");
    EXPECT_EQ(XRandRDisplayList::uuidFromEdid(edid(0, 0, 0), "VGA-1"), "VGA-1");

    Output o = output("DP-1", QRectF(0, 0, 100, 100), true);
    o.edid = dell;
    EXPECT_EQ(XRandRDisplayList::fromOutputs({o}).at(0).uuid, "10AC-A0C4-4C4A3831");
}

TEST(XRandRDisplayList, LabelIsTheMonitorNameDescriptor)
{
    // Descriptor 2 names the monitor: three zero bytes, tag 0xFC, a zero, then
    // up to 13 characters ended by a line feed and padded with spaces.
    auto named = [](const QByteArray& text, int at = 72) {
        QByteArray e = edid(0x10AC, 0xA0C4, 1);
        e.replace(at, 5, QByteArray::fromHex("000000fc00"));
        e.replace(at + 5, 13, (text + "\n" + QByteArray(13, ' ')).left(13));
        return e;
    };
    EXPECT_EQ(XRandRDisplayList::labelFromEdid(named("DELL U2720Q"), "DP-1"), "DELL U2720Q");
    EXPECT_EQ(XRandRDisplayList::labelFromEdid(named("ABCDEFGHIJKLM", 108), "DP-1"), "ABCDEFGHIJKLM");
    // No descriptor, an empty or unprintable one, or no EDID: the output name.
    for (const QByteArray& e : {edid(1, 2, 3), named(""), named("Bad\x01Name"), named("x").left(100), QByteArray()})
        EXPECT_EQ(XRandRDisplayList::labelFromEdid(e, "HDMI-1"), "HDMI-1");

    Output o = output("DP-1", QRectF(0, 0, 100, 100), true);
    o.edid = named("Studio");
    EXPECT_EQ(XRandRDisplayList::fromOutputs({o}).at(0).label, "Studio");
}

TEST(XRandRDisplayList, VisibleFrameIsTheWorkAreaOnEachDisplay)
{
    // A panel 30 pixels high along the top of a 2x primary: 15 points off its
    // top; the second display, right of it, is untouched by the panel.
    Output hidpi = output("eDP-1", QRectF(0, 0, 1440, 900), true);
    hidpi.pixels = QRectF(0, 0, 2880, 1800);
    hidpi.scale = 2;
    Output side = output("DP-1", QRectF(1440, 0, 1920, 1080));
    side.pixels = QRectF(2880, 0, 1920, 1080);
    for (Output* o : {&hidpi, &side})
        o->workArea = QRectF(0, 30, 4800, 1770);
    const auto displays = XRandRDisplayList::fromOutputs({hidpi, side});
    ASSERT_EQ(displays.size(), 2u);
    EXPECT_EQ(displays[0].visibleFrame, GlobalRect(0, 0, 1440, 885));
    EXPECT_EQ(displays[1].visibleFrame, GlobalRect(1440, -180, 1920, 1050));
    for (const DisplayInfo& d : displays)
        EXPECT_TRUE(d.frame.contains(d.visibleFrame)) << d.name.toStdString();

    // Unknown, or missing the display: the whole frame.
    for (const QRectF& area : {QRectF(), QRectF(9000, 0, 10, 10)}) {
        side.workArea = area;
        const auto d = XRandRDisplayList::fromOutputs({side}).at(0);
        EXPECT_EQ(d.visibleFrame, d.frame);
    }
}

TEST(XRandRDisplayList, RefreshRateFromModeTiming)
{
    EXPECT_DOUBLE_EQ(XRandRDisplayList::refreshRate(148500000, 2200, 1125), 60.0);
    EXPECT_NEAR(XRandRDisplayList::refreshRate(148351648, 2200, 1125), 59.94, 0.001);
    EXPECT_NEAR(XRandRDisplayList::refreshRate(241500000, 2720, 1481), 59.95, 0.01);
    EXPECT_DOUBLE_EQ(XRandRDisplayList::refreshRate(74250000, 2200, 1125, true), 60.0);   // 1080i fields
    EXPECT_DOUBLE_EQ(XRandRDisplayList::refreshRate(50350000, 800, 524, false, true), 50350000.0 / (800 * 1048));
    EXPECT_EQ(XRandRDisplayList::refreshRate(0, 2200, 1125), 0);
    EXPECT_EQ(XRandRDisplayList::refreshRate(148500000, 0, 1125), 0);
    EXPECT_EQ(XRandRDisplayList::refreshRate(148500000, 2200, 0), 0);
}

TEST(XRandRDisplayList, UnreachableDisplayGivesAnEmptyList)
{
    const QString nowhere = QStringLiteral(":987");
    EXPECT_FALSE(XRandRDisplayList::isAvailable(nowhere));
    EXPECT_TRUE(XRandRDisplayList(nowhere).displays().empty());
    EXPECT_FALSE(XRandRDisplayList(nowhere).primary());
}
