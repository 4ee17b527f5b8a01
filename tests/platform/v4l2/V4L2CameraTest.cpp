#include "CameraTestFrames.h"
#include "FakeV4L2Io.h"

#include "platform/ffmpeg/CameraFrameDecoder.h"
#include "platform/core/HostClock.h"
#include "platform/core/SerialQueue.h"
#include "platform/v4l2/V4L2CameraService.h"
#include "platform/v4l2/V4L2CameraStream.h"
#include "platform/v4l2/V4L2DeviceReader.h"
#include "platform/v4l2/V4L2SystemIo.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

using namespace corvessa;
using namespace corvessa::test;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t kH264 = CameraPixelFormat::fourcc('H', '2', '6', '4');
const QString kWebcamId = QStringLiteral("usb-Fake_Webcam_1234-video-index0");
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kGreen{0, 200, 0};
constexpr Rgb kWhite{255, 255, 255};

v4l2_fract fps(uint32_t rate)
{
    return {1, rate};
}

// A UVC webcam as it answers: MJPEG and YUYV at discrete sizes and rates, and
// an H.264 layout we cannot decode.
FakeV4L2Device webcam()
{
    FakeV4L2Device d;
    d.path = QStringLiteral("/dev/video0");
    d.persistentName = kWebcamId;
    d.card = QStringLiteral("Fake Webcam C1");
    using F = FakeV4L2Device;
    d.formats = {
        F::discrete(CameraPixelFormat::MJPEG,
                    {{640, 480, {fps(30), fps(15)}}, {1280, 720, {fps(30), fps(24), fps(15)}}, {1920, 1080, {fps(30)}}}),
        F::discrete(kH264, {{1920, 1080, {fps(30)}}}),
        F::discrete(CameraPixelFormat::YUYV,
                    {{640, 480, {fps(30), fps(15)}}, {1280, 720, {fps(10), fps(5)}}, {1920, 1080, {fps(5)}}}),
    };
    return d;
}

// The same webcam's metadata node.
FakeV4L2Device metadataNode()
{
    FakeV4L2Device d;
    d.path = QStringLiteral("/dev/video1");
    d.persistentName = QStringLiteral("usb-Fake_Webcam_1234-video-index1");
    d.deviceCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    return d;
}

// A capture card with ranges: stepwise sizes and intervals (NV12), continuous
// ones (YU12); no udev link.
FakeV4L2Device captureCard()
{
    FakeV4L2Device d;
    d.path = QStringLiteral("/dev/video2");
    d.card = QStringLiteral("Fake Capture");
    FakeV4L2Device::Format nv12;
    nv12.fourcc = CameraPixelFormat::NV12;
    nv12.sizeRange = v4l2_frmsize_stepwise{160, 1920, 16, 120, 1080, 8};
    nv12.intervalRange = FakeV4L2Device::IntervalRange{{1, 60}, {1, 1}, {1, 60}, false};
    FakeV4L2Device::Format yu12;
    yu12.fourcc = CameraPixelFormat::YU12;
    yu12.sizeRange = v4l2_frmsize_stepwise{64, 1280, 1, 64, 720, 1};
    yu12.continuousSizes = true;
    yu12.intervalRange = FakeV4L2Device::IntervalRange{{1, 30}, {1, 1}, {}, true};
    d.formats = {nv12, yu12};
    return d;
}

int indexOf(const CameraDevice& device, uint32_t pixelFormat, int w, int h)
{
    for (size_t i = 0; i < device.formats.size(); ++i) {
        const auto& f = device.formats[i];
        if (f.pixelFormat == pixelFormat && f.width == w && f.height == h)
            return int(i);
    }
    return -1;
}

Rgb pixel(const PixelBuffer& b, int x, int y)
{
    const uint8_t* p = b.baseAddress(0) + size_t(y) * b.bytesPerRow(0) + size_t(x) * 4;
    return {p[2], p[1], p[0]};
}

::testing::AssertionResult near(Rgb actual, Rgb expected, int tolerance = 8)
{
    if (std::abs(actual.r - expected.r) <= tolerance && std::abs(actual.g - expected.g) <= tolerance
        && std::abs(actual.b - expected.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << int(actual.r) << "," << int(actual.g) << "," << int(actual.b)
                                         << ") wanted (" << int(expected.r) << "," << int(expected.g) << ","
                                         << int(expected.b) << ")";
}

// Collects a stream's output.
struct Sink {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<SampleBuffer> frames;
    int drops = 0;
    std::vector<CameraError> stops;

    CameraStreamOutput output(const std::shared_ptr<Sink>& self)
    {
        CameraStreamOutput o;
        o.onFrame = [self](const SampleBuffer& s) {
            std::lock_guard lock(self->mutex);
            self->frames.push_back(s);
            self->changed.notify_all();
        };
        o.onDrop = [self](int n) {
            std::lock_guard lock(self->mutex);
            self->drops += n;
            self->changed.notify_all();
        };
        o.onStop = [self](const CameraError& e) {
            std::lock_guard lock(self->mutex);
            self->stops.push_back(e);
            self->changed.notify_all();
        };
        return o;
    }
    template <typename Pred>
    bool waitFor(Pred pred, std::chrono::milliseconds timeout = 3000ms)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return pred(*this); });
    }
};

