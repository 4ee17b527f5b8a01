#pragma once

// What the X screen-source tests share: a server, a painter, a stream and
// what it delivers.
#include "platform/core/NV12Converter.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/SerialQueue.h"
#include "platform/synthetic/SyntheticAudioInput.h"
#include "platform/x11/X11ScreenSource.h"
#include "platform/x11/X11ScreenStream.h"
#include "support/Artifacts.h"
#include "support/XvfbTest.h"
#include "support/WindowManager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QRegion>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

// X11 last: its macros clash with names in Qt and GoogleTest.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
// After gtest: Xlib defines macros (None, Bool) that clash with it.
#include "support/Painter.h"
#include "platform/x11/X11CaptureSession.h"
#include "platform/x11/X11ErrorTrap.h"


using namespace corvessa;
using corvessa::test::Painter;

namespace corvessa::test::screen {

constexpr uint32_t kRed = 0xff0000;
constexpr uint32_t kGreen = 0x00ff00;
constexpr uint32_t kBlue = 0x0000ff;
constexpr uint32_t kYellow = 0xffff00;
constexpr uint32_t kGrey = 0x808080;
constexpr uint32_t kCyan = 0x00ffff;
constexpr uint32_t kBlack = 0x000000;
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 800;

// Collects what a stream delivers on its queue.
struct Collector {
    std::mutex mutex;
    std::condition_variable changed;
    int frames = 0;
    int microphoneBuffers = 0;
    PixelBufferRef latest;
    MediaTime lastTime;
    bool timesIncrease = true;
    bool wrongThread = false;
    std::optional<RecorderError> stopError;
    int stops = 0;
    // Runs on every frame, on the queue.
    std::function<void(const PixelBuffer&)> inspect;
    SerialQueue* queue = nullptr;

    ScreenStreamOutput output()
    {
        ScreenStreamOutput out;
        out.onScreen = [this](const SampleBuffer& s) {
            std::lock_guard lock(mutex);
            if (queue && !queue->isCurrent())
                wrongThread = true;
            if (lastTime.isValid() && !(s.presentationTime() > lastTime))
                timesIncrease = false;
            lastTime = s.presentationTime();
            latest = s.imageBuffer();
            ++frames;
            if (inspect && latest)
                inspect(*latest);
            changed.notify_all();
        };
        out.onMicrophone = [this](const SampleBuffer&) {
            std::lock_guard lock(mutex);
            ++microphoneBuffers;
            changed.notify_all();
        };
        out.onStop = [this](const RecorderError& e) {
            std::lock_guard lock(mutex);
            stopError = e;
            ++stops;
            changed.notify_all();
        };
        return out;
    }

    bool waitFor(const std::function<bool()>& condition, int ms = 5000)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(ms), condition);
    }
    // Waits for a frame that satisfies `check`.
    bool waitForFrame(const std::function<bool(const PixelBuffer&)>& check, int ms = 5000)
    {
        return waitFor([&] { return latest && check(*latest); }, ms);
    }
    int frameCount()
    {
        std::lock_guard lock(mutex);
        return frames;
    }
    // The count and the last frame's time, read together.
    std::pair<int, MediaTime> framesAndTime()
    {
        std::lock_guard lock(mutex);
        return {frames, lastTime};
    }
    int microphoneCount()
    {
        std::lock_guard lock(mutex);
        return microphoneBuffers;
    }
    std::optional<RecorderError> stopped()
    {
        std::lock_guard lock(mutex);
        return stopError;
    }
    int stopCount()
    {
        std::lock_guard lock(mutex);
        return stops;
    }
    PixelBufferRef last()
    {
        std::lock_guard lock(mutex);
        return latest;
    }
};

inline uint32_t pixel(const PixelBuffer& b, int x, int y)
{
    const uint8_t* p = b.baseAddress(0) + size_t(y) * b.bytesPerRow(0) + size_t(x) * 4;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

inline uint8_t alpha(const PixelBuffer& b, int x, int y)
{
    return b.baseAddress(0)[size_t(y) * b.bytesPerRow(0) + size_t(x) * 4 + 3];
}

inline bool near(uint32_t a, uint32_t b, int tolerance = 6)
{
    for (int shift : {0, 8, 16}) {
        if (std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)) > tolerance)
            return false;
    }
    return true;
}

inline int count(const PixelBuffer& b, uint32_t colour)
{
    int n = 0;
    for (int y = 0; y < b.height(); ++y) {
        for (int x = 0; x < b.width(); ++x)
            n += near(pixel(b, x, y), colour) ? 1 : 0;
    }
    return n;
}

inline QImage imageOf(const PixelBuffer& b)
{
    return QImage(b.baseAddress(0), b.width(), b.height(), int(b.bytesPerRow(0)), QImage::Format_RGB32).copy();
}

