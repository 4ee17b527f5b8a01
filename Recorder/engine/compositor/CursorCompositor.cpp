#include "engine/compositor/CursorCompositor.h"

#include "engine/compositor/CursorArt.h"
#include "engine/compositor/FocusState.h"
#include "engine/compositor/MouseTrack.h"
#include "engine/compositor/NV12Blender.h"
#include "engine/compositor/PenRender.h"
#include "prefs/PerfCounters.h"

#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace corvessa {

namespace {

// The zoom counts as on above this progress, and as settled above the second.
constexpr double kZoomOn = 0.001;
constexpr double kZoomSettled = 0.999;
// A full-zoom factor this close to 1 has no pivot to zoom about.
constexpr double kNoZoom = 1.001;
// Time constants (s): a change of the zoom size glides; the view follows the
// cursor quickly and an anchored point more calmly.
constexpr double kZoomGlide = 0.08;
constexpr double kFollowGlide = 0.05;
constexpr double kAnchorGlide = 0.12;
// The first zoomed frame steps as if this much time had passed; steps never exceed the second.
constexpr double kFirstStep = 0.05;
constexpr double kMaxStep = 0.2;
constexpr double kMinStep = 0.001;
// While following, the view moves only when the cursor comes this close (share
// of the view) to an edge.
constexpr double kDeadZone = 0.14;
// The cursor grows by this share of the zoom's growth.
constexpr double kCursorGrowth = 0.35;
// Bubbles this small (output pixels) or smaller are not drawn.
constexpr double kMinBubble = 8;
// The live stroke's box margin: this many output pixels per point, plus two line widths.
constexpr double kStrokeMargin = 24;
// Tolerance for treating the ink canvas as lying 1:1 on whole input pixels.
constexpr double kExact = 1e-6;
// A cursor is never drawn larger than this many pixels a side (a tiny recorded
// area blown up to a large output would otherwise ask for a giant layer).
constexpr double kMaxCursorSide = 1024;
// Nor a bubble more than this many times the frame's size in either direction.
constexpr double kMaxBubbleScale = 4;

double clampTo(double v, double lo, double hi)
{
    return std::max(lo, std::min(v, hi));
}

bool isFinite(const QPointF& p)
{
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

bool isWhole(double v)
{
    return std::abs(v - std::round(v)) < kExact;
}

// Adds every render's duration to the performance probe, whichever way it ends.
class RenderTimer {
public:
    RenderTimer() : m_start(std::chrono::steady_clock::now()) {}
    ~RenderTimer()
    {
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - m_start;
        PerfCounters::shared().addRender(elapsed.count());
    }
    RenderTimer(const RenderTimer&) = delete;
    RenderTimer& operator=(const RenderTimer&) = delete;

private:
    std::chrono::steady_clock::time_point m_start;
};

// The smallest rectangle with even corners holding r.
QRect evenCover(const QRect& r)
{
    return QRect(QPoint(r.left() & ~1, r.top() & ~1), QPoint(((r.right() + 2) & ~1) - 1, ((r.bottom() + 2) & ~1) - 1));
}

// The part of a picture of `size` that fills a box of aspect `aspect` (width
// over height) when scaled to it: the middle, cut at the sides or top and bottom.
QRect aspectFill(const QSize& size, double aspect)
{
    const double w = size.width();
    const double h = size.height();
    QRectF r(0, 0, w, h);
    if (aspect < w / h) {
        const double cw = h * aspect;
        r = QRectF((w - cw) / 2, 0, cw, h);
    } else {
        const double ch = w / aspect;
        r = QRectF(0, (h - ch) / 2, w, ch);
    }
    const int x = int(std::lround(r.x()));
    const int y = int(std::lround(r.y()));
    const int cw = std::max(1, int(std::lround(r.width())));
    const int ch = std::max(1, int(std::lround(r.height())));
    return QRect(x, y, cw, ch) & QRect(QPoint(0, 0), size);
}

void mirrorRows(QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
        std::reverse(row, row + image.width());
    }
}

void copyColourTags(const PixelBuffer& from, PixelBuffer& to)
{
    for (const QString& key :
         {PixelAttachmentKey::ColorPrimaries, PixelAttachmentKey::TransferFunction, PixelAttachmentKey::YCbCrMatrix}) {
        const auto it = from.attachments().find(key);
        if (it != from.attachments().end())
            to.setAttachment(key, it->second.value, true);
    }
}

void copyPropagating(const PixelBuffer& from, PixelBuffer& to)
{
    for (const auto& [key, attachment] : from.propagatingAttachments())
        to.setAttachment(key, attachment.value, true);
}

} // namespace

