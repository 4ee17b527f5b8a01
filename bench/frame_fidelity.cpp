// How faithfully short-lived pictures reach the movie. A scene (this program
// with --scene) shows on a private 1920x1080 Xvfb two counters as rows of
// black and white squares: one that changes 30 times a second and one that
// changes 60 times a second, both from the same clock, drawn in one request so
// no read can catch half a change; a third row holds the complement of the
// fast counter, so a frame that does not decode cleanly is recognised. The
// scene logs every value it put on screen. The screen is then recorded at
// 30 fps, with microphone and system audio as a real recording, by our engine
// and by ffmpeg x11grab, first on a quiet machine and then with busy threads
// beside it. The screen stream is also run alone, its frames read as they
// are delivered, to tell what the capture loses from what is lost after it.
//
//   bench_frame_fidelity [--seconds N] [--busy N]   (default 20 s each, one busy thread per CPU)
//
// Prints per movie (and per run of the stream alone): frames read and unreadable; for the 30/s counter, values
// that were on screen but are in no frame (missing) and frames that show the
// value of the frame before (repeats); for the 60/s counter, how far it moved
// from one frame to the next (ideally 2 every time).

#include "BenchEngine.h"
#include "BenchRig.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/SerialQueue.h"
#include "platform/x11/X11ScreenSource.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// X11 last: its macros clash with names in Qt.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace corvessa;
using namespace benchrig;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 30;
constexpr int kBits = 16;
constexpr int kBlock = 100;    // a square per bit, in screen pixels
constexpr int kLeft = 110;     // first square's left edge
constexpr int kRowSlow = 100;  // top edges of the rows: the 30/s counter,
constexpr int kRowFast = 300;  // the 60/s counter
constexpr int kRowCheck = 500; // and the complement of the 60/s counter
constexpr int kScale = 10;     // the decoder reads a picture scaled down this much

int64_t nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// ---------------------------------------------------------------- the scene

volatile sig_atomic_t g_sceneStop = 0;

void paintRow(Display* dpy, Pixmap pm, GC gc, int top, uint32_t value)
{
    for (int i = 0; i < kBits; ++i) {
        const bool one = (value >> (kBits - 1 - i)) & 1;
        XSetForeground(dpy, gc, one ? 0xffffff : 0x000000);
        XFillRectangle(dpy, pm, gc, kLeft + i * kBlock, top, kBlock, kBlock);
    }
}

// Shows the counters until SIGTERM and writes each value of the 60/s counter
// it showed to `log` (32-bit, native order). The counters follow the clock, so
// a scene woken late skips values rather than slowing down.
int runScene(const char* log)
{
    signal(SIGTERM, [](int) { g_sceneStop = 1; });
    FILE* out = std::fopen(log, "wb");
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy || !out) {
        std::fprintf(stderr, "scene: no display or log\n");
        return 1;
    }
    const int screen = DefaultScreen(dpy);
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.background_pixel = 0x404040;
    const Window win = XCreateWindow(dpy, RootWindow(dpy, screen), 0, 0, kWidth, kHeight, 0, CopyFromParent,
                                     InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
    XMapRaised(dpy, win);
    const int areaWidth = kBits * kBlock;
    const int areaHeight = kRowCheck + kBlock - kRowSlow;
    const Pixmap pm = XCreatePixmap(dpy, win, areaWidth + kLeft, kRowCheck + kBlock,
                                    unsigned(DefaultDepth(dpy, screen)));
    const GC gc = XCreateGC(dpy, win, 0, nullptr);
    XSetForeground(dpy, gc, 0x404040);
    XFillRectangle(dpy, pm, gc, 0, 0, unsigned(areaWidth + kLeft), unsigned(kRowCheck + kBlock));
    XSync(dpy, False);

    constexpr int64_t kTick = 1000000000LL / 60;
    const int64_t t0 = nowNs();
    int64_t shown = -1;
    while (!g_sceneStop) {
        const int64_t n = (nowNs() - t0) / kTick;
        if (n != shown) {
            const auto fast = uint32_t(n) & 0xffff;
            paintRow(dpy, pm, gc, kRowSlow, uint32_t(n / 2) & 0xffff);
            paintRow(dpy, pm, gc, kRowFast, fast);
            paintRow(dpy, pm, gc, kRowCheck, ~fast & 0xffff);
            // One request: the window shows the old counters or the new ones.
            XCopyArea(dpy, pm, win, gc, kLeft, kRowSlow, unsigned(areaWidth), unsigned(areaHeight), kLeft, kRowSlow);
            XSync(dpy, False);
            const auto value = uint32_t(n);
            std::fwrite(&value, sizeof value, 1, out);
            shown = n;
        }
        const int64_t next = t0 + (shown + 1) * kTick;
        timespec ts{time_t(next / 1000000000LL), long(next % 1000000000LL)};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
    }
    std::fclose(out);
    XCloseDisplay(dpy);
    return 0;
}

