#include "platform/XRandRDisplayList.h"
#include "support/XvfbFixture.h"

#include <gtest/gtest.h>

using namespace corvessa;

namespace {

class XRandRDisplayListXvfb : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_xvfb = new test::XvfbFixture;
        s_xvfb->start(&s_error);
    }
    static void TearDownTestSuite()
    {
        delete s_xvfb;
        s_xvfb = nullptr;
    }
    void SetUp() override
    {
        if (!test::XvfbFixture::isInstalled())
            GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_TRUE(s_xvfb->isRunning()) << s_error.toStdString();
    }
    static inline test::XvfbFixture* s_xvfb = nullptr;
    static inline QString s_error;
};

} // namespace

TEST_F(XRandRDisplayListXvfb, ReadsTheServersScreen)
{
    const QString display = s_xvfb->display();
    EXPECT_EQ(qgetenv("DISPLAY"), display.toLocal8Bit());
    EXPECT_TRUE(XRandRDisplayList::isAvailable(display));
    const auto displays = XRandRDisplayList(display).displays();
    ASSERT_EQ(displays.size(), 1u);
    const DisplayInfo& d = displays[0];
    EXPECT_TRUE(d.isPrimary);
    EXPECT_EQ(d.frame, QRectF(0, 0, 1280, 800));
    EXPECT_EQ(d.scale, 1);
    EXPECT_EQ(d.id, DisplayInfo::idForName(d.name));
    EXPECT_FALSE(d.uuid.isEmpty());
    EXPECT_GE(d.refreshRate, 0);
    // $DISPLAY is the fixture's server.
    EXPECT_EQ(XRandRDisplayList().displays(), displays);
}

TEST_F(XRandRDisplayListXvfb, OutputsGiveTheConversionsOfTheLayout)
{
    const auto outputs = XRandRDisplayList(s_xvfb->display()).outputs();
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].pixels, QRectF(0, 0, 1280, 800));
    const ScreenCoordinates c = XRandRDisplayList::coordinates(outputs);
    EXPECT_EQ(c.primaryHeight(), 800);
    EXPECT_EQ(c.globalFromPixel(QPointF(0, 0)), QPointF(0, 800));
    EXPECT_EQ(c.globalFromPixel(QPointF(1279, 799)), QPointF(1279, 1));
}
