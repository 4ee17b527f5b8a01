#include "platform/core/PixelBuffer.h"
#include "platform/core/SerialQueue.h"
#include "platform/synthetic/SyntheticAudioInput.h"
#include "platform/synthetic/SyntheticDisplayList.h"
#include "platform/synthetic/SyntheticScreenSource.h"
#include "platform/synthetic/SyntheticScreenStream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

using namespace corvessa;
using namespace std::chrono_literals;

namespace {

// What a stream delivered, in the order it arrived on the queue.
struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint32_t> numbers; // frame numbers read back from the pattern
    std::vector<MediaTime> times;
    std::vector<QSize> sizes;
    PixelBufferRef latest;
    int microphone = 0;
    std::vector<RecorderError> stops;
    bool offQueue = false;
    SerialQueue* queue = nullptr;

    ScreenStreamOutput output()
    {
        ScreenStreamOutput out;
        out.onScreen = [this](const SampleBuffer& s) {
            std::lock_guard lock(mutex);
            offQueue |= !queue->isCurrent();
            const PixelBufferRef& b = s.imageBuffer();
            numbers.push_back(SyntheticScreenStream::frameNumber(*b).value_or(~0u));
            times.push_back(s.presentationTime());
            sizes.emplace_back(b->width(), b->height());
            latest = b;
            changed.notify_all();
        };
        out.onMicrophone = [this](const SampleBuffer&) {
            std::lock_guard lock(mutex);
            offQueue |= !queue->isCurrent();
            ++microphone;
            changed.notify_all();
        };
        out.onStop = [this](const RecorderError& e) {
            std::lock_guard lock(mutex);
            stops.push_back(e);
            changed.notify_all();
        };
        return out;
    }
    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 3000ms)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, condition);
    }
    size_t frames()
    {
        std::lock_guard lock(mutex);
        return numbers.size();
    }
};

ScreenStreamConfig config(int width = 320, int height = 180, int fps = 100)
{
    ScreenStreamConfig c;
    c.width = width;
    c.height = height;
    c.minimumFrameInterval = MediaTime(1, fps);
    return c;
}

ScreenFilter displayFilter(uint32_t id)
{
    ScreenFilter f;
    f.kind = ScreenFilter::Kind::Display;
    f.displayId = id;
    return f;
}

ScreenFilter windowFilter(uint32_t id)
{
    ScreenFilter f;
    f.kind = ScreenFilter::Kind::Window;
    f.windowId = id;
    return f;
}

WindowInfo window(uint32_t id, const QString& title)
{
    WindowInfo w;
    w.id = id;
    w.title = title;
    w.frame = QRectF(10, 10, 400, 300);
    return w;
}

class SyntheticScreenSourceTest : public ::testing::Test {
protected:
    void SetUp() override { received.queue = &queue; }

    std::unique_ptr<ScreenStream> started(const ScreenFilter& filter, const ScreenStreamConfig& c,
                                          Received& into)
    {
        auto s = source.makeStream(filter, c, &queue, into.output());
        const auto error = s->start();
        EXPECT_FALSE(error) << (error ? error->message.toStdString() : "");
        return s;
    }

    uint32_t displayId = SyntheticDisplayList::defaultDisplays().front().id;
    SyntheticScreenSource source{SyntheticDisplayList::defaultDisplays(), {window(7, "Seven"), window(8, "Eight")}};
    SerialQueue queue{"test.synthetic"};
    Received received;
};

} // namespace

TEST(SyntheticScreenPattern, CarriesTheFrameNumberAndAMovingBar)
{
    for (PixelFormat format : {PixelFormat::BGRA, PixelFormat::NV12VideoRange}) {
        auto b = PixelBuffer::create(320, 180, format);
        for (uint32_t n : {0u, 1u, 37u, 0x80000001u, 0xffffffffu}) {
            SyntheticScreenStream::drawPattern(*b, n);
            EXPECT_EQ(SyntheticScreenStream::frameNumber(*b), n);
            EXPECT_EQ(SyntheticScreenStream::barPosition(*b), int(uint64_t(n) * 8 % 320));
        }
    }
    // Too narrow for the number, still a bar.
    auto small = PixelBuffer::create(64, 64, PixelFormat::BGRA);
    SyntheticScreenStream::drawPattern(*small, 3);
    EXPECT_FALSE(SyntheticScreenStream::frameNumber(*small));
    EXPECT_EQ(SyntheticScreenStream::barPosition(*small), 24);
    auto tiny = PixelBuffer::create(2, 2, PixelFormat::NV12VideoRange);
    SyntheticScreenStream::drawPattern(*tiny, 3); // no crash on the smallest movie
    EXPECT_FALSE(SyntheticScreenStream::frameNumber(*tiny));
}

