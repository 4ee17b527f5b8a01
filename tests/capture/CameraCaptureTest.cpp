#include "capture/CameraCapture.h"
#include "capture/CameraPreview.h"
#include "capture/CameraSession.h"
#include "platform/core/MainQueue.h"
#include "platform/synthetic/SyntheticCameraService.h"
#include "platform/synthetic/SyntheticCameraStream.h"
#include "platform/core/XdgPaths.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

using namespace corvessa;
using namespace std::chrono_literals;

namespace {

const QString kId = QStringLiteral("synthetic-camera");

// Everything a capture tells its owner, in order.
struct Owner {
    std::mutex mutex;
    std::condition_variable changed;
    QStringList events;
    std::vector<std::pair<int, int>> sampleSizes;
    std::vector<bool> mirrored;
    std::vector<MediaTime> times;
    int connected = 0;
    QString connectedID;
    std::shared_ptr<CameraSession> connectedSession;
    CameraVideoCapabilities capabilities;

    void attach(CameraCapture& capture)
    {
        capture.setOnEvent([this](const QString& line) {
            std::lock_guard lock(mutex);
            events << line;
            changed.notify_all();
        });
        capture.setOnSample([this](const SampleBuffer& s, bool m) {
            std::lock_guard lock(mutex);
            sampleSizes.emplace_back(s.imageBuffer()->width(), s.imageBuffer()->height());
            mirrored.push_back(m);
            times.push_back(s.presentationTime());
            changed.notify_all();
        });
        capture.setOnConnected([this](const QString& id, const std::shared_ptr<CameraSession>& session,
                                      const CameraVideoCapabilities& caps) {
            std::lock_guard lock(mutex);
            ++connected;
            connectedID = id;
            connectedSession = session;
            capabilities = caps;
            changed.notify_all();
        });
    }
    template <typename Pred>
    bool waitFor(Pred pred, std::chrono::milliseconds timeout = 3000ms)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return pred(*this); });
    }
    QStringList linesStartingWith(const QString& prefix)
    {
        std::lock_guard lock(mutex);
        return events.filter(QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(prefix)));
    }
    bool hasLine(const QString& line)
    {
        std::lock_guard lock(mutex);
        return events.contains(line);
    }
    size_t samples()
    {
        std::lock_guard lock(mutex);
        return sampleSizes.size();
    }
};

struct Rig {
    std::shared_ptr<SyntheticCameraService> service = std::make_shared<SyntheticCameraService>();
    std::shared_ptr<CameraCapture> capture = CameraCapture::create(service);
    Owner owner;

    Rig() { owner.attach(*capture); }
    ~Rig()
    {
        capture->stop();
        capture->queue().sync([] {});
    }
    // Waits for the capture to have handled everything posted so far.
    void settle() { capture->queue().sync([] {}); }
};

// Runs the main loop until the condition holds (the preview hops to it).
template <typename Pred>
bool spinUntil(Pred pred, std::chrono::milliseconds timeout = 3000ms)
{
    return QTest::qWaitFor(pred, int(timeout.count()));
}

QString logText(const test::TempHome& home)
{
    QFile f(home.file(QStringLiteral(".local/state/Recorder/recorder.log")));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

PixelBufferRef picture(int w, int h, PixelFormat format = PixelFormat::BGRA)
{
    auto p = PixelBuffer::create(w, h, format);
    p->fill(200, 40, 60);
    return p;
}

} // namespace

// MARK: - Lines