// One zoomed frame: the view in output space and its magnification.
struct CursorCompositor::Zoom {
    QRectF view;
    double scale = 1;
};

CursorCompositor::CursorCompositor(std::shared_ptr<MouseTrack> track, Region region, double sizeScale, QSize outSize,
                                   bool drawPaw, bool alwaysRender, std::shared_ptr<FocusState> focus, double primaryH)
    : m_track(std::move(track)),
      m_region(region),
      m_sizeScale(sizeScale),
      m_outSize(outSize),
      m_drawPaw(drawPaw),
      m_alwaysRender(alwaysRender),
      m_focus(std::move(focus)),
      m_pen(&PenBoard::shared()),
      m_primaryH(std::isfinite(primaryH) ? primaryH : 0)
{
    // Until the engine sets its look: the fourth art sprite (or the last, with fewer).
    const auto& art = CursorArt::all();
    m_look.sprite = art[std::min<size_t>(art.size(), 4) - 1];
    m_look.baseSize = CursorStyle::artBaseSize;
    m_look.pressAngle = 0.2;
    m_look.shadowScale = 1.0;
    m_look.isSystem = false;
}

CursorCompositor::~CursorCompositor() = default;

void CursorCompositor::setShadow(double up, double down)
{
    m_shadowUp = std::isfinite(up) ? std::clamp(up, 0.0, 1.0) : kShadowUp;
    m_shadowDown = std::isfinite(down) ? std::clamp(down, 0.0, 1.0) : kShadowDown;
}

void CursorCompositor::setLook(const CursorStyle::Look& look)
{
    m_look = look;
}

std::optional<CursorCompositor::Affine> CursorCompositor::mapping(double ow,
                                                                  const std::optional<QRectF>& windowFrame) const
{
    Affine a;
    double width = 0;
    switch (m_region.kind) {
    case Region::Kind::display:
        width = m_region.frame.width();
        a.x0 = m_region.frame.left();
        a.y0 = m_region.frame.top();
        break;
    case Region::Kind::area:
        width = m_region.rect.width();
        a.x0 = m_region.frame.left() + m_region.rect.left();
        a.y0 = m_region.frame.top() - m_region.rect.top();
        break;
    case Region::Kind::window:
        if (!windowFrame)
            return std::nullopt;
        width = windowFrame->width();
        a.x0 = windowFrame->left();
        a.y0 = m_primaryH - windowFrame->top();
        break;
    }
    if (!(width > 0) || !std::isfinite(width) || !std::isfinite(ow))
        return std::nullopt;
    a.k = ow / width;
    return a;
}

std::optional<QRectF> CursorCompositor::currentWindowFrame() const
{
    if (m_region.kind != Region::Kind::window || !m_track)
        return std::nullopt;
    return m_track->windowFrame();
}

std::optional<std::pair<QPointF, double>> CursorCompositor::mapGlobal(const GlobalPoint& p, double ow) const
{
    const auto a = mapping(ow, currentWindowFrame());
    if (!a)
        return std::nullopt;
    return std::make_pair(a->map(p), a->k);
}

GlobalRect CursorCompositor::toGlobal(const QRectF& r, double k) const
{
    const auto a = mapping(m_outSize.width(), currentWindowFrame());
    if (!a || !(k > 0))
        return GlobalRect();
    return GlobalRect(a->x0 + r.left() / k, a->y0 - (r.top() + r.height()) / k, r.width() / k, r.height() / k);
}

std::optional<QRectF> CursorCompositor::cameraRect(const CameraOverlayState::Snapshot& snap,
                                                   const std::optional<QRectF>& windowFrame) const
{
    const auto a = mapping(m_outSize.width(), m_region.kind == Region::Kind::window ? windowFrame : std::nullopt);
    if (!a)
        return std::nullopt;
    const GlobalRect& f = snap.frame;
    const QPointF topLeft = a->map(f.topLeft());
    const QPointF bottomRight = a->map(f.bottomRight());
    if (!isFinite(topLeft) || !isFinite(bottomRight))
        return std::nullopt;
    const QRectF r = QRectF(topLeft, bottomRight).normalized();
    if (!(r.width() > kMinBubble) || !(r.height() > kMinBubble)
        || !r.intersects(QRectF(0, 0, m_outSize.width(), m_outSize.height())))
        return std::nullopt;
    return r;
}