TEST_F(SyntheticScreenSourceTest, ContentIsWhatWasSetAndCanFail)
{
    auto content = source.content();
    ASSERT_TRUE(content);
    ASSERT_EQ(content->displays.size(), 1u);
    EXPECT_EQ(content->displays[0].id, displayId);
    ASSERT_EQ(content->windows.size(), 2u);
    EXPECT_EQ(content->windows[0].title, QStringLiteral("Seven"));

    const RecorderError refused = screenCaptureError(ScreenCaptureErrorCode::ServerUnavailable, QStringLiteral("no"));
    source.setContentError(refused);
    RecorderError error;
    EXPECT_FALSE(source.content(&error));
    EXPECT_EQ(error, refused);
    source.setContentError(std::nullopt);
    source.setWindows({});
    EXPECT_TRUE(source.content()->windows.empty());

    // The default source: one display, no windows.
    SyntheticScreenSource plain;
    EXPECT_EQ(plain.content()->displays.size(), 1u);
    EXPECT_TRUE(plain.content()->windows.empty());
}

TEST_F(SyntheticScreenSourceTest, FramesArriveInOrderOnTheQueueAtTheInterval)
{
    auto stream = started(displayFilter(displayId), config(320, 180, 50), received);
    ASSERT_TRUE(received.waitFor([&] { return received.numbers.size() >= 10; }));
    stream->stop();
    std::lock_guard lock(received.mutex);
    EXPECT_FALSE(received.offQueue);
    for (size_t i = 0; i < received.numbers.size(); ++i) {
        EXPECT_EQ(received.numbers[i], uint32_t(i));
        if (i > 0) {
            EXPECT_GT(received.times[i], received.times[i - 1]);
        }
    }
    EXPECT_EQ(received.sizes.front(), QSize(320, 180));
    const PixelBufferRef& b = received.latest;
    EXPECT_EQ(b->format(), PixelFormat::NV12VideoRange);
    EXPECT_EQ(b->attachment(PixelAttachmentKey::FrameStatus).toInt(), int(FrameStatus::Complete));
    EXPECT_EQ(b->attachment(PixelAttachmentKey::YCbCrMatrix).toString(), ColorTag::MatrixBT709);
}

TEST_F(SyntheticScreenSourceTest, StartIsRefusedForMissingContentBadConfigurationsAndOnRequest)
{
    auto s = source.makeStream(displayFilter(12345), config(), &queue, received.output());
    auto error = s->start();
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, displayMissingError());

    s = source.makeStream(windowFilter(99), config(), &queue, received.output());
    error = s->start();
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, windowMissingError());

    s = source.makeStream(displayFilter(displayId), config(321, 180), &queue, received.output());
    error = s->start();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, int(ScreenCaptureErrorCode::InvalidConfiguration));

    ScreenStreamConfig zeroRate = config();
    zeroRate.minimumFrameInterval = MediaTime(0, 30);
    s = source.makeStream(displayFilter(displayId), zeroRate, &queue, received.output());
    ASSERT_TRUE(s->start());

    const RecorderError refused = screenCaptureError(ScreenCaptureErrorCode::StartFailed, QStringLiteral("refused"));
    source.setStartError(refused);
    s = source.makeStream(windowFilter(7), config(), &queue, received.output());
    error = s->start();
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, refused);
    source.setStartError(std::nullopt);
    EXPECT_FALSE(s->start());
    EXPECT_TRUE(s->start()) << "a running stream does not start twice";
    s->stop();
    EXPECT_TRUE(s->start()) << "a stopped stream does not start again";

    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(source.runningStreams(), 0);
}

TEST_F(SyntheticScreenSourceTest, RemovingContentEndsOnlyTheStreamsOnIt)
{
    Received onWindow;
    onWindow.queue = &queue;
    Received onOther;
    onOther.queue = &queue;
    auto displayStream = started(displayFilter(displayId), config(), received);
    auto windowStream = started(windowFilter(7), config(), onWindow);
    auto otherStream = started(windowFilter(8), config(), onOther);
    EXPECT_EQ(source.runningStreams(), 3);

    source.removeWindow(7);
    ASSERT_TRUE(onWindow.waitFor([&] { return !onWindow.stops.empty(); }));
    EXPECT_EQ(onWindow.stops.front(), windowLostError());
    const size_t frames = onWindow.frames();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(onWindow.frames(), frames);
    EXPECT_EQ(source.content()->windows.size(), 1u);
    EXPECT_EQ(source.runningStreams(), 2);

    source.removeDisplay(displayId);
    ASSERT_TRUE(received.waitFor([&] { return !received.stops.empty(); }));
    EXPECT_EQ(received.stops.front(), displayLostError());
    EXPECT_TRUE(source.content()->displays.empty());

    // The other window's stream went on through both.
    const size_t before = onOther.frames();
    EXPECT_TRUE(onOther.waitFor([&] { return onOther.numbers.size() > before; }));
    EXPECT_TRUE(onOther.stops.empty());
}

