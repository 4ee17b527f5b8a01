// The frame compositor on 1920x1080 and 3840x2160 NV12 frames at 60 fps, on one core:
//   cursor         - the drawn cursor with its shadow, moving every frame;
//   cursor+bubble  - the same with a round camera bubble cut from a new 1280x720
//                    camera picture every frame, added the way the engine does it:
//                    render, then overlayCamera;
//     cam 30 fps   - the same with a camera at half the frame rate, so every other
//                    frame reuses the shaped bubble;
//   zoom2x+all     - a 2x zoom following the cursor, full-screen pen ink under it,
//                    the bubble and the cursor over it;
//   zoom-in        - (extra) the 0.45 s zoom-in itself, whose crop size changes every
//                    frame, so the scaler is rebuilt every frame.
// Beside each figure: FFmpeg's own filter graph (libavfilter: crop, scale and
// overlay of the same cursor, bubble and ink pictures, NV12 in and out) on the same
// frames, and the ratio ours / FFmpeg's. "still" lays a ready-made bubble picture,
// as the comparison was first set; "live" cuts, scales and masks the camera
// picture of every frame itself, which is the work the compositor does. Median and
// worst wall-clock milliseconds per frame; the process is pinned to one CPU.

#include "capture/CameraOverlayState.h"
#include "engine/compositor/CursorCompositor.h"
#include "engine/compositor/CursorLayer.h"
#include "engine/compositor/CursorStyle.h"
#include "engine/compositor/BubbleMask.h"
#include "engine/compositor/FocusState.h"
#include "engine/compositor/MouseTrack.h"
#include "engine/compositor/PenBoard.h"
#include "platform/ffmpeg/SwsScaler.h"
#include "platform/synthetic/SyntheticPointerService.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <QGuiApplication>
#include <QImage>

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace corvessa;

