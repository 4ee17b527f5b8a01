// Ten seconds of display capture from a private Xvfb at 1920x1080 into NV12 at
// 30 frames per second, as a recording asks for it. On screen: a full-screen
// "desktop" window, a 480x320 window that moves and changes colour 60 times a
// second, and a 640x60 toolbar of this process that the stream excludes (so the
// excluded-window rebuild runs in every frame, as during a real recording).
// Prints frames made, CPU seconds per second of capture (this process, its
// capture thread, the X server) and milliseconds per frame for reading and
// converting. For comparison it then times the other way to build a frame:
// reading every window's pixmap and stacking them in client memory.
//
// With --canvas the desktop is the root's own background, published nowhere
// (as GNOME's compositor draws it), and a second into the capture a
// full-screen window of this process, excluded like the pen's canvas, covers
// it all: every frame is then rebuilt from the background the stream remembers.
//
// With --area the stream takes the 1280x720 area in the middle of the screen
// (44 % of its pixels) as an area recording does, over the same scene with the
// desktop on the root, and a full-screen window of this process shaped to the
// 4-pixel frame that marks the area without a compositor lies around it.
//
// Options: --seconds N, --no-toolbar (nothing excluded), --canvas, --area, --fps N.

#include "platform/core/PixelBuffer.h"
#include "platform/core/SerialQueue.h"
#include "platform/x11/X11ScreenSource.h"
#include "platform/x11/X11ScreenStream.h"

#include "BenchRig.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/ipc.h>
#include <sys/resource.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

// X11 last: its macros clash with names in Qt.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/shape.h>

using namespace corvessa;
using Clock = std::chrono::steady_clock;
using benchrig::otherCpu;
using benchrig::processCpu;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kAreaX = 320;
constexpr int kAreaY = 180;
constexpr int kAreaWidth = 1280;
constexpr int kAreaHeight = 720;
constexpr int kFrameWidth = 4;

// A private Xvfb; the server picks a free display and writes its number to a pipe.
struct Server {
    pid_t pid = -1;
    std::string display;

    bool start()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        pid = fork();
        if (pid == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            const std::string screen = std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24";
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "+extension", "Composite",
                   "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char buf[32] = {};
        const ssize_t n = read(fds[0], buf, sizeof buf - 1);
        close(fds[0]);
        if (n <= 0)
            return false;
        display = ":" + std::string(buf, size_t(n));
        while (!display.empty() && (display.back() == '\n' || display.back() == ' '))
            display.pop_back();
        return true;
    }
    ~Server()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

// The scene: a desktop, a moving window, and our own toolbar.
struct Scene {
    Display* dpy = nullptr;
    Window desktop = 0;
    Window mover = 0;
    Window toolbar = 0;
    Window canvas = 0;
    Window frame = 0;
    std::atomic<bool> running{true};
    std::thread thread;