PixelBufferRef CursorCompositor::makeBuffer(int width, int height)
{
    const QSize size(width, height);
    if (!m_pool || m_poolSize != size) {
        // At least four buffers in flight: the one being drawn, the writer's, and parked frames.
        m_pool = PixelBufferPool::create(width, height, PixelFormat::NV12VideoRange, 8);
        m_poolSize = size;
    }
    return m_pool ? m_pool->take() : nullptr;
}

void CursorCompositor::leaveZoom()
{
    m_lens.reset();
    m_lastT.reset();
    m_exitPivot.reset();
    m_lastView.reset();
    if (m_previewShown) {
        m_previewShown = false;
        if (m_onLens)
            m_onLens(std::nullopt);
    }
}

CursorCompositor::Zoom CursorCompositor::zoomStep(double t, double p, bool anchored, std::optional<QPointF> anchor,
                                                  bool zoomingIn, double frac, const std::optional<QPointF>& cursor,
                                                  double k)
{
    const double w = m_outSize.width();
    const double h = m_outSize.height();

    // Where the zoom is headed.
    QPointF target;
    if (anchored) {
        target = QPointF(w * anchor->x(), h * anchor->y());
    } else if (const std::optional<QPointF> seed = m_focus->takeSeed(); seed && isFinite(*seed)) {
        target = QPointF(w * seed->x(), h * seed->y());
        if (m_lens)
            m_lens = target; // jump there instead of gliding
    } else if (cursor) {
        target = *cursor;
    } else {
        target = m_lens.value_or(QPointF(w / 2, h / 2));
    }

    // The full-zoom factor glides towards 1 / frac.
    const double full = 1.0 / clampTo(std::isfinite(frac) ? frac : FocusState::defaultFrac, FocusState::minFrac,
                                      FocusState::maxFrac);
    double dt = kFirstStep;
    double b = full;
    if (m_lastT) {
        dt = t - *m_lastT;
        dt = dt < 0 || !std::isfinite(dt) ? 0 : std::min(dt, kMaxStep);
        b = m_zoomCur + (full - m_zoomCur) * (1 - std::exp(-dt / kZoomGlide));
    }
    m_zoomCur = b;
    const double s = std::pow(b, p);
    const double vw = w / s;
    const double vh = h / s;

    QPointF c;
    if (p < kZoomSettled && b > kNoZoom) {
        // Zoom about a fixed pivot chosen so that at full zoom the view is centred
        // on the (clamped) target: the centre then travels in a straight line.
        const double q = b / (b - 1);
        const double hx = w / (2 * b);
        const double hy = h / (2 * b);
        const auto pivotFor = [&](const QPointF& l) {
            return QPointF(q * (clampTo(l.x(), hx, w - hx) - hx), q * (clampTo(l.y(), hy, h - hy) - hy));
        };
        QPointF pivot;
        if (zoomingIn) {
            m_exitPivot.reset();
            pivot = pivotFor(target);
        } else {
            if (!m_exitPivot)
                m_exitPivot = pivotFor(m_lens.value_or(target));
            pivot = *m_exitPivot;
        }
        c = QPointF(w / (2 * s) + (1 - 1 / s) * pivot.x(), h / (2 * s) + (1 - 1 / s) * pivot.y());
    } else {
        m_exitPivot.reset();
        const QPointF g = m_lens.value_or(target);
        QPointF want = target;
        if (!anchored) {
            const double mx = kDeadZone * vw;
            const double my = kDeadZone * vh;
            const auto follow = [](double tv, double gv, double half, double margin) {
                if (tv < gv - half + margin)
                    return tv + half - margin;
                if (tv > gv + half - margin)
                    return tv - half + margin;
                return gv;
            };
            want = QPointF(follow(target.x(), g.x(), vw / 2, mx), follow(target.y(), g.y(), vh / 2, my));
        }
        if (want.x() != g.x() || want.y() != g.y()) {
            const double d = clampTo(dt, kMinStep, kMaxStep);
            const double a = 1 - std::exp(-d / (anchored ? kAnchorGlide : kFollowGlide));
            c = g + (want - g) * a;
        } else {
            c = g;
        }
    }
    c = QPointF(clampTo(c.x(), vw / 2, w - vw / 2), clampTo(c.y(), vh / 2, h - vh / 2));
    m_lens = c;
    m_lastT = t;

    const QRectF view(c.x() - vw / 2, c.y() - vh / 2, vw, vh);
    m_lastView = view;
    if (m_onLens) {
        m_onLens(toGlobal(view, k));
        m_previewShown = true;
    }
    return {view, s};
}