TEST(CameraCapture, FormatsItsDiagnosticLinesExactly)
{
    EXPECT_EQ(CameraCapture::configLine(720, 30, 1280, 720, MediaTime(1, 30), QStringLiteral("MJPG")),
              QStringLiteral("[camera-config] requested=720p/30 actual=1280x720 frameDuration=0.03333333333333333s "
                             "preset=MJPG"));
    EXPECT_EQ(CameraCapture::configLine(480, 15, 640, 480, MediaTime(1, 1), QStringLiteral("YUYV")),
              QStringLiteral("[camera-config] requested=480p/15 actual=640x480 frameDuration=1.0s preset=YUYV"));
    EXPECT_EQ(CameraCapture::syncLine(12.4, 33.6, 3, 4500),
              QStringLiteral("[camera-sync] capture age avg=12ms max=34ms dropped=3 buffer=4500KB"));
    EXPECT_EQ(CameraCapture::sessionErrorLine(QString(), 0), QStringLiteral("Camera Disconnected (Session Error: ?, 0)"));
    EXPECT_EQ(CameraCapture::sessionErrorLine(QStringLiteral("No space left on device"), 28),
              QStringLiteral("Camera Disconnected (Session Error: No space left on device, 28)"));
    EXPECT_EQ(CameraCapture::shortestDecimal(-1), QStringLiteral("-1.0"));
    EXPECT_EQ(CameraCapture::shortestDecimal(0.5), QStringLiteral("0.5"));
}

TEST(CameraCapture, TurnsDeviceFormatsIntoCapabilities)
{
    const CameraVideoCapabilities caps = CameraCapture::capabilities(SyntheticCameraService::defaultDevice());
    const auto sizes = caps.sizes();
    ASSERT_EQ(sizes.size(), 3u);
    EXPECT_EQ(sizes[0], (VideoDimensions{640, 480}));
    EXPECT_EQ(sizes[2], (VideoDimensions{1920, 1080}));
    EXPECT_EQ(caps.rates({1280, 720}), (std::vector<double>{15, 24, 25, 30})); // any rate from 1 to 30
    EXPECT_EQ(caps.rates({1920, 1080}), (std::vector<double>{30, 60}));
    EXPECT_EQ(caps.formatIndex({1920, 1080}, 60), 2);
}

// MARK: - Overlay pictures

TEST(CameraCapture, OverlayImageReducesToA720PixelShortSideWithEvenSides)
{
    struct Case {
        int w, h, ow, oh;
    };
    for (const Case c : {Case{1920, 1080, 1280, 720}, Case{1080, 1920, 720, 1280}, Case{4096, 2160, 1364, 720}}) {
        const auto out = CameraCapture::overlayImage(picture(c.w, c.h));
        ASSERT_TRUE(out);
        EXPECT_EQ(out->width(), c.ow) << c.w << "x" << c.h;
        EXPECT_EQ(out->height(), c.oh) << c.w << "x" << c.h;
        EXPECT_EQ(out->format(), PixelFormat::BGRA);
        const uint8_t* p = out->baseAddress(0) + size_t(out->height() / 2) * out->bytesPerRow(0) + 40;
        EXPECT_NEAR(p[2], 200, 2);
        EXPECT_NEAR(p[1], 40, 2);
    }
    // Small enough: the same picture, not a copy.
    const auto small = picture(1280, 720);
    EXPECT_EQ(CameraCapture::overlayImage(small), small);
    // NV12 is reduced into BGRA as well.
    const auto nv12 = CameraCapture::overlayImage(picture(1920, 1080, PixelFormat::NV12VideoRange));
    ASSERT_TRUE(nv12);
    EXPECT_EQ(nv12->format(), PixelFormat::BGRA);
    const uint8_t* p = nv12->baseAddress(0) + size_t(300) * nv12->bytesPerRow(0) + 400;
    EXPECT_NEAR(p[2], 200, 6);
    EXPECT_NEAR(p[1], 40, 6);
    EXPECT_NEAR(p[0], 60, 6);
    EXPECT_FALSE(CameraCapture::overlayImage(nullptr));
}

// MARK: - Start