    bool open(const std::string& name, bool withToolbar, bool onRoot)
    {
        dpy = XOpenDisplay(name.c_str());
        if (!dpy)
            return false;
        const Window root = DefaultRootWindow(dpy);
        Drawable surface = 0;
        if (onRoot) {
            surface = XCreatePixmap(dpy, root, kWidth, kHeight, unsigned(DefaultDepth(dpy, 0)));
        } else {
            desktop = XCreateSimpleWindow(dpy, root, 0, 0, kWidth, kHeight, 0, 0, 0x336699);
            XMapWindow(dpy, desktop);
            surface = desktop;
        }
        // Some detail on the desktop, so the picture is not one colour.
        GC gc = XCreateGC(dpy, surface, 0, nullptr);
        if (onRoot) {
            XSetForeground(dpy, gc, 0x336699);
            XFillRectangle(dpy, surface, gc, 0, 0, kWidth, kHeight);
        }
        for (int i = 0; i < 40; ++i) {
            XSetForeground(dpy, gc, 0x204060 + unsigned(i) * 0x030507);
            XFillRectangle(dpy, surface, gc, (i * 97) % kWidth, (i * 53) % kHeight, 200, 120);
        }
        XFreeGC(dpy, gc);
        if (onRoot) {
            XSetWindowBackgroundPixmap(dpy, root, surface);
            XClearWindow(dpy, root);
            XFreePixmap(dpy, surface);
        }
        mover = XCreateSimpleWindow(dpy, root, 100, 100, 480, 320, 0, 0, 0xcc3333);
        XMapWindow(dpy, mover);
        if (withToolbar) {
            toolbar = XCreateSimpleWindow(dpy, root, 640, 40, 640, 60, 0, 0, 0x00ff00);
            const unsigned long pid = (unsigned long)getpid();
            XChangeProperty(dpy, toolbar, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&pid), 1);
            XMapWindow(dpy, toolbar);
        }
        XSync(dpy, False);
        return true;
    }
    // A full-screen window of ours, unmapped, that the stream excludes.
    Window fullScreenWindow()
    {
        XSetWindowAttributes a{};
        a.override_redirect = True;
        a.background_pixel = 0x00ff00;
        const Window w = XCreateWindow(dpy, DefaultRootWindow(dpy), 0, 0, kWidth, kHeight, 0, CopyFromParent,
                                       InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &a);
        const unsigned long pid = (unsigned long)getpid();
        XChangeProperty(dpy, w, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&pid), 1);
        return w;
    }
    // Below the toolbar.
    void mapCanvas()
    {
        canvas = fullScreenWindow();
        XMapWindow(dpy, canvas);
        if (toolbar)
            XRaiseWindow(dpy, toolbar);
        XSync(dpy, False);
    }
    // The frame around the area: the window's shape is a ring just outside it.
    void mapFrame()
    {
        frame = fullScreenWindow();
        const int x = kAreaX - kFrameWidth;
        const int y = kAreaY - kFrameWidth;
        const unsigned w = kAreaWidth + 2 * kFrameWidth;
        const unsigned h = kAreaHeight + 2 * kFrameWidth;
        XRectangle ring[] = {{short(x), short(y), ushort(w), ushort(kFrameWidth)},
                             {short(x), short(kAreaY), ushort(kFrameWidth), ushort(kAreaHeight)},
                             {short(kAreaX + kAreaWidth), short(kAreaY), ushort(kFrameWidth), ushort(kAreaHeight)},
                             {short(x), short(kAreaY + kAreaHeight), ushort(w), ushort(kFrameWidth)}};
        XShapeCombineRectangles(dpy, frame, ShapeBounding, 0, 0, ring, 4, ShapeSet, Unsorted);
        XMapWindow(dpy, frame);
        if (toolbar)
            XRaiseWindow(dpy, toolbar);
        XSync(dpy, False);
    }
    void animate()
    {
        thread = std::thread([this] {
            int step = 0;
            auto next = Clock::now();
            while (running) {
                const int x = 100 + (step * 12) % (kWidth - 700);
                const int y = 200 + int(150 * std::sin(step / 20.0));
                XMoveWindow(dpy, mover, x, y);
                XSetWindowBackground(dpy, mover, 0x800000 + unsigned(step % 128) * 0x010203);
                XClearWindow(dpy, mover);
                XSync(dpy, False);
                ++step;
                next += std::chrono::microseconds(16667);
                std::this_thread::sleep_until(next);
            }
        });
    }
    ~Scene()
    {
        running = false;
        if (thread.joinable())
            thread.join();
        if (dpy)
            XCloseDisplay(dpy);
    }
};