// ---------------------------------------------------------------- reading a movie back

struct Decoded {
    long frames = 0;
    long unreadable = 0;
    std::vector<uint32_t> slow; // per readable frame, in order
    std::vector<uint32_t> fast;
};

// One row of squares from a gray picture `scale` times smaller than the screen.
uint32_t readRow(const uint8_t* picture, size_t stride, int scale, int top)
{
    uint32_t v = 0;
    const size_t y = size_t((top + kBlock / 2) / scale);
    for (int i = 0; i < kBits; ++i) {
        const size_t x = size_t((kLeft + i * kBlock + kBlock / 2) / scale);
        v = (v << 1) | (picture[y * stride + x] >= 128 ? 1u : 0u);
    }
    return v;
}

void add(Decoded& d, const uint8_t* picture, size_t stride, int scale)
{
    ++d.frames;
    const uint32_t slow = readRow(picture, stride, scale, kRowSlow);
    const uint32_t fast = readRow(picture, stride, scale, kRowFast);
    const uint32_t check = readRow(picture, stride, scale, kRowCheck);
    if ((fast ^ check) != 0xffff || slow != fast / 2) {
        ++d.unreadable;
        return;
    }
    d.slow.push_back(slow);
    d.fast.push_back(fast);
}

Decoded decode(const QString& movie)
{
    const int w = kWidth / kScale, h = kHeight / kScale;
    const QByteArray gray =
        run(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), movie, QStringLiteral("-map"),
             QStringLiteral("0:v:0"), QStringLiteral("-fps_mode"), QStringLiteral("passthrough"), QStringLiteral("-vf"),
             QStringLiteral("scale=%1:%2:flags=area,format=gray").arg(w).arg(h), QStringLiteral("-f"),
             QStringLiteral("rawvideo"), QStringLiteral("-")});
    Decoded d;
    const auto* p = reinterpret_cast<const uint8_t*>(gray.constData());
    for (qsizetype at = 0; at + w * h <= gray.size(); at += w * h)
        add(d, p + at, size_t(w), kScale);
    return d;
}

// Values the scene put on screen (60/s counter), modulo the 16 bits a frame carries.
std::set<uint32_t> shownValues(const QString& log)
{
    QFile f(log);
    std::set<uint32_t> values;
    if (!f.open(QIODevice::ReadOnly))
        return values;
    const QByteArray all = f.readAll();
    for (qsizetype at = 0; at + 4 <= all.size(); at += 4) {
        uint32_t v = 0;
        std::memcpy(&v, all.constData() + at, 4);
        values.insert(v & 0xffff);
    }
    return values;
}

