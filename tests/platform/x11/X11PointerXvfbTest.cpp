#include "platform/x11/X11PointerService.h"
#include "support/WindowManager.h"
#include "support/XvfbTest.h"

#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>

using namespace corvessa;

namespace {

class X11PointerXvfb : public test::XvfbTest {
protected:
    X11PointerXvfb() : XvfbTest(Client::open) {}

    // The server applies cursor changes as the pointer moves; give it a moment.
    static bool eventually(const std::function<bool()>& condition)
    {
        QElapsedTimer clock;
        clock.start();
        while (!condition()) {
            if (clock.elapsed() > 3000)
                return false;
            QThread::msleep(10);
        }
        return true;
    }

    static bool xdotool(const QStringList& args) { return test::WindowManager::xdotool(args); }
};

} // namespace

TEST_F(X11PointerXvfb, PositionIsInGlobalPointsWithYUp)
{
    X11PointerService pointer;
    client->warpPointer(QPoint(640, 100));
    auto state = pointer.state();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->location, (GlobalPoint{640, 700})); // 800 high: y counts up from the bottom
    EXPECT_FALSE(state->primaryDown);

    client->warpPointer(QPoint(0, 799));
    EXPECT_EQ(pointer.state()->location, (GlobalPoint{0, 1}));
    client->warpPointer(QPoint(1279, 0));
    EXPECT_EQ(pointer.state()->location, (GlobalPoint{1279, 800}));
}

TEST_F(X11PointerXvfb, PrimaryButtonState)
{
    X11PointerService pointer;
    client->warpPointer(QPoint(300, 300));
    if (!xdotool({QStringLiteral("mousedown"), QStringLiteral("1")}))
        GTEST_SKIP() << "xdotool is not available";
    EXPECT_TRUE(eventually([&] { return pointer.state() && pointer.state()->primaryDown; }));
    // Another button is not the primary one.
    ASSERT_TRUE(xdotool({QStringLiteral("mouseup"), QStringLiteral("1")}));
    ASSERT_TRUE(xdotool({QStringLiteral("mousedown"), QStringLiteral("3")}));
    EXPECT_TRUE(eventually([&] { return pointer.state() && !pointer.state()->primaryDown; }));
    xdotool({QStringLiteral("mouseup"), QStringLiteral("3")});
}

TEST_F(X11PointerXvfb, CursorImageNameAndHotSpot)
{
    X11PointerService pointer;
    const uint32_t text = client->createWindow(QRect(0, 0, 640, 800));
    const uint32_t plain = client->createWindow(QRect(640, 0, 640, 800));
    client->setCursor(text, QStringLiteral("xterm"), QPoint(3, 5), QColor(255, 0, 0), 16);
    client->setCursor(plain, QStringLiteral("left_ptr"), QPoint(1, 1), QColor(0, 0, 255), 24);

    client->warpPointer(QPoint(100, 100));
    ASSERT_TRUE(eventually([&] {
        auto c = pointer.cursorImage();
        return c && c->name == QLatin1String("xterm");
    }));
    const CursorImage ibeam = *pointer.cursorImage();
    EXPECT_FALSE(ibeam.isPlainArrow());
    EXPECT_EQ(ibeam.size, QSizeF(16, 16));
    EXPECT_EQ(ibeam.hot, QPointF(3, 5));
    ASSERT_EQ(ibeam.image.size(), QSize(16, 16));
    EXPECT_EQ(ibeam.image.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(ibeam.image.pixel(2, 2), qRgba(255, 0, 0, 255));   // top half: the colour
    EXPECT_EQ(qAlpha(ibeam.image.pixel(2, 13)), 0);              // bottom half: clear
    // The same cursor again: the same serial and picture.
    const CursorImage again = *pointer.cursorImage();
    EXPECT_EQ(again.serial, ibeam.serial);
    EXPECT_EQ(again.image, ibeam.image);

    client->warpPointer(QPoint(900, 100));
    ASSERT_TRUE(eventually([&] {
        auto c = pointer.cursorImage();
        return c && c->name == QLatin1String("left_ptr");
    }));
    const CursorImage arrow = *pointer.cursorImage();
    EXPECT_TRUE(arrow.isPlainArrow());
    EXPECT_NE(arrow.serial, ibeam.serial);
    EXPECT_EQ(arrow.size, QSizeF(24, 24));

    client->destroyWindow(text);
    client->destroyWindow(plain);
}

TEST_F(X11PointerXvfb, WindowFramesInWindowServerSpace)
{
    X11PointerService pointer;
    const uint32_t plain = client->createWindow(QRect(100, 150, 300, 200));
    const uint32_t bordered = client->createWindow(QRect(500, 300, 200, 100), 4);
    EXPECT_EQ(pointer.windowFrame(plain), QRectF(100, 150, 300, 200));
    // The border belongs to the window's picture.
    EXPECT_EQ(pointer.windowFrame(bordered), QRectF(496, 296, 208, 108));

    // A window that is gone answers nothing, without taking the program down.
    client->destroyWindow(plain);
    EXPECT_FALSE(pointer.windowFrame(plain));
    EXPECT_FALSE(pointer.windowFrame(0));
    EXPECT_FALSE(pointer.windowFrame(0x7ffffff0));
    // The connection still works afterwards.
    EXPECT_EQ(pointer.windowFrame(bordered), QRectF(496, 296, 208, 108));
    EXPECT_TRUE(pointer.state());
    client->destroyWindow(bordered);
}