TEST(CameraCapture, StartConfiguresReportsAndDeliversEveryWay)
{
    Rig rig;
    rig.capture->start(kId, 1080, 30, false);
    EXPECT_EQ(rig.capture->deviceID(), kId);
    EXPECT_FALSE(rig.capture->isPreviewQuality());
    ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return o.connected == 1 && o.sampleSizes.size() >= 3; }));

    EXPECT_TRUE(rig.owner.hasLine(QStringLiteral(
        "[camera-config] requested=1080p/30 actual=1920x1080 frameDuration=0.03333333333333333s preset=MJPG")));
    {
        std::lock_guard lock(rig.owner.mutex);
        EXPECT_EQ(rig.owner.connectedID, kId);
        EXPECT_EQ(rig.owner.connectedSession, rig.capture->session());
        EXPECT_EQ(rig.owner.capabilities.sizes().size(), 3u);
        EXPECT_EQ(rig.owner.sampleSizes.front(), std::make_pair(1920, 1080));
        EXPECT_FALSE(rig.owner.mirrored.front());
        // Host-clock times, in order.
        for (size_t i = 1; i < rig.owner.times.size(); ++i)
            EXPECT_LT(rig.owner.times[i - 1], rig.owner.times[i]);
    }
    EXPECT_TRUE(rig.capture->session()->isRunning());

    // The overlay holds reduced copies.
    CameraOverlayState::Layout bubble;
    bubble.visible = true;
    bubble.frame = GlobalRect(0, 0, 200, 200);
    rig.capture->overlay()->setLayout(bubble);
    const auto snap = rig.capture->overlay()->snapshot();
    ASSERT_TRUE(snap);
    EXPECT_EQ(snap->buffer->width(), 1280);
    EXPECT_EQ(snap->buffer->height(), 720);
    EXPECT_TRUE(SyntheticCameraStream::frameNumber(*snap->buffer));

    // The first frame brings the first capture-age report.
    const QStringList sync = rig.owner.linesStartingWith(QStringLiteral("[camera-sync] "));
    ASSERT_EQ(sync.size(), 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral(
                    R"(^\[camera-sync\] capture age avg=\d+ms max=\d+ms dropped=0 buffer=\d+KB$)"))
                    .match(sync.front())
                    .hasMatch())
        << sync.front().toStdString();
}

TEST(CameraCapture, APreviewOnlyStartAsksFor480pAt15WhateverItIsGiven)
{
    Rig rig;
    rig.capture->start(kId, 1080, 60, true, VideoDimensions{1920, 1080}, 60.0);
    EXPECT_TRUE(rig.capture->isPreviewQuality());
    ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return o.connected == 1; }));
    EXPECT_TRUE(rig.owner.hasLine(QStringLiteral(
        "[camera-config] requested=480p/15 actual=640x480 frameDuration=0.06666666666666667s preset=YUYV")));
}

TEST(CameraCapture, ARememberedSizeCountsOnlyWhenTheCameraOffersIt)
{
    Rig rig;
    rig.capture->start(kId, 720, 30, false, VideoDimensions{800, 600}, std::nullopt);
    ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return o.connected == 1; }));
    EXPECT_EQ(rig.owner.linesStartingWith(QStringLiteral("[camera-config]")).value(0),
              QStringLiteral("[camera-config] requested=720p/30 actual=1280x720 frameDuration=0.03333333333333333s "
                             "preset=YUYV"));

    rig.capture->start(kId, 1080, 30, false, VideoDimensions{640, 480}, 15.0);
    ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return o.connected == 2; }));
    EXPECT_EQ(rig.owner.linesStartingWith(QStringLiteral("[camera-config]")).value(1),
              QStringLiteral("[camera-config] requested=1080p/30 actual=640x480 frameDuration=0.06666666666666667s "
                             "preset=YUYV"));
}

TEST(CameraCapture, ASecondStartBeforeTheFirstConfigurationLeavesOnlyTheSecond)
{
    Rig rig;
    // Hold the queue so that both configurations wait behind it.
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    rig.capture->queue().async([gate] { gate.wait(); });
    rig.capture->start(kId, 1080, 30, false);
    rig.capture->start(kId, 480, 30, false);
    release.set_value();
    ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return o.connected >= 1 && !o.sampleSizes.empty(); }));
    rig.settle();
    const QStringList config = rig.owner.linesStartingWith(QStringLiteral("[camera-config]"));
    ASSERT_EQ(config.size(), 1);
    EXPECT_TRUE(config.front().contains(QStringLiteral("requested=480p/30 actual=640x480"))) << config.front().toStdString();
    EXPECT_EQ(rig.service->openStreams(), 1);
}