void report(const char* name, const Decoded& d, const std::set<uint32_t>& shownFast)
{
    std::printf("  %s\n", name);
    std::printf("    frames read %ld, unreadable %ld\n", d.frames, d.unreadable);
    if (d.fast.size() < 2) {
        std::printf("    too few readable frames\n");
        return;
    }
    // 30/s: every value between the first and the last frame that was on screen should be in a frame.
    std::set<uint32_t> shownSlow;
    for (uint32_t v : shownFast)
        shownSlow.insert(v / 2);
    const std::set<uint32_t> seen(d.slow.begin(), d.slow.end());
    long onScreen = 0, missing = 0, repeats = 0;
    for (uint32_t v = d.slow.front(); v <= d.slow.back(); ++v) {
        if (!shownSlow.count(v))
            continue;
        ++onScreen;
        if (!seen.count(v))
            ++missing;
    }
    long backwards = 0;
    std::map<long, long> steps;
    for (size_t i = 1; i < d.slow.size(); ++i) {
        if (d.slow[i] == d.slow[i - 1])
            ++repeats;
        const long step = long(d.fast[i]) - long(d.fast[i - 1]);
        if (step < 0)
            ++backwards;
        else
            ++steps[std::min(step, 5L)];
    }
    long skippedByScene = 0;
    for (uint32_t v = d.fast.front(); v <= d.fast.back(); ++v)
        if (!shownFast.count(v))
            ++skippedByScene;
    std::printf("    30/s counter: %ld values on screen, missing %ld (%.1f%%), repeated frames %ld\n", onScreen,
                missing, onScreen ? 100.0 * double(missing) / double(onScreen) : 0.0, repeats);
    std::printf("    60/s counter, step between frames:");
    const double total = double(d.fast.size() - 1);
    for (const auto& [step, count] : steps)
        std::printf("  %s%ld: %ld (%.1f%%)", step == 5 ? ">=" : "", step, count, 100.0 * double(count) / total);
    if (backwards)
        std::printf("  backwards: %ld", backwards);
    std::printf("\n    (scene itself skipped %ld values of the 60/s counter in this span)\n", skippedByScene);
    std::fflush(stdout);
}

// ---------------------------------------------------------------- the recorders