PixelBufferRef CursorCompositor::render(const PixelBufferRef& frame, MediaTime pts, bool deferCamera)
{
    const RenderTimer timer;
    if (!frame || m_outSize.isEmpty() || frame->width() < 2 || frame->height() < 2)
        return nullptr;
    const int w = m_outSize.width();
    const int h = m_outSize.height();
    const int sw = frame->width();
    const int sh = frame->height();
    const double t = pts.seconds();

    // 1. Where the cursor is, in output space.
    const std::optional<QRectF> windowFrame = currentWindowFrame();
    const std::optional<Affine> map = mapping(w, windowFrame);
    const std::optional<MouseTrack::Sample> sample = m_track ? m_track->sample(t) : std::nullopt;
    std::optional<QPointF> cursor;
    if (sample && map) {
        const QPointF u = map->map(sample->p);
        if (u.x() > -kCursorSlack && u.x() < w + kCursorSlack && u.y() > -kCursorSlack && u.y() < h + kCursorSlack)
            cursor = u;
    }
    const double k = map ? map->k : 1;
    double cursorScale = k;

    // 2. Zoom.
    double progress = 0;
    FocusState::Snapshot focus;
    if (m_focus) {
        progress = m_focus->progress(t);
        focus = m_focus->snapshot();
    }
    const bool anchored = m_focus && focus.anchored();
    const bool zoomed = progress > kZoomOn && (cursor || anchored);
    if (!zoomed)
        leaveZoom();

    // 3, 4. Camera and pen.
    std::optional<CameraOverlayState::Snapshot> snap;
    if (!deferCamera && m_camOverlay)
        snap = m_camOverlay->snapshot();
    const std::optional<PenBoard::Snapshot> pen = m_pen->snapshotForCompositor();

    // 5. Anything to draw?
    const bool drawCursorNow = cursor && m_drawPaw;
    const bool draws = zoomed || drawCursorNow || snap || pen;
    if (!draws && !deferCamera && !m_alwaysRender)
        return nullptr;
    const bool resized = w != sw || h != sh;
    if (!draws && !resized && frame->format() == PixelFormat::NV12VideoRange)
        return frame; // nothing to add now: the bubble, if any, comes later

    // 6, 7. Base picture: zoomed, resized or copied, with the ink under it.
    PixelBufferRef out = makeBuffer(w, h);
    if (!out)
        return nullptr;
    const NV12Planes planes = NV12Planes::of(*out);
    QRect crop(0, 0, sw, sh);
    if (zoomed) {
        const Zoom z = zoomStep(t, progress, anchored, focus.anchor, focus.zoomingIn, focus.frac, cursor, k);
        // The view in input pixels, on whole pixels.
        const double fx = double(sw) / w;
        const double fy = double(sh) / h;
        const int cw = std::clamp(int(std::lround(z.view.width() * fx)), 2, sw);
        const int ch = std::clamp(int(std::lround(z.view.height() * fy)), 2, sh);
        const int cx = std::clamp(int(std::lround(z.view.left() * fx)), 0, sw - cw);
        const int cy = std::clamp(int(std::lround(z.view.top() * fy)), 0, sh - ch);
        crop = QRect(cx, cy, cw, ch);
        if (cursor)
            cursor = QPointF(z.scale * (cursor->x() - z.view.left()), z.scale * (cursor->y() - z.view.top()));
        cursorScale = k * (1 + kCursorGrowth * (z.scale - 1));
    }
    if (!zoomed && !resized && frame->format() == PixelFormat::NV12VideoRange) {
        NV12Blender::copy(NV12Planes::of(*frame), planes);
        if (pen)
            drawPen(*pen, planes, QPoint(0, 0), sw, sh);
    } else if (!scaleInto(*frame, crop, pen ? &*pen : nullptr, planes)) {
        return nullptr;
    }

    // 8. Camera over the content, cursor over everything.
    if (snap) {
        if (snap->fullScreen) {
            drawFullScreenCamera(snap, planes);
        } else if (const auto r = cameraRect(*snap, windowFrame)) {
            drawBubble(*snap, *r, planes);
        }
    }
    if (drawCursorNow && cursor)
        drawCursor(planes, *cursor, cursorScale, t, sample->shape, m_pen->active());

    // 9. Colour tags travel with the pixels.
    copyColourTags(*frame, *out);
    return out;
}

