#pragma once

// What the benchmarks' scene processes share: the monotonic clock, a window
// over the whole screen, a low-latency playback stream, and the flashing scene. It includes Xlib
// and libpulse-simple, so it comes after every Qt header.

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include <time.h>

#include <pulse/simple.h>

#include <X11/Xlib.h>

namespace benchrig {

inline int64_t nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

struct SceneWindow {
    Display* dpy = nullptr;
    Window win = 0;
    GC gc = nullptr;
    int screen = 0;
};

// An override-redirect window of `width` x `height` at the top left, in `background`, mapped on top.
inline std::optional<SceneWindow> openSceneWindow(int width, int height, unsigned long background)
{
    SceneWindow s;
    s.dpy = XOpenDisplay(nullptr);
    if (!s.dpy)
        return std::nullopt;
    s.screen = DefaultScreen(s.dpy);
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.background_pixel = background;
    s.win = XCreateWindow(s.dpy, RootWindow(s.dpy, s.screen), 0, 0, unsigned(width), unsigned(height), 0,
                          CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
    XMapRaised(s.dpy, s.win);
    s.gc = XCreateGC(s.dpy, s.win, 0, nullptr);
    XSync(s.dpy, False);
    return s;
}

// 16-bit mono playback into `sink` with a 50 ms buffer, so the sink's clock
// and the scene's stay close; null on failure, with `*err` set.
inline pa_simple* openScenePlayback(const char* sink, int rate, int* err)
{
    pa_sample_spec spec{PA_SAMPLE_S16LE, uint32_t(rate), 1};
    pa_buffer_attr attr{};
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(rate * 2 / 20);
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    return pa_simple_new(nullptr, "scene", PA_STREAM_PLAYBACK, sink, "scene", &spec, nullptr, &attr, err);
}

// Draws until done or the sound fails: a moving square 60 times a second, and
// the whole window white for 33 ms from each moment `markAt` names. `sound`
// runs on its own thread, sets `markAt` to the host time its next mark plays
// (the scene clears it once shown), `failed` when it cannot play, and stops
// when `stop` is set.
using SceneSound = void (*)(double total, std::atomic<int64_t>* markAt, std::atomic<bool>* failed,
                            std::atomic<bool>* stop);

inline int runFlashScene(int width, int height, double total, SceneSound sound)
{
    const auto scene = openSceneWindow(width, height, 0x202020);
    if (!scene) {
        std::fprintf(stderr, "scene: no display\n");
        return 1;
    }
    Display* dpy = scene->dpy;
    const Window win = scene->win;
    const GC gc = scene->gc;

    std::atomic<int64_t> markAt{0};
    std::atomic<bool> failed{false};
    std::atomic<bool> stop{false};
    std::thread audio(sound, total, &markAt, &failed, &stop);

    const int64_t t0 = nowNs();
    const int64_t end = t0 + int64_t(total * 1e9);
    constexpr int64_t kTick = 1000000000LL / 60;
    constexpr int64_t kFlash = 1000000000LL / 30;
    int64_t nextTick = t0;
    int64_t flashUntil = 0;
    long tick = 0;
    bool wasFlash = true; // the first picture is painted whole
    const char* whole = std::getenv("BENCH_SCENE_WHOLE");
    const bool wholeEachTime = whole && std::strcmp(whole, "1") == 0;
    int squareX = 0;
    int squareY = 0;
    while (!failed.load() && nowNs() < end) {
        const int64_t pending = markAt.load();
        const int64_t now = nowNs();
        int64_t wake = nextTick;
        if (pending > now && pending < wake)
            wake = pending;
        if (flashUntil > now && flashUntil < wake)
            wake = flashUntil;
        timespec ts{time_t(wake / 1000000000LL), long(wake % 1000000000LL)};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
        const int64_t t = nowNs();
        if (pending != 0 && t >= pending - 500000) {
            int64_t seen = pending;
            markAt.compare_exchange_strong(seen, 0);
            flashUntil = pending + kFlash;
        }
        if (t >= nextTick - 500000) {
            nextTick += kTick;
            ++tick;
        }
        const bool flash = t < flashUntil;
        // Only what changes is painted, as a desktop program paints: the whole
        // window for a flash and after it, else the square's old and new places.
        // BENCH_SCENE_WHOLE=1 paints the whole window every time instead, the
        // worst case of a video playing full screen.
        if (flash || wasFlash || wholeEachTime) {
            XSetForeground(dpy, gc, flash ? 0xffffff : 0x202020);
            XFillRectangle(dpy, win, gc, 0, 0, width, height);
        } else {
            XSetForeground(dpy, gc, 0x202020);
            XFillRectangle(dpy, win, gc, squareX, squareY, 200, 200);
        }
        wasFlash = flash;
        if (!flash) {
            squareX = int((tick * 8) % (width - 200));
            squareY = int(300 + 200 * std::sin(tick / 40.0));
            XSetForeground(dpy, gc, 0x3070c0);
            XFillRectangle(dpy, win, gc, squareX, squareY, 200, 200);
        }
        XSync(dpy, False);
    }
    stop.store(true);
    audio.join();
    XCloseDisplay(dpy);
    return failed.load() ? 1 : 0;
}

} // namespace benchrig