// One recorded camera opened through the service, with its output collected.
struct Rig {
    std::shared_ptr<FakeV4L2Io> io = std::make_shared<FakeV4L2Io>();
    SerialQueue queue{"camera.capture"};
    std::shared_ptr<Sink> sink = std::make_shared<Sink>();
    std::unique_ptr<V4L2CameraService> service;
    std::unique_ptr<CameraStream> stream;

    explicit Rig(FakeV4L2Device device = webcam())
    {
        io->addDevice(std::move(device));
        service = std::make_unique<V4L2CameraService>(io, QStringLiteral("/nonexistent"));
    }
    ~Rig()
    {
        stream.reset();
        queue.sync([] {});
    }
    CameraStream& open(const QString& id = kWebcamId)
    {
        CameraError error;
        stream = service->open(id, &queue, sink->output(sink), &error);
        EXPECT_TRUE(stream) << error.description.toStdString();
        return *stream;
    }
    // Configures and starts at a format of the opened camera.
    void run(uint32_t pixelFormat, int w, int h, double rate = 30, PixelFormat output = PixelFormat::BGRA)
    {
        const int index = indexOf(stream->device(), pixelFormat, w, h);
        ASSERT_GE(index, 0);
        ASSERT_EQ(stream->configure({index, rate, output}), std::nullopt);
        ASSERT_EQ(stream->start(), std::nullopt);
    }
};

// A time stamp as a driver gives it (whole microseconds), a little in the past.
int64_t driverStamp(int64_t agoNs = 5'000'000)
{
    return (HostClock::nanoseconds() - agoNs) / 1000 * 1000;
}

} // namespace

// MARK: - Picture controls

TEST(V4L2Camera, PictureControlsAreReadAndSetOnTheCamerasNode)
{
    using Kind = CameraPictureControl::Kind;
    FakeV4L2Device device = webcam();
    v4l2_queryctrl brightness{};
    brightness.id = V4L2_CID_BRIGHTNESS;
    brightness.type = V4L2_CTRL_TYPE_INTEGER;
    brightness.maximum = 255;
    brightness.step = 1;
    brightness.default_value = 128;
    v4l2_queryctrl backlight = brightness;
    backlight.id = V4L2_CID_BACKLIGHT_COMPENSATION;
    backlight.type = V4L2_CTRL_TYPE_BOOLEAN;
    backlight.maximum = 1;
    backlight.default_value = 0;
    v4l2_queryctrl saturation = brightness;
    saturation.id = V4L2_CID_SATURATION;
    saturation.flags = V4L2_CTRL_FLAG_DISABLED;
    device.controls = {brightness, backlight, saturation};
    Rig rig(device);

    std::vector<CameraPictureControl> controls = rig.service->controls(kWebcamId);
    ASSERT_EQ(controls.size(), 2u) << "a disabled control is left out";
    EXPECT_EQ(controls[0], (CameraPictureControl{Kind::brightness, 0, 255, 1, 128, 128, false}));
    EXPECT_TRUE(controls[1].isSwitch);

    EXPECT_TRUE(rig.service->setControl(kWebcamId, Kind::brightness, 40));
    EXPECT_EQ(rig.service->controls(kWebcamId)[0].value, 40);
    // Nonsense: a value out of range, a control not offered, a camera not there.
    EXPECT_FALSE(rig.service->setControl(kWebcamId, Kind::brightness, 400));
    EXPECT_FALSE(rig.service->setControl(kWebcamId, Kind::contrast, 1));
    EXPECT_TRUE(rig.service->controls(QStringLiteral("usb-nothing")).empty());
}

// MARK: - Listing

TEST(V4L2Camera, ListsCaptureNodesWithNamesAndStableIdsAndSkipsMetadataNodes)
{
    auto io = std::make_shared<FakeV4L2Io>();
    io->addDevice(webcam());
    io->addDevice(metadataNode());
    io->addDevice(captureCard());
    V4L2CameraService service(io, QStringLiteral("/nonexistent"));

    const auto devices = service.devices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].id, kWebcamId);
    EXPECT_EQ(devices[0].name, QStringLiteral("Fake Webcam C1"));
    // Without a udev link the node's path identifies it.
    EXPECT_EQ(devices[1].id, QStringLiteral("/dev/video2"));
    EXPECT_EQ(devices[1].name, QStringLiteral("Fake Capture"));
    // Every node opened for the listing is closed again.
    EXPECT_EQ(io->openDescriptors(), 0);
}