bool CursorCompositor::scaleInto(PixelBuffer& src, const QRect& crop, const PenBoard::Snapshot* pen,
                                 const NV12Planes& out)
{
    if (!pen)
        return m_zoomScaler.scale(SwsScaler::crop(src, crop), SwsScaler::of(out));

    // The ink lies on the captured pixels and zooms with them: lay it on a copy
    // of the part that is shown, then scale that.
    const int sw = src.width();
    const int sh = src.height();
    const QSize scratchSize((sw + 1) & ~1, (sh + 1) & ~1);
    if (!m_scratch || QSize(m_scratch->width(), m_scratch->height()) != scratchSize) {
        m_scratch = PixelBuffer::create(scratchSize.width(), scratchSize.height(), PixelFormat::NV12VideoRange);
        if (!m_scratch)
            return false;
    }
    const QRect area = evenCover(crop) & QRect(QPoint(0, 0), scratchSize);
    const NV12Planes part = NV12Planes::of(*m_scratch).sub(QRect(QPoint(0, 0), area.size()));
    if (src.format() == PixelFormat::NV12VideoRange) {
        NV12Blender::copy(NV12Planes::of(src).sub(area), part);
    } else {
        SwsScaler::Picture into = SwsScaler::of(part);
        const QRect inside = area & QRect(0, 0, sw, sh);
        into.width = inside.width();
        into.height = inside.height();
        if (!m_convertScaler.scale(SwsScaler::crop(src, inside), into))
            return false;
    }
    drawPen(*pen, part, area.topLeft(), sw, sh);
    return m_zoomScaler.scale(SwsScaler::crop(part, crop.translated(-area.topLeft())), SwsScaler::of(out));
}

void CursorCompositor::drawPen(const PenBoard::Snapshot& pen, const NV12Planes& target, QPoint origin, int sw, int sh)
{
    const double ow = m_outSize.width();
    const double oh = m_outSize.height();
    const auto map = mapping(ow, currentWindowFrame());
    if (!map || !(pen.scale > 0))
        return;
    // Output pixels to input pixels.
    const double fx = sw / ow;
    const double fy = sh / oh;
    const QRect shown(origin, QSize(target.width, target.height));

    if (pen.hasInk && pen.ink && !pen.ink->isNull()) {
        const QImage& ink = *pen.ink;
        // Canvas pixels (top row at the top of the canvas frame) to input pixels.
        const double ax = map->k / pen.scale * fx;
        const double ay = map->k / pen.scale * fy;
        const double bx = map->k * (pen.frame.left() - map->x0) * fx;
        const double by = map->k * (map->y0 - pen.frame.bottom() - ink.height() / pen.scale) * fy;
        if (std::abs(ax - 1) < kExact && std::abs(ay - 1) < kExact && isWhole(bx) && isWhole(by)) {
            NV12Blender::blend(target, ink,
                               QPoint(int(std::lround(bx)) - origin.x(), int(std::lround(by)) - origin.y()));
        } else {
            // Resample only the part that is shown.
            const QRectF placed(bx, by, ax * ink.width(), ay * ink.height());
            const QRect need = placed.toAlignedRect() & shown;
            if (!need.isEmpty()) {
                if (m_inkLayer.size() != need.size())
                    m_inkLayer = QImage(need.size(), QImage::Format_ARGB32_Premultiplied);
                m_inkLayer.fill(Qt::transparent);
                QPainter p(&m_inkLayer);
                p.setRenderHint(QPainter::SmoothPixmapTransform);
                p.setTransform(QTransform(ax, 0, 0, ay, bx - need.left(), by - need.top()));
                p.drawImage(QPointF(0, 0), ink);
                p.end();
                NV12Blender::blend(target, m_inkLayer, need.topLeft() - origin);
            }
        }
    }

    if (pen.shape && !pen.shape->pts.empty() && pen.shape->hasFinitePoints()) {
        const PenStroke& stroke = *pen.shape;
        const Affine a = *map;
        const PenRender::Map toInput = [a, fx, fy](const GlobalPoint& g) {
            const QPointF o = a.map(g);
            return QPointF(o.x() * fx, o.y() * fy);
        };
        double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
        for (const GlobalPoint& g : stroke.pts) {
            const QPointF q = toInput(g);
            minX = std::min(minX, q.x());
            maxX = std::max(maxX, q.x());
            minY = std::min(minY, q.y());
            maxY = std::max(maxY, q.y());
        }
        const double d = (kStrokeMargin * map->k + 2 * map->k * stroke.width) * fx;
        const QRectF box(std::floor(minX - d), std::floor(minY - d), std::ceil(maxX - minX + 2 * d),
                         std::ceil(maxY - minY + 2 * d));
        const QRect b = box.toAlignedRect() & QRect(0, 0, sw, sh) & shown;
        if (b.width() < 1 || b.height() < 1)
            return;
        QImage layer(b.size(), QImage::Format_ARGB32_Premultiplied);
        layer.fill(Qt::transparent);
        QPainter p(&layer);
        p.translate(-b.left(), -b.top());
        PenRender::draw(stroke, p, toInput, map->k * fx);
        p.end();
        NV12Blender::blend(target, layer, b.topLeft() - origin);
    }
}