// MARK: - Failures

TEST(CameraCapture, ConfigurationFailuresBecomeTheirLines)
{
    struct Case {
        std::optional<CameraError> open, configure, start;
        QString line;
    };
    const std::vector<Case> cases{
        {CameraError{CameraErrorCode::OpenFailed, {}, 13}, {}, {},
         QStringLiteral("Camera Disconnected (Cannot Open Device)")},
        {{}, CameraError{CameraErrorCode::Busy, {}, 16}, {}, QStringLiteral("Camera Disconnected (Cannot Add Input)")},
        {{}, CameraError{CameraErrorCode::FormatRejected, {}, 22}, {},
         QStringLiteral("Camera Disconnected (Cannot Configure Format)")},
        {{}, CameraError{CameraErrorCode::BuffersFailed, {}, 12}, {},
         QStringLiteral("Camera Disconnected (Cannot Add Output)")},
        {{}, CameraError{CameraErrorCode::ConfigurationFailed, {}, 5}, {},
         QStringLiteral("Camera Disconnected (Cannot Configure Device)")},
        {{}, {}, CameraError{CameraErrorCode::StartFailed, QStringLiteral("No space left on device"), 28},
         QStringLiteral("Camera Disconnected (Session Error: No space left on device, 28)")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        Rig rig;
        rig.service->setOpenError(c.open);
        rig.service->setConfigureError(c.configure);
        rig.service->setStartError(c.start);
        rig.capture->start(kId, 720, 30, false);
        ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return !o.events.isEmpty(); }));
        rig.settle();
        std::lock_guard lock(rig.owner.mutex);
        EXPECT_EQ(rig.owner.events, QStringList{c.line});
        EXPECT_EQ(rig.owner.connected, 0);
        EXPECT_EQ(rig.service->runningStreams(), 0);
    }
}

TEST(CameraCapture, AnUnknownCameraOrOneWithoutUsableFormatsCannotStart)
{
    {
        Rig rig;
        rig.capture->start(QStringLiteral("no-such-camera"), 720, 30, false);
        ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return !o.events.isEmpty(); }));
        EXPECT_TRUE(rig.owner.hasLine(QStringLiteral("Camera Disconnected (Cannot Open Device)")));
        // The session stays, not running; the owner decides what follows.
        ASSERT_TRUE(rig.capture->session());
        EXPECT_FALSE(rig.capture->session()->isRunning());
    }
    {
        CameraDevice odd = SyntheticCameraService::defaultDevice();
        for (auto& f : odd.formats)
            f.intervals = {{MediaTime(1, 240), MediaTime(1, 240), {}}}; // 240 fps only: nothing usable
        Rig rig;
        rig.service = std::make_shared<SyntheticCameraService>(std::vector<CameraDevice>{odd});
        rig.capture = CameraCapture::create(rig.service);
        rig.owner.attach(*rig.capture);
        rig.capture->start(kId, 720, 30, false);
        ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return !o.events.isEmpty(); }));
        EXPECT_TRUE(rig.owner.hasLine(QStringLiteral("Camera Disconnected (Cannot Configure Format)")));
    }
}