TEST_F(SyntheticScreenSourceTest, InterruptedStreamsStopWithTheGivenErrorOnce)
{
    auto stream = started(displayFilter(displayId), config(), received);
    ASSERT_TRUE(received.waitFor([&] { return !received.numbers.empty(); }));
    const RecorderError lost = screenCaptureError(ScreenCaptureErrorCode::Interrupted, QStringLiteral("asleep"));
    source.interruptStreams(lost);
    source.interruptStreams(lost);
    ASSERT_TRUE(received.waitFor([&] { return !received.stops.empty(); }));
    std::this_thread::sleep_for(50ms);
    std::lock_guard lock(received.mutex);
    ASSERT_EQ(received.stops.size(), 1u);
    EXPECT_EQ(received.stops.front(), lost);
}

TEST_F(SyntheticScreenSourceTest, PausedDeliveryMakesNoFramesUntilResumed)
{
    auto stream = started(displayFilter(displayId), config(), received);
    ASSERT_TRUE(received.waitFor([&] { return !received.numbers.empty(); }));
    source.setDeliveryPaused(true);
    std::this_thread::sleep_for(50ms); // a frame already on its way may still land
    const size_t frames = received.frames();
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(received.frames(), frames);
    source.setDeliveryPaused(false);
    ASSERT_TRUE(received.waitFor([&] { return received.numbers.size() > frames; }));
    // Numbering goes on without a gap: a paused frame is never made.
    std::lock_guard lock(received.mutex);
    EXPECT_EQ(received.numbers[frames], uint32_t(frames));
}

TEST_F(SyntheticScreenSourceTest, ConfigurationChangesApplyWhileRunning)
{
    auto stream = started(displayFilter(displayId), config(320, 180, 100), received);
    ASSERT_TRUE(received.waitFor([&] { return !received.numbers.empty(); }));
    ScreenStreamConfig slow = config(640, 360, 4);
    slow.pixelFormat = PixelFormat::BGRA;
    ASSERT_FALSE(stream->updateConfiguration(slow));
    ASSERT_TRUE(received.waitFor([&] { return received.sizes.back() == QSize(640, 360); }));
    EXPECT_EQ(source.runningConfigurations(), std::vector<ScreenStreamConfig>{slow});
    {
        std::lock_guard lock(received.mutex);
        EXPECT_EQ(received.latest->format(), PixelFormat::BGRA);
    }
    // Four frames a second now.
    const size_t frames = received.frames();
    std::this_thread::sleep_for(600ms);
    EXPECT_LE(received.frames() - frames, 4u);

    ScreenStreamConfig bad = slow;
    bad.queueDepth = 0;
    const auto error = stream->updateConfiguration(bad);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, int(ScreenCaptureErrorCode::InvalidConfiguration));
    EXPECT_EQ(source.runningConfigurations(), std::vector<ScreenStreamConfig>{slow});
}

TEST_F(SyntheticScreenSourceTest, ABusyQueueHoldsAtMostQueueDepthFrames)
{
    ScreenStreamConfig c = config(320, 180, 200);
    c.queueDepth = 3;
    auto stream = started(displayFilter(displayId), c, received);
    ASSERT_TRUE(received.waitFor([&] { return !received.numbers.empty(); }));
    // Block the output queue for a while, as a slow engine would.
    queue.async([] { std::this_thread::sleep_for(300ms); });
    std::this_thread::sleep_for(100ms);
    const size_t before = received.frames();
    ASSERT_TRUE(received.waitFor([&] { return received.numbers.size() >= before + 6; }));
    stream->stop();
    std::lock_guard lock(received.mutex);
    // No frame was lost in between: the numbers run on without gaps.
    for (size_t i = 0; i < received.numbers.size(); ++i)
        EXPECT_EQ(received.numbers[i], uint32_t(i));
}

TEST_F(SyntheticScreenSourceTest, MicrophoneIsAToneOnTheSameQueue)
{
    ScreenStreamConfig c = config();
    c.captureMicrophone = true;
    auto stream = started(displayFilter(displayId), c, received);
    ASSERT_TRUE(received.waitFor([&] { return received.microphone >= 5; }));
    EXPECT_FALSE(received.offQueue);
    stream->stop();
    std::this_thread::sleep_for(50ms);
    const auto microphoneBuffers = [&] {
        std::lock_guard lock(received.mutex);
        return received.microphone;
    };
    const int buffers = microphoneBuffers();
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(microphoneBuffers(), buffers) << "nothing after stop";

    auto microphone = std::make_shared<SyntheticAudioInput>();
    microphone->failAt(AudioInputError::Stage::Start, QStringLiteral("device busy"));
    source.setAudioInput(microphone);
    auto failing = source.makeStream(displayFilter(displayId), c, &queue, received.output());
    const auto error = failing->start();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, int(ScreenCaptureErrorCode::MicrophoneUnavailable));
    EXPECT_TRUE(error->message.contains(QStringLiteral("device busy")));
    EXPECT_EQ(source.runningStreams(), 0);
}