void CursorCompositor::drawBubble(const CameraOverlayState::Snapshot& snap, const QRectF& dst, const NV12Planes& out)
{
    if (!snap.buffer || dst.width() <= 0 || dst.height() <= 0 || dst.width() > kMaxBubbleScale * out.width
        || dst.height() > kMaxBubbleScale * out.height)
        return;
    const PixelBuffer& cam = *snap.buffer;
    const QRect crop = aspectFill(QSize(cam.width(), cam.height()), dst.width() / dst.height());
    if (crop.isEmpty())
        return;

    const double corner = snap.shape == 2 ? 0.5 : snap.radius;
    const BubbleMask::Key maskKey =
        BubbleMask::keyFor(int(std::lround(dst.width())), int(std::lround(dst.height())), corner);
    BubbleKey key{snap.buffer, snap.pts, crop, snap.mirrored, maskKey};
    if (!m_bubbleKey || !(*m_bubbleKey == key)) {
        m_bubbleKey.reset();
        if (!m_camMask || !(m_camMask->key() == maskKey))
            m_camMask = BubbleMask::make(maskKey.width, maskKey.height, corner);
        const QSize size(maskKey.width, maskKey.height);
        if (cam.format() == PixelFormat::BGRA) {
            // Qt's smooth scaling averages the whole area when shrinking, and is
            // several times faster than swscale on packed RGB.
            const QImage source(cam.baseAddress(0) + ptrdiff_t(crop.y()) * ptrdiff_t(cam.bytesPerRow(0)) + crop.x() * 4,
                                crop.width(), crop.height(), qsizetype(cam.bytesPerRow(0)), QImage::Format_RGB32);
            m_bubble = source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            m_bubble.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied); // opaque: same bytes
        } else {
            if (m_bubble.size() != size || m_bubble.format() != QImage::Format_ARGB32_Premultiplied)
                m_bubble = QImage(size, QImage::Format_ARGB32_Premultiplied);
            if (m_bubble.isNull() || !m_cameraScaler.scale(SwsScaler::crop(cam, crop), SwsScaler::of(m_bubble)))
                return;
        }
        if (m_bubble.size() != size)
            return;
        // The mask and ring are symmetric; only the picture turns round.
        if (snap.mirrored)
            mirrorRows(m_bubble);
        m_camMask->apply(m_bubble);
        m_bubbleKey = std::move(key);
    }
    NV12Blender::blend(out, m_bubble, QPoint(int(std::lround(dst.left())), int(std::lround(dst.top()))));
}

