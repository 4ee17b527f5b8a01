#include "platform/PointerService.h"
#include "platform/synthetic/SyntheticPointerService.h"
#include "platform/x11/X11PointerService.h"

#include <gtest/gtest.h>

using namespace corvessa;

TEST(PointerService, PlainArrowNames)
{
    for (const char* name : {"left_ptr", "default", "arrow", "top_left_arrow"})
        EXPECT_TRUE(PointerService::isPlainArrowName(QString::fromLatin1(name))) << name;
    for (const char* name : {"", "xterm", "text", "hand2", "pointer", "left_ptr_watch", "Left_Ptr", "crosshair"})
        EXPECT_FALSE(PointerService::isPlainArrowName(QString::fromLatin1(name))) << name;
    CursorImage unnamed;
    EXPECT_FALSE(unnamed.isPlainArrow()); // an unnamed cursor is some program's own shape
}

TEST(SyntheticPointerService, ReportsWhatItWasGiven)
{
    SyntheticPointerService pointer;
    ASSERT_TRUE(pointer.state());
    EXPECT_EQ(pointer.state()->location, (GlobalPoint{0, 0}));
    EXPECT_FALSE(pointer.cursorImage());
    EXPECT_FALSE(pointer.windowFrame(7));

    pointer.setLocation({-300.5, 20});
    pointer.setPrimaryDown(true);
    EXPECT_EQ(pointer.state()->location, (GlobalPoint{-300.5, 20}));
    EXPECT_TRUE(pointer.state()->primaryDown);
    pointer.setState(std::nullopt);
    EXPECT_FALSE(pointer.state());

    // Every cursor shown gets a serial of its own, as on a server.
    CursorImage c;
    c.name = QStringLiteral("xterm");
    pointer.setCursor(c);
    const uint64_t first = pointer.cursorImage()->serial;
    pointer.setCursor(c);
    const uint64_t second = pointer.cursorImage()->serial;
    EXPECT_NE(first, 0u);
    EXPECT_GT(second, first);
    EXPECT_EQ(pointer.cursorQueries(), 3);

    pointer.setWindowFrame(7, QRectF(1, 2, 3, 4));
    EXPECT_EQ(pointer.windowFrame(7), QRectF(1, 2, 3, 4));
    pointer.setWindowFrame(7, std::nullopt);
    EXPECT_FALSE(pointer.windowFrame(7));
}

TEST(X11PointerService, WithoutADisplayEverythingIsAbsent)
{
    X11PointerService pointer(QStringLiteral(":987"));
    EXPECT_FALSE(X11PointerService::isAvailable(QStringLiteral(":987")));
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(pointer.state());
        EXPECT_FALSE(pointer.cursorImage());
        EXPECT_FALSE(pointer.windowFrame(0x400001));
    }
}

TEST(PointerService, CurrentCanBeReplaced)
{
    auto synthetic = std::make_shared<SyntheticPointerService>();
    PointerService::setCurrent(synthetic);
    EXPECT_EQ(PointerService::current(), synthetic);
    PointerService::setCurrent(nullptr);
    const auto automatic = PointerService::current();
    ASSERT_TRUE(automatic);
    EXPECT_NE(automatic, synthetic);
    PointerService::setCurrent(nullptr);
}
