#include "engine/compositor/MouseTrack.h"

#include "engine/compositor/PenBoard.h"
#include "platform/core/HostClock.h"
#include "platform/core/MainQueue.h"

#include <QHash>
#include <QLocale>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <utility>

namespace corvessa {

namespace {

// Press: ease-out over 80 ms. Release: 1 minus an ease-out-back over 220 ms.
constexpr double kPressSeconds = 0.08;
constexpr double kReleaseSeconds = 0.22;

QString shortest(double v)
{
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

template <typename T>
void appendBounded(std::vector<T>& list, T value, size_t limit, size_t trim)
{
    list.push_back(std::move(value));
    if (list.size() > limit)
        list.erase(list.begin(), list.begin() + ptrdiff_t(trim));
}

} // namespace

std::shared_ptr<MouseTrack> MouseTrack::create(std::shared_ptr<PointerService> pointer)
{
    return std::shared_ptr<MouseTrack>(new MouseTrack(std::move(pointer)));
}

MouseTrack::MouseTrack(std::shared_ptr<PointerService> pointer)
    : m_pointer(pointer ? std::move(pointer) : PointerService::current())
{
}

MouseTrack::~MouseTrack()
{
    stop();
}

void MouseTrack::start(std::optional<uint32_t> windowID)
{
    if (!MainQueue::isCurrent()) {
        MainQueue::async([weak = weak_from_this(), windowID] {
            if (auto track = weak.lock())
                track->startOnMain(windowID);
        });
        return;
    }
    startOnMain(windowID);
}

void MouseTrack::startOnMain(std::optional<uint32_t> windowID)
{
    std::lock_guard lock(m_timerMutex);
    if (m_timer)
        return;
    if (windowID)
        m_windowID = windowID;
    auto* timer = new QTimer();
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(interval);
    const uint64_t generation = ++m_generation;
    QObject::connect(timer, &QTimer::timeout, timer, [weak = weak_from_this(), generation] {
        const auto track = weak.lock();
        if (track && track->m_generation.load() == generation)
            track->poll();
    });
    m_timer = timer;
    timer->start();
}

void MouseTrack::stop()
{
    QTimer* timer = nullptr;
    {
        std::lock_guard lock(m_timerMutex);
        timer = std::exchange(m_timer, nullptr);
        ++m_generation; // a firing already queued does nothing
    }
    if (!timer)
        return;
    // A QTimer is stopped and deleted on its own thread.
    if (timer->thread() == QThread::currentThread())
        delete timer;
    else
        timer->deleteLater();
}

bool MouseTrack::isRunning() const
{
    std::lock_guard lock(m_timerMutex);
    return m_timer != nullptr;
}

void MouseTrack::poll()
{
    pollAt(HostClock::seconds());
}

void MouseTrack::pollAt(double now)
{
    ++m_tick;
    const std::optional<PointerState> pointer = m_pointer->state();
    const bool down = m_forceDown ? *m_forceDown : (pointer && pointer->primaryDown);
    // Spread over ticks: the cursor look every 160 ms, the window frame every 96 ms.
    if (m_tick % shapeEvery == 0)
        updateShape();
    if (m_windowID && m_tick % windowEvery == 0)
        updateWindowFrame(*m_windowID);
    if (!pointer)
        return; // nowhere to put the cursor

    std::lock_guard lock(l);
    if (m_edges.empty() || m_edges.back().down != down)
        appendBounded(m_edges, Edge{now, down}, edgeLimit, edgeTrim);
    const GlobalPoint p = pointer->location;
    if (!m_samples.empty()) {
        const Sample& last = m_samples.back();
        // Exact comparison: GlobalPoint's == is fuzzy.
        if (last.p.x != p.x || last.p.y != p.y || last.down != down)
            m_lastActivity = now;
    }
    appendBounded(m_samples, Sample{now, p, down, m_curShape}, sampleLimit, sampleTrim);
}

void MouseTrack::updateShape()
{
    // While the pen draws, the cursor always comes from the theme.
    if (PenBoard::shared().active()) {
        m_curShape = -1;
        m_lastSerial.reset();
        return;
    }
    const std::optional<CursorImage> cursor = m_pointer->cursorImage();
    if (!cursor)
        return;
    if (m_lastSerial == cursor->serial)
        return;
    m_lastSerial = cursor->serial;
    if (cursor->isPlainArrow() || cursor->image.isNull()) {
        m_curShape = -1;
        return;
    }
    const QString key = shapeKey(*cursor);
    std::lock_guard lock(l);
    const auto it = m_shapeKeys.find(key);
    if (it != m_shapeKeys.end()) {
        m_curShape = it->second;
        return;
    }
    m_shapes.push_back({cursor->image.convertToFormat(QImage::Format_ARGB32_Premultiplied), cursor->size, cursor->hot});
    m_curShape = int(m_shapes.size()) - 1;
    m_shapeKeys.emplace(key, m_curShape);
}

QString MouseTrack::shapeKey(const CursorImage& cursor)
{
    const QImage pixels = cursor.image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const size_t hash = qHashBits(pixels.constBits(), size_t(pixels.sizeInBytes()));
    return shortest(cursor.size.width()) + QLatin1Char('x') + shortest(cursor.size.height()) + QLatin1Char('@') +
           shortest(cursor.hot.x()) + QLatin1Char(',') + shortest(cursor.hot.y()) + QLatin1Char('#') +
           QString::number(quint64(hash), 16);
}

void MouseTrack::updateWindowFrame(uint32_t id)
{
    // Asked outside the lock: it is a round trip to the server.
    const std::optional<QRectF> frame = m_pointer->windowFrame(id);
    if (!frame)
        return;
    std::lock_guard lock(l);
    m_windowFrame = frame;
}

void MouseTrack::setForceDown(std::optional<bool> down)
{
    m_forceDown = down;
}

std::optional<bool> MouseTrack::forceDown() const
{
    return m_forceDown;
}

std::optional<MouseTrack::Sample> MouseTrack::sample(double t) const
{
    std::lock_guard lock(l);
    if (m_samples.empty())
        return std::nullopt;
    const Sample& last = m_samples.back();
    if (std::isnan(t) || t >= last.t)
        return last;
    if (t < m_samples.front().t)
        return m_samples.front();
    // b: the first sample after t; a: the newest at or before it.
    const auto b = std::upper_bound(m_samples.begin(), m_samples.end(), t,
                                    [](double v, const Sample& s) { return v < s.t; });
    const Sample& a = *std::prev(b);
    const double f = (t - a.t) / std::max(b->t - a.t, 0.000001);
    return Sample{t, a.p + (b->p - a.p) * f, a.down, a.shape};
}

double MouseTrack::press(double t) const
{
    std::lock_guard lock(l);
    if (std::isnan(t))
        return 0;
    const auto after = std::upper_bound(m_edges.begin(), m_edges.end(), t,
                                        [](double v, const Edge& e) { return v < e.t; });
    if (after == m_edges.begin())
        return 0;
    const Edge& edge = *std::prev(after);
    const double elapsed = t - edge.t;
    if (edge.down) {
        const double r = 1 - std::min(elapsed / kPressSeconds, 1.0);
        return 1 - r * r * r;
    }
    // The first sample's "up" is no release: nothing was pressed before it.
    if (std::prev(after) == m_edges.begin())
        return 0;
    const double u = elapsed / kReleaseSeconds;
    if (u >= 1)
        return 0;
    const double v = u - 1;
    return std::max(0.0, -(2.9 * v * v * v + 1.9 * v * v));
}

std::optional<MouseTrack::Shape> MouseTrack::shape(int index) const
{
    std::lock_guard lock(l);
    if (index < 0 || size_t(index) >= m_shapes.size())
        return std::nullopt;
    return m_shapes[size_t(index)];
}

std::optional<QRectF> MouseTrack::windowFrame() const
{
    std::lock_guard lock(l);
    return m_windowFrame;
}

double MouseTrack::lastActivity() const
{
    std::lock_guard lock(l);
    return m_lastActivity;
}

std::vector<MouseTrack::Sample> MouseTrack::samples() const
{
    std::lock_guard lock(l);
    return m_samples;
}

std::vector<MouseTrack::Edge> MouseTrack::edges() const
{
    std::lock_guard lock(l);
    return m_edges;
}

size_t MouseTrack::shapeCount() const
{
    std::lock_guard lock(l);
    return m_shapes.size();
}

std::optional<uint32_t> MouseTrack::windowID() const
{
    return m_windowID;
}

} // namespace corvessa