TEST_F(SyntheticScreenSourceTest, StopSilencesTheStreamAndDestructionUnregistersIt)
{
    auto stream = started(displayFilter(displayId), config(), received);
    ASSERT_TRUE(received.waitFor([&] { return !received.numbers.empty(); }));
    stream->stop();
    const size_t frames = received.frames();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(received.frames(), frames);
    source.removeDisplay(displayId); // a stopped stream is not told about it
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(received.stops.empty());
    stream.reset();
    EXPECT_EQ(source.runningStreams(), 0);
    EXPECT_TRUE(source.runningConfigurations().empty());
}

TEST_F(SyntheticScreenSourceTest, StreamsOutliveTheirSource)
{
    std::unique_ptr<ScreenStream> stream;
    {
        SyntheticScreenSource shortLived;
        stream = shortLived.makeStream(displayFilter(shortLived.content()->displays[0].id), config(), &queue,
                                       received.output());
        ASSERT_FALSE(stream->start());
    }
    EXPECT_TRUE(received.waitFor([&] { return received.numbers.size() >= 3; }));
    stream.reset();
}

TEST(ScreenSourceConfiguration, BadConfigurationsGetAClearError)
{
    ScreenStreamConfig good = config(1920, 1080, 30);
    EXPECT_FALSE(ScreenSource::checkConfiguration(good));
    ScreenStreamConfig oddBgra = config(301, 201);
    oddBgra.pixelFormat = PixelFormat::BGRA;
    EXPECT_FALSE(ScreenSource::checkConfiguration(oddBgra)) << "odd sizes are fine without chroma blocks";
    ScreenStreamConfig area = good;
    area.sourceRect = QRectF(10, 10, 1, 1);
    EXPECT_FALSE(ScreenSource::checkConfiguration(area));

    auto bad = [](auto change) {
        ScreenStreamConfig c = config(1920, 1080, 30);
        change(c);
        const auto error = ScreenSource::checkConfiguration(c);
        return error && error->code == int(ScreenCaptureErrorCode::InvalidConfiguration) && !error->message.isEmpty();
    };
    EXPECT_TRUE(bad([](ScreenStreamConfig& c) { c.width = 0; }));
    EXPECT_TRUE(bad([](ScreenStreamConfig& c) { c.height = -2; }));
    EXPECT_TRUE(bad([](ScreenStreamConfig& c) { c.width = 16386; }));
    EXPECT_TRUE(bad([](ScreenStreamConfig& c) { c.width = 1921; })); // odd for NV12
    EXPECT_TRUE(bad([](ScreenStreamConfig& c) { c.minimumFrameInterval = MediaTime(); }));
    EXPECT_TRUE(bad([](ScreenStreamConfig& c) { c.minimumFrameInterval = MediaTime(-1, 30); }));
    EXPECT_TRUE(bad([](ScreenStreamConfig& c) { c.queueDepth = 0; }));
    EXPECT_TRUE(bad([](ScreenStreamConfig& c) { c.sourceRect = QRectF(0, 0, 0, 10); }));
    EXPECT_TRUE(bad([](ScreenStreamConfig& c) { c.sourceRect = QRectF(qQNaN(), 0, 10, 10); }));
    EXPECT_TRUE(bad([](ScreenStreamConfig& c) { c.pixelFormat = PixelFormat(0); }));
}

TEST(ScreenSourceCurrent, FallsBackToTheSyntheticSourceAndCanBeReplaced)
{
    const QByteArray previous = qgetenv("CORVESSA_SCREEN");
    qputenv("CORVESSA_SCREEN", "synthetic");
    ScreenSource::setCurrent(nullptr);
    const auto automatic = ScreenSource::current();
    EXPECT_TRUE(std::dynamic_pointer_cast<SyntheticScreenSource>(automatic));
    EXPECT_EQ(ScreenSource::current(), automatic) << "one process-wide source";

    auto mine = std::make_shared<SyntheticScreenSource>();
    ScreenSource::setCurrent(mine);
    EXPECT_EQ(ScreenSource::current(), mine);
    ScreenSource::setCurrent(nullptr);
    if (previous.isNull())
        qunsetenv("CORVESSA_SCREEN");
    else
        qputenv("CORVESSA_SCREEN", previous);
}