TEST(V4L2Camera, TheRealCallsSkipNodesThatAreNoCameras)
{
    // A file named like a node answers no ioctl: it is no camera, and nothing breaks.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char* name : {"video10", "video2", "videox", "audio0"}) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    auto io = std::make_shared<V4L2SystemIo>();
    EXPECT_EQ(io->listNodes(dir.path()),
              (std::vector<QString>{dir.filePath(QStringLiteral("video2")), dir.filePath(QStringLiteral("video10"))}));
    V4L2CameraService service(io, dir.path());
    EXPECT_TRUE(service.devices().empty());
    SerialQueue queue("camera.capture");
    CameraError error;
    EXPECT_FALSE(service.open(dir.filePath(QStringLiteral("video2")), &queue, {}, &error));
    EXPECT_EQ(error.code, CameraErrorCode::OpenFailed);
}

TEST(V4L2Camera, ReadsDiscreteFormatsRawLayoutsFirstAndLeavesOutUndecodableOnes)
{
    auto io = std::make_shared<FakeV4L2Io>();
    io->addDevice(webcam());
    V4L2CameraService service(io, QStringLiteral("/nonexistent"));
    const auto devices = service.devices();
    ASSERT_EQ(devices.size(), 1u);
    const auto& formats = devices[0].formats;
    ASSERT_EQ(formats.size(), 6u); // H.264 left out
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(formats[size_t(i)].pixelFormat, CameraPixelFormat::YUYV) << i;
    for (int i = 3; i < 6; ++i)
        EXPECT_EQ(formats[size_t(i)].pixelFormat, CameraPixelFormat::MJPEG) << i;

    const auto& yuyv720 = formats[1];
    EXPECT_EQ(yuyv720.width, 1280);
    EXPECT_EQ(yuyv720.height, 720);
    ASSERT_EQ(yuyv720.intervals.size(), 2u);
    EXPECT_EQ(yuyv720.intervals[0].shortest, MediaTime(1, 10));
    EXPECT_TRUE(yuyv720.intervals[0].isSingle());
    EXPECT_DOUBLE_EQ(yuyv720.intervals[1].maximumRate(), 5.0);
    const auto& mjpeg720 = formats[4];
    ASSERT_EQ(mjpeg720.intervals.size(), 3u);
    EXPECT_DOUBLE_EQ(mjpeg720.intervals[1].maximumRate(), 24.0);
}

TEST(V4L2Camera, ReadsStepwiseAndContinuousRangesAsCommonSizesAndRateRanges)
{
    auto io = std::make_shared<FakeV4L2Io>();
    io->addDevice(captureCard());
    V4L2CameraService service(io, QStringLiteral("/nonexistent"));
    const auto devices = service.devices();
    ASSERT_EQ(devices.size(), 1u);

    std::vector<std::pair<int, int>> nv12;
    std::vector<std::pair<int, int>> yu12;
    for (const auto& f : devices[0].formats) {
        (f.pixelFormat == CameraPixelFormat::NV12 ? nv12 : yu12).emplace_back(f.width, f.height);
        ASSERT_EQ(f.intervals.size(), 1u);
        if (f.pixelFormat == CameraPixelFormat::NV12) {
            EXPECT_EQ(f.intervals[0].shortest, MediaTime(1, 60));
            EXPECT_EQ(f.intervals[0].longest, MediaTime(1, 1));
            EXPECT_EQ(f.intervals[0].step, MediaTime(1, 60));
        } else {
            EXPECT_DOUBLE_EQ(f.intervals[0].maximumRate(), 30.0);
            EXPECT_FALSE(f.intervals[0].step.isValid()); // continuous
        }
    }
    auto has = [](const auto& list, int w, int h) {
        return std::find(list.begin(), list.end(), std::make_pair(w, h)) != list.end();
    };
    // Steps of 16 x 8 from 160 x 120: 960x540 misses the vertical step, 1600x1200 the range.
    EXPECT_TRUE(has(nv12, 160, 120));
    EXPECT_TRUE(has(nv12, 1280, 720));
    EXPECT_TRUE(has(nv12, 1920, 1080));
    EXPECT_FALSE(has(nv12, 960, 540));
    EXPECT_FALSE(has(nv12, 1600, 1200));
    EXPECT_EQ(std::count(nv12.begin(), nv12.end(), std::make_pair(1920, 1080)), 1); // the maximum once
    // Continuous up to 1280 x 720: the common sizes in it.
    EXPECT_TRUE(has(yu12, 1280, 720));
    EXPECT_TRUE(has(yu12, 640, 480));
    EXPECT_FALSE(has(yu12, 1920, 1080));
}