// The other way to build a frame: every mapped window's pixmap read in full and
// stacked in client memory. Returns milliseconds per frame.
double timeWindowStacking(const std::string& name, int frames)
{
    Display* dpy = XOpenDisplay(name.c_str());
    if (!dpy)
        return -1;
    const Window root = DefaultRootWindow(dpy);
    XCompositeRedirectSubwindows(dpy, root, CompositeRedirectAutomatic);
    XShmSegmentInfo info{};
    XImage* image = XShmCreateImage(dpy, DefaultVisual(dpy, 0), 24, ZPixmap, nullptr, &info, kWidth, kHeight);
    info.shmid = shmget(IPC_PRIVATE, size_t(image->bytes_per_line) * kHeight, IPC_CREAT | 0600);
    info.shmaddr = image->data = static_cast<char*>(shmat(info.shmid, nullptr, 0));
    XShmAttach(dpy, &info);
    XSync(dpy, False);
    shmctl(info.shmid, IPC_RMID, nullptr);
    std::vector<uint8_t> frame(size_t(kWidth) * kHeight * 4);
    const auto start = Clock::now();
    for (int f = 0; f < frames; ++f) {
        Window r = 0;
        Window parent = 0;
        Window* kids = nullptr;
        unsigned count = 0;
        XQueryTree(dpy, root, &r, &parent, &kids, &count);
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes a;
            if (!XGetWindowAttributes(dpy, kids[i], &a) || a.map_state != IsViewable || a.c_class != InputOutput)
                continue;
            const Pixmap p = XCompositeNameWindowPixmap(dpy, kids[i]);
            XImage* part = XShmCreateImage(dpy, a.visual, unsigned(a.depth), ZPixmap, nullptr, &info,
                                           unsigned(a.width), unsigned(a.height));
            part->data = info.shmaddr;
            XShmGetImage(dpy, p, part, 0, 0, AllPlanes);
            for (int y = 0; y < a.height; ++y) {
                const int fy = a.y + y;
                if (fy < 0 || fy >= kHeight)
                    continue;
                const int x0 = std::max(0, a.x);
                const int x1 = std::min(kWidth, a.x + a.width);
                if (x1 > x0) {
                    std::memcpy(frame.data() + (size_t(fy) * kWidth + size_t(x0)) * 4,
                                info.shmaddr + size_t(y) * size_t(part->bytes_per_line) + size_t(x0 - a.x) * 4,
                                size_t(x1 - x0) * 4);
                }
            }
            XDestroyImage(part);
            XFreePixmap(dpy, p);
        }
        if (kids)
            XFree(kids);
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / frames;
    XShmDetach(dpy, &info);
    XDestroyImage(image);
    shmdt(info.shmaddr);
    XCloseDisplay(dpy);
    return ms;
}