TEST(CameraCapture, UnpluggingTheCameraSendsOneLineAndAnotherCameraNone)
{
    Rig rig;
    CameraDevice other = SyntheticCameraService::defaultDevice();
    other.id = QStringLiteral("other-camera");
    rig.service->addDevice(other);
    rig.capture->start(kId, 720, 30, false);
    ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return !o.sampleSizes.empty(); }));

    rig.service->disconnect(QStringLiteral("other-camera"));
    rig.settle();
    EXPECT_TRUE(rig.owner.linesStartingWith(QStringLiteral("Camera Disconnected")).isEmpty());

    // The stream ends and the device list changes: one line all the same.
    rig.service->disconnect(kId);
    ASSERT_TRUE(rig.owner.waitFor([](Owner& o) {
        return o.events.contains(QStringLiteral("Camera Disconnected, Screen Recording Unaffected"));
    }));
    std::this_thread::sleep_for(50ms);
    rig.settle();
    EXPECT_EQ(rig.owner.linesStartingWith(QStringLiteral("Camera Disconnected")),
              QStringList{QStringLiteral("Camera Disconnected, Screen Recording Unaffected")});
    // The capture does not stop itself.
    EXPECT_TRUE(rig.capture->session());
    EXPECT_FALSE(rig.capture->session()->isRunning());
}

TEST(CameraCapture, ARuntimeErrorSendsTheSessionErrorLine)
{
    Rig rig;
    rig.capture->start(kId, 720, 30, false);
    ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return !o.sampleSizes.empty(); }));
    rig.service->interrupt(kId, CameraError{CameraErrorCode::RuntimeError, {}, 0});
    ASSERT_TRUE(rig.owner.waitFor(
        [](Owner& o) { return o.events.contains(QStringLiteral("Camera Disconnected (Session Error: ?, 0)")); }));
}

// MARK: - Frames

TEST(CameraCapture, FramesOfAnotherSizeAreDroppedAndCountedInTheNextReport)
{
    Rig rig;
    rig.capture->start(kId, 720, 30, false);
    ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return !o.sampleSizes.empty(); }));
    const size_t before = rig.owner.samples();
    rig.service->changeFrameSize(kId, QSize(640, 360));
    std::this_thread::sleep_for(300ms); // about nine frames of the wrong size
    rig.settle();
    const size_t during = rig.owner.samples();
    rig.service->reportDrops(kId, 2); // and the device lost two
    rig.service->changeFrameSize(kId, QSize());
    // The second report comes with an accepted frame 5 s after the first.
    ASSERT_TRUE(rig.owner.waitFor(
        [](Owner& o) { return o.events.filter(QStringLiteral("[camera-sync]")).size() >= 2; }, 8000ms));
    const QString report = rig.owner.linesStartingWith(QStringLiteral("[camera-sync]")).value(1);
    const auto match = QRegularExpression(QStringLiteral(R"(dropped=(\d+) )")).match(report);
    ASSERT_TRUE(match.hasMatch()) << report.toStdString();
    EXPECT_GE(match.captured(1).toInt(), 2 + 5) << report.toStdString();
    EXPECT_LE(during, before + 1); // at most one in flight when the size changed
    std::lock_guard lock(rig.owner.mutex);
    for (const auto& size : rig.owner.sampleSizes)
        EXPECT_EQ(size, std::make_pair(1280, 720));
}

TEST(CameraCapture, RestartingAtAnotherSizeReportsTheNewFormatAndDeliversIt)
{
    Rig rig;
    rig.capture->start(kId, 720, 30, false);
    ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return !o.sampleSizes.empty(); }));
    rig.capture->start(kId, 480, 30, false);
    ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return o.sampleSizes.back() == std::make_pair(640, 480); }));
    const QStringList config = rig.owner.linesStartingWith(QStringLiteral("[camera-config]"));
    ASSERT_EQ(config.size(), 2);
    EXPECT_TRUE(config[1].contains(QStringLiteral("actual=640x480")));
    rig.settle();
    EXPECT_EQ(rig.service->openStreams(), 1); // the first camera stream was closed
}