namespace {

constexpr double kFps = 60;
constexpr double kT0 = 1000;
constexpr int kWarmUp = 10;

struct Figures {
    double median = 0;
    double worst = 0;
};

Figures figuresOf(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// A screen-like frame: soft gradients with fine noise, so nothing is trivially flat.
PixelBufferRef screenFrame(int w, int h)
{
    auto b = PixelBuffer::create(w, h, PixelFormat::NV12VideoRange);
    std::mt19937 rng(7);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b->baseAddress(0) + size_t(y) * b->bytesPerRow(0);
        for (int x = 0; x < w; ++x)
            row[x] = uint8_t(40 + (x * 150) / w + (y * 30) / h + int(rng() % 8));
    }
    for (int y = 0; y < h / 2; ++y) {
        uint8_t* row = b->baseAddress(1) + size_t(y) * b->bytesPerRow(1);
        for (int x = 0; x < w / 2; ++x) {
            row[2 * x] = uint8_t(100 + (x * 50) / (w / 2));
            row[2 * x + 1] = uint8_t(140 - (y * 40) / (h / 2));
        }
    }
    return b;
}

PixelBufferRef cameraPicture()
{
    auto b = PixelBuffer::create(1280, 720, PixelFormat::BGRA);
    for (int y = 0; y < 720; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(b->baseAddress(0) + size_t(y) * b->bytesPerRow(0));
        for (int x = 0; x < 1280; ++x)
            row[x] = 0xff000000u | uint32_t((x / 5) & 0xff) << 16 | uint32_t((y / 3) & 0xff) << 8 | 0x60;
    }
    return b;
}

// Where the cursor is in frame n, in points (global, y up) of a display of `pts` size.
QPointF cursorPath(int n, QSizeF pts)
{
    const double a = n * 0.05;
    return QPointF(pts.width() * (0.5 + 0.35 * std::sin(a)), pts.height() * (0.5 + 0.3 * std::sin(1.7 * a)));
}

// Ink over the whole screen: a lattice of pencil strokes every 60 points.
void fillWithInk(PenBoard& board, QSizeF pts)
{
    for (double y = 30; y < pts.height(); y += 60) {
        PenStroke s{PenTool::pencil, int(y / 60) % 12, 5, {GlobalPoint{10, y}}, {}};
        board.begin(s);
        for (double x = 10; x < pts.width(); x += 40)
            board.extend({x, y + 20 * std::sin(x / 50)}, 1);
        board.finish();
    }
    for (double x = 30; x < pts.width(); x += 60) {
        board.begin(PenStroke{PenTool::pencil, int(x / 60) % 12, 5, {GlobalPoint{x, 10}}, {}});
        for (double y = 10; y < pts.height(); y += 40)
            board.extend({x + 20 * std::sin(y / 50), y}, 1);
        board.finish();
    }
}

// ---------------------------------------------------------------- FFmpeg's filter graph

struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

struct GraphFree {
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};

FramePtr avFrameOf(const PixelBuffer& b)
{
    FramePtr f(av_frame_alloc());
    f->width = b.width();
    f->height = b.height();
    f->format = AV_PIX_FMT_NV12;
    av_frame_get_buffer(f.get(), 64);
    for (int y = 0; y < b.height(); ++y)
        std::memcpy(f->data[0] + ptrdiff_t(y) * f->linesize[0], b.baseAddress(0) + size_t(y) * b.bytesPerRow(0),
                    size_t(b.width()));
    for (int y = 0; y < b.height() / 2; ++y)
        std::memcpy(f->data[1] + ptrdiff_t(y) * f->linesize[1], b.baseAddress(1) + size_t(y) * b.bytesPerRow(1),
                    size_t(b.width()));
    f->color_range = AVCOL_RANGE_MPEG;
    f->colorspace = AVCOL_SPC_BT709;
    return f;
}

// A premultiplied BGRA picture as a frame.
FramePtr avFrameOf(const QImage& img)
{
    FramePtr f(av_frame_alloc());
    f->width = img.width();
    f->height = img.height();
    f->format = AV_PIX_FMT_BGRA;
    av_frame_get_buffer(f.get(), 64);
    for (int y = 0; y < img.height(); ++y)
        std::memcpy(f->data[0] + ptrdiff_t(y) * f->linesize[0], img.constScanLine(y), size_t(img.width()) * 4);
    f->pts = 0;
    return f;
}

// A grey mask picture as a frame.
FramePtr avGreyFrameOf(const std::vector<uint8_t>& mask, int w, int h)
{
    FramePtr f(av_frame_alloc());
    f->width = w;
    f->height = h;
    f->format = AV_PIX_FMT_GRAY8;
    av_frame_get_buffer(f.get(), 64);
    for (int y = 0; y < h; ++y)
        std::memcpy(f->data[0] + ptrdiff_t(y) * f->linesize[0], mask.data() + size_t(y) * size_t(w), size_t(w));
    return f;
}

FramePtr avFrameOfBgra(const PixelBuffer& b)
{
    FramePtr f(av_frame_alloc());
    f->width = b.width();
    f->height = b.height();
    f->format = AV_PIX_FMT_BGRA;
    av_frame_get_buffer(f.get(), 64);
    for (int y = 0; y < b.height(); ++y)
        std::memcpy(f->data[0] + ptrdiff_t(y) * f->linesize[0], b.baseAddress(0) + size_t(y) * b.bytesPerRow(0),
                    size_t(b.width()) * 4);
    return f;
}

// One graph: "main" NV12 frames in, NV12 out; still pictures on some inputs, and
// optionally a "cam" input that gets a new camera picture with every frame.
class FilterGraph {
public:
    FilterGraph(int w, int h, const std::vector<std::pair<std::string, FramePtr>>& stills, const std::string& chain,
                const AVFrame* camera = nullptr)
    {
        m_graph.reset(avfilter_graph_alloc());
        m_graph->nb_threads = 1;
        char args[256];
        std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/60:pixel_aspect=1/1", w, h,
                      int(AV_PIX_FMT_NV12));
        check(avfilter_graph_create_filter(&m_main, avfilter_get_by_name("buffer"), "main", args, nullptr,
                                           m_graph.get()));
        for (const auto& [name, frame] : stills) {
            AVFilterContext* src = nullptr;
            std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/60:pixel_aspect=1/1",
                          frame->width, frame->height, frame->format);
            check(avfilter_graph_create_filter(&src, avfilter_get_by_name("buffer"), name.c_str(), args, nullptr,
                                               m_graph.get()));
            m_stills.push_back({src, frame.get()});
        }
        if (camera) {
            std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/60:pixel_aspect=1/1",
                          camera->width, camera->height, camera->format);
            check(avfilter_graph_create_filter(&m_camera, avfilter_get_by_name("buffer"), "cam", args, nullptr,
                                               m_graph.get()));
        }
        check(avfilter_graph_create_filter(&m_sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                           m_graph.get()));
        const AVPixelFormat outFormats[] = {AV_PIX_FMT_NV12, AV_PIX_FMT_NONE};
        check(av_opt_set_int_list(m_sink, "pix_fmts", outFormats, AV_PIX_FMT_NONE, AV_OPT_SEARCH_CHILDREN));

        // Every named pad of the chain is one of the sources above, or the sink.
        AVFilterInOut* outputs = nullptr;
        AVFilterInOut* inputs = avfilter_inout_alloc();
        inputs->name = av_strdup("out");
        inputs->filter_ctx = m_sink;
        const auto addOutput = [&outputs](const char* name, AVFilterContext* ctx) {
            AVFilterInOut* o = avfilter_inout_alloc();
            o->name = av_strdup(name);
            o->filter_ctx = ctx;
            o->next = outputs;
            outputs = o;
        };
        addOutput("main", m_main);
        if (m_camera)
            addOutput("cam", m_camera);
        for (size_t i = 0; i < stills.size(); ++i)
            addOutput(stills[i].first.c_str(), m_stills[i].first);
        check(avfilter_graph_parse_ptr(m_graph.get(), chain.c_str(), &inputs, &outputs, nullptr));
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        check(avfilter_graph_config(m_graph.get(), nullptr));
        // The still pictures: one frame each, then the end of that input (the overlay repeats it).
        for (auto& [src, frame] : m_stills) {
            check(av_buffersrc_add_frame_flags(src, frame, AV_BUFFERSRC_FLAG_KEEP_REF));
            check(av_buffersrc_add_frame(src, nullptr));
        }
        m_out.reset(av_frame_alloc());
    }

    // One frame through; the caller keeps its input frames (as the capture does).
    void run(AVFrame* in, int64_t n, AVFrame* camera = nullptr)
    {
        if (camera && m_camera) {
            camera->pts = n;
            check(av_buffersrc_add_frame_flags(m_camera, camera, AV_BUFFERSRC_FLAG_KEEP_REF));
        }
        in->pts = n;
        check(av_buffersrc_add_frame_flags(m_main, in, AV_BUFFERSRC_FLAG_KEEP_REF));
        check(av_buffersink_get_frame(m_sink, m_out.get()));
        av_frame_unref(m_out.get());
    }