// MARK: - Frame durations

TEST(V4L2Camera, FrameIntervalPicksTheNearestOfferedDuration)
{
    CameraFormat discrete{1280, 720, CameraPixelFormat::MJPEG,
                          {{MediaTime(1, 30), MediaTime(1, 30), {}},
                           {MediaTime(1, 24), MediaTime(1, 24), {}},
                           {MediaTime(1, 15), MediaTime(1, 15), {}}}};
    EXPECT_EQ(discrete.frameInterval(24), MediaTime(1, 24));
    EXPECT_EQ(discrete.frameInterval(28), MediaTime(1, 30));
    EXPECT_EQ(discrete.frameInterval(25), MediaTime(1, 24));
    EXPECT_EQ(discrete.frameInterval(17), MediaTime(1, 15));
    // Above every maximum: the highest; below every minimum: the lowest.
    EXPECT_EQ(discrete.frameInterval(200), MediaTime(1, 30));
    EXPECT_EQ(discrete.frameInterval(1), MediaTime(1, 15));

    CameraFormat stepwise{640, 480, CameraPixelFormat::NV12, {{MediaTime(1, 60), MediaTime(1, 1), MediaTime(1, 60)}}};
    EXPECT_EQ(stepwise.frameInterval(30), MediaTime(1, 30));
    EXPECT_EQ(stepwise.frameInterval(60), MediaTime(1, 60));
    EXPECT_EQ(stepwise.frameInterval(15), MediaTime(4, 60));
    EXPECT_EQ(stepwise.frameInterval(0.5), MediaTime(1, 1));

    CameraFormat continuous{640, 480, CameraPixelFormat::YU12, {{MediaTime(1, 30), MediaTime(1, 1), {}}}};
    EXPECT_EQ(continuous.frameInterval(24), MediaTime(1, 24));
    EXPECT_EQ(continuous.frameInterval(12.5), MediaTime(2, 25));

    // NTSC durations come back exactly.
    CameraFormat ntsc{1920, 1080, CameraPixelFormat::MJPEG, {{MediaTime(1001, 30000), MediaTime(1001, 30000), {}}}};
    EXPECT_EQ(ntsc.frameInterval(30000.0 / 1001), MediaTime(1001, 30000));

    EXPECT_FALSE(CameraFormat{}.frameInterval(30).isValid());
}

// MARK: - Negotiation

TEST(V4L2Camera, ConfigureSetsTheFormatAndLocksTheNearestInterval)
{
    Rig rig;
    CameraStream& stream = rig.open();
    const int mjpeg720 = indexOf(stream.device(), CameraPixelFormat::MJPEG, 1280, 720);
    ASSERT_EQ(stream.configure({mjpeg720, 24, PixelFormat::BGRA}), std::nullopt);
    ASSERT_TRUE(rig.io->lastSetFormat());
    EXPECT_EQ(rig.io->lastSetFormat()->pixelformat, CameraPixelFormat::MJPEG);
    EXPECT_EQ(rig.io->lastSetFormat()->width, 1280u);
    ASSERT_TRUE(rig.io->lastSetInterval());
    EXPECT_EQ(rig.io->lastSetInterval()->numerator, 1u);
    EXPECT_EQ(rig.io->lastSetInterval()->denominator, 24u);
    const auto active = stream.activeFormat();
    ASSERT_TRUE(active);
    EXPECT_EQ(*active, (CameraStream::ActiveFormat{1280, 720, CameraPixelFormat::MJPEG, MediaTime(1, 24), PixelFormat::BGRA}));

    // YUYV at 1280 x 720 runs at 10 or 5 fps: asked for 30, it locks 10.
    const int yuyv720 = indexOf(stream.device(), CameraPixelFormat::YUYV, 1280, 720);
    ASSERT_EQ(stream.configure({yuyv720, 30, PixelFormat::BGRA}), std::nullopt);
    EXPECT_EQ(stream.activeFormat()->frameInterval, MediaTime(1, 10));
    EXPECT_EQ(stream.activeFormat()->pixelFormat, CameraPixelFormat::YUYV);
}

TEST(V4L2Camera, ADriverWithoutFrameIntervalControlKeepsItsOwnDuration)
{
    FakeV4L2Device d = webcam();
    d.timePerFrame = false;
    Rig rig(d);
    CameraStream& stream = rig.open();
    ASSERT_EQ(stream.configure({indexOf(stream.device(), CameraPixelFormat::MJPEG, 1280, 720), 15}), std::nullopt);
    EXPECT_FALSE(rig.io->lastSetInterval()); // never asked
    EXPECT_EQ(stream.activeFormat()->frameInterval, MediaTime(1, 30)); // what the driver reports
}