TEST(CameraCapture, SamplesCarryTheMirrorFlagAndTheToggleIsLogged)
{
    test::TempHome home;
    Rig rig;
    rig.capture->setMirrored(true, nullptr);
    EXPECT_TRUE(rig.capture->overlay()->mirrored());
    rig.capture->start(kId, 720, 30, false);
    ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return !o.mirrored.empty(); }));
    {
        std::lock_guard lock(rig.owner.mutex);
        EXPECT_TRUE(rig.owner.mirrored.front());
    }
    rig.capture->setMirrored(false, nullptr);
    const size_t before = rig.owner.samples();
    ASSERT_TRUE(rig.owner.waitFor([before](Owner& o) { return o.mirrored.size() > before + 1; }));
    {
        std::lock_guard lock(rig.owner.mutex);
        EXPECT_FALSE(rig.owner.mirrored.back());
    }
    const QString log = logText(home);
    EXPECT_TRUE(log.contains(QStringLiteral(" [mirror] toggle on preview none\n"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral(" [mirror] toggle off preview none\n")));
}

TEST(CameraCapture, ThePreviewGetsImagesOnTheMainThreadAndTheMirrorScale)
{
    test::TempHome home;
    Rig rig;
    rig.capture->start(kId, 1080, 30, false);
    ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return o.connected == 1; }));

    auto preview = std::make_shared<CameraPreview>();
    std::vector<QSize> sizes;
    bool onMain = true;
    preview->setOnImage([&](const QImage& image) {
        sizes.push_back(image.size());
        onMain = onMain && MainQueue::isCurrent();
    });
    rig.capture->setPreview(preview, rig.capture->session());
    ASSERT_TRUE(spinUntil([&] { return sizes.size() >= 3; }));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(sizes.front(), QSize(852, 480)); // reduced for the view
    EXPECT_EQ(preview->image().format(), QImage::Format_RGB32);
    // The camera's green, unmirrored.
    EXPECT_EQ(qGreen(preview->image().pixel(840, 400)), SyntheticCameraStream::kBackground.g);
    EXPECT_EQ(preview->scaleX(), 1.0);

    rig.capture->setMirrored(true, preview);
    EXPECT_EQ(preview->scaleX(), -1.0); // applied at once on the main thread
    rig.capture->setMirrored(true, nullptr);
    EXPECT_EQ(preview->scaleX(), -1.0);
    const QString log = logText(home);
    EXPECT_TRUE(log.contains(QStringLiteral(" [mirror] toggle on preview attached\n"))) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("[mirror] apply scaleX 1.0 → -1.0 (layer transform -1.0)")), 1);
    EXPECT_EQ(log.count(QStringLiteral("[mirror] apply")), 1); // the second toggle changed nothing

    // Detached: no more images.
    rig.capture->setPreview(preview, nullptr);
    rig.settle();
    spinUntil([] { return false; }, 100ms);
    const size_t count = sizes.size();
    spinUntil([] { return false; }, 200ms);
    EXPECT_EQ(sizes.size(), count);
}

// MARK: - Stop, suspend, resume

TEST(CameraCapture, StopEndsTheStartAndEmptiesTheOverlay)
{
    Rig rig;
    rig.capture->stop(); // nothing runs: harmless
    rig.capture->start(kId, 720, 30, false);
    ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return o.sampleSizes.size() >= 2; }));
    EXPECT_GT(rig.capture->overlay()->frameCount(), 0u);

    rig.capture->stop();
    EXPECT_FALSE(rig.capture->session());
    EXPECT_EQ(rig.capture->overlay()->frameCount(), 0u);
    EXPECT_EQ(rig.capture->overlay()->usedBytes(), 0);
    rig.settle();
    const size_t samples = rig.owner.samples();
    std::this_thread::sleep_for(100ms);
    rig.settle();
    EXPECT_EQ(rig.owner.samples(), samples);
    EXPECT_EQ(rig.service->openStreams(), 0);
    EXPECT_EQ(rig.capture->deviceID(), kId); // kept
}

