#pragma once

// What the benchmarks' scene processes share: the monotonic clock, a window
// over the whole screen, and a low-latency playback stream. It includes Xlib
// and libpulse-simple, so it comes after every Qt header.

#include <cstdint>
#include <optional>

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

} // namespace benchrig