// Threads that keep a CPU each busy until destroyed.
class BusyThreads {
public:
    explicit BusyThreads(int n)
    {
        for (int i = 0; i < n; ++i)
            m_threads.emplace_back([this] {
                volatile uint64_t x = 0;
                while (!m_stop.load(std::memory_order_relaxed))
                    x = x + 1;
            });
    }
    ~BusyThreads()
    {
        m_stop.store(true);
        for (auto& t : m_threads)
            t.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_threads;
};

// The screen stream alone, without the engine and the encoder: the counters
// are read from the luma of each delivered frame, so what the capture itself
// loses is told apart from what is lost after it.
std::optional<Decoded> captureOnly(const QString& display, double secs)
{
    auto source = std::make_shared<X11ScreenSource>(display);
    const auto content = source->content();
    if (!content || content->displays.empty())
        return std::nullopt;
    ScreenFilter filter;
    filter.displayId = content->displays.front().id;
    ScreenStreamConfig config;
    config.width = kWidth;
    config.height = kHeight;
    config.pixelFormat = PixelFormat::NV12VideoRange;
    config.minimumFrameInterval = MediaTime(1, kFps);
    config.queueDepth = 5;
    SerialQueue queue("recorder.engine");
    Decoded d;
    ScreenStreamOutput output;
    output.onScreen = [&d](const SampleBuffer& sample) {
        const PixelBuffer& b = *sample.imageBuffer();
        add(d, b.baseAddress(0), b.bytesPerRow(0), 1); // on queue's thread only
    };
    auto stream = source->makeStream(filter, config, &queue, output);
    if (auto error = stream->start()) {
        std::fprintf(stderr, "capture start failed: %s\n", qPrintable(error->message));
        return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(secs));
    stream->stop();
    queue.sync([] {});
    return d;
}

bool recordFfmpeg(const QString& display, double secs, const QString& movie)
{
    QProcess ff;
    ff.setProcessChannelMode(QProcess::SeparateChannels);
    ff.start(QStringLiteral("ffmpeg"),
             ffmpegGrabArgs(display, kWidth, kHeight, kFps, secs,
                            {QStringLiteral("stand_in_mic"), QStringLiteral("speakers.monitor")}, movie));
    ff.waitForFinished(-1);
    if (ff.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", ff.readAllStandardError().constData());
        return false;
    }
    return true;
}

std::optional<QString> recordEngine(const QString& display, double secs, const QString& movie)
{
    auto recording = startEngineRecording(display, kFps, movie);
    if (!recording)
        return std::nullopt;
    auto& engine = recording->engine;
    const QStringList& lines = recording->lines;
    spin(secs);
    const auto path = engine->stop();
    const auto stats = engine->stats();
    if (!path) {
        std::fprintf(stderr, "engine gave no movie\n");
        for (const auto& l : lines)
            std::fprintf(stderr, "  %s\n", qPrintable(l));
        return std::nullopt;
    }
    std::printf("  engine counters: written %lld, dropped %lld, repeated %lld\n", (long long)stats.writtenVideo,
                (long long)stats.droppedVideo, (long long)stats.repeatedVideo);
    return path;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--scene") == 0)
        return runScene(argv[2]);

    QCoreApplication app(argc, argv);
    double secs = 20;
    int busy = int(std::max(1u, std::thread::hardware_concurrency()));
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--seconds") && i + 1 < args.size()) {
            secs = args[++i].toDouble();
        } else if (args[i] == QStringLiteral("--busy") && i + 1 < args.size()) {
            busy = args[++i].toInt();
        } else {
            std::fprintf(stderr, "usage: %s [--seconds N] [--busy N]\n", argv[0]);
            return 2;
        }
    }
    if (!(secs >= 3) || busy < 1 || busy > 256) {
        std::fprintf(stderr, "--seconds must be at least 3 and --busy between 1 and 256\n");
        return 2;
    }

    QTemporaryDir dir;
    const QDir d(dir.path());
    Children children;
    const QString display = startXvfb(children, "1920x1080x24");
    if (display.isEmpty() || !startPulse(children, d))
        return 1;
    const QString log = d.filePath(QStringLiteral("shown.u32"));
    const pid_t scene = startSelf(children, {"--scene", log.toStdString()});
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::printf("%.0f s per movie at %dx%d@%d, display %s; loaded runs with %d busy threads\n", secs, kWidth, kHeight,
                kFps, qPrintable(display), busy);
    std::fflush(stdout);

    struct Movie {
        const char* name;
        QString path;
    };
    std::vector<Movie> movies;
    std::vector<std::pair<const char*, Decoded>> captures;
    for (const bool loaded : {false, true}) {
        std::optional<BusyThreads> load;
        if (loaded)
            load.emplace(busy);
        const char* tag = loaded ? "loaded" : "quiet";
        std::printf("recording (%s)\n", tag);
        std::fflush(stdout);
        if (auto d = captureOnly(display, secs))
            captures.emplace_back(loaded ? "screen stream alone, loaded" : "screen stream alone, quiet", std::move(*d));
        const QString ffMovie = d.filePath(QStringLiteral("ffmpeg-%1.mov").arg(QString::fromLatin1(tag)));
        if (recordFfmpeg(display, secs, ffMovie))
            movies.push_back({loaded ? "ffmpeg x11grab, loaded" : "ffmpeg x11grab, quiet", ffMovie});
        const QString ourMovie = d.filePath(QStringLiteral("engine-%1.mov").arg(QString::fromLatin1(tag)));
        if (auto path = recordEngine(display, secs, ourMovie))
            movies.push_back({loaded ? "engine, loaded" : "engine, quiet", *path});
    }

    kill(scene, SIGTERM);
    waitpid(scene, nullptr, 0);
    children.pids.erase(std::find(children.pids.begin(), children.pids.end(), scene));
    const std::set<uint32_t> shown = shownValues(log);
    for (const auto& [name, d] : captures)
        report(name, d, shown);
    for (const Movie& m : movies)
        report(m.name, decode(m.path), shown);
    if (qEnvironmentVariableIsSet("FRAME_FIDELITY_KEEP")) {
        for (const Movie& m : movies)
            QFile::copy(m.path, qEnvironmentVariable("FRAME_FIDELITY_KEEP") + QLatin1Char('/') +
                                    QFileInfo(m.path).fileName());
    }
    XSetIOErrorHandler(quietIOError);
    return movies.size() == 4 ? 0 : 1;
}
