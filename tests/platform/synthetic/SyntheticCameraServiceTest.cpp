#include "platform/core/SerialQueue.h"
#include "platform/synthetic/SyntheticCameraService.h"
#include "platform/synthetic/SyntheticCameraStream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

using namespace corvessa;
using namespace std::chrono_literals;

namespace {

const QString kId = QStringLiteral("synthetic-camera");

struct Collected {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<SampleBuffer> frames;
    int drops = 0;
    std::vector<CameraError> stops;

    template <typename Pred>
    bool waitFor(Pred pred, std::chrono::milliseconds timeout = 3000ms)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return pred(*this); });
    }
};

CameraStreamOutput outputTo(const std::shared_ptr<Collected>& c)
{
    CameraStreamOutput o;
    o.onFrame = [c](const SampleBuffer& s) {
        std::lock_guard lock(c->mutex);
        c->frames.push_back(s);
        c->changed.notify_all();
    };
    o.onDrop = [c](int n) {
        std::lock_guard lock(c->mutex);
        c->drops += n;
        c->changed.notify_all();
    };
    o.onStop = [c](const CameraError& e) {
        std::lock_guard lock(c->mutex);
        c->stops.push_back(e);
        c->changed.notify_all();
    };
    return o;
}

int indexOf(const CameraDevice& d, int w, int h)
{
    for (size_t i = 0; i < d.formats.size(); ++i) {
        if (d.formats[i].width == w && d.formats[i].height == h)
            return int(i);
    }
    return -1;
}

} // namespace

TEST(SyntheticCamera, DeliversANumberedMovingPatternAtTheLockedRate)
{
    SyntheticCameraService service;
    SerialQueue queue("camera.capture");
    auto c = std::make_shared<Collected>();
    auto stream = service.open(kId, &queue, outputTo(c));
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->device().name, QStringLiteral("Synthetic Camera"));
    ASSERT_EQ(stream->configure({indexOf(stream->device(), 640, 480), 28, PixelFormat::BGRA}), std::nullopt);
    EXPECT_EQ(stream->activeFormat()->frameInterval, MediaTime(1, 30));
    ASSERT_EQ(stream->start(), std::nullopt);
    EXPECT_EQ(service.runningStreams(), 1);
    ASSERT_TRUE(c->waitFor([](Collected& c) { return c.frames.size() >= 5; }));
    stream->stop();
    queue.sync([] {});

    std::lock_guard lock(c->mutex);
    std::optional<uint32_t> previous;
    for (const SampleBuffer& s : c->frames) {
        const PixelBuffer& b = *s.imageBuffer();
        EXPECT_EQ(b.width(), 640);
        EXPECT_EQ(s.duration(), MediaTime(1, 30));
        const auto number = SyntheticCameraStream::frameNumber(b);
        ASSERT_TRUE(number);
        if (previous) {
            EXPECT_GT(*number, *previous);
        }
        previous = number;
        // The background is the camera's green, away from the counter and the bar.
        const uint8_t* p = b.baseAddress(0) + size_t(400) * b.bytesPerRow(0) + size_t(b.width() - 1) * 4;
        EXPECT_EQ(p[1], SyntheticCameraStream::kBackground.g);
    }
    EXPECT_EQ(service.runningStreams(), 0);
}

TEST(SyntheticCamera, ChangesPictureSizeOnCommandAndDeliversNv12)
{
    SyntheticCameraService service;
    SerialQueue queue("camera.capture");
    auto c = std::make_shared<Collected>();
    auto stream = service.open(kId, &queue, outputTo(c));
    ASSERT_EQ(stream->configure({indexOf(stream->device(), 1280, 720), 30, PixelFormat::NV12VideoRange}), std::nullopt);
    ASSERT_EQ(stream->start(), std::nullopt);
    ASSERT_TRUE(c->waitFor([](Collected& c) { return !c.frames.empty(); }));
    service.changeFrameSize(kId, QSize(640, 360));
    ASSERT_TRUE(c->waitFor([](Collected& c) { return c.frames.back().imageBuffer()->width() == 640; }));
    std::lock_guard lock(c->mutex);
    EXPECT_EQ(c->frames.front().imageBuffer()->width(), 1280);
    EXPECT_EQ(c->frames.back().imageBuffer()->height(), 360);
    EXPECT_EQ(c->frames.back().imageBuffer()->format(), PixelFormat::NV12VideoRange);
    EXPECT_TRUE(SyntheticCameraStream::frameNumber(*c->frames.back().imageBuffer()));
}

TEST(SyntheticCamera, UnpluggingEndsStreamsAndTellsObservers)
{
    SyntheticCameraService service;
    CameraDevice other = SyntheticCameraService::defaultDevice();
    other.id = QStringLiteral("other");
    std::mutex mutex;
    std::vector<CameraDeviceChange> changes;
    auto observation = service.observeDevices([&](const CameraDeviceChange& change) {
        std::lock_guard lock(mutex);
        changes.push_back(change);
    });
    service.addDevice(other);
    service.addDevice(other); // already there: no notice

    SerialQueue queue("camera.capture");
    auto c = std::make_shared<Collected>();
    auto stream = service.open(kId, &queue, outputTo(c));
    ASSERT_EQ(stream->configure({0, 30}), std::nullopt);
    ASSERT_EQ(stream->start(), std::nullopt);
    ASSERT_TRUE(c->waitFor([](Collected& c) { return !c.frames.empty(); }));

    service.disconnect(kId);
    ASSERT_TRUE(c->waitFor([](Collected& c) { return !c.stops.empty(); }));
    EXPECT_EQ(c->stops.front().code, CameraErrorCode::Disconnected);
    EXPECT_FALSE(stream->isRunning());
    EXPECT_EQ(stream->start()->code, CameraErrorCode::Disconnected);
    ASSERT_EQ(service.devices().size(), 1u);
    EXPECT_EQ(service.devices().front().id, QStringLiteral("other"));

    std::lock_guard lock(mutex);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].added.front().id, QStringLiteral("other"));
    EXPECT_TRUE(changes[1].wasRemoved(kId));

    observation.reset();
    service.disconnect(QStringLiteral("other"));
    EXPECT_EQ(changes.size(), 2u); // no longer observed
}

TEST(SyntheticCamera, RefusesOnCommand)
{
    SyntheticCameraService service;
    SerialQueue queue("camera.capture");
    CameraError error;
    EXPECT_FALSE(service.open(QStringLiteral("nothing"), &queue, {}, &error));
    EXPECT_EQ(error.code, CameraErrorCode::NotFound);
    service.setOpenError(CameraError{CameraErrorCode::OpenFailed, QStringLiteral("denied"), 13});
    EXPECT_FALSE(service.open(kId, &queue, {}, &error));
    EXPECT_EQ(error.osCode, 13);
    service.setOpenError(std::nullopt);

    auto stream = service.open(kId, &queue, {});
    ASSERT_TRUE(stream);
    service.setConfigureError(CameraError{CameraErrorCode::Busy, {}, 16});
    EXPECT_EQ(stream->configure({0, 30})->code, CameraErrorCode::Busy);
    service.setConfigureError(std::nullopt);
    ASSERT_EQ(stream->configure({0, 30}), std::nullopt);
    service.setStartError(CameraError{CameraErrorCode::StartFailed, QStringLiteral("bandwidth"), 28});
    EXPECT_EQ(stream->start()->osCode, 28);
    EXPECT_EQ(service.openStreams(), 1);
    stream.reset();
    EXPECT_EQ(service.openStreams(), 0);
}