void CursorCompositor::drawFullScreenCamera(const std::optional<CameraOverlayState::Snapshot>& snap,
                                            const NV12Planes& out)
{
    if (snap && snap->buffer) {
        const PixelBuffer& cam = *snap->buffer;
        const QRect crop = aspectFill(QSize(cam.width(), cam.height()), double(out.width) / out.height);
        if (!crop.isEmpty() && m_cameraScaler.scale(SwsScaler::crop(cam, crop), SwsScaler::of(out))) {
            if (snap->mirrored)
                NV12Blender::mirror(out);
            return;
        }
    }
    // No picture yet: black rather than the screen.
    NV12Blender::fill(out, NV12Blender::toYCbCr(qRgb(0, 0, 0)));
}

void CursorCompositor::drawCursor(const NV12Planes& out, QPointF at, double c, double t, int shapeIndex,
                                  bool penActive)
{
    const double press = std::round(16 * m_track->press(t)) / 16;

    std::optional<MouseTrack::Shape> shape;
    if (m_look.isSystem && shapeIndex >= 0 && !penActive)
        shape = m_track->shape(shapeIndex);

    // Keep the layer a sane size whatever the scale; the look stays in proportion.
    const double points = shape ? std::max(shape->size.width(), shape->size.height()) : m_look.baseSize;
    const double largest = c * m_sizeScale * points;
    if (largest > kMaxCursorSide)
        c *= kMaxCursorSide / largest;

    if (shape) {
        const QSizeF size(c * shape->size.width() * m_sizeScale, c * shape->size.height() * m_sizeScale);
        const CursorLayer::Key key = CursorLayer::shapeKey(shapeIndex, size);
        if (!m_pawKey || !(*m_pawKey == key)) {
            m_pawLayer = CursorLayer::shape(*shape, size);
            m_pawKey = key;
        }
    } else {
        CursorLayer::Sprite how;
        how.side = c * m_look.baseSize * m_sizeScale;
        how.press = press;
        how.pressAngle = m_look.pressAngle;
        how.plain = m_nativeSystemAppearance;
        how.shadowSize = c * m_sizeScale * m_look.shadowScale;
        how.shadowUp = m_shadowUp;
        how.shadowDown = m_shadowDown;
        const CursorLayer::Key key = CursorLayer::spriteKey(m_look.sprite, how);
        if (!m_pawKey || !(*m_pawKey == key)) {
            m_pawLayer = CursorLayer::sprite(m_look.sprite, how);
            m_pawKey = key;
        }
    }
    if (m_pawLayer.isNull())
        return;
    const QPoint spot(int(std::lround(at.x())), int(std::lround(at.y())));
    NV12Blender::blend(out, m_pawLayer.image, spot - m_pawLayer.hot);
}

PixelBufferRef CursorCompositor::overlayCamera(PixelBufferRef frame,
                                               const std::optional<CameraOverlayState::Snapshot>& camera,
                                               const std::optional<QRectF>& windowFrame, bool fullScreen)
{
    const int w = m_outSize.width();
    const int h = m_outSize.height();
    if (fullScreen) {
        PixelBufferRef out = makeBuffer(w, h);
        if (!out)
            return nullptr;
        drawFullScreenCamera(camera, NV12Planes::of(*out));
        if (frame)
            copyPropagating(*frame, *out);
        return out;
    }
    if (!frame || !camera)
        return frame;
    const std::optional<QRectF> rect = cameraRect(*camera, windowFrame);
    if (!rect)
        return frame;

    const bool fits = frame->format() == PixelFormat::NV12VideoRange && frame->width() == w && frame->height() == h;
    PixelBufferRef out;
    if (fits && frame.use_count() == 1 && !frame->attachment(PixelAttachmentKey::KeptBySource).toBool()) {
        out = std::move(frame); // nobody else sees this frame: draw on it
    } else {
        out = makeBuffer(w, h);
        if (!out)
            return nullptr;
        const NV12Planes planes = NV12Planes::of(*out);
        if (fits)
            NV12Blender::copy(NV12Planes::of(*frame), planes);
        else if (!m_zoomScaler.scale(SwsScaler::crop(*frame, QRect(0, 0, frame->width(), frame->height())),
                                     SwsScaler::of(planes)))
            return nullptr;
        copyPropagating(*frame, *out);
    }
    drawBubble(*camera, *rect, NV12Planes::of(*out));
    return out;
}

} // namespace corvessa
