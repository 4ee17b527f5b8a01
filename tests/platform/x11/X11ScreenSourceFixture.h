#pragma once

// What the X screen-source tests share: a server of one screen, frames of
// all of it, and the checks on them.
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
#include "platform/x11/ScreenStreamXvfbTest.h"
#include "platform/x11/X11CaptureSession.h"
#include "platform/x11/X11ErrorTrap.h"

using namespace corvessa;
using namespace corvessa::test;

namespace corvessa::test::screen {

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 800;

inline int count(const PixelBuffer& b, uint32_t colour)
{
    int n = 0;
    for (int y = 0; y < b.height(); ++y) {
        for (int x = 0; x < b.width(); ++x)
            n += near(pixel(b, x, y), colour) ? 1 : 0;
    }
    return n;
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

// Frames of the whole screen.
inline ScreenStreamConfig screenConfig()
{
    return bgraConfig(kScreenWidth, kScreenHeight);
}

class X11ScreenSourceXvfb : public ScreenStreamXvfbTest {
protected:
    static void SetUpTestSuite() { startServer(QStringLiteral("%1x%2x24").arg(kScreenWidth).arg(kScreenHeight)); }

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
};

} // namespace corvessa::test::screen

using namespace corvessa::test::screen;