// The 16-pixel blocks, outside `skip`, where `frame` shows something
// `reference` does not: their mean colours differ by more than rounding.
inline QRegion differingBlocks(QImage frame, QImage reference, const QRect& skip)
{
    constexpr int kBlock = 16;
    for (QImage* image : {&frame, &reference}) {
        QPainter(image).fillRect(skip, Qt::black);
        *image = image->scaled(image->size() / kBlock, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    QRegion differing;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            if (!near(frame.pixel(x, y), reference.pixel(x, y), 2))
                differing += QRect(x * kBlock, y * kBlock, kBlock, kBlock);
    return differing;
}

inline void keepArtifact(const QImage& image, const QString& name)
{
    if (const QString kept = test::Artifacts::path(name); !kept.isEmpty())
        image.save(kept);
}

// A window with alpha (premultiplied `argb`) at `r`, unmapped; none without a 32-bit visual.
inline Window translucentWindow(Display* dpy, const QRect& r, unsigned long argb)
{
    XVisualInfo info;
    if (!XMatchVisualInfo(dpy, DefaultScreen(dpy), 32, TrueColor, &info))
        return 0;
    XSetWindowAttributes attributes;
    attributes.colormap = XCreateColormap(dpy, DefaultRootWindow(dpy), info.visual, AllocNone);
    attributes.border_pixel = 0;
    attributes.background_pixel = argb;
    return XCreateWindow(dpy, DefaultRootWindow(dpy), r.x(), r.y(), unsigned(r.width()), unsigned(r.height()), 0, 32,
                         InputOutput, info.visual, CWColormap | CWBorderPixel | CWBackPixel, &attributes);
}

// Gives the root its black background back when it goes.
struct RootBackground {
    Display* dpy;
    ~RootBackground()
    {
        XSetWindowBackground(dpy, DefaultRootWindow(dpy), kBlack);
        XClearWindow(dpy, DefaultRootWindow(dpy));
        XSync(dpy, False);
    }
};

// System V shared-memory segments this process made that still exist (one
// marked for removal lives on while anyone is attached).
inline int ownShmSegments()
{
    std::ifstream table("/proc/sysvipc/shm");
    std::string line;
    std::getline(table, line); // the header
    int n = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        long long key = 0;
        long long id = 0;
        long long perms = 0;
        unsigned long long size = 0;
        long long creator = 0;
        if (fields >> key >> id >> perms >> size >> creator && creator == getpid())
            ++n;
    }
    return n;
}

inline ScreenStreamConfig bgraConfig(int width = kScreenWidth, int height = kScreenHeight)
{
    ScreenStreamConfig c;
    c.width = width;
    c.height = height;
    c.pixelFormat = PixelFormat::BGRA;
    c.minimumFrameInterval = MediaTime(1, 60);
    return c;
}

class X11ScreenSourceXvfb : public test::XvfbTest {
protected:
    static void SetUpTestSuite() { startServer(QStringLiteral("%1x%2x24").arg(kScreenWidth).arg(kScreenHeight)); }
    void SetUp() override
    {
        XvfbTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        painter = std::make_unique<Painter>(s_xvfb->display());
        ASSERT_TRUE(painter->isOpen());
        source = std::make_shared<X11ScreenSource>(s_xvfb->display());
        collector.queue = &queue;
    }
    void TearDown() override
    {
        if (stream)
            stream->stop();
        stream.reset();
        painter.reset(); // its windows go with its connection
    }

    void framesShowTheWholeScreen(bool composited);

    uint32_t displayId()
    {
        const auto content = source->content();
        return content && !content->displays.empty() ? content->displays.front().id : 0;
    }
    ScreenFilter displayFilter()
    {
        ScreenFilter f;
        f.kind = ScreenFilter::Kind::Display;
        f.displayId = displayId();
        return f;
    }
    static ScreenFilter windowFilter(Window w)
    {
        ScreenFilter f;
        f.kind = ScreenFilter::Kind::Window;
        f.windowId = uint32_t(w);
        return f;
    }
    void startStream(const ScreenFilter& filter, const ScreenStreamConfig& config)
    {
        stream = source->makeStream(filter, config, &queue, collector.output());
        ASSERT_TRUE(stream);
        const auto error = stream->start();
        ASSERT_FALSE(error.has_value()) << error->message.toStdString();
    }

    std::unique_ptr<Painter> painter;
    std::shared_ptr<X11ScreenSource> source;
    SerialQueue queue{"test.capture"};
    Collector collector;
    std::unique_ptr<ScreenStream> stream;
};

} // namespace corvessa::test::screen

using namespace corvessa::test::screen;
