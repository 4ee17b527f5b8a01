#include "platform/core/KeyCodeMap.h"
#include "platform/core/SerialQueue.h"
#include "platform/x11/X11ConnectionLoss.h"
#include "platform/x11/X11GlobalHotKeys.h"
#include "platform/x11/X11PointerService.h"
#include "platform/x11/X11ScreenSource.h"
#include "platform/x11/XRandRDisplayList.h"
#include "support/XvfbTest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

using namespace corvessa;

// Every connection of ours outlives its X server: Xlib's default would end the
// program at the first call that finds the connection broken. The suite kills
// its server, so it has one of its own.

namespace {

class X11ServerLossXvfb : public test::XvfbTest {};

// Runs the main thread's event loop for a while, as the program's would.
void spin(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
}

} // namespace

TEST_F(X11ServerLossXvfb, EveryConnectionOfOursOutlivesTheServer)
{
    if (!X11ConnectionLoss::isSurvivable())
        GTEST_SKIP() << "this libX11 (before 1.7) always ends the program on a lost connection";
    const QString display = s_xvfb->display();
    X11PointerService pointer(display);
    ASSERT_TRUE(pointer.state());
    X11GlobalHotKeys hotKeys(display);
    const qint64 key = *KeyCodeMap::keyCode(quint32('s'));
    const qint64 modifiers = KeyCodeMap::controlBit | KeyCodeMap::optionBit;
    ASSERT_EQ(hotKeys.registerKey(1, key, modifiers), GlobalHotKeys::Status::registered);

    X11ScreenSource source(display);
    const auto content = source.content();
    ASSERT_TRUE(content && !content->displays.empty());
    ScreenFilter filter;
    filter.kind = ScreenFilter::Kind::Display;
    filter.displayId = content->displays.front().id;
    ScreenStreamConfig config;
    config.width = 320;
    config.height = 200;
    config.pixelFormat = PixelFormat::BGRA;
    config.minimumFrameInterval = MediaTime(1, 30);
    SerialQueue queue("test.capture");
    std::mutex mutex;
    std::condition_variable stopped;
    std::optional<RecorderError> stopError;
    ScreenStreamOutput output;
    output.onScreen = [](const SampleBuffer&) {};
    output.onStop = [&](const RecorderError& e) {
        std::lock_guard lock(mutex);
        stopError = e;
        stopped.notify_all();
    };
    const auto stream = source.makeStream(filter, config, &queue, output);
    ASSERT_FALSE(stream->start());

    s_xvfb->kill();

    {
        // The capture thread finds the end of its connection.
        std::unique_lock lock(mutex);
        ASSERT_TRUE(stopped.wait_for(lock, std::chrono::seconds(5), [&] { return stopError.has_value(); }));
        EXPECT_EQ(stopError->code, int(ScreenCaptureErrorCode::ServerUnavailable));
    }
    stream->stop();

    // The pointer answers nothing, also across its attempts to connect again.
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(pointer.state());
        EXPECT_FALSE(pointer.cursorImage());
        EXPECT_FALSE(pointer.windowFrame(1));
        spin(600);
    }

    // The hot keys' socket ends: reading stops and the grabs went with the server.
    spin(200);
    EXPECT_FALSE(hotKeys.isConnected());
    EXPECT_EQ(hotKeys.registrationCount(), 0);
    EXPECT_EQ(hotKeys.registerKey(2, key, modifiers), GlobalHotKeys::Status::unavailable);
    hotKeys.unregisterKey(1);

    EXPECT_TRUE(XRandRDisplayList(display).outputs().empty());
    RecorderError error;
    EXPECT_FALSE(source.content(&error));
    EXPECT_EQ(error.code, int(ScreenCaptureErrorCode::ServerUnavailable));
    const auto again = source.makeStream(filter, config, &queue, output);
    EXPECT_TRUE(again->start());
}