// The chosen way's read alone: one XShmGetImage of the screen.
double timeScreenRead(const std::string& name, int frames)
{
    Display* dpy = XOpenDisplay(name.c_str());
    if (!dpy)
        return -1;
    XShmSegmentInfo info{};
    XImage* image = XShmCreateImage(dpy, DefaultVisual(dpy, 0), 24, ZPixmap, nullptr, &info, kWidth, kHeight);
    info.shmid = shmget(IPC_PRIVATE, size_t(image->bytes_per_line) * kHeight, IPC_CREAT | 0600);
    info.shmaddr = image->data = static_cast<char*>(shmat(info.shmid, nullptr, 0));
    XShmAttach(dpy, &info);
    XSync(dpy, False);
    shmctl(info.shmid, IPC_RMID, nullptr);
    const auto start = Clock::now();
    for (int f = 0; f < frames; ++f)
        XShmGetImage(dpy, DefaultRootWindow(dpy), image, 0, 0, AllPlanes);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / frames;
    XShmDetach(dpy, &info);
    XDestroyImage(image);
    shmdt(info.shmaddr);
    XCloseDisplay(dpy);
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    double seconds = 10;
    int fps = 30;
    bool toolbar = true;
    bool canvas = false;
    bool area = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--fps") && i + 1 < argc)
            fps = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--no-toolbar"))
            toolbar = false;
        else if (!std::strcmp(argv[i], "--canvas"))
            canvas = true;
        else if (!std::strcmp(argv[i], "--area"))
            area = true;
    }

    Server server;
    if (!server.start()) {
        std::fprintf(stderr, "Xvfb could not be started\n");
        return 1;
    }
    Scene scene;
    if (!scene.open(server.display, toolbar, canvas || area)) {
        std::fprintf(stderr, "cannot open %s\n", server.display.c_str());
        return 1;
    }
    if (area)
        scene.mapFrame();
    scene.animate();

    auto source = std::make_shared<X11ScreenSource>(QString::fromStdString(server.display));
    const auto content = source->content();
    if (!content || content->displays.empty()) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    ScreenFilter filter;
    filter.displayId = content->displays.front().id;
    filter.excludedPids = {int64_t(getpid())};
    ScreenStreamConfig config;
    config.width = area ? kAreaWidth : kWidth;
    config.height = area ? kAreaHeight : kHeight;
    if (area)
        config.sourceRect = QRectF(kAreaX, kAreaY, kAreaWidth, kAreaHeight);
    config.pixelFormat = PixelFormat::NV12VideoRange;
    config.minimumFrameInterval = MediaTime(1, fps);

    SerialQueue queue("recorder.engine");
    std::atomic<int> frames{0};
    std::atomic<int> leaked{0};
    ScreenStreamOutput output;
    output.onScreen = [&](const SampleBuffer& s) {
        ++frames;
        if (area)
            return; // the toolbar is outside the area
        // The toolbar's green must never be seen: Y 173 with Cb 42 and Cr 26 in BT.709.
        const PixelBuffer& b = *s.imageBuffer();
        const uint8_t* cbcr = b.baseAddress(1) + size_t(35) * b.bytesPerRow(1) + 480 * 2;
        if (cbcr[0] < 60 && cbcr[1] < 45)
            ++leaked;
    };
    output.onStop = [](const RecorderError& e) { std::fprintf(stderr, "stopped: %s\n", qPrintable(e.message)); };

    auto stream = source->makeStream(filter, config, &queue, output);
    auto* x11 = dynamic_cast<X11ScreenStream*>(stream.get());
    const double cpu0 = processCpu();
    const double server0 = otherCpu(server.pid);
    const auto wall0 = Clock::now();
    if (auto error = stream->start()) {
        std::fprintf(stderr, "start failed: %s\n", qPrintable(error->message));
        return 1;
    }
    if (canvas) {
        // The stream sees the desktop for a second, then only the canvas over it.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        scene.mapCanvas();
        std::this_thread::sleep_for(std::chrono::duration<double>(std::max(0.0, seconds - 1)));
    } else {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
    const X11ScreenStream::Statistics stats = x11->statistics();
    stream->stop();
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const double cpu = processCpu() - cpu0;
    const double serverCpu = otherCpu(server.pid) - server0;

    const double n = double(std::max<uint64_t>(1, stats.frames));
    std::printf("x11 capture: %dx%d NV12 at %d fps for %.1f s, %s\n", int(config.width), int(config.height), fps,
                wall,
                area      ? "an area, own frame around it and toolbar excluded, the desktop on the root"
                : canvas  ? "own toolbar and full-screen canvas excluded, the desktop on the root"
                : toolbar ? "own toolbar excluded"
                          : "nothing excluded");
    std::printf("  frames delivered        %llu (%.1f per second, %d expected), repaired %llu, put off (queue busy) %llu\n",
                (unsigned long long)stats.frames, double(stats.frames) / wall, int(wall * fps),
                (unsigned long long)stats.repairs, (unsigned long long)stats.skippedBusy);
    std::printf("  toolbar colour seen     %d frames\n", leaked.load());
    std::printf("  CPU s per s of capture  capture thread %.3f, whole process %.3f (incl. the scene's mover), X server %.3f\n",
                stats.threadCpuSeconds / wall, cpu / wall, serverCpu / wall);
    std::printf("  per frame               read+rebuild %.2f ms, scale+convert %.2f ms, capture thread CPU %.2f ms\n",
                stats.readSeconds * 1000 / n, stats.convertSeconds * 1000 / n, stats.threadCpuSeconds * 1000 / n);

    // The two ways to get the pixels, on the same scene (the mover keeps going).
    const double screenMs = timeScreenRead(server.display, 60);
    const double stackMs = timeWindowStacking(server.display, 60);
    std::printf("  building a frame        screen read %.2f ms vs. stacking every window's pixmap %.2f ms\n", screenMs,
                stackMs);
    return 0;
}