private:
    static void check(int rc)
    {
        if (rc < 0) {
            char text[AV_ERROR_MAX_STRING_SIZE] = {};
            av_strerror(rc, text, sizeof text);
            std::fprintf(stderr, "filter graph: %s\n", text);
            std::exit(1);
        }
    }

    std::unique_ptr<AVFilterGraph, GraphFree> m_graph;
    AVFilterContext* m_main = nullptr;
    AVFilterContext* m_sink = nullptr;
    AVFilterContext* m_camera = nullptr;
    std::vector<std::pair<AVFilterContext*, AVFrame*>> m_stills;
    FramePtr m_out;
};

// ---------------------------------------------------------------- the cases

struct Case {
    const char* name;
    bool bubble = false;
    bool zoom = false;
    bool ink = false;
    bool transition = false;
    int cameraEvery = 1; // a new camera picture every this many frames
};

struct Setup {
    int w = 0;
    int h = 0;
    QSizeF points; // the display in points; the backing scale is w / points.width()
    int frames = 0;
};

Figures runOurs(const Setup& s, const Case& c, const PixelBufferRef& input)
{
    auto pointer = std::make_shared<SyntheticPointerService>();
    auto track = MouseTrack::create(pointer);
    std::shared_ptr<FocusState> focus;
    if (c.zoom) {
        focus = std::make_shared<FocusState>();
        focus->setFrac(0.5);
        // Settled at full zoom before the first timed frame, or zooming in during them.
        focus->set(true, c.transition ? kT0 + (kWarmUp - 0.5) / kFps : kT0 - 1);
    }
    PenBoard board;
    if (c.ink) {
        board.attach(GlobalRect(GlobalPoint(), s.points), double(s.w) / s.points.width());
        fillWithInk(board, s.points);
    }
    auto overlay = std::make_shared<CameraOverlayState>();
    CameraOverlayState::Layout layout;
    layout.frame = GlobalRect(s.points.width() - 300, 40, 240, 240); // bottom right, 240 points
    layout.shape = 2;
    layout.visible = c.bubble;
    overlay->setLayout(layout);
    const PixelBufferRef camera = cameraPicture();

    CursorCompositor comp(track, CursorCompositor::Region::display(GlobalRect(GlobalPoint(), s.points)), 1.0,
                          QSize(s.w, s.h), true, false, focus, s.points.height());
    comp.setPenBoard(&board);
    comp.setLook(CursorStyle::look(CursorTheme::art, 0, 0));
    comp.setCamOverlay(overlay);

    std::vector<double> ms;
    const int total = c.transition ? kWarmUp + int(0.45 * kFps) : kWarmUp + s.frames;
    for (int n = 0; n < total; ++n) {
        const double t = kT0 + n / kFps;
        pointer->setLocation(GlobalPoint::fromYUp(cursorPath(n, s.points)));
        track->pollAt(t);
        if (c.bubble && n % c.cameraEvery == 0)
            overlay->setBuffer(*camera, MediaTime::fromSeconds(t - 0.01));
        const auto start = std::chrono::steady_clock::now();
        PixelBufferRef out = comp.render(input, MediaTime::fromSeconds(t), c.bubble);
        if (c.bubble) {
            // The engine parks the frame, then adds the picture matching its time.
            const auto pic = overlay->snapshot(MediaTime::fromSeconds(t), layout, MediaTime::fromSeconds(kT0 - 1));
            out = comp.overlayCamera(std::move(out), pic, std::nullopt, false);
        }
        const double elapsed = millisecondsSince(start);
        if (!out) {
            std::fprintf(stderr, "compositor returned nothing\n");
            std::exit(1);
        }
        if (n >= kWarmUp)
            ms.push_back(elapsed);
    }
    return figuresOf(ms);
}