TEST(V4L2Camera, NegotiatesStepwiseIntervalsOnTheirGrid)
{
    Rig rig(captureCard());
    CameraStream& stream = rig.open(QStringLiteral("/dev/video2"));
    ASSERT_EQ(stream.configure({indexOf(stream.device(), CameraPixelFormat::NV12, 640, 480), 30}), std::nullopt);
    EXPECT_EQ(stream.activeFormat()->frameInterval, MediaTime(1, 30)); // 2/60
    ASSERT_EQ(stream.configure({indexOf(stream.device(), CameraPixelFormat::NV12, 640, 480), 15}), std::nullopt);
    EXPECT_EQ(stream.activeFormat()->frameInterval, MediaTime(1, 15));
}

TEST(V4L2Camera, ConfigurationFailuresSayWhy)
{
    {
        FakeV4L2Device d = webcam();
        d.sFmtError = EBUSY; // another program streams from it
        Rig rig(d);
        const auto error = rig.open().configure({0, 30});
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, CameraErrorCode::Busy);
        EXPECT_EQ(error->osCode, EBUSY);
    }
    {
        FakeV4L2Device d = webcam();
        d.reqBufsError = ENOMEM;
        Rig rig(d);
        const auto error = rig.open().configure({0, 30});
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, CameraErrorCode::BuffersFailed);
        EXPECT_FALSE(rig.stream->activeFormat());
    }
    {
        FakeV4L2Device d = webcam();
        d.streamOnError = ENOSPC; // not enough USB bandwidth
        Rig rig(d);
        CameraStream& stream = rig.open();
        ASSERT_EQ(stream.configure({0, 30}), std::nullopt);
        const auto error = stream.start();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, CameraErrorCode::StartFailed);
        EXPECT_EQ(error->osCode, ENOSPC);
        EXPECT_FALSE(error->description.isEmpty());
        EXPECT_FALSE(stream.isRunning());
    }
    {
        Rig rig;
        EXPECT_EQ(rig.open().configure({99, 30})->code, CameraErrorCode::FormatRejected);
        EXPECT_EQ(rig.stream->start()->code, CameraErrorCode::StartFailed); // not configured
    }
}

TEST(V4L2Camera, OpeningAnUnknownOrUnreadableCameraFails)
{
    auto io = std::make_shared<FakeV4L2Io>();
    FakeV4L2Device d = webcam();
    d.openError = EACCES;
    io->addDevice(d);
    io->addDevice(metadataNode());
    V4L2CameraService service(io, QStringLiteral("/nonexistent"));
    SerialQueue queue("camera.capture");
    CameraError error;
    EXPECT_FALSE(service.open(QStringLiteral("usb-nothing"), &queue, {}, &error));
    EXPECT_EQ(error.code, CameraErrorCode::NotFound);
    EXPECT_FALSE(service.open(kWebcamId, &queue, {}, &error));
    EXPECT_EQ(error.code, CameraErrorCode::OpenFailed);
    EXPECT_EQ(error.osCode, EACCES);
    EXPECT_FALSE(service.open(QStringLiteral("usb-Fake_Webcam_1234-video-index1"), &queue, {}, &error));
    EXPECT_EQ(error.code, CameraErrorCode::OpenFailed); // a metadata node is no camera
    EXPECT_EQ(io->openDescriptors(), 0);
}

// MARK: - Streaming and decoding

