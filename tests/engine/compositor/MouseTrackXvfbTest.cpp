#include "engine/compositor/MouseTrack.h"
#include "platform/x11/X11PointerService.h"
#include "support/XvfbTest.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace corvessa;

namespace {

class MouseTrackXvfb : public test::XvfbTest {
protected:
    MouseTrackXvfb() : XvfbTest(Client::open) {}

    // Runs the event loop until the condition holds (at most a few seconds).
    static bool pumpUntil(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 5000); }
};

} // namespace

TEST_F(MouseTrackXvfb, TracksTheRealPointerItsShapeAndTheWindow)
{
    const uint32_t window = client->createWindow(QRect(200, 100, 400, 300));
    client->setCursor(window, QStringLiteral("xterm"), QPoint(4, 7), QColor(0, 128, 255), 16);
    client->warpPointer(QPoint(50, 50)); // outside the window: the root's own cursor

    auto track = MouseTrack::create(std::make_shared<X11PointerService>());
    track->start(window);
    ASSERT_TRUE(pumpUntil([&] { return track->sample(1e12).has_value(); }));
    EXPECT_EQ(track->sample(1e12)->p, (GlobalPoint{50, 750}));

    // Over the window its cursor becomes a recorded shape.
    client->warpPointer(QPoint(300, 200));
    ASSERT_TRUE(pumpUntil([&] {
        const auto s = track->sample(1e12);
        return s && s->p == GlobalPoint{300, 600} && s->shape >= 0 && track->shape(s->shape)->hot == QPointF(4, 7);
    }));
    const auto shape = track->shape(track->sample(1e12)->shape);
    EXPECT_EQ(shape->size, QSizeF(16, 16));
    EXPECT_EQ(shape->image.pixel(1, 1), qRgb(0, 128, 255));
    // The window's frame, in window-server space.
    ASSERT_TRUE(pumpUntil([&] { return track->windowFrame().has_value(); }));
    EXPECT_EQ(track->windowFrame(), QRectF(200, 100, 400, 300));
    EXPECT_GT(track->lastActivity(), 0);

    track->stop();
    const size_t count = track->samples().size();
    QEventLoop loop;
    QTimer::singleShot(100, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(track->samples().size(), count);
    client->destroyWindow(window);
}