// The same pictures the compositor draws, for the filter graph.
struct Stills {
    FramePtr cursor;
    FramePtr bubble; // the camera picture already cut round, with its ring
    FramePtr ink;
    FramePtr mask;   // the round cut alone, grey, for the graph that shapes the live camera
    int bubbleSide = 0;
};

Stills stillsFor(const Setup& s)
{
    Stills st;
    const double k = s.w / s.points.width();
    const CursorStyle::Look look = CursorStyle::look(CursorTheme::art, 0, 0);
    CursorLayer::Sprite how;
    how.side = k * look.baseSize;
    how.shadowSize = k * look.shadowScale;
    st.cursor = avFrameOf(CursorLayer::sprite(look.sprite, how).image);

    st.bubbleSide = int(std::lround(240 * k));
    const BubbleMask mask = BubbleMask::make(st.bubbleSide, st.bubbleSide, 0.5);
    QImage bubble(st.bubbleSide, st.bubbleSide, QImage::Format_ARGB32_Premultiplied);
    SwsScaler scaler;
    auto camera = cameraPicture();
    scaler.scale(SwsScaler::crop(*camera, QRect(280, 0, 720, 720)), SwsScaler::of(bubble));
    mask.apply(bubble);
    st.bubble = avFrameOf(bubble);
    st.mask = avGreyFrameOf(mask.mask(), st.bubbleSide, st.bubbleSide);

    PenBoard board;
    board.attach(GlobalRect(GlobalPoint(), s.points), k);
    fillWithInk(board, s.points);
    st.ink = avFrameOf(*board.inkSurface()->image);
    return st;
}

FramePtr copyOf(const FramePtr& f)
{
    return FramePtr(av_frame_clone(f.get()));
}