TEST(V4L2Camera, DeliversYuyvFramesAsBgraWithTheDriversMonotonicTime)
{
    Rig rig;
    rig.open();
    rig.run(CameraPixelFormat::YUYV, 640, 480);
    const int64_t stamp = driverStamp();
    rig.io->pushFrame(QStringLiteral("/dev/video0"), packed422(640, 480, kRed, kBlue), stamp, 0);
    ASSERT_TRUE(rig.sink->waitFor([](Sink& s) { return !s.frames.empty(); }));

    const SampleBuffer frame = rig.sink->frames.front();
    ASSERT_TRUE(frame.imageBuffer());
    const PixelBuffer& b = *frame.imageBuffer();
    EXPECT_EQ(b.format(), PixelFormat::BGRA);
    EXPECT_EQ(b.width(), 640);
    EXPECT_EQ(b.height(), 480);
    EXPECT_TRUE(near(pixel(b, 10, 10), kRed));
    EXPECT_TRUE(near(pixel(b, 630, 470), kBlue));
    // CLOCK_MONOTONIC is the host clock: the stamp is taken over as it is.
    EXPECT_EQ(frame.presentationTime(), MediaTime(stamp, 1'000'000'000));
    EXPECT_EQ(frame.duration(), MediaTime(1, 30));
}

TEST(V4L2Camera, StampsFramesOnArrivalWhenTheDriverClockIsNotMonotonic)
{
    FakeV4L2Device d = webcam();
    d.timestampFlags = V4L2_BUF_FLAG_TIMESTAMP_COPY;
    Rig rig(d);
    rig.open();
    rig.run(CameraPixelFormat::YUYV, 640, 480);
    const int64_t before = HostClock::nanoseconds();
    rig.io->pushFrame(QStringLiteral("/dev/video0"), packed422(640, 480, kRed, kBlue), 12345, 0);
    ASSERT_TRUE(rig.sink->waitFor([](Sink& s) { return !s.frames.empty(); }));
    const int64_t after = HostClock::nanoseconds();
    const MediaTime pts = rig.sink->frames.front().presentationTime();
    EXPECT_GE(pts, MediaTime(before, 1'000'000'000));
    EXPECT_LE(pts, MediaTime(after, 1'000'000'000));
}

TEST(V4L2Camera, DecodesMjpegFrames)
{
    const std::vector<uint8_t> bytes = jpeg(640, 480, kGreen, kWhite);
    ASSERT_FALSE(bytes.empty());
    Rig rig;
    rig.open();
    rig.run(CameraPixelFormat::MJPEG, 640, 480);
    rig.io->pushFrame(QStringLiteral("/dev/video0"), bytes, driverStamp(), 0);
    ASSERT_TRUE(rig.sink->waitFor([](Sink& s) { return !s.frames.empty(); }));
    const PixelBuffer& b = *rig.sink->frames.front().imageBuffer();
    EXPECT_TRUE(near(pixel(b, 40, 40), kGreen));
    EXPECT_TRUE(near(pixel(b, 600, 440), kWhite));
}

TEST(V4L2Camera, DecodesPaddedNv12IntoNv12VideoRange)
{
    FakeV4L2Device d = captureCard();
    d.linePadding = 32;
    Rig rig(d);
    rig.open(QStringLiteral("/dev/video2"));
    rig.run(CameraPixelFormat::NV12, 320, 240, 30, PixelFormat::NV12VideoRange);
    rig.io->pushFrame(QStringLiteral("/dev/video2"), planar420(320, 240, kRed, kBlue, false, 32), driverStamp(), 0);
    ASSERT_TRUE(rig.sink->waitFor([](Sink& s) { return !s.frames.empty(); }));
    const PixelBuffer& b = *rig.sink->frames.front().imageBuffer();
    ASSERT_EQ(b.format(), PixelFormat::NV12VideoRange);
    // The camera's BT.601 red, as BT.709 video range.
    const YCbCr red709 = toYCbCr(kRed, true);
    EXPECT_NEAR(b.baseAddress(0)[size_t(10) * b.bytesPerRow(0) + 10], red709.y, 3);
    EXPECT_NEAR(b.baseAddress(1)[size_t(5) * b.bytesPerRow(1) + 10], red709.cb, 3);
    EXPECT_NEAR(b.baseAddress(1)[size_t(5) * b.bytesPerRow(1) + 11], red709.cr, 3);
}

TEST(V4L2Camera, DropsDamagedAndShortFramesAndCountsSkippedOnes)
{
    Rig rig;
    rig.open();
    rig.run(CameraPixelFormat::YUYV, 640, 480);
    const QString node = QStringLiteral("/dev/video0");
    rig.io->pushFrame(node, packed422(640, 480, kRed, kBlue), driverStamp(), 0);
    rig.io->pushFrame(node, std::vector<uint8_t>(1000, 0x80), driverStamp(), 1);            // short
    rig.io->pushFrame(node, packed422(640, 480, kRed, kBlue), driverStamp(), 2, V4L2_BUF_FLAG_ERROR);
    rig.io->pushFrame(node, packed422(640, 480, kBlue, kRed), driverStamp(), 6);             // 3, 4, 5 lost
    ASSERT_TRUE(rig.sink->waitFor([](Sink& s) { return s.frames.size() == 2 && s.drops == 5; }))
        << rig.sink->frames.size() << " frames, " << rig.sink->drops << " drops";
    EXPECT_TRUE(near(pixel(*rig.sink->frames[1].imageBuffer(), 10, 10), kBlue));
    EXPECT_TRUE(rig.stream->isRunning());
}

TEST(V4L2Camera, ACorruptJpegIsDroppedAndTheNextOneDecodes)
{
    Rig rig;
    rig.open();
    rig.run(CameraPixelFormat::MJPEG, 640, 480);
    std::vector<uint8_t> broken = jpeg(640, 480, kRed, kRed);
    broken.resize(broken.size() / 3);
    std::fill(broken.begin() + 200, broken.end(), 0xFF);
    rig.io->pushFrame(QStringLiteral("/dev/video0"), std::vector<uint8_t>(64, 0x42), driverStamp(), 0);
    rig.io->pushFrame(QStringLiteral("/dev/video0"), jpeg(640, 480, kBlue, kBlue), driverStamp(), 1);
    ASSERT_TRUE(rig.sink->waitFor([](Sink& s) { return s.frames.size() == 1 && s.drops >= 1; }));
    EXPECT_TRUE(near(pixel(*rig.sink->frames[0].imageBuffer(), 320, 240), kBlue));
}

TEST(V4L2Camera, AVanishedDeviceEndsTheStreamAsDisconnectedOnce)
{
    Rig rig;
    rig.open();
    rig.run(CameraPixelFormat::YUYV, 640, 480);
    rig.io->pushFrame(QStringLiteral("/dev/video0"), packed422(640, 480, kRed, kBlue), driverStamp(), 0);
    ASSERT_TRUE(rig.sink->waitFor([](Sink& s) { return !s.frames.empty(); }));

    rig.io->unplug(QStringLiteral("/dev/video0"));
    ASSERT_TRUE(rig.sink->waitFor([](Sink& s) { return !s.stops.empty(); }));
    EXPECT_EQ(rig.sink->stops.front().code, CameraErrorCode::Disconnected);
    EXPECT_FALSE(rig.stream->isRunning());
    // Starting again meets the missing device.
    const auto error = rig.stream->start();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, CameraErrorCode::Disconnected);
    rig.queue.sync([] {});
    EXPECT_EQ(rig.sink->stops.size(), 1u);
}

TEST(V4L2Camera, StopAndStartAgainKeepTheFormatAndRelockTheInterval)
{
    Rig rig;
    rig.open();
    rig.run(CameraPixelFormat::MJPEG, 1280, 720, 24);
    rig.stream->stop();
    EXPECT_FALSE(rig.stream->isRunning());
    rig.io->pushFrame(QStringLiteral("/dev/video0"), jpeg(1280, 720, kRed, kRed), driverStamp(), 0);
    std::this_thread::sleep_for(30ms);
    rig.queue.sync([] {});
    EXPECT_TRUE(rig.sink->frames.empty()); // nothing while stopped

    const auto before = rig.io->requests();
    ASSERT_EQ(rig.stream->start(), std::nullopt);
    const auto after = rig.io->requests();
    EXPECT_NE(std::find(after.begin() + long(before.size()), after.end(), VIDIOC_S_PARM), after.end());
    ASSERT_TRUE(rig.sink->waitFor([](Sink& s) { return !s.frames.empty(); }));
    EXPECT_EQ(rig.sink->frames.front().imageBuffer()->width(), 1280);
    EXPECT_EQ(rig.sink->frames.front().duration(), MediaTime(1, 24));
}

TEST(V4L2Camera, DestroyingTheStreamUnmapsAndClosesEverything)
{
    Rig rig;
    rig.open();
    rig.run(CameraPixelFormat::YUYV, 640, 480);
    EXPECT_EQ(rig.io->openDescriptors(), 1);
    EXPECT_EQ(rig.io->mappedBuffers(), int(V4L2CameraStream::kBufferCount));
    rig.stream.reset();
    EXPECT_EQ(rig.io->mappedBuffers(), 0);
    EXPECT_EQ(rig.io->openDescriptors(), 0);
}

// MARK: - The decoder on its own

TEST(CameraFrameDecoder, ConvertsEveryRawLayoutWithItsStride)
{
    struct Case {
        uint32_t layout;
        size_t stride;
        std::vector<uint8_t> bytes;
    };
    const int w = 64;
    const int h = 32;
    const std::vector<Case> cases{
        {CameraPixelFormat::YUYV, 0, packed422(w, h, kRed, kBlue)},
        {CameraPixelFormat::YUYV, size_t(w * 2 + 16), packed422(w, h, kRed, kBlue, false, 16)},
        {CameraPixelFormat::UYVY, 0, packed422(w, h, kRed, kBlue, true)},
        {CameraPixelFormat::NV12, size_t(w + 32), planar420(w, h, kRed, kBlue, false, 32)},
        {CameraPixelFormat::YU12, 0, planar420(w, h, kRed, kBlue, true)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(CameraPixelFormat::name(c.layout).toStdString() + " stride " + std::to_string(c.stride));
        CameraFrameDecoder decoder;
        ASSERT_TRUE(decoder.prepare({c.layout, w, h, c.stride, false, false}, PixelFormat::BGRA));
        const PixelBufferRef out = decoder.decode(c.bytes.data(), c.bytes.size());
        ASSERT_TRUE(out);
        EXPECT_TRUE(near(pixel(*out, 4, 4), kRed));
        EXPECT_TRUE(near(pixel(*out, w - 4, h - 4), kBlue));
        EXPECT_EQ(out->baseAddress(0)[3], 255); // opaque: the bubble is drawn with this alpha
        // A frame cut short is refused rather than read past its end.
        EXPECT_FALSE(decoder.decode(c.bytes.data(), c.bytes.size() - c.stride - 1));
        EXPECT_FALSE(decoder.decode(c.bytes.data(), c.bytes.size() / 2));
    }
}

TEST(CameraFrameDecoder, HonoursTheCamerasColourMatrix)
{
    const std::vector<uint8_t> bt709 = packed422(16, 8, kRed, kRed, false, 0, true);
    CameraFrameDecoder as709;
    ASSERT_TRUE(as709.prepare({CameraPixelFormat::YUYV, 16, 8, 0, true, false}, PixelFormat::BGRA));
    EXPECT_TRUE(near(pixel(*as709.decode(bt709.data(), bt709.size()), 4, 4), kRed));
    // Read as BT.601 the same bytes are a visibly different red.
    CameraFrameDecoder as601;
    ASSERT_TRUE(as601.prepare({CameraPixelFormat::YUYV, 16, 8, 0, false, false}, PixelFormat::BGRA));
    EXPECT_FALSE(near(pixel(*as601.decode(bt709.data(), bt709.size()), 4, 4), kRed, 12));
}

TEST(CameraFrameDecoder, RefusesWhatItCannotDecode)
{
    CameraFrameDecoder decoder;
    EXPECT_FALSE(decoder.prepare({kH264, 640, 480, 0}, PixelFormat::BGRA));
    EXPECT_FALSE(decoder.prepare({CameraPixelFormat::YUYV, 0, 480, 0}, PixelFormat::BGRA));
    EXPECT_FALSE(decoder.prepare({CameraPixelFormat::YUYV, 641, 480, 0}, PixelFormat::NV12VideoRange)); // odd
    EXPECT_FALSE(decoder.decode(nullptr, 0));

    ASSERT_TRUE(decoder.prepare({CameraPixelFormat::MJPEG, 64, 32, 0}, PixelFormat::BGRA));
    const std::vector<uint8_t> other = jpeg(32, 32, kRed, kRed); // another size than prepared
    EXPECT_FALSE(decoder.decode(other.data(), other.size()));
    const std::vector<uint8_t> good = jpeg(64, 32, kRed, kBlue);
    const PixelBufferRef out = decoder.decode(good.data(), good.size());
    ASSERT_TRUE(out);
    EXPECT_TRUE(near(pixel(*out, 4, 4), kRed));
    EXPECT_TRUE(near(pixel(*out, 60, 28), kBlue));
}

// MARK: - Arrival and removal

TEST(V4L2Camera, NoticesCamerasArrivingAndLeavingInTheDeviceDirectory)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto io = std::make_shared<FakeV4L2Io>();
    io->addDevice(webcam());
    V4L2CameraService service(io, dir.path(), 20ms);

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<CameraDeviceChange> changes;
    auto observation = service.observeDevices([&](const CameraDeviceChange& c) {
        std::lock_guard lock(mutex);
        changes.push_back(c);
        changed.notify_all();
    });
    auto waitChanges = [&](size_t n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 3s, [&] { return changes.size() >= n; });
    };

    FakeV4L2Device other = webcam();
    other.path = QStringLiteral("/dev/video4");
    other.persistentName = QStringLiteral("usb-Other_Cam-video-index0");
    other.card = QStringLiteral("Other Cam");
    io->addDevice(other);
    QFile node(dir.filePath(QStringLiteral("video4")));
    ASSERT_TRUE(node.open(QIODevice::WriteOnly));
    node.close();
    // Other files in the directory are no camera's business.
    QFile unrelated(dir.filePath(QStringLiteral("snd")));
    ASSERT_TRUE(unrelated.open(QIODevice::WriteOnly));
    unrelated.close();

    ASSERT_TRUE(waitChanges(1));
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(changes[0].added.size(), 1u);
        EXPECT_EQ(changes[0].added[0].id, QStringLiteral("usb-Other_Cam-video-index0"));
        EXPECT_EQ(changes[0].added[0].name, QStringLiteral("Other Cam"));
        EXPECT_TRUE(changes[0].removed.empty());
    }

    io->unplug(QStringLiteral("/dev/video0"));
    ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("video4"))) || true);
    QFile touch(dir.filePath(QStringLiteral("video0")));
    ASSERT_TRUE(touch.open(QIODevice::WriteOnly));
    touch.close();
    QFile::remove(dir.filePath(QStringLiteral("video0")));
    ASSERT_TRUE(waitChanges(2));
    std::lock_guard lock(mutex);
    EXPECT_TRUE(changes[1].wasRemoved(kWebcamId));
    EXPECT_TRUE(changes[1].added.empty());
    EXPECT_EQ(changes.size(), 2u); // one notice per settled burst
}