TEST(CameraCapture, SuspendKeepsTheFormatAndResumeStartsAgain)
{
    Rig rig;
    rig.capture->start(kId, 1080, 30, false);
    ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return !o.sampleSizes.empty(); }));
    rig.capture->suspend();
    rig.settle();
    EXPECT_EQ(rig.service->runningStreams(), 0);
    EXPECT_FALSE(rig.capture->session()->isRunning());
    EXPECT_GT(rig.capture->overlay()->frameCount(), 0u); // the last pictures stay

    const size_t before = rig.owner.samples();
    rig.capture->resume();
    ASSERT_TRUE(rig.owner.waitFor([before](Owner& o) { return o.sampleSizes.size() > before + 2; }));
    EXPECT_EQ(rig.service->runningFormats().front().width, 1920);
    EXPECT_TRUE(rig.capture->session()->isRunning());
    EXPECT_EQ(rig.owner.linesStartingWith(QStringLiteral("[camera-config]")).size(), 1); // no new configuration
}

TEST(CameraCapture, ResumingACameraThatWentAwayReportsItOnce)
{
    Rig rig;
    rig.capture->start(kId, 720, 30, false);
    ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return !o.sampleSizes.empty(); }));
    rig.capture->suspend();
    rig.settle();
    rig.service->disconnect(kId); // unplugged while suspended: the device list says so
    ASSERT_TRUE(rig.owner.waitFor([](Owner& o) { return !o.events.filter(QStringLiteral("Camera Disconnected")).isEmpty(); }));
    rig.capture->resume();
    rig.settle();
    EXPECT_EQ(rig.owner.linesStartingWith(QStringLiteral("Camera Disconnected")).size(), 1);
}

TEST(CameraCapture, DestroyingTheCaptureClosesTheCamera)
{
    auto service = std::make_shared<SyntheticCameraService>();
    auto capture = CameraCapture::create(service);
    Owner owner;
    owner.attach(*capture);
    capture->start(kId, 720, 30, false);
    ASSERT_TRUE(owner.waitFor([](Owner& o) { return !o.sampleSizes.empty(); }));
    capture.reset();
    // The last reference may be a frame on its way, on the camera queue.
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (service->openStreams() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(service->openStreams(), 0);
    EXPECT_EQ(service->runningStreams(), 0);
}

TEST(CameraCapture, TheLastReferenceGoingInAFrameAfterStopEndsTheStreamAtOnce)
{
    auto service = std::make_shared<SyntheticCameraService>();
    std::mutex mutex;
    std::shared_ptr<CameraCapture> handed; // the last reference, given to the next frame
    std::promise<void> shut;
    const std::shared_future<void> gate = shut.get_future().share();
    std::promise<void> freed;
    std::future<void> captureFreed = freed.get_future();
    // Fulfilled when the capture lets go of its handlers, at the end of its destruction.
    std::shared_ptr<void> token(nullptr, [&freed](void*) { freed.set_value(); });
    std::atomic<int> samples{0};
    auto capture = CameraCapture::create(service);
    capture->setOnSample([&mutex, &handed, &samples, gate, token = std::move(token)](const SampleBuffer&, bool) {
        samples.fetch_add(1);
        std::shared_ptr<CameraCapture> last;
        {
            std::lock_guard lock(mutex);
            last = std::move(handed);
        }
        if (!last)
            return;
        // Work posted before the stop keeps the queue busy, so the stop's own
        // teardown cannot be what closes the camera.
        last->queue().async([gate] { gate.wait_for(10s); });
        last->stop();
        // `last` goes here; the frame's own hold on the capture is then the last.
    });
    capture->start(kId, 720, 30, false);
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (samples.load() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    ASSERT_GT(samples.load(), 0);
    std::weak_ptr<CameraCapture> weak = capture;
    {
        std::lock_guard lock(mutex);
        handed = std::move(capture);
    }

    ASSERT_EQ(captureFreed.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(weak.expired());
    // Closed with the capture, while the queue it posted to is still busy.
    EXPECT_EQ(service->openStreams(), 0);
    EXPECT_EQ(service->runningStreams(), 0);
    // A stream left open would post this to the freed capture's queue.
    service->reportDrops(kId, 1);
    shut.set_value();

    const auto closed = std::chrono::steady_clock::now() + 3s;
    while (service->openStreams() > 0 && std::chrono::steady_clock::now() < closed)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(service->openStreams(), 0);
}