// `live`: the camera picture comes in with every frame and the graph cuts, scales
// and masks it itself (the same work the compositor does); otherwise the graph
// lays a ready-made bubble picture.
Figures runFFmpeg(const Setup& s, const Case& c, const Stills& st, const PixelBufferRef& input, bool live)
{
    const int w = s.w;
    const int h = s.h;
    char chain[1536];
    // The cursor and the view move every frame.
    const char* cursorAt = "x='W/2+W*0.35*sin(n*0.05)':y='H/2-H*0.3*sin(n*0.085)':alpha=premultiplied";
    const char* bubbleAt = live ? "x=W-w-W/32:y=H-h-H/20" : "x=W-w-W/32:y=H-h-H/20:alpha=premultiplied";
    std::vector<std::pair<std::string, FramePtr>> stills;
    stills.emplace_back("cursor", copyOf(st.cursor));
    char bubble[256] = "";
    if (c.bubble && live) {
        stills.emplace_back("mask", copyOf(st.mask));
        std::snprintf(bubble, sizeof bubble,
                      "[cam]crop=720:720,scale=%d:%d:flags=bilinear[c];[c][mask]alphamerge[bub];", st.bubbleSide,
                      st.bubbleSide);
    } else if (c.bubble) {
        stills.emplace_back("bub", copyOf(st.bubble));
    }
    if (!c.bubble) {
        std::snprintf(chain, sizeof chain, "[main][cursor]overlay=%s[out]", cursorAt);
    } else if (!c.zoom) {
        std::snprintf(chain, sizeof chain, "%s[main][bub]overlay=%s[b];[b][cursor]overlay=%s[out]", bubble, bubbleAt,
                      cursorAt);
    } else {
        stills.emplace_back("ink", copyOf(st.ink));
        std::snprintf(chain, sizeof chain,
                      "%s[main][ink]overlay=alpha=premultiplied[i];"
                      "[i]crop=%d:%d:x='(iw-ow)*(0.5+0.35*sin(n*0.05))':y='(ih-oh)*(0.5-0.3*sin(n*0.085))',"
                      "scale=%d:%d:flags=bilinear[z];"
                      "[z][bub]overlay=%s[b];[b][cursor]overlay=%s[out]",
                      bubble, w / 2, h / 2, w, h, bubbleAt, cursorAt);
    }
    FramePtr camera = avFrameOfBgra(*cameraPicture());
    FilterGraph graph(w, h, stills, chain, c.bubble && live ? camera.get() : nullptr);
    FramePtr frame = avFrameOf(*input);
    std::vector<double> ms;
    for (int n = 0; n < kWarmUp + s.frames; ++n) {
        const auto start = std::chrono::steady_clock::now();
        graph.run(frame.get(), n, camera.get());
        const double elapsed = millisecondsSince(start);
        if (n >= kWarmUp)
            ms.push_back(elapsed);
    }
    return figuresOf(ms);
}

} // namespace

int main(int argc, char** argv)
{
    // Pictures are drawn with QPainter; no display is needed.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    av_log_set_level(AV_LOG_ERROR);

    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    const bool pinned = sched_setaffinity(0, sizeof one, &one) == 0;

    const std::vector<Setup> setups{{1920, 1080, QSizeF(1920, 1080), 300}, {3840, 2160, QSizeF(1920, 1080), 120}};
    const std::vector<Case> cases{{"cursor", false, false, false, false},
                                  {"cursor+bubble", true, false, false, false},
                                  {"  cam 30 fps", true, false, false, false, 2},
                                  {"zoom2x+all", true, true, true, false},
                                  {"zoom-in", true, true, true, true}};

    std::printf("compositor vs FFmpeg's filter graph, ms per frame (median / worst), %s\n",
                pinned ? "pinned to CPU 0" : "NOT pinned (sched_setaffinity failed)");
    std::printf("  ffmpeg-still: the graph lays a ready-made bubble picture; ffmpeg-live: it cuts, scales and\n"
                "  masks the new camera picture of every frame itself, as the compositor does\n");
    std::printf("%-10s %-14s %15s   %15s %6s   %15s %6s\n", "frame", "case", "ours", "ffmpeg-still", "ratio",
                "ffmpeg-live", "ratio");
    for (const Setup& s : setups) {
        const PixelBufferRef input = screenFrame(s.w, s.h);
        const Stills st = stillsFor(s);
        char size[32];
        std::snprintf(size, sizeof size, "%dx%d", s.w, s.h);
        for (const Case& c : cases) {
            const Figures ours = runOurs(s, c, input);
            if (c.transition) {
                std::printf("%-10s %-14s %6.2f / %6.2f   (no filter-graph equivalent: the crop size changes "
                            "every frame)\n",
                            size, c.name, ours.median, ours.worst);
                continue;
            }
            const Figures still = runFFmpeg(s, c, st, input, false);
            std::printf("%-10s %-14s %6.2f / %6.2f   %6.2f / %6.2f %6.2f", size, c.name, ours.median, ours.worst,
                        still.median, still.worst, ours.median / still.median);
            if (c.bubble && c.cameraEvery == 1) {
                const Figures live = runFFmpeg(s, c, st, input, true);
                std::printf("   %6.2f / %6.2f %6.2f", live.median, live.worst, ours.median / live.median);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    return 0;
}
