#include "engine/compositor/PenBoard.h"

#include "engine/compositor/PenRender.h"
#include "platform/DisplayInfo.h"
#include "platform/core/ProcessServices.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <utility>

namespace corvessa {

namespace {

bool isFinite(const GlobalPoint& p)
{
    return std::isfinite(p.x) && std::isfinite(p.y);
}

// Copies one area of `from` into the same place of `to` (same size and format).
void copyArea(const QImage& from, QImage& to, const QRect& area)
{
    const size_t rowBytes = size_t(area.width()) * 4;
    const size_t offset = size_t(area.left()) * 4;
    for (int y = area.top(); y <= area.bottom(); ++y)
        std::memcpy(to.scanLine(y) + offset, from.constScanLine(y) + offset, rowBytes);
}

} // namespace

PenBoard& PenBoard::shared()
{
    static PenBoard board;
    // Its ink is dropped while the program's windows and tools still exist;
    // the empty board itself goes with the C runtime's clean-up.
    static const bool ends = (ProcessServices::atEnd([] { board.detach(); }), true);
    (void)ends;
    return board;
}

void PenBoard::attach(const GlobalRect& frame, double backingScale)
{
    const double scale = std::isfinite(backingScale) && backingScale > 0 ? std::min(backingScale, kMaxScale) : 1.0;
    const double pw = frame.width() * scale;
    const double ph = frame.height() * scale;
    // Made before the lock is taken: a screen-sized bitmap takes a while to clear.
    QImage canvas;
    if (std::isfinite(frame.x()) && std::isfinite(frame.y()) && pw >= 1 && ph >= 1 && pw <= kMaxSide && ph <= kMaxSide) {
        canvas = QImage(int(pw), int(ph), QImage::Format_ARGB32_Premultiplied);
        if (!canvas.isNull())
            canvas.fill(Qt::transparent);
    }

    QImage old;
    std::array<Copy, 2> oldCopies;
    {
        std::lock_guard lock(l);
        std::swap(old, m_canvas);
        std::swap(oldCopies, m_copies);
        dropLocked();
        m_frame = frame;
        m_scale = scale;
        if (!canvas.isNull()) {
            m_canvas = std::move(canvas);
            ++m_version;
        }
    }
    // The old bitmap and copies are freed here, outside the lock.
}

void PenBoard::attach(const DisplayInfo& display)
{
    attach(display.frame, display.scale);
}

void PenBoard::detach()
{
    QImage old;
    std::array<Copy, 2> oldCopies;
    std::lock_guard lock(l);
    std::swap(old, m_canvas);
    std::swap(oldCopies, m_copies);
    dropLocked();
    m_active = false;
}

void PenBoard::dropLocked()
{
    m_canvas = QImage();
    m_copies = {};
    m_current = 0;
    m_shape.reset();
    m_pencil.reset();
    m_hasInk = false;
    m_strokes = 0;
    ++m_version;
}

QPointF PenBoard::toCanvas(const GlobalPoint& global) const
{
    // The bitmap's top row is the top of the screen.
    return QPointF((global.x - m_frame.x()) * m_scale, m_canvas.height() - (global.y - m_frame.y()) * m_scale);
}

void PenBoard::burnLocked(const PenStroke& stroke)
{
    const PenRender::Map map = [this](const GlobalPoint& p) { return toCanvas(p); };
    {
        QPainter painter(&m_canvas);
        PenRender::draw(stroke, painter, map, m_scale);
    }
    markChangedLocked(PenRender::bounds(stroke, map, m_scale));
}

void PenBoard::markChangedLocked(const QRectF& area)
{
    if (area.isEmpty())
        return;
    const QRect changed = area.toAlignedRect().adjusted(-1, -1, 1, 1) & m_canvas.rect();
    if (changed.isEmpty())
        return;
    for (Copy& copy : m_copies)
        copy.stale = copy.stale.united(changed);
}

void PenBoard::begin(const PenStroke& stroke)
{
    std::lock_guard lock(l);
    if (m_canvas.isNull() || stroke.pts.empty() || !stroke.hasFinitePoints())
        return;
    ++m_strokes;
    ++m_version;

    if (stroke.tool != PenTool::pencil) {
        m_shape = stroke; // replaces a shape still in progress
        return;
    }

    m_hasInk = true;
    const auto segment = [&](const GlobalPoint& a, const GlobalPoint& b, double pa, double pb) {
        burnLocked(PenStroke{PenTool::pencil, stroke.color, stroke.width, {a, b}, {pa, pb}});
    };
    const size_t n = stroke.pts.size();
    if (n == 1) {
        // A zero-length round-capped segment: the dot of a click without a drag.
        segment(stroke.pts[0], stroke.pts[0], stroke.pressure(0), stroke.pressure(0));
    } else {
        for (size_t i = 1; i < n; ++i)
            segment(stroke.pts[i - 1], stroke.pts[i], stroke.pressure(i - 1), stroke.pressure(i));
    }
    m_pencil = PencilStroke{stroke.color, stroke.width, stroke.pts.back(), stroke.pressure(n - 1)};
}

void PenBoard::extend(const GlobalPoint& p, double pressure)
{
    std::lock_guard lock(l);
    if (!isFinite(p))
        return;

    if (m_shape) {
        // Shapes use only their anchor and current end; pressure plays no part.
        if (m_shape->pts.size() >= 2) {
            m_shape->pts[1] = p;
        } else {
            m_shape->pressures.resize(m_shape->pts.size(), 1.0);
            m_shape->pts.push_back(p);
            m_shape->pressures.push_back(1.0);
        }
        ++m_version;
        return;
    }
    if (!m_pencil)
        return;

    const double pr = PenStroke{PenTool::pencil, 0, 1, {p}, {pressure}}.pressure(0);
    PencilStroke& pencil = *m_pencil;
    const GlobalPoint d = p - pencil.last;
    if (std::hypot(d.x, d.y) < kMinMove && std::abs(pr - pencil.lastP) < kMinPressureStep)
        return;
    if (!m_canvas.isNull())
        burnLocked(PenStroke{PenTool::pencil, pencil.color, pencil.width, {pencil.last, p}, {pencil.lastP, pr}});
    pencil.last = p;
    pencil.lastP = pr;
    ++m_version;
}

void PenBoard::finish()
{
    std::lock_guard lock(l);
    if (m_shape && m_shape->pts.size() >= 2 && !m_canvas.isNull()) {
        burnLocked(*m_shape);
        m_hasInk = true;
    }
    // A shape released before the pointer moved is dropped unseen.
    m_shape.reset();
    m_pencil.reset();
    ++m_version;
}

void PenBoard::erase(const GlobalPoint& from, const GlobalPoint& to, double radius)
{
    std::lock_guard lock(l);
    if (m_canvas.isNull() || !isFinite(from) || !isFinite(to) || !std::isfinite(radius) || radius <= 0)
        return;
    const QPointF a = toCanvas(from);
    const QPointF b = toCanvas(to);
    const double r = radius * m_scale;
    {
        QPainter painter(&m_canvas);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        if (a == b) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(Qt::black);
            painter.drawEllipse(a, r, r);
        } else {
            painter.setPen(QPen(Qt::black, 2 * r, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.drawLine(a, b);
        }
    }
    const QRectF band = QRectF(a, b).normalized().adjusted(-r - 1, -r - 1, r + 1, r + 1);
    markChangedLocked(band);
    // The board still reports ink: an erased board is composited, just transparent.
    ++m_version;
}

std::shared_ptr<const QImage> PenBoard::handOut(const Copy& copy)
{
    // The reference counts itself out with a release when its last holder lets go,
    // so the board's acquiring check orders every read of the holder before the
    // board writes into the copy again.
    copy.holders->fetch_add(1, std::memory_order_relaxed);
    return std::shared_ptr<const QImage>(copy.image.get(), [image = copy.image, holders = copy.holders](const QImage*) {
        holders->fetch_sub(1, std::memory_order_release);
    });
}

std::shared_ptr<const QImage> PenBoard::publishLocked()
{
    if (m_canvas.isNull())
        return nullptr;
    Copy& current = m_copies[m_current];
    if (current.image && current.stale.isEmpty())
        return handOut(current);

    // Bring a copy nobody else holds up to date, the one handed out last first.
    for (size_t idx : {m_current, 1 - m_current}) {
        Copy& copy = m_copies[idx];
        if (copy.image && copy.holders->load(std::memory_order_acquire) == 0) {
            if (!copy.stale.isEmpty())
                copyArea(m_canvas, *copy.image, copy.stale);
            copy.stale = QRect();
            m_current = idx;
            return handOut(copy);
        }
    }

    // Both copies are held elsewhere (or not made yet): replace one with a full
    // copy. Its holders keep the one it replaces.
    const size_t idx = m_copies[m_current].image ? 1 - m_current : m_current;
    auto image = std::make_shared<QImage>(m_canvas.copy());
    if (image->isNull())
        return nullptr;
    m_copies[idx] = Copy{std::move(image), std::make_shared<std::atomic<int>>(0), QRect()};
    m_current = idx;
    return handOut(m_copies[idx]);
}

std::optional<PenBoard::Surface> PenBoard::inkSurface()
{
    std::lock_guard lock(l);
    if (m_canvas.isNull())
        return std::nullopt;
    auto image = publishLocked();
    if (!image)
        return std::nullopt;
    return Surface{std::move(image), m_frame, m_scale};
}

std::optional<PenBoard::Snapshot> PenBoard::snapshotForCompositor()
{
    std::lock_guard lock(l);
    if (m_canvas.isNull() || (!m_hasInk && !m_shape))
        return std::nullopt;
    return Snapshot{m_hasInk ? publishLocked() : nullptr, m_frame, m_scale, m_hasInk, m_shape, m_version};
}

bool PenBoard::active() const
{
    std::lock_guard lock(l);
    return m_active;
}

void PenBoard::setActive(bool on)
{
    std::lock_guard lock(l);
    m_active = on;
}

uint64_t PenBoard::version() const
{
    std::lock_guard lock(l);
    return m_version;
}

bool PenBoard::hasInk() const
{
    std::lock_guard lock(l);
    return m_hasInk;
}

bool PenBoard::hasInkOrShape() const
{
    std::lock_guard lock(l);
    return m_hasInk || m_shape.has_value();
}

int PenBoard::strokes() const
{
    std::lock_guard lock(l);
    return m_strokes;
}

} // namespace corvessa
